// Database layer figures: full reload of the three table models, statements per reload,
// peak memory, addDevices of new devices, and the raw mariadb client reading the same
// tables as the floor. Runs against a private MariaDB server of its own.
//
//   orb-bench --only db [--db-devices 100000] [--db-users 2000] [--db-groups 200]
//                       [--db-add 10000] [--db-runs 5] [--db-keep-server]

#include "bench.h"

#include "db/confighandler.h"
#include "db/devicestablemodel.h"
#include "db/grouptablemodel.h"
#include "db/usertablemodel.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>

#include <algorithm>

namespace {

const QString BENCH_DB = QStringLiteral("orb_bench");
const QString SERVER_SCRIPT = QStringLiteral(ORB_SOURCE_DIR "/tools/mariadb-local.sh");
const QString SERVER_DIR = QStringLiteral(ORB_BENCH_MARIADB_DIR);
const QString DB_USER = QStringLiteral("orb");
const QString DB_PASSWORD = QStringLiteral("orb-test-pw");

QTextStream& out() {
    static QTextStream stream(stdout);
    return stream;
}

int option(const QStringList& args, const QString& name, int fallback) {
    const int at = args.indexOf(name);
    if (at >= 0 && at + 1 < args.size()) {
        bool ok = false;
        const int value = args.at(at + 1).toInt(&ok);
        if (ok && value >= 0)
            return value;
    }
    return fallback;
}

double median(QVector<double> values) {
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

qint64 peakRssKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression hwm(QStringLiteral("^VmHWM:\\s+(\\d+)"), QRegularExpression::MultilineOption);
    const auto match = hwm.match(QString::fromLatin1(status.readAll()));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

bool runScript(const QString& command, QString* output) {
    QProcess p;
    p.start(QStringLiteral("bash"), {SERVER_SCRIPT, command, SERVER_DIR});
    if (!p.waitForFinished(180000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        out() << "mariadb-local.sh " << command << " failed:\n"
              << QString::fromLocal8Bit(p.readAllStandardError());
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    return true;
}

bool exec(QSqlQuery& q, const QString& sql) {
    if (q.exec(sql))
        return true;
    out() << "statement failed: " << sql.left(200) << "\n  " << q.lastError().text() << '\n';
    return false;
}

QStringList clientArgs(int port) {
    return {QStringLiteral("--no-defaults"),
            QStringLiteral("-h127.0.0.1"),
            QStringLiteral("-P%1").arg(port),
            QStringLiteral("-u") + DB_USER,
            QStringLiteral("-p") + DB_PASSWORD,
            QStringLiteral("--batch"),
            BENCH_DB};
}

// Loads db/schema.sql with its first rows into `BENCH_DB` through the mariadb client.
bool loadSchema(int port) {
    QProcess p;
    p.setStandardInputFile(QStringLiteral(ORB_SOURCE_DIR "/db/schema.sql"));
    p.start(QStringLiteral("mariadb"), clientArgs(port));
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        out() << "loading the schema failed: " << QString::fromLocal8Bit(p.readAllStandardError()) << '\n';
        return false;
    }
    return true;
}

// Fresh schema, then groups 2..groups, devices and users with two groups each (never Admin,
// so every membership row is its own). Uses the server's sequence tables: no data travels.
bool seed(QSqlDatabase& db, int port, int devices, int users, int groups) {
    QSqlQuery q(db);
    if (!exec(q, QStringLiteral("DROP DATABASE IF EXISTS %1").arg(BENCH_DB)) ||
        !exec(q, QStringLiteral("CREATE DATABASE %1 CHARACTER SET utf8mb4").arg(BENCH_DB)) ||
        !exec(q, QStringLiteral("USE %1").arg(BENCH_DB)) || !loadSchema(port))
        return false;
    // two memberships per row, never in Admin
    auto twoGroups = [&](const QString& table, const QString& owner, const QString& from, int others) {
        return QStringLiteral(
                   "INSERT IGNORE INTO %1 (%2, group_id) SELECT id, 2 + id MOD %4 FROM %3 UNION ALL "
                   "SELECT id, 2 + (id + %5) MOD %4 FROM %3")
            .arg(table, owner, from)
            .arg(others)
            .arg(std::max(1, others / 2));
    };
    QStringList sql;
    const int others = std::max(1, groups - 1); // groups besides Admin
    if (groups > 1)
        sql << QStringLiteral("INSERT INTO groups_list (id, group_name) SELECT seq, CONCAT('Группа ', seq) "
                              "FROM seq_2_to_%1")
                   .arg(groups);
    if (devices > 0) {
        sql << QStringLiteral("INSERT INTO devices (imei, name, for_all) SELECT 350000000000000 + seq, "
                              "CONCAT('Устройство ', seq), seq MOD 50 = 0 FROM seq_1_to_%1")
                   .arg(devices);
        if (groups > 1)
            sql << twoGroups(QStringLiteral("device_groups"), QStringLiteral("device_id"),
                             QStringLiteral("devices"), others);
    }
    if (users > 0) {
        sql << QStringLiteral("INSERT INTO users (user_login, user_password) "
                              "SELECT CONCAT('user', seq), UNHEX(SHA2(seq, 512)) FROM seq_2_to_%1")
                   .arg(users + 1);
        if (groups > 1)
            sql << twoGroups(QStringLiteral("user_groups"), QStringLiteral("user_id"),
                             QStringLiteral("(SELECT id FROM users WHERE id > 1) u"), others);
    }
    sql << QStringLiteral("ANALYZE TABLE devices, device_groups, users, user_groups, groups_list");
    for (const QString& s : qAsConst(sql)) {
        if (!exec(q, s))
            return false;
    }
    return true;
}

qint64 sessionQuestions(const QSqlDatabase& db) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SHOW SESSION STATUS LIKE 'Questions'")) || !q.next())
        return -1;
    return q.value(1).toLongLong();
}

// The statements of one full reload, run by the mariadb command line client.
double clientFloorSeconds(int port) {
    const QString statements = QStringLiteral(
        "SELECT * FROM devices; SELECT * FROM device_groups; SELECT * FROM groups_list; "
        "SELECT * FROM users; SELECT * FROM user_groups; SELECT * FROM groups_list; "
        "SELECT * FROM groups_list; SELECT group_id, COUNT(*) FROM user_groups GROUP BY group_id; "
        "SELECT group_id, COUNT(*) FROM device_groups GROUP BY group_id; SELECT COUNT(*) FROM devices;");
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral("mariadb"),
            {QStringLiteral("--no-defaults"), QStringLiteral("-h127.0.0.1"), QStringLiteral("-P%1").arg(port),
             QStringLiteral("-u") + DB_USER, QStringLiteral("-p") + DB_PASSWORD, QStringLiteral("--batch"),
             BENCH_DB, QStringLiteral("-e"), statements});
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        out() << "mariadb client failed: " << QString::fromLocal8Bit(p.readAllStandardError()) << '\n';
        return -1;
    }
    return t.nsecsElapsed() / 1e9;
}

int runDbBench(const QStringList& args) {
    const int devices = option(args, QStringLiteral("--db-devices"), 100000);
    const int users = option(args, QStringLiteral("--db-users"), 2000);
    const int groups = std::max(1, option(args, QStringLiteral("--db-groups"), 200));
    const int add = option(args, QStringLiteral("--db-add"), 10000);
    const int runs = std::max(1, option(args, QStringLiteral("--db-runs"), 5));

    QString portText;
    if (!runScript(QStringLiteral("start"), &portText))
        return 1;
    const int port = portText.split(QLatin1Char('\n')).last().toInt();
    out() << "server 127.0.0.1:" << port << " (" << SERVER_DIR << ")\n";

    int rc = 0;
    {
        QSqlDatabase seeder =
            QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), QStringLiteral("bench-seed"));
        seeder.setHostName(QStringLiteral("127.0.0.1"));
        seeder.setPort(port);
        seeder.setUserName(DB_USER);
        seeder.setPassword(DB_PASSWORD);
        QElapsedTimer seedTimer;
        seedTimer.start();
        if (!seeder.open()) {
            out() << "cannot connect: " << seeder.lastError().text() << '\n';
            rc = 1;
        } else {
            QSqlQuery(seeder).exec(QStringLiteral("SET NAMES utf8mb4"));
            if (!seed(seeder, port, devices, users, groups))
                rc = 1;
        }
        seeder.close();
        out() << "seeded " << devices << " devices, " << users << " users, " << groups << " groups in "
              << QString::number(seedTimer.elapsed() / 1000.0, 'f', 2) << " s\n";
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-seed"));
    if (rc != 0)
        return rc;

    ConfigHandler handler;
    handler.setConnectionSettings({QStringLiteral("127.0.0.1"), port, DB_USER, DB_PASSWORD, BENCH_DB});
    if (handler.connectToDatabase() != 0) {
        out() << "ConfigHandler cannot connect: " << handler.lastErrorText() << '\n';
        return 1;
    }
    try {
        handler.checkDatabase();
    } catch (const QString& e) {
        out() << "checkDatabase: " << e << '\n';
        return 1;
    }

    DevicesTableModel devicesModel(nullptr, &handler);
    UserTableModel usersModel(nullptr, &handler);
    GroupTableModel groupsModel(nullptr, &handler);

    // Reload and floor take turns, so that the load of the machine weighs on both alike.
    QVector<double> reloads;
    QVector<double> floors;
    qint64 statements = -1;
    for (int i = 0; i < runs; ++i) {
        floors << clientFloorSeconds(port);
        const qint64 before = sessionQuestions(handler.database());
        QElapsedTimer t;
        t.start();
        devicesModel.reload();
        usersModel.reload();
        groupsModel.reload();
        reloads << t.nsecsElapsed() / 1e9;
        statements = sessionQuestions(handler.database()) - before - 1;
    }

    const qint64 reloadRssKiB = peakRssKiB();

    QVector<double> adds;
    QVector<int> addedCounts;
    if (add > 0) {
        for (int i = 0; i < runs; ++i) {
            QVector<DeviceInfo> list;
            list.reserve(add);
            for (int k = 0; k < add; ++k) {
                DeviceInfo d;
                // new IMEIs in every run: nothing is deleted between runs
                d.imei = 860000000000000ULL + quint64(i) * quint64(add) + quint64(k);
                d.name = QStringLiteral("Новое %1").arg(k);
                if (groups >= 3)
                    d.groups = {2, 3};
                list << d;
            }
            QElapsedTimer t;
            t.start();
            addedCounts << handler.addDevices(list);
            adds << t.nsecsElapsed() / 1e9;
        }
    }
    // all added devices go again in one call
    double deleteSeconds = -1;
    int deleted = 0;
    if (add > 0) {
        QVector<int> ids;
        QSqlQuery q(handler.database());
        q.exec(QStringLiteral("SELECT id FROM devices WHERE imei >= 860000000000000"));
        while (q.next())
            ids << q.value(0).toInt();
        QElapsedTimer t;
        t.start();
        deleted = handler.deleteDevices(ids);
        deleteSeconds = t.nsecsElapsed() / 1e9;
    }

    const double reload = median(reloads);
    const double floor = median(floors);
    auto seconds = [](double s) {
        return QString::number(s, 'f', 3) + QStringLiteral(" s");
    };
    out() << "rows: " << devicesModel.rowCount() << " devices, " << usersModel.rowCount() << " users, "
          << groupsModel.rowCount() << " groups; median of " << runs << " runs\n";
    out() << "full reload of the three models: " << seconds(reload) << '\n';
    out() << "mariadb client, same statements (floor): " << seconds(floor) << '\n';
    out() << "reload / floor: " << QString::number(floor > 0 ? reload / floor : 0, 'f', 2)
          << "x (goal <= 1.5x)\n";
    out() << "statements per reload: " << statements << " (goal: constant, <= 10)\n";
    if (add > 0) {
        out() << "addDevices of " << add << " new devices: " << seconds(median(adds)) << " (added "
              << addedCounts.value(0) << "; goal < 0.5 s)\n";
        out() << "deleteDevices of " << deleted << " devices: " << seconds(deleteSeconds) << '\n';
    }
    out() << "peak RSS: " << reloadRssKiB / 1024 << " MiB after the reloads, " << peakRssKiB() / 1024
          << " MiB at the end\n";
    out().flush();

    if (!args.contains(QStringLiteral("--db-keep-server")))
        runScript(QStringLiteral("stop"), nullptr);
    return 0;
}

} // namespace

ORB_BENCH_SECTION("db", runDbBench);
