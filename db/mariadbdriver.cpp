#include "db/mariadbdriver.h"

#include "db/mariadbtext.h"

#include <errmsg.h>

#include <QFile>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlDriverCreator>
#include <QSqlError>
#include <QSqlField>
#include <QSqlRecord>
#include <QSqlResult>
#include <QStringList>
#include <QVector>

#include <deque>
#include <memory>
#include <utility>
#include <vector>

namespace {

class MariaDbResult;

// What the driver and its results share: the connection, and which result is still reading
// rows from it.
struct Link {
    MYSQL* mysql = nullptr;
    MariaDbResult* streaming = nullptr;
    // The result whose message has answers of later statements still to be read.
    MariaDbResult* unfinished = nullptr;
    // A transaction begun but not sent yet: it goes with the next statement.
    bool beginPending = false;
};

void freeConnection(Link& link);

QSqlError errorOf(MYSQL* mysql, const QString& what, QSqlError::ErrorType type) {
    if (!mysql)
        return QSqlError(what, QStringLiteral("no connection"), type);
    return QSqlError(what, QString::fromUtf8(mysql_error(mysql)), type, QString::number(mysql_errno(mysql)));
}

class MariaDbResult : public QSqlResult {
public:
    MariaDbResult(const QSqlDriver* driver, std::shared_ptr<Link> link)
        : QSqlResult(driver)
        , link(std::move(link)) {}
    ~MariaDbResult() override { clear(); }

    // Another statement needs the connection: the rows not read yet are taken in first.
    void takeInRest() {
        if (row) {
            current.assign(columns.size(), QByteArray());
            for (size_t i = 0; i < columns.size(); ++i)
                current[i] = row[i] ? QByteArray(row[i], int(lengths[i])) : QByteArray();
            row = nullptr;
            fromCopy = true;
        }
        while (MYSQL_ROW r = mysql_fetch_row(res)) {
            const unsigned long* l = mysql_fetch_lengths(res);
            std::vector<QByteArray> copy(columns.size());
            for (size_t i = 0; i < columns.size(); ++i)
                copy[i] = r[i] ? QByteArray(r[i], int(l[i])) : QByteArray();
            rest.push_back(std::move(copy));
        }
        if (mysql_errno(link->mysql))
            restError =
                errorOf(link->mysql, QStringLiteral("Unable to fetch row"), QSqlError::ConnectionError);
        finishStream();
    }

    // Another statement needs the connection: the answers of the later statements of this
    // result's message are read and dropped.
    void dropLaterResults() {
        if (link->unfinished != this)
            return;
        link->unfinished = nullptr;
        MYSQL* mysql = link->mysql;
        while (mysql && mysql_more_results(mysql) && mysql_next_result(mysql) == 0) {
            if (MYSQL_RES* r = mysql_use_result(mysql))
                mysql_free_result(r);
        }
    }

protected:
    QVariant data(int i) override {
        if (i < 0 || size_t(i) >= columns.size())
            return QVariant();
        const auto precision = numericalPrecisionPolicy();
        if (fromCopy) {
            const QByteArray& v = current[size_t(i)];
            return columnValue(columns[size_t(i)], v.isNull() ? nullptr : v.constData(), ulong(v.size()),
                               precision);
        }
        if (!row)
            return QVariant();
        return columnValue(columns[size_t(i)], row[i], lengths[i], precision);
    }

    bool isNull(int i) override {
        if (i < 0 || size_t(i) >= columns.size())
            return true;
        if (fromCopy)
            return current[size_t(i)].isNull();
        return !row || !row[i];
    }

    bool reset(const QString& query) override {
        clear();
        QByteArray statement = query.toUtf8();
        return run(statement);
    }

    bool prepare(const QString& query) override {
        clear();
        prepared = query;
        return true;
    }

    bool exec() override {
        clear();
        if (!link->mysql) {
            setLastError(
                errorOf(nullptr, QStringLiteral("Unable to execute query"), QSqlError::ConnectionError));
            return false;
        }
        QVariantList values;
        values.reserve(boundValueCount());
        for (int i = 0; i < boundValueCount(); ++i)
            values.append(boundValue(i));
        QByteArray statement;
        if (!bindValues(link->mysql, prepared, values, &statement)) {
            setLastError(QSqlError(QStringLiteral("Unable to bind values"),
                                   QStringLiteral("the statement's placeholders and values differ in number"),
                                   QSqlError::StatementError));
            return false;
        }
        return run(statement);
    }

    bool fetch(int i) override {
        if (streamed)
            return i == at() + 1 ? fetchNext() : false;
        if (!res || i < 0 || quint64(i) >= mysql_num_rows(res))
            return false;
        if (i != at() + 1)
            mysql_data_seek(res, quint64(i));
        return take(i);
    }

    bool fetchNext() override {
        if (!streamed)
            return fetch(at() + 1);
        if (fromCopy || !res) {
            if (rest.empty()) {
                if (restError.isValid())
                    setLastError(restError);
                fromCopy = false;
                setAt(QSql::AfterLastRow);
                return false;
            }
            current = std::move(rest.front());
            rest.pop_front();
            fromCopy = true;
            setAt(at() + 1);
            return true;
        }
        return take(at() + 1);
    }

    bool fetchFirst() override {
        if (streamed)
            return at() == QSql::BeforeFirstRow && fetchNext();
        return fetch(0);
    }

    bool fetchLast() override {
        if (streamed || !res || mysql_num_rows(res) == 0)
            return false;
        return fetch(int(mysql_num_rows(res)) - 1);
    }

    int size() override { return res && !streamed ? int(mysql_num_rows(res)) : -1; }
    int numRowsAffected() override { return int(affected); }
    QVariant lastInsertId() const override { return insertId ? QVariant(insertId) : QVariant(); }

    QSqlRecord record() const override {
        QSqlRecord r;
        for (const MariaDbColumn& c : columns) {
            const int type = columnMetaType(c, numericalPrecisionPolicy());
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
            r.append(QSqlField(c.name, QMetaType(type)));
#else
            r.append(QSqlField(c.name, QVariant::Type(type)));
#endif
        }
        return r;
    }

    void detachFromResultSet() override {
        if (link->streaming == this)
            finishStream();
        dropLaterResults();
    }

    // The answer of the message's next statement; false after the last one or at the failed one,
    // after which the server ran none of the rest.
    bool nextResult() override {
        if (link->streaming == this)
            finishStream();
        else if (res)
            mysql_free_result(res);
        res = nullptr;
        if (link->unfinished != this || !link->mysql)
            return false;
        link->unfinished = nullptr;
        forget();
        const int status = mysql_next_result(link->mysql);
        if (status != 0) {
            if (status > 0)
                setLastError(errorOf(link->mysql, QStringLiteral("Unable to execute query"),
                                     QSqlError::StatementError));
            setActive(false);
            return false;
        }
        return takeAnswer();
    }

private:
    bool run(QByteArray statement) {
        freeConnection(*link);
        MYSQL* mysql = link->mysql;
        const bool begin = mysql && std::exchange(link->beginPending, false);
        if (begin)
            statement.prepend("START TRANSACTION;\n");
        if (!mysql || mysql_real_query(mysql, statement.constData(), ulong(statement.size())) != 0 ||
            (begin && mysql_next_result(mysql) != 0)) {
            setLastError(
                errorOf(mysql, QStringLiteral("Unable to execute query"), QSqlError::StatementError));
            if (mysql && mysql_more_results(mysql)) {
                link->unfinished = this;
                dropLaterResults();
            }
            return false;
        }
        return takeAnswer();
    }

    bool takeAnswer() {
        MYSQL* mysql = link->mysql;
        if (mysql_field_count(mysql) == 0) {
            affected = qint64(mysql_affected_rows(mysql));
            insertId = quint64(mysql_insert_id(mysql));
            if (mysql_more_results(mysql))
                link->unfinished = this;
            setSelect(false);
            setActive(true);
            return true;
        }
        streamed = isForwardOnly();
        res = streamed ? mysql_use_result(mysql) : mysql_store_result(mysql);
        if (!res) {
            setLastError(
                errorOf(mysql, QStringLiteral("Unable to read the result"), QSqlError::StatementError));
            return false;
        }
        if (streamed)
            link->streaming = this;
        else if (mysql_more_results(mysql))
            link->unfinished = this;
        const unsigned n = mysql_num_fields(res);
        const MYSQL_FIELD* fields = mysql_fetch_fields(res);
        columns.reserve(n);
        for (unsigned i = 0; i < n; ++i)
            columns.push_back(describeColumn(fields[i]));
        affected = streamed ? -1 : qint64(mysql_num_rows(res));
        setSelect(true);
        setActive(true);
        return true;
    }

    bool take(int i) {
        row = mysql_fetch_row(res);
        if (!row) {
            if (streamed) {
                if (mysql_errno(link->mysql))
                    setLastError(errorOf(link->mysql, QStringLiteral("Unable to fetch row"),
                                         QSqlError::ConnectionError));
                finishStream();
            }
            setAt(QSql::AfterLastRow);
            return false;
        }
        lengths = mysql_fetch_lengths(res);
        setAt(i);
        return true;
    }

    // The connection is free again; freeing a result still streaming reads its rest.
    void finishStream() {
        if (res)
            mysql_free_result(res);
        res = nullptr;
        row = nullptr;
        if (link->streaming == this) {
            link->streaming = nullptr;
            if (link->mysql && mysql_more_results(link->mysql))
                link->unfinished = this;
        }
    }

    void clear() {
        if (link->streaming == this || !link->mysql)
            finishStream();
        else if (res) {
            mysql_free_result(res);
            res = nullptr;
        }
        dropLaterResults();
        forget();
        setLastError(QSqlError());
    }

    // What the last answer was; the connection is not touched.
    void forget() {
        row = nullptr;
        lengths = nullptr;
        streamed = false;
        fromCopy = false;
        current.clear();
        rest.clear();
        restError = QSqlError();
        columns.clear();
        affected = -1;
        insertId = 0;
        setAt(QSql::BeforeFirstRow);
        setActive(false);
        setSelect(false);
    }

    std::shared_ptr<Link> link;
    QString prepared;
    MYSQL_RES* res = nullptr;
    bool streamed = false;
    MYSQL_ROW row = nullptr;
    const unsigned long* lengths = nullptr;
    std::vector<MariaDbColumn> columns;
    // The current row and those after it, copied when the connection was needed meanwhile.
    bool fromCopy = false;
    std::vector<QByteArray> current;
    std::deque<std::vector<QByteArray>> rest;
    QSqlError restError;
    qint64 affected = -1;
    quint64 insertId = 0;
};

// Before another statement: the rows of a streaming result are taken in, the later answers of
// the last message dropped.
void freeConnection(Link& link) {
    if (link.streaming)
        link.streaming->takeInRest();
    if (link.unfinished)
        link.unfinished->dropLaterResults();
}

const char* const NO_TLS = "Unable to connect: the server offers no TLS";

// A connect with TLS required that failed on a server whose greeting offered none.
bool noTlsOffered(MYSQL* mysql) {
    if (mysql_errno(mysql) != CR_SSL_CONNECTION_ERROR)
        return false;
    unsigned long capabilities = 0;
    return mariadb_get_infov(mysql, MARIADB_CONNECTION_SERVER_CAPABILITIES, &capabilities) == 0 &&
           capabilities != 0 && (capabilities & CLIENT_SSL) == 0;
}

class MariaDbDriver : public QSqlDriver {
public:
    explicit MariaDbDriver(QObject* parent = nullptr)
        : QSqlDriver(parent) {}
    ~MariaDbDriver() override { MariaDbDriver::close(); }

    bool hasFeature(DriverFeature feature) const override {
        switch (feature) {
        case Transactions:
        case QuerySize:
        case BLOB:
        case Unicode:
        case PreparedQueries:
        case PositionalPlaceholders:
        case LastInsertId:
        case LowPrecisionNumbers:
        case MultipleResultSets:
            return true;
        default:
            return false;
        }
    }

    bool open(const QString& db, const QString& user, const QString& password, const QString& host, int port,
              const QString& options) override {
        close();
        MYSQL* mysql = mysql_init(nullptr);
        mysql_optionsv(mysql, MYSQL_SET_CHARSET_NAME, "utf8mb4");
        QByteArray ca;
        for (const QString& option : options.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString key = option.section(QLatin1Char('='), 0, 0).trimmed();
            const QString value = option.section(QLatin1Char('='), 1).trimmed();
            const unsigned seconds = value.toUInt();
            if (key == QLatin1String("CONNECT_TIMEOUT")) {
                mysql_optionsv(mysql, MYSQL_OPT_CONNECT_TIMEOUT, &seconds);
            } else if (key == QLatin1String("READ_TIMEOUT")) {
                mysql_optionsv(mysql, MYSQL_OPT_READ_TIMEOUT, &seconds);
            } else if (key == QLatin1String("WRITE_TIMEOUT")) {
                mysql_optionsv(mysql, MYSQL_OPT_WRITE_TIMEOUT, &seconds);
            } else if (key == QLatin1String("TLS") && value == QLatin1String("1")) {
                const my_bool on = 1;
                mysql_optionsv(mysql, MYSQL_OPT_SSL_ENFORCE, &on);
                mysql_optionsv(mysql, MARIADB_OPT_TLS_VERSION, "TLSv1.2,TLSv1.3");
            } else if (key == QLatin1String("TLS_CA")) {
                ca = QFile::encodeName(value);
                const my_bool verify = 1;
                mysql_optionsv(mysql, MYSQL_OPT_SSL_CA, ca.constData());
                mysql_optionsv(mysql, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verify);
            }
        }
        const QByteArray h = host.toUtf8();
        const QByteArray u = user.toUtf8();
        const QByteArray p = password.toUtf8();
        const QByteArray d = db.toUtf8();
        if (!mysql_real_connect(mysql, h.isEmpty() ? nullptr : h.constData(), u.constData(), p.constData(),
                                d.isEmpty() ? nullptr : d.constData(), port > 0 ? unsigned(port) : 0, nullptr,
                                CLIENT_MULTI_STATEMENTS)) {
            setLastError(errorOf(mysql,
                                 QString::fromLatin1(noTlsOffered(mysql) ? NO_TLS : "Unable to connect"),
                                 QSqlError::ConnectionError));
            mysql_close(mysql);
            setOpenError(true);
            return false;
        }
        link->mysql = mysql;
        setOpen(true);
        setOpenError(false);
        return true;
    }

    void close() override {
        link->beginPending = false;
        if (!link->mysql)
            return;
        freeConnection(*link);
        mysql_close(link->mysql);
        link->mysql = nullptr;
        setOpen(false);
        setOpenError(false);
    }

    QSqlResult* createResult() const override { return new MariaDbResult(this, link); }

    // START TRANSACTION goes with the transaction's first statement, saving a round trip; one
    // without statements sends nothing.
    bool beginTransaction() override {
        if (!link->mysql) {
            setLastError(
                errorOf(nullptr, QStringLiteral("Unable to begin transaction"), QSqlError::TransactionError));
            return false;
        }
        link->beginPending = true;
        return true;
    }
    bool commitTransaction() override {
        return std::exchange(link->beginPending, false) || simple("COMMIT", "Unable to commit transaction");
    }
    bool rollbackTransaction() override {
        return std::exchange(link->beginPending, false) ||
               simple("ROLLBACK", "Unable to roll back transaction");
    }

    QString escapeIdentifier(const QString& identifier, IdentifierType) const override {
        if (identifier.startsWith(QLatin1Char('`')) && identifier.endsWith(QLatin1Char('`')))
            return identifier;
        QString out = identifier;
        out.replace(QLatin1Char('`'), QLatin1String("``"));
        return QLatin1Char('`') + out + QLatin1Char('`');
    }

    QVariant handle() const override { return QVariant::fromValue(static_cast<void*>(link->mysql)); }

    QString tlsSession() const {
        const char* cipher = link->mysql ? mysql_get_ssl_cipher(link->mysql) : nullptr;
        if (!cipher)
            return QString();
        const char* version = nullptr;
        mariadb_get_infov(link->mysql, MARIADB_CONNECTION_TLS_VERSION, &version);
        return QString::fromLatin1(version ? version : "TLS") + QStringLiteral(", ") +
               QString::fromLatin1(cipher);
    }

private:
    bool simple(const char* sql, const char* what) {
        freeConnection(*link);
        if (link->mysql && mysql_real_query(link->mysql, sql, ulong(qstrlen(sql))) == 0)
            return true;
        setLastError(errorOf(link->mysql, QString::fromLatin1(what), QSqlError::TransactionError));
        return false;
    }

    std::shared_ptr<Link> link = std::make_shared<Link>();
};

} // namespace

QString mariaDbDriverName() {
    static const QString name = [] {
        mysql_library_init(0, nullptr, nullptr);
        const QString n = QStringLiteral("ORBMARIADB");
        QSqlDatabase::registerSqlDriver(n, new QSqlDriverCreator<MariaDbDriver>());
        return n;
    }();
    return name;
}

bool mariaDbNoTlsOffered(const QSqlError& error) {
    return error.driverText() == QLatin1String(NO_TLS);
}

QString mariaDbTlsSession(const QSqlDatabase& db) {
    const auto* driver = dynamic_cast<const MariaDbDriver*>(db.driver());
    return driver && db.isOpen() ? driver->tlsSession() : QString();
}
