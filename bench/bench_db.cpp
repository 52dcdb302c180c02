// Database layer figures: full reload of the three table models, statements per reload,
// peak memory, addDevices of new devices, a bulk group change, and the raw mariadb client reading the same
// tables as the floor. Runs against a private MariaDB server of its own; a second one with
// TLS gives the cost of encryption.
//
//   orb-bench --only db [--db-devices 100000] [--db-users 2000] [--db-groups 200]
//                       [--db-add 10000] [--db-bulk 50000] [--db-runs 5] [--db-keep-server]

#include "bench.h"
#include "benchserver.h"

#include "db/confighandler.h"
#include "models/preparedtables.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>

#include <algorithm>
#include <memory>

#include <time.h>
#include <unistd.h>

namespace {

using bench::exec;
using bench::median;
using bench::option;
using bench::out;
using bench::peakRssKiB;

const QString BENCH_DB = QStringLiteral("orb_bench");

// CPU seconds this process and the server spent: on a machine shared with other work they vary less
// than the time on the clock, which the waits for the processor lengthen.
struct CpuSeconds {
    double client = 0;
    double server = 0;

    static CpuSeconds now() {
        CpuSeconds c;
        timespec t{};
        if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t) == 0)
            c.client = t.tv_sec + t.tv_nsec / 1e9;
        QFile pid(bench::serverDir() + QStringLiteral("/mysqld.pid"));
        if (pid.open(QIODevice::ReadOnly)) {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid.readAll().trimmed())));
            if (stat.open(QIODevice::ReadOnly)) {
                // utime and stime, the 14th and 15th fields, after the name in parentheses
                const QByteArray line = stat.readAll();
                const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
                if (fields.size() > 12)
                    c.server = (fields.at(11).toDouble() + fields.at(12).toDouble()) / sysconf(_SC_CLK_TCK);
            }
        }
        return c;
    }
    CpuSeconds since(const CpuSeconds& start) const { return {client - start.client, server - start.server}; }
};

QString cpuText(const QVector<CpuSeconds>& spent) {
    QVector<double> client;
    QVector<double> server;
    for (const CpuSeconds& c : spent) {
        client << c.client;
        server << c.server;
    }
    return QStringLiteral("cpu: program %1 s, server %2 s")
        .arg(QString::number(median(client), 'f', 3), QString::number(median(server), 'f', 3));
}

// The rows a reload replaced; the window frees them off the GUI thread, after they are shown.
struct Replaced {
    DevicesTableModel::Prepared devices;
    UserTableModel::Prepared users;
    GroupTableModel::Prepared groups;
};

// The three models filled from one read, as the window's refresh fills them.
Replaced reloadAll(ConfigHandler& handler, DevicesTableModel& devices, UserTableModel& users,
                   GroupTableModel& groups) {
    TablesSnapshot s;
    QString error;
    handler.loadTables(s, error);
    return {devices.setPrepared(DevicesTableModel::prepareFrom(s)),
            users.setPrepared(UserTableModel::prepareFrom(s)),
            groups.setPrepared(GroupTableModel::prepareFrom(s))};
}

// Fresh schema, then groups 2..groups, devices and users with two groups each (never Admin,
// so every membership row is its own). Uses the server's sequence tables: no data travels.
bool seed(QSqlDatabase& db, int port, int devices, int users, int groups) {
    if (!bench::createFromSchema(db, port, BENCH_DB))
        return false;
    QSqlQuery q(db);
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
    return bench::clientSeconds(
        port, BENCH_DB,
        QStringLiteral(
            "SELECT * FROM devices; SELECT * FROM device_groups; SELECT * FROM groups_list; "
            "SELECT * FROM users; SELECT * FROM user_groups; SELECT * FROM groups_list; "
            "SELECT * FROM groups_list; SELECT group_id, COUNT(*) FROM user_groups GROUP BY group_id; "
            "SELECT group_id, COUNT(*) FROM device_groups GROUP BY group_id; SELECT COUNT(*) FROM devices;"));
}

// The same full reload over TLS and unencrypted, taking turns, from one server that accepts both.
bool reportTlsCost(int devices, int users, int groups, int runs) {
    const int port = bench::startServer(true);
    if (port <= 0)
        return false;
    const QString ca = bench::serverDir(true) + QStringLiteral("/tls/ca.pem");
    bool seeded = false;
    if (bench::openConnection(QStringLiteral("bench-tls-seed"), port, ca)) {
        QSqlDatabase seeder = QSqlDatabase::database(QStringLiteral("bench-tls-seed"), false);
        {
            QSqlQuery q(seeder);
            // the unencrypted side of the comparison, and the mariadb client that loads the schema
            seeded = exec(q, QStringLiteral("SET GLOBAL require_secure_transport=OFF"));
        }
        seeded = seeded && seed(seeder, port, devices, users, groups);
        seeder.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-tls-seed"));
    if (!seeded)
        return false;

    QVector<double> seconds[2];
    {
        std::unique_ptr<ConfigHandler> handlers[2];
        for (int tls = 0; tls < 2; ++tls) {
            handlers[tls] = std::make_unique<ConfigHandler>(nullptr, QStringLiteral("bench-tls-%1").arg(tls));
            SqlConnectionSettings s{QStringLiteral("127.0.0.1"), port, bench::DB_USER, bench::DB_PASSWORD,
                                    BENCH_DB};
            s.tls = tls;
            s.tlsCaFile = ca;
            handlers[tls]->setConnectionSettings(s);
            if (handlers[tls]->connectToDatabase() != 0) {
                out() << "ConfigHandler cannot connect: " << handlers[tls]->lastErrorText() << '\n';
                return false;
            }
            try {
                handlers[tls]->checkDatabase();
                handlers[tls]->prepareJournal();
            } catch (const QString& e) {
                out() << "checkDatabase: " << e << '\n';
                return false;
            }
        }
        for (int i = 0; i < runs; ++i) {
            for (int tls = 0; tls < 2; ++tls) {
                DevicesTableModel devicesModel(nullptr, handlers[tls].get());
                UserTableModel usersModel(nullptr, handlers[tls].get());
                GroupTableModel groupsModel(nullptr, handlers[tls].get());
                QElapsedTimer t;
                t.start();
                const Replaced replaced = reloadAll(*handlers[tls], devicesModel, usersModel, groupsModel);
                seconds[tls] << t.nsecsElapsed() / 1e9;
            }
        }
        out() << "full reload over TLS (" << handlers[1]->tlsSession() << ") / unencrypted, " << devices
              << " devices: " << QString::number(median(seconds[1]), 'f', 3) << " s / "
              << QString::number(median(seconds[0]), 'f', 3)
              << " s = " << QString::number(median(seconds[1]) / std::max(1e-9, median(seconds[0])), 'f', 2)
              << "x\n";
        out().flush();
    }
    return true;
}

int runDbBench(const QStringList& args) {
    const int devices = option(args, QStringLiteral("--db-devices"), 100000);
    const int users = option(args, QStringLiteral("--db-users"), 2000);
    const int groups = std::max(1, option(args, QStringLiteral("--db-groups"), 200));
    const int add = option(args, QStringLiteral("--db-add"), 10000);
    const int bulk = option(args, QStringLiteral("--db-bulk"), 50000);
    const int runs = std::max(1, option(args, QStringLiteral("--db-runs"), 5));

    const int port = bench::startServer();
    if (port <= 0)
        return 1;
    out() << "server 127.0.0.1:" << port << " (" << bench::serverDir() << ")\n";

    int rc = 0;
    {
        QElapsedTimer seedTimer;
        seedTimer.start();
        if (!bench::openConnection(QStringLiteral("bench-seed"), port)) {
            rc = 1;
        } else {
            QSqlDatabase seeder = QSqlDatabase::database(QStringLiteral("bench-seed"), false);
            if (!seed(seeder, port, devices, users, groups))
                rc = 1;
            seeder.close();
        }
        out() << "seeded " << devices << " devices, " << users << " users, " << groups << " groups in "
              << QString::number(seedTimer.elapsed() / 1000.0, 'f', 2) << " s\n";
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-seed"));
    if (rc != 0)
        return rc;

    ConfigHandler handler;
    handler.setConnectionSettings(
        {QStringLiteral("127.0.0.1"), port, bench::DB_USER, bench::DB_PASSWORD, BENCH_DB});
    if (handler.connectToDatabase() != 0) {
        out() << "ConfigHandler cannot connect: " << handler.lastErrorText() << '\n';
        return 1;
    }
    try {
        handler.checkDatabase();
        handler.prepareJournal();
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
        const Replaced replaced = reloadAll(handler, devicesModel, usersModel, groupsModel);
        reloads << t.nsecsElapsed() / 1e9;
        statements = sessionQuestions(handler.database()) - before - 1;
    }

    const qint64 reloadRssKiB = peakRssKiB();

    QVector<double> adds;
    QVector<CpuSeconds> addCpu;
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
            const CpuSeconds cpu = CpuSeconds::now();
            QElapsedTimer t;
            t.start();
            addedCounts << handler.addDevices(list);
            adds << t.nsecsElapsed() / 1e9;
            addCpu << CpuSeconds::now().since(cpu);
        }
    }
    // all added devices go again in one call
    double deleteSeconds = -1;
    QVector<CpuSeconds> deleteCpu;
    int deleted = 0;
    if (add > 0) {
        QVector<int> ids;
        QSqlQuery q(handler.database());
        q.exec(QStringLiteral("SELECT id FROM devices WHERE imei >= 860000000000000"));
        while (q.next())
            ids << q.value(0).toInt();
        const CpuSeconds cpu = CpuSeconds::now();
        QElapsedTimer t;
        t.start();
        deleted = handler.deleteDevices(ids);
        deleteSeconds = t.nsecsElapsed() / 1e9;
        deleteCpu << CpuSeconds::now().since(cpu);
    }

    // bulk: the first devices move from group 2 to group 3; the mariadb client moves them back with
    // the same work in ranges (floor); all in group 2 before
    QVector<double> bulks;
    QVector<CpuSeconds> bulkCpu;
    QVector<double> bulkFloors;
    qint64 bulkStatements = -1;
    QVector<int> bulkIds;
    for (int id = 1; id <= std::min(bulk, devices); ++id)
        bulkIds << id;
    if (!bulkIds.isEmpty() && groups >= 3 && handler.changeDevicesGroups(bulkIds, {2}, {})) {
        const QString back =
            QStringLiteral("START TRANSACTION; DELETE FROM device_groups WHERE device_id BETWEEN 1 AND %1 "
                           "AND group_id = 3; INSERT INTO device_groups (device_id, group_id) SELECT seq, 2 "
                           "FROM seq_1_to_%1 ON DUPLICATE KEY UPDATE group_id = VALUES(group_id); COMMIT;")
                .arg(bulkIds.size());
        for (int i = 0; i < runs; ++i) {
            const qint64 before = sessionQuestions(handler.database());
            const CpuSeconds cpu = CpuSeconds::now();
            QElapsedTimer t;
            t.start();
            if (!handler.changeDevicesGroups(bulkIds, {3}, {2}))
                break;
            bulks << t.nsecsElapsed() / 1e9;
            bulkCpu << CpuSeconds::now().since(cpu);
            bulkStatements = sessionQuestions(handler.database()) - before - 1;
            bulkFloors << bench::clientSeconds(port, BENCH_DB, back);
        }
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
              << addedCounts.value(0) << "; goal < 0.5 s; " << cpuText(addCpu) << ")\n";
        out() << "deleteDevices of " << deleted << " devices: " << seconds(deleteSeconds) << " ("
              << cpuText(deleteCpu) << ")\n";
    }
    if (!bulks.isEmpty())
        out() << "changeDevicesGroups of " << bulkIds.size() << " devices, added to one group and removed "
              << "from another: " << seconds(median(bulks)) << ", " << bulkStatements
              << " statements (goal < 1 s; " << cpuText(bulkCpu)
              << "); mariadb client, the same in ranges (floor): " << seconds(median(bulkFloors)) << '\n';
    out() << "peak RSS: " << reloadRssKiB / 1024 << " MiB after the reloads, " << peakRssKiB() / 1024
          << " MiB at the end\n";
    out().flush();

    if (!args.contains(QStringLiteral("--db-keep-server")))
        bench::stopServer();
    if (!reportTlsCost(devices, users, groups, runs))
        rc = 1;
    if (!args.contains(QStringLiteral("--db-keep-server")))
        bench::stopServer(true);
    return rc;
}

} // namespace

ORB_BENCH_SECTION("db", runDbBench);
