// Server link: a device list of 100,000 records from the server simulator over loopback, taken
// through the real worker thread, codec and handler. The figure that matters is the GUI thread's
// CPU time from the request to the finished DeviceInfo and IMEI lists. Then a list of 2,000,000:
// the GUI thread's longest stall while it arrives, and how long the handler takes to go when it
// is closed in the middle of one.

#include "bench.h"
#include "heartbeat.h"

#include "link/kalvomessageparser.h"
#include "link/orbserverhandler.h"
#include "link/tcpclient.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>

#include <QDateTime>

#include <algorithm>
#include <ctime>
#include <memory>
#include <vector>

namespace {

constexpr int DeviceCount = 100000;
constexpr int Rounds = 5;

double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.at(v.size() / 2);
}

void quiet(QtMsgType type, const QMessageLogContext&, const QString& msg) {
    if (type >= QtWarningMsg)
        QTextStream(stderr) << msg << '\n';
}

// Runs the event loop until done() or the time-out; false on time-out.
template <typename Done>
bool waitFor(Done done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

QString simPath(const QStringList& args) {
    const int at = args.indexOf(QStringLiteral("--sim"));
    if (at >= 0 && at + 1 < args.size())
        return args.at(at + 1);
    return QDir(QCoreApplication::applicationDirPath())
        .filePath(QStringLiteral("../tools/sim/orb-server-sim"));
}

bool startSim(QProcess& server, const QString& sim, int devices, quint16* port) {
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start(sim, {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--devices"),
                       QString::number(devices)});
    server.closeWriteChannel();
    if (!server.waitForStarted(10000) || !waitFor([&] { return server.canReadLine(); }, 120000))
        return false;
    *port = quint16(QString::fromUtf8(server.readLine()).trimmed().section(QLatin1Char(':'), -1).toUInt());
    return true;
}

// 2,000,000 devices, the ceiling: the GUI thread's longest stall from the request until the
// lists are taken, then the handler closed 0.5 s into the next list.
int benchLongList(QTextStream& out, const QString& sim) {
    constexpr int Count = KalvoMessageParser::MaxListSize;
    QProcess server;
    quint16 port = 0;
    if (!startSim(server, sim, Count, &port)) {
        out << "server simulator did not start\n";
        return 1;
    }
    const QtMessageHandler previous = qInstallMessageHandler(quiet);
    int rc = 0;
    OrbHostSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = port;
    {
        auto handler = std::make_unique<OrbServerHandler>();
        handler->setTimerIntervalsForTesting(600000, 600000);
        handler->setHostSettings(settings);
        bench::Heartbeat heartbeat;
        QElapsedTimer timer;
        timer.start();
        handler->reconnect();
        if (!waitFor([&] { return handler->devices().size() == Count; }, 120000)) {
            out << "no 2,000,000-device list within 120 s\n";
            rc = 1;
        }
        out << QStringLiteral(
                   "2,000,000-device list: taken in %1 ms, longest GUI stall %2 ms (goal < 100 ms)\n")
                   .arg(timer.elapsed())
                   .arg(heartbeat.longestMs(), 0, 'f', 1);
        out.flush();

        handler->reconnect();
        QElapsedTimer since;
        since.start();
        waitFor([&] { return since.elapsed() >= 500; }, 1000);
        heartbeat.reset();
        QElapsedTimer closing;
        closing.start();
        handler.reset();
        out << QStringLiteral("  closed 0.5 s into the next list: %1 ms (goal < 1000 ms), longest GUI stall "
                              "meanwhile %2 ms\n")
                   .arg(closing.elapsed())
                   .arg(heartbeat.longestMs(), 0, 'f', 1);
    }
    qInstallMessageHandler(previous);
    server.kill();
    server.waitForFinished(5000);
    return rc;
}

int runLinkBench(const QStringList& args) {
    QTextStream out(stdout);
    const QString sim = simPath(args);
    if (!QFileInfo(sim).isExecutable()) {
        out << "server simulator not found at " << sim << " (build orb-server-sim or pass --sim PATH)\n";
        return 1;
    }
    QProcess server;
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start(sim, {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--devices"),
                       QString::number(DeviceCount)});
    server.closeWriteChannel();
    if (!server.waitForStarted(10000) || !waitFor([&] { return server.canReadLine(); }, 30000)) {
        out << "server simulator did not start\n";
        return 1;
    }
    const QString line = QString::fromUtf8(server.readLine()).trimmed();
    const quint16 port = quint16(line.section(QLatin1Char(':'), -1).toUInt());

    const QtMessageHandler previous = qInstallMessageHandler(quiet);
    int rc = 0;

    // 1. The whole link, as the program runs it.
    {
        OrbServerHandler handler;
        handler.setTimerIntervalsForTesting(600000, 600000);
        OrbHostSettings settings;
        settings.host = QStringLiteral("127.0.0.1");
        settings.port = port;
        handler.setHostSettings(settings);
        bool listDone = false;
        QDateTime received;
        QObject::connect(&handler, &OrbServerHandler::hostStateUpdated, [&] {
            if (handler.devicesReceived() != received)
                listDone = true;
        });
        std::vector<double> cpu;
        std::vector<double> wall;
        for (int round = 0; round < Rounds; ++round) {
            listDone = false;
            received = handler.devicesReceived();
            QElapsedTimer timer;
            timer.start();
            const double cpuStart = threadCpuMs();
            handler.reconnect();
            if (!waitFor([&] { return listDone; }, 60000)) {
                out << "no device list within 60 s\n";
                rc = 1;
                break;
            }
            cpu.push_back(threadCpuMs() - cpuStart);
            wall.push_back(double(timer.nsecsElapsed()) / 1e6);
            if (handler.devices().size() != DeviceCount) {
                out << "wrong device count " << handler.devices().size() << '\n';
                rc = 1;
            }
        }
        if (!cpu.empty()) {
            out << "100000-device list (101 portions) via loopback, worker thread, codec and handler:\n";
            out << QStringLiteral("  GUI-thread CPU time  median %1 ms, best %2 ms (goal < 50 ms)\n")
                       .arg(median(cpu), 0, 'f', 1)
                       .arg(*std::min_element(cpu.begin(), cpu.end()), 0, 'f', 1);
            out << QStringLiteral("  request to lists     median %1 ms wall time\n")
                       .arg(median(wall), 0, 'f', 1);
        }
    }

    // 2. The codec alone on the simulator's real bytes, in 64 KiB chunks.
    if (rc == 0) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        QByteArray raw;
        KalvoMessageParser probe;
        bool complete = false;
        QObject::connect(&probe, &KalvoMessageParser::sendData, &socket,
                         [&socket](const QByteArray& bytes) { socket.write(bytes); });
        QObject::connect(
            &probe, &KalvoMessageParser::devListReceived,
            [&](const QList<TDeviceToConfigInfo>& list) { complete = list.size() == DeviceCount; });
        QObject::connect(&socket, &QTcpSocket::readyRead, [&] {
            const QByteArray chunk = socket.readAll();
            raw += chunk;
            probe.onDataReceived(chunk);
        });
        if (socket.waitForConnected(5000))
            probe.requestDeviceList();
        if (!waitFor([&] { return complete; }, 60000)) {
            out << "raw capture failed\n";
            rc = 1;
        } else {
            std::vector<double> ms;
            for (int round = 0; round < Rounds; ++round) {
                KalvoMessageParser parser;
                int records = 0;
                QObject::connect(
                    &parser, &KalvoMessageParser::devListReceived,
                    [&records](const QList<TDeviceToConfigInfo>& list) { records = list.size(); });
                parser.requestDeviceList();
                QElapsedTimer timer;
                timer.start();
                for (int at = 0; at < raw.size(); at += 65536)
                    parser.onDataReceived(raw.mid(at, 65536));
                ms.push_back(double(timer.nsecsElapsed()) / 1e6);
                if (records != DeviceCount)
                    rc = 1;
            }
            out << QStringLiteral("codec alone: %1 bytes in 64 KiB chunks decoded in median %2 ms\n")
                       .arg(raw.size())
                       .arg(median(ms), 0, 'f', 1);
        }
    }

    qInstallMessageHandler(previous);
    server.kill();
    server.waitForFinished(5000);
    return rc | benchLongList(out, sim);
}

} // namespace

ORB_BENCH_SECTION("link", runLinkBench);
