#include "db/connection.h"

#include "core/qtcompat.h"
#include "core/schema.h"
#include "db/mariadbdriver.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QFileInfo>
#include <QSqlError>

#include <algorithm>
#include <utility>

namespace {

// Characters of statements held back at most, their values counted at 12 each.
constexpr int WAITING_CHARS = 4 << 20;

const QString DEFAULT_ROOT_PASSWORD = QStringLiteral("vexo");
constexpr qint64 maxCaFileSize = 1 << 20;

// The client library's reason for refusing the server's TLS, for the person.
QString tlsRefusal(const QSqlError& error) {
    if (mariaDbNoTlsOffered(error))
        return QStringLiteral("Сервер БД не поддерживает шифрованное соединение (TLS).");
    return QStringLiteral("Сертификат сервера БД не прошёл проверку: %1").arg(error.databaseText());
}

} // namespace

DbConnection::DbConnection(const QString& connectionName)
    : db(QSqlDatabase::addDatabase(
          mariaDbDriverName(), connectionName.isEmpty() ? QString::fromLatin1(QSqlDatabase::defaultConnection)
                                                        : connectionName)) {}

// Releases the connection so that a later one can register it again; a connection that
// another has registered since is left alone.
DbConnection::~DbConnection() {
    const QString name = db.connectionName();
    const bool registered =
        QSqlDatabase::contains(name) && QSqlDatabase::database(name, false).driver() == db.driver();
    kept.clear();
    db.close();
    db = QSqlDatabase();
    if (registered)
        QSqlDatabase::removeDatabase(name);
}

bool DbConnection::open() {
    kept.clear();
    waiting.clear();
    waitingValues.clear();
    waitingCount = 0;
    refusal.clear();
    last = DbError();
    if (db.isOpen())
        db.close();
    db.setHostName(settings.ip);
    db.setPort(settings.port);
    db.setUserName(settings.user);
    db.setPassword(settings.password);
    // Work on the database the settings name; only an empty name means the server's default one.
    db.setDatabaseName(settings.db.isEmpty() ? DB_NAME : settings.db);
    // An unreachable host or a server gone silent fails after these instead of the system's
    // TCP timeouts; the read timeout leaves room for lock waits and long statements.
    QString options = QStringLiteral("CONNECT_TIMEOUT=%1;READ_TIMEOUT=%2;WRITE_TIMEOUT=%3")
                          .arg(std::max(0, settings.connectTimeout))
                          .arg(std::max(0, settings.readTimeout))
                          .arg(std::max(0, settings.writeTimeout));
    if (settings.tls) {
        // A device or a pipe named as the CA file would be read without end.
        const QFileInfo ca(settings.tlsCaFile);
        if (!settings.tlsCaFile.isEmpty() && ca.exists() && (!ca.isFile() || ca.size() > maxCaFileSize)) {
            refusal = QStringLiteral("Файл %1 не похож на сертификат CA: нужен обычный файл не больше 1 МиБ.")
                          .arg(settings.tlsCaFile);
            last = DbError{DbError::Kind::Refused, DbError::Step::Other, refusal};
            return false;
        }
        if (!settings.tlsCaFile.isEmpty() && !(ca.isFile() && ca.isReadable())) {
            refusal =
                QStringLiteral("Не удалось прочитать сертификат CA из файла %1.").arg(settings.tlsCaFile);
            last = DbError{DbError::Kind::Refused, DbError::Step::Other, refusal};
            return false;
        }
        options += QStringLiteral(";TLS=1");
        if (!settings.tlsCaFile.isEmpty())
            options += QStringLiteral(";TLS_CA=") + settings.tlsCaFile;
    }
    db.setConnectOptions(options);
    if (!db.open()) {
        qDebug() << db.lastError();
        last = DbError::of(db.lastError());
        if (settings.tls && db.lastError().nativeErrorCode() == QLatin1String("2026")) {
            refusal = tlsRefusal(db.lastError());
            last = DbError{DbError::Kind::Refused, DbError::Step::Other, refusal};
        }
        return false;
    }
    return true;
}

QString DbConnection::lastErrorText() const {
    return refusal.isEmpty() ? db.lastError().text() : refusal;
}

QString DbConnection::tlsSession() const {
    return mariaDbTlsSession(db);
}

bool DbConnection::checkDatabase() {
    // another database's id would protect or hide the wrong group
    adminGroup = 0;
    // Two statements of constants only, as plain text, in one message.
    const QString adminGroupWhere = QStringLiteral("%1='%2'").arg(COL_GROUP_NAME, ADMIN_GROUP_NAME);
    const QString rootColumn = QStringLiteral("(SELECT %1 FROM %2 WHERE %3=%4)");
    QSqlQuery q(db);
    if (!run(q,
             QStringLiteral("SELECT %1 FROM %2 WHERE %3;\n").arg(COL_ID, TABLE_GROUPS, adminGroupWhere) +
                 QStringLiteral("SELECT (SELECT COUNT(*) FROM %1 m JOIN %2 g ON g.%3=m.%4 WHERE m.%5=%6 AND "
                                "g.%7), %8, %9")
                     .arg(TABLE_USER_GROUPS, TABLE_GROUPS, COL_ID, COL_UG_GROUP_ID, COL_UG_USER_ID)
                     .arg(ROOT_ID)
                     .arg(adminGroupWhere, rootColumn.arg(COL_USER_LOGIN, TABLE_USERS, COL_ID).arg(ROOT_ID),
                          rootColumn.arg(COL_USER_PASSWORD, TABLE_USERS, COL_ID).arg(ROOT_ID))) ||
        !q.next()) {
        qDebug() << ADMIN_GROUP_NAME << "role not found";
        throw QStringLiteral("admin role not found");
    }
    adminGroup = q.value(0).toInt();
    if (!q.nextResult() || !q.next())
        throw QStringLiteral("users with admin role not found");
    if (q.value(0).toInt() == 0 || q.value(1).toString() != ROOT_LOGIN) {
        qDebug() << "root not found";
        throw QStringLiteral("user root not found");
    }
    return q.value(2).toByteArray() == hashPassword(DEFAULT_ROOT_PASSWORD);
}

bool DbConnection::failed(const QSqlQuery& q) {
    qDebug() << q.lastError();
    last = DbError::of(q.lastError());
    return false;
}

bool DbConnection::readThrough(const QSqlQuery& q) {
    return !q.lastError().isValid() || failed(q);
}

int DbConnection::takeWaiting(QString& sql, QVariantList& values) {
    if (waiting.isEmpty())
        return 0;
    sql.prepend(std::exchange(waiting, QString()) + QStringLiteral(";\n"));
    values = std::exchange(waitingValues, QVariantList()) + values;
    return std::exchange(waitingCount, 0);
}

bool DbConnection::skipWaiting(QSqlQuery& q, int waited) {
    for (int i = 0; i < waited; ++i) {
        if (!q.nextResult())
            return false;
    }
    return true;
}

bool DbConnection::run(QSqlQuery& q, const QString& statement, const QVariantList& statementValues) {
    QString sql = statement;
    QVariantList values = statementValues;
    const int waited = takeWaiting(sql, values);
    if (!q.prepare(sql))
        return failed(q);
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values.at(i));
    return (q.exec() && skipWaiting(q, waited)) || failed(q);
}

bool DbConnection::run(QSqlQuery& q, const QString& sql) {
    if (!waiting.isEmpty())
        return run(q, sql, {});
    return q.exec(sql) || failed(q);
}

bool DbConnection::runWithNext(const QString& sql, const QVariantList& values) {
    if (transactionDepth == 0) {
        QSqlQuery q(db);
        return run(q, sql, values);
    }
    // a message well within the server's smallest usual packet limit: a larger one goes now
    const auto size = [](const QString& text, const QVariantList& bound) {
        return text.size() + 12 * bound.size();
    };
    if (!waiting.isEmpty() && size(waiting, waitingValues) + size(sql, values) > WAITING_CHARS) {
        QSqlQuery q(db);
        return run(q, sql, values);
    }
    if (!waiting.isEmpty())
        waiting += QStringLiteral(";\n");
    waiting += sql;
    waitingValues += values;
    ++waitingCount;
    return true;
}

bool DbConnection::read(QSqlQuery& q, const QString& sql) {
    return run(q, sql) || (reconnectedToRead(q) && run(q, sql));
}

bool DbConnection::readKept(QSqlQuery& q, const QString& sql, const QVariantList& values) {
    return runKept(q, sql, values) || (reconnectedToRead(q) && runKept(q, sql, values));
}

bool DbConnection::readWhole(QSqlQuery& q, const QString& sql) {
    q.setForwardOnly(true);
    return run(q, sql, {}) || (reconnectedToRead(q) && run(q, sql, {}));
}

// After a read that found the connection gone (the server's wait_timeout, a killed connection, a
// restart): a new connection with the same settings, and `q` on it, for reading once more, which
// changes nothing. Not inside a transaction, which the new connection would not hold. Writes are
// never repeated so: one whose answer was lost may have been stored.
bool DbConnection::reconnectedToRead(QSqlQuery& q) {
    if (last.kind != DbError::Kind::ConnectionLost || transactionDepth > 0)
        return false;
    qDebug() << "database connection lost; connecting again to repeat a read";
    const bool forwardOnly = q.isForwardOnly();
    if (!open())
        return false;
    q = QSqlQuery(db);
    q.setForwardOnly(forwardOnly);
    return true;
}

// One that fails is dropped, so that the next call prepares it anew.
bool DbConnection::runKept(QSqlQuery& q, const QString& statement, const QVariantList& statementValues) {
    QString sql = statement;
    QVariantList values = statementValues;
    const int waited = takeWaiting(sql, values);
    const auto it = kept.constFind(sql);
    if (it != kept.constEnd()) {
        QtCompat::shareQuery(q, it.value());
    } else {
        q = QSqlQuery(db);
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            return failed(q);
        // statements held back make texts of their own, seldom the same again
        if (waited == 0)
            kept.insert(sql, q);
    }
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values.at(i));
    if (q.exec() && skipWaiting(q, waited))
        return true;
    kept.remove(sql);
    return failed(q);
}

// When `change` fails, none of its statements stays, so a list of memberships is replaced whole
// or left as it was, and no membership outlives its record.
bool DbConnection::inTransaction(const std::function<bool()>& change) {
    if (transactionDepth > 0)
        return change();
    if (!db.transaction()) {
        qDebug() << db.lastError();
        last = DbError::of(db.lastError());
        return false;
    }
    ++transactionDepth;
    bool changed = change();
    const bool withWaiting = changed && !waiting.isEmpty();
    if (withWaiting) {
        // the statement still waiting goes in the commit's own message; when it fails, the server
        // runs no COMMIT after it
        QSqlQuery q(db);
        changed = run(q, QStringLiteral("COMMIT"));
    }
    waiting.clear();
    waitingValues.clear();
    waitingCount = 0;
    --transactionDepth;
    if (changed && (withWaiting || db.commit()))
        return true;
    if (changed)
        last = DbError::of(db.lastError());
    db.rollback();
    return false;
}

DbError DbConnection::failure(DbError::Step step) {
    if (!last.failed())
        last.kind = DbError::Kind::Refused;
    last.step = step;
    return last;
}

DbError DbConnection::refuse(DbError::Kind kind, DbError::Step step) {
    last = DbError::of(kind, step);
    return last;
}

QByteArray hashPassword(const QString& password) {
    // The digest is as good as the password: it is never written to the log.
    return QCryptographicHash::hash((PASSWORD_SALT + password).toUtf8(), QCryptographicHash::Sha3_512);
}
