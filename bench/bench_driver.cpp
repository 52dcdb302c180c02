// The driver's protocol measured: a statement with bound values sent as text (values escaped by
// the client library, as the driver does) against MariaDB's prepare-and-execute in one message
// (mariadb_stmt_execute_direct) and against a statement prepared once and executed again; single-row
// INSERTs and a large read, on loopback and through the delaying relay. Per statement it prints the
// server's counters and, through the relay, the round trips.
//
//   orb-bench --only driver [--driver-inserts 10000] [--driver-rows 100000] [--driver-relayed 200]
//                           [--db-latency-ms 20]

#include "bench.h"
#include "benchserver.h"
#include "windowrelay.h"

#include "db/mariadbdriver.h"

#include <QElapsedTimer>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>

#include <mysql.h>

#include <array>
#include <charconv>
#include <cstring>
#include <functional>
#include <memory>

namespace {

using bench::out;

const QString DRIVER_DB = QStringLiteral("orb_bench_driver");
const char* const INSERT_SQL = "INSERT INTO drv_insert (imei, name) VALUES (?, ?)";
const char* const READ_SQL = "SELECT id, imei, name FROM drv_read WHERE id > ?";

MYSQL* handleOf(const QSqlDatabase& db) {
    return static_cast<MYSQL*>(db.driver()->handle().value<void*>());
}

struct Counters {
    qint64 questions = 0;
    qint64 prepares = 0;
    qint64 executes = 0;
};

// The session's counters, less the statement that reads them.
Counters countersOf(const QSqlDatabase& db) {
    Counters c;
    QSqlQuery q(db);
    q.exec(QStringLiteral("SHOW SESSION STATUS WHERE Variable_name IN "
                          "('Questions', 'Com_stmt_prepare', 'Com_stmt_execute')"));
    while (q.next()) {
        const QString name = q.value(0).toString();
        const qint64 value = q.value(1).toLongLong();
        if (name == QLatin1String("Questions"))
            c.questions = value;
        else if (name == QLatin1String("Com_stmt_prepare"))
            c.prepares = value;
        else
            c.executes = value;
    }
    return c;
}

// The two bound values of INSERT_SQL for row `i`.
struct InsertParams {
    unsigned long long imei = 0;
    char name[32] = {};
    unsigned long nameLength = 0;
    std::array<MYSQL_BIND, 2> bind{};

    InsertParams() {
        bind[0].buffer_type = MYSQL_TYPE_LONGLONG;
        bind[0].buffer = &imei;
        bind[0].is_unsigned = 1;
        bind[1].buffer_type = MYSQL_TYPE_STRING;
        bind[1].buffer = name;
        bind[1].length = &nameLength;
    }
    void set(int i) {
        imei = 350000000000000ULL + unsigned(i);
        nameLength = unsigned(std::snprintf(name, sizeof name, "Boat %d", i));
    }
};

bool stmtFailed(MYSQL_STMT* stmt) {
    out() << "statement failed: " << mysql_stmt_error(stmt) << '\n';
    mysql_stmt_close(stmt);
    return false;
}

bool insertText(const QSqlDatabase& db, int from, int count) {
    QSqlQuery q(db);
    q.prepare(QString::fromLatin1(INSERT_SQL));
    for (int i = from; i < from + count; ++i) {
        q.bindValue(0, qulonglong(350000000000000ULL + unsigned(i)));
        q.bindValue(1, QStringLiteral("Boat %1").arg(i));
        if (!q.exec()) {
            out() << "statement failed: " << q.lastError().text() << '\n';
            return false;
        }
    }
    return true;
}

bool insertDirect(const QSqlDatabase& db, int from, int count) {
    InsertParams p;
    for (int i = from; i < from + count; ++i) {
        MYSQL_STMT* stmt = mysql_stmt_init(handleOf(db));
        unsigned int params = 2;
        mysql_stmt_attr_set(stmt, STMT_ATTR_PREBIND_PARAMS, &params);
        p.set(i);
        if (mysql_stmt_bind_param(stmt, p.bind.data()) ||
            mariadb_stmt_execute_direct(stmt, INSERT_SQL, std::strlen(INSERT_SQL)))
            return stmtFailed(stmt);
        mysql_stmt_close(stmt);
    }
    return true;
}

bool insertPrepared(const QSqlDatabase& db, int from, int count) {
    InsertParams p;
    MYSQL_STMT* stmt = mysql_stmt_init(handleOf(db));
    if (mysql_stmt_prepare(stmt, INSERT_SQL, std::strlen(INSERT_SQL)) ||
        mysql_stmt_bind_param(stmt, p.bind.data()))
        return stmtFailed(stmt);
    for (int i = from; i < from + count; ++i) {
        p.set(i);
        if (mysql_stmt_execute(stmt))
            return stmtFailed(stmt);
    }
    mysql_stmt_close(stmt);
    return true;
}

// The rows of READ_SQL as the snapshot takes them: an int, an IMEI and a QString each.
qint64 readText(const QSqlDatabase& db) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QString::fromLatin1(READ_SQL));
    q.bindValue(0, 0);
    if (!q.exec())
        return -1;
    qint64 sum = 0;
    while (q.next())
        sum += q.value(0).toInt() + qint64(q.value(1).toULongLong() % 7) + q.value(2).toString().size();
    return sum;
}

// The same rows through the text protocol without the driver: what the protocol costs alone.
qint64 readTextRaw(const QSqlDatabase& db) {
    MYSQL* mysql = handleOf(db);
    const QByteArray sql = QByteArray(READ_SQL).replace('?', '0');
    if (mysql_real_query(mysql, sql.constData(), sql.size()))
        return -1;
    MYSQL_RES* res = mysql_use_result(mysql);
    qint64 sum = 0;
    while (MYSQL_ROW row = mysql_fetch_row(res)) {
        const unsigned long* length = mysql_fetch_lengths(res);
        int id = 0;
        qulonglong imei = 0;
        std::from_chars(row[0], row[0] + length[0], id);
        std::from_chars(row[1], row[1] + length[1], imei);
        const QVariant v[3] = {id, imei, QString::fromUtf8(row[2], int(length[2]))};
        sum += v[0].toInt() + qint64(v[1].toULongLong() % 7) + v[2].toString().size();
    }
    mysql_free_result(res);
    return sum;
}

qint64 readDirect(const QSqlDatabase& db) {
    MYSQL_STMT* stmt = mysql_stmt_init(handleOf(db));
    unsigned int params = 1;
    mysql_stmt_attr_set(stmt, STMT_ATTR_PREBIND_PARAMS, &params);
    int after = 0;
    std::array<MYSQL_BIND, 3> param{};
    param[0].buffer_type = MYSQL_TYPE_LONG;
    param[0].buffer = &after;
    int id = 0;
    unsigned long long imei = 0;
    char name[256];
    unsigned long nameLength = 0;
    std::array<MYSQL_BIND, 3> result{};
    result[0].buffer_type = MYSQL_TYPE_LONG;
    result[0].buffer = &id;
    result[1].buffer_type = MYSQL_TYPE_LONGLONG;
    result[1].buffer = &imei;
    result[1].is_unsigned = 1;
    result[2].buffer_type = MYSQL_TYPE_STRING;
    result[2].buffer = name;
    result[2].buffer_length = sizeof name;
    result[2].length = &nameLength;
    if (mysql_stmt_bind_param(stmt, param.data()) ||
        mariadb_stmt_execute_direct(stmt, READ_SQL, std::strlen(READ_SQL)) ||
        mysql_stmt_bind_result(stmt, result.data()))
        return stmtFailed(stmt) ? 0 : -1;
    qint64 sum = 0;
    while (mysql_stmt_fetch(stmt) == 0) {
        const QVariant v[3] = {id, qulonglong(imei), QString::fromUtf8(name, int(nameLength))};
        sum += v[0].toInt() + qint64(v[1].toULongLong() % 7) + v[2].toString().size();
    }
    mysql_stmt_close(stmt);
    return sum;
}

struct Way {
    const char* name;
    std::function<bool(const QSqlDatabase&, int, int)> insert;
    std::function<qint64(const QSqlDatabase&)> read;
};

void measure(const QString& where, const QSqlDatabase& db, const windowbench::DelayRelay* relay, int inserts,
             int rows) {
    const Way ways[] = {
        {"text, escaped by the library", insertText, readText},
        {"mariadb_stmt_execute_direct", insertDirect, readDirect},
        {"prepared once, executed again", insertPrepared, nullptr},
        {"text without the driver", nullptr, readTextRaw},
    };
    out() << where << ": " << inserts << " single-row INSERTs, then " << rows << " rows read\n"
          << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8\n")
                 .arg(QStringLiteral("way"), -30)
                 .arg(QStringLiteral("insert ms"), 10)
                 .arg(QStringLiteral("Questions"), 10)
                 .arg(QStringLiteral("prepares"), 9)
                 .arg(QStringLiteral("executes"), 9)
                 .arg(QStringLiteral("trips"), 6)
                 .arg(QStringLiteral("read ms"), 9)
                 .arg(QStringLiteral("trips"), 6);
    static int next = 1;
    for (const Way& w : ways) {
        const Counters before = countersOf(db);
        const qint64 turns = relay ? relay->turns() : 0;
        QElapsedTimer t;
        t.start();
        const bool ok = !w.insert || w.insert(db, next, inserts);
        const double insertMs = double(t.nsecsElapsed()) / 1e6;
        const qint64 insertTurns = relay ? relay->turns() - turns - 1 : -1;
        next += inserts;
        const Counters after = countersOf(db);
        double readMs = -1;
        qint64 readTurns = -1;
        if (w.read) {
            const qint64 turnsBefore = relay ? relay->turns() : 0;
            t.restart();
            if (w.read(db) < 0)
                out() << "read failed\n";
            readMs = double(t.nsecsElapsed()) / 1e6;
            readTurns = relay ? relay->turns() - turnsBefore : -1;
        }
        const double n = std::max(1, inserts);
        const auto perStatement = [&](double value, int width) {
            return (w.insert ? QString::number(value / n, 'f', 2) : QStringLiteral("-"))
                .rightJustified(width);
        };
        out() << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
                     .arg(QString::fromLatin1(w.name), -30)
                     .arg(w.insert ? QString::number(insertMs, 'f', 1) : QStringLiteral("-"), 10)
                     .arg(perStatement(double(after.questions - before.questions - 1), 10))
                     .arg(perStatement(double(after.prepares - before.prepares), 9))
                     .arg(perStatement(double(after.executes - before.executes), 9))
                     .arg(relay ? perStatement(double(insertTurns), 6)
                                : QStringLiteral("-").rightJustified(6))
                     .arg(readMs < 0 ? QStringLiteral("-") : QString::number(readMs, 'f', 1), 9)
                     .arg(readTurns < 0 ? QStringLiteral("-") : QString::number(readTurns), 6)
              << (ok ? "" : "  FAILED") << '\n';
        out().flush();
    }
}

int runDriverBench(const QStringList& args) {
    const int inserts = std::max(1, bench::option(args, QStringLiteral("--driver-inserts"), 10000));
    const int rows = std::max(1, bench::option(args, QStringLiteral("--driver-rows"), 100000));
    const int relayed = std::max(1, bench::option(args, QStringLiteral("--driver-relayed"), 200));
    const int latencyMs = bench::option(args, QStringLiteral("--db-latency-ms"), 20);
    const int port = bench::startServer();
    if (port <= 0)
        return 1;
    const QString local = QStringLiteral("bench-driver");
    const QString far = QStringLiteral("bench-driver-relayed");
    int rc = 1;
    if (bench::openConnection(local, port)) {
        QSqlDatabase db = QSqlDatabase::database(local, false);
        QSqlQuery q(db);
        if (bench::createFromSchema(db, port, DRIVER_DB) &&
            bench::exec(
                q, QStringLiteral("CREATE TABLE drv_insert (id INT AUTO_INCREMENT PRIMARY KEY, imei "
                                  "BIGINT UNSIGNED NOT NULL, name VARCHAR(64) NOT NULL) ENGINE=InnoDB")) &&
            bench::exec(
                q, QStringLiteral("CREATE TABLE drv_read ENGINE=InnoDB SELECT seq AS id, "
                                  "seq * 987654321013 MOD 1000000000000000 AS imei, CONCAT('Boat ', seq) "
                                  "AS name FROM seq_1_to_%1")
                       .arg(rows)) &&
            bench::exec(q, QStringLiteral("ALTER TABLE drv_read ADD PRIMARY KEY (id)"))) {
            measure(QStringLiteral("loopback"), db, nullptr, inserts, rows);
            windowbench::DelayRelay relay(quint16(port), latencyMs);
            const qint64 beforeConnect = relay.turns();
            if (bench::openConnection(far, relay.port())) {
                QSqlDatabase farDb = QSqlDatabase::database(far, false);
                // the first statement's turn tells that the login's last answer came
                QSqlQuery(farDb).exec(QStringLiteral("DO 0"));
                out() << "connect through the relay: " << relay.turns() - beforeConnect - 1
                      << " round trips\n";
                QSqlQuery(farDb).exec(QStringLiteral("USE ") + DRIVER_DB);
                measure(QStringLiteral("through the relay, %1 ms each way").arg(latencyMs), farDb, &relay,
                        relayed, rows);
                farDb.close();
                rc = 0;
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(local);
    QSqlDatabase::removeDatabase(far);
    if (!args.contains(QStringLiteral("--db-keep-server")))
        bench::stopServer();
    return rc;
}

} // namespace

ORB_BENCH_SECTION("driver", runDriverBench);
