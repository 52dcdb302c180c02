// The main window end to end at scale: the real window, offscreen, against the private MariaDB
// with many devices, driven through its widgets and dialogs as a person would. For each step it
// prints the time until the result is on screen, the longest stall of the GUI thread (gaps in a
// 5 ms heartbeat), and the statements the server received; behind the delaying relay
// (--db-latency-ms) also the round trips.
//
//   orb-bench --only window [--window-devices 100000] [--db-latency-ms D] [--window-timeout-s 600]
//                           [--window-keep-server] [--window-close-during-refresh]
//                           [--window-close-during-change] [--window-server-devices N]
//
// --window-close-during-refresh: after start-up, F5 and the window closed while the refresh reads;
// it prints when on the steady clock (CLOCK_MONOTONIC) and ends at once, leaving the server
// running, so that whoever started it sees how long the process takes to end.
// --window-close-during-change: the same with a change that waits for a row lock held by another
// connection.
// --window-server-devices N: the server simulator (next to the benchmark, tools/sim) lists N
// devices, and "Добавить с сервера" opens its dialog before the other steps.

#include "bench.h"
#include "benchserver.h"
#include "windowharness.h"
#include "windowrelay.h"
#include "windowrun.h"

#include "app/csettings.h"
#include "db/confighandler.h"
#include "db/journal.h"
#include "link/orbserverhandler.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <memory>

namespace {

using bench::out;
using namespace windowbench;

// The program's debug lines and the offscreen plugin's notes would bury the table.
void quiet(QtMsgType type, const QMessageLogContext&, const QString& msg) {
    if (type >= QtWarningMsg && !msg.contains(QLatin1String("propagateSizeHints")))
        QTextStream(stderr) << msg << '\n';
}

// ---- the data

// Admin and 200 groups; devices with pseudo-random 15-digit IMEIs (about one in ten below
// 10^14, shown with a leading zero), each in Admin and 2 other groups; users in 2 groups each.
// One INSERT ... SELECT per table from the sequence engine: no rows travel.
bool seed(QSqlDatabase& db, int port, int devices) {
    if (!bench::createFromSchema(db, port, WINDOW_DB))
        return false;
    // 987654321013 is prime to 10^15, so the IMEIs of 1..N are distinct and never 0.
    const QStringList sql{
        QStringLiteral("INSERT INTO groups_list (id, group_name) SELECT seq + 1, CONCAT('Fleet ', seq) "
                       "FROM seq_1_to_%1")
            .arg(GROUPS),
        QStringLiteral("INSERT INTO devices (id, imei, name) SELECT seq, seq * 987654321013 MOD "
                       "1000000000000000, CONCAT('Boat ', seq) FROM seq_1_to_%1")
            .arg(devices),
        QStringLiteral(
            "INSERT INTO device_groups (device_id, group_id) SELECT seq, 1 FROM seq_1_to_%1 "
            "UNION ALL SELECT seq, 2 + seq MOD %2 FROM seq_1_to_%1 "
            "UNION ALL SELECT seq, 2 + (seq MOD %2 + 1 + (seq DIV %2) MOD %3) MOD %2 FROM seq_1_to_%1")
            .arg(devices)
            .arg(GROUPS)
            .arg(GROUPS - 1),
        QStringLiteral("INSERT INTO users (id, user_login, user_password) SELECT seq, CONCAT('user', seq), "
                       "UNHEX(SHA2(seq, 512)) FROM seq_2_to_%1")
            .arg(USERS + 1),
        QStringLiteral("INSERT INTO user_groups (user_id, group_id) SELECT seq, 2 + seq MOD %2 FROM "
                       "seq_2_to_%1 UNION ALL SELECT seq, 2 + (seq + %3) MOD %2 FROM seq_2_to_%1")
            .arg(USERS + 1)
            .arg(GROUPS)
            .arg(GROUPS / 2),
        // not the default password: no prompt to change it at start-up
        QStringLiteral("UPDATE users SET user_password = UNHEX(SHA2('orb-bench', 512)) WHERE id = 1"),
        QStringLiteral("ANALYZE TABLE devices, device_groups, users, user_groups, groups_list"),
        // there since the program's first connect: start-up then measures every later day's
        DbJournal::createStatement(),
    };
    QSqlQuery q(db);
    for (const QString& s : sql) {
        if (!bench::exec(q, s))
            return false;
    }
    return true;
}

QString cell(double ms, int width) {
    return ms < 0 ? QStringLiteral("-").rightJustified(width)
                  : QString::number(ms, 'f', 1).rightJustified(width);
}

void printRows(const QVector<Row>& rows, bool withTurns) {
    QTextStream& o = out();
    o << QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
             .arg(QStringLiteral("operation"), -36)
             .arg(QStringLiteral("open ms"), 8)
             .arg(QStringLiteral("result ms"), 10)
             .arg(QStringLiteral("stall ms"), 9)
             .arg(QStringLiteral("Questions"), 9)
             .arg(QStringLiteral("stmt_exec"), 9)
             .arg(QStringLiteral("Com_select"), 10)
      << QStringLiteral(" %1").arg(QStringLiteral("peak MiB"), 8);
    if (withTurns)
        o << QStringLiteral(" %1").arg(QStringLiteral("round trips"), 11);
    o << '\n';
    for (const Row& r : rows) {
        o << QStringLiteral("%1 %2 %3 %4")
                 .arg(r.name, -36)
                 .arg(cell(r.openMs, 8), cell(r.resultMs, 10), cell(r.stallMs, 9));
        if (r.stallMs >= 0) {
            o << QStringLiteral(" %1 %2 %3")
                     .arg(r.statements.questions, 9)
                     .arg(r.statements.executes, 9)
                     .arg(r.statements.selects, 10)
              << QStringLiteral(" %1").arg(r.peakMiB, 8);
            if (withTurns)
                o << QStringLiteral(" %1").arg(r.turns, 11);
        }
        if (!r.failure.isEmpty())
            o << "  FAILED: " << r.failure;
        o << '\n';
    }
    o.flush();
}

// The mariadb client reading what the devices table shows: median of three runs, and through
// the relay (with its round trips) when there is one.
void printFloor(int dbPort, const DelayRelay* relay) {
    const QString statements[][2] = {
        {QStringLiteral("SELECT * FROM devices"), QStringLiteral("devices")},
        {QStringLiteral("SELECT * FROM devices; SELECT * FROM device_groups; SELECT * FROM groups_list"),
         QStringLiteral("devices, device_groups, groups_list")},
    };
    for (const auto& s : statements) {
        QVector<double> direct;
        QVector<double> relayed;
        qint64 turns = 0;
        for (int i = 0; i < 3; ++i) {
            direct << bench::clientSeconds(dbPort, WINDOW_DB, s[0]) * 1000;
            if (relay) {
                const qint64 before = relay->turns();
                relayed << bench::clientSeconds(relay->port(), WINDOW_DB, s[0]) * 1000;
                turns = relay->turns() - before;
            }
        }
        out() << QStringLiteral("mariadb client floor, %1: %2 ms")
                     .arg(s[1])
                     .arg(bench::median(direct), 0, 'f', 1);
        if (relay)
            out() << QStringLiteral("; through the relay %1 ms, %2 round trips")
                         .arg(bench::median(relayed), 0, 'f', 1)
                         .arg(turns);
        out() << '\n';
    }
}

int runWindowBench(const QStringList& args) {
    const int devices = std::max(10, bench::option(args, QStringLiteral("--window-devices"), 100000));
    const int latencyMs = bench::option(args, QStringLiteral("--db-latency-ms"), -1);
    const int timeoutMs = std::max(1, bench::option(args, QStringLiteral("--window-timeout-s"), 600)) * 1000;

    const int port = bench::startServer();
    if (port <= 0)
        return 1;
    out() << "server 127.0.0.1:" << port << " (" << bench::serverDir() << ")\n";
    if (!bench::openConnection(STATS_CONNECTION, port))
        return 1;
    int rc = 0;
    {
        QSqlDatabase stats = QSqlDatabase::database(STATS_CONNECTION, false);
        const qint64 seedStart = nowNs();
        if (!seed(stats, port, devices))
            return 1;
        out() << "seeded " << devices << " devices (each in Admin and 2 of " << GROUPS << " groups), "
              << USERS << " users in " << QString::number(double(nowNs() - seedStart) / 1e9, 'f', 1)
              << " s\n";

        std::unique_ptr<DelayRelay> relay;
        if (latencyMs >= 0) {
            relay = std::make_unique<DelayRelay>(quint16(port), latencyMs);
            if (relay->port() == 0) {
                out() << "the relay cannot listen\n";
                return 1;
            }
            out() << "the program reaches the server through a relay adding " << latencyMs
                  << " ms in each direction (127.0.0.1:" << relay->port() << ")\n";
        }

        QTemporaryDir dir;
        CSettings::getInstance(dir.filePath(CSettings::defaultFileName()));
        SqlConnectionSettings sql;
        sql.ip = QStringLiteral("127.0.0.1");
        sql.port = relay ? relay->port() : port;
        sql.db = WINDOW_DB;
        sql.user = bench::DB_USER;
        sql.password = bench::DB_PASSWORD;
        CSettings::setSql(sql);
        // without a simulator nobody listens there: the tracking server link stays down and costs nothing
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        quint16 orbPort = probe.serverPort();
        probe.close();
        const int serverDevices = bench::option(args, QStringLiteral("--window-server-devices"), 0);
        QProcess simulator;
        struct Ending {
            QProcess& process;
            ~Ending() {
                process.kill();
                process.waitForFinished(5000);
            }
        } ending{simulator};
        if (serverDevices > 0) {
            simulator.setStandardErrorFile(QProcess::nullDevice());
            simulator.start(QDir(QCoreApplication::applicationDirPath())
                                .filePath(QStringLiteral("../tools/sim/orb-server-sim")),
                            {QStringLiteral("--port"), QString::number(orbPort), QStringLiteral("--devices"),
                             QString::number(serverDevices)});
            simulator.closeWriteChannel();
            if (!simulator.waitForStarted(10000) || !simulator.waitForReadyRead(120000)) {
                out() << "server simulator did not start\n";
                return 1;
            }
            out() << "server simulator on 127.0.0.1:" << orbPort << " lists " << serverDevices
                  << " devices\n";
        }
        CSettings::setOrb({QStringLiteral("127.0.0.1"), orbPort});

        const WindowRun::Closing closing =
            args.contains(QStringLiteral("--window-close-during-refresh"))  ? WindowRun::Closing::InRefresh
            : args.contains(QStringLiteral("--window-close-during-change")) ? WindowRun::Closing::InChange
                                                                            : WindowRun::Closing::Never;
        const QtMessageHandler previous = qInstallMessageHandler(quiet);
        {
            WindowRun run(devices, relay.get(), timeoutMs, closing);
            run.serverDevices = serverDevices;
            run.run(stats);
            if (closing != WindowRun::Closing::Never) {
                printRows(run.rows(), relay != nullptr);
                out() << "window closed " << (run.closedWhileBusy ? "while" : "NOT while") << " the "
                      << (closing == WindowRun::Closing::InRefresh ? "refresh ran" : "change waited")
                      << ", at steady clock " << run.closedAtNs << " ns; ";
                if (run.sessionEndMs >= 0)
                    out() << "the session's event loop ended in " << QString::number(run.sessionEndMs, 'f', 1)
                          << " ms, ";
                out() << "closed and destroyed in " << QString::number(run.closingMs, 'f', 1) << " ms\n";
                out().flush();
                rc = run.closedAtNs < 0 ? 1 : 0;
            } else {
                out() << "result: from the keystroke, click or OK until the result is on screen. Until the "
                         "server has been quiet for 0.5 s after that: stall, the longest gap of a 5 ms "
                         "GUI-thread timer; the server's statement counters; the round trips\n";
                printRows(run.rows(), relay != nullptr);
                for (const Row& r : run.rows())
                    rc |= r.failure.isEmpty() ? 0 : 1;
                run.close();
                out() << "peak RSS: " << run.startupRssKiB / 1024 << " MiB after start-up, "
                      << bench::peakRssKiB() / 1024 << " MiB at the end\n";
            }
        }
        qInstallMessageHandler(previous);
        if (closing == WindowRun::Closing::Never)
            printFloor(port, relay.get());
        stats.close();
    }
    QSqlDatabase::removeDatabase(STATS_CONNECTION);
    if (!args.contains(QStringLiteral("--window-keep-server")))
        bench::stopServer();
    return rc;
}

} // namespace

ORB_BENCH_SECTION("window", runWindowBench);
