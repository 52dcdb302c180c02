#include "link/orbserverhandler.h"
#include "link/tcpclient.h"
#include "logcapture.h"
#include "simprocess.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// The simulator built with the tests.
struct Sim : SimProcess {
    Sim()
        : SimProcess(QStringLiteral(ORB_SERVER_SIM)) {}
};

// A handler that starts connecting to 127.0.0.1:port with the given timer intervals.
std::unique_ptr<OrbServerHandler> startHandler(int port, int reconnectMs, int pollMs) {
    auto handler = std::make_unique<OrbServerHandler>();
    handler->setTimerIntervalsForTesting(reconnectMs, pollMs);
    handler->setHostSettings(OrbHostSettings{QStringLiteral("127.0.0.1"), port});
    handler->reconnect();
    return handler;
}

} // namespace

class TestOrbServerHandler : public QObject {
    Q_OBJECT

private slots:
    void connectsRequestsReconnectsAndStops();
    void completeListDespiteFaults_data();
    void completeListDespiteFaults();
    void reconnectsAfterTheServerComesBack();
    void damagedOrEndlessList_data();
    void damagedOrEndlessList();

private:
    QTemporaryDir dir;
};

void TestOrbServerHandler::connectsRequestsReconnectsAndStops() {
    const QString file = dir.filePath(QStringLiteral("devices.txt"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("100000000000001,Грузовик 1\n12AB,broken\n100000000000002\n-5,negative\n");
    f.close();
    Sim sim;
    QVERIFY(sim.start({QStringLiteral("--file"), file}));
    LogCapture log;
    {
        // the poll timer would not fire within the test: the list must be asked for on connecting
        const auto handler = startHandler(sim.port(), 60000, 600000);
        QSignalSpy updated(handler.get(), &OrbServerHandler::hostStateUpdated);
        QTRY_COMPARE_WITH_TIMEOUT(handler->imeiList().size(), 4, 10000);
        QVERIFY(handler->tcpClient()->isConnected());
        QCOMPARE(handler->imeiList(), (QStringList{QStringLiteral("100000000000001"), QStringLiteral("12AB"),
                                                   QStringLiteral("100000000000002"), QStringLiteral("-5")}));
        // only the numeric IMEIs are offered
        QCOMPARE(handler->devices(),
                 (QVector<DeviceInfo>{{0, 100000000000001ULL, QStringLiteral("Грузовик 1"), {}, false},
                                      {0, 100000000000002ULL, QString(), {}, false}}));
        QCOMPARE(updated.count(), 2); // connected, then the list
        QTRY_VERIFY(sim.log().contains(QStringLiteral("handshake answer ok")));

        // another server's list is not this one's
        handler->setHostSettings(OrbHostSettings{QStringLiteral("127.0.0.1"), 1});
        QVERIFY(handler->imeiList().isEmpty() && handler->devices().isEmpty());
        QVERIFY(!handler->devicesReceived().isValid());
        handler->setHostSettings(OrbHostSettings{QStringLiteral("127.0.0.1"), sim.port()});

        // reconnecting while connected closes the old connection before opening the new one
        const int before = log.messages().size();
        handler->reconnect();
        QTRY_VERIFY_WITH_TIMEOUT(sim.log().count(QStringLiteral("device list request")) == 2, 10000);
        const QStringList lines = log.messages().mid(before);
        const int closed = lines.indexOf(QStringLiteral("disconnect from server"));
        QVERIFY(closed >= 0 && lines.indexOf(QStringLiteral("Success connection to TCP server")) > closed);
    }
    // an idle worker thread ends at once
    QVERIFY(!log.contains(QStringLiteral("WARNING: thread DEADLOCKED and TERMINATED!")));
    QTRY_VERIFY(sim.log().contains(QStringLiteral("client disconnected")));
}

void TestOrbServerHandler::completeListDespiteFaults_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("faultLine");
    QTest::newRow("connection dropped in the middle of the list")
        << QStringList{QStringLiteral("--drop-mid-list"), QStringLiteral("2")} << 2500
        << QStringLiteral("device list 2: sent 85513 bytes, closing the connection");
    QTest::newRow("last portion with a wrong CRC")
        << QStringList{QStringLiteral("--bad-crc"), QStringLiteral("1")} << 10
        << QStringLiteral("last portion with a wrong CRC");
}

void TestOrbServerHandler::completeListDespiteFaults() {
    QFETCH(QStringList, args);
    QFETCH(int, count);
    QFETCH(QString, faultLine);
    Sim sim;
    QVERIFY(sim.start(QStringList{QStringLiteral("--devices"), QString::number(count)} + args));
    const auto handler = startHandler(sim.port(), 100, 100);
    // the list arrives whole, never as the part received before a fault
    QTRY_COMPARE_WITH_TIMEOUT(handler->imeiList().size(), count, 20000);
    QVERIFY2(sim.log().contains(faultLine), qPrintable(sim.log()));
    QCOMPARE(handler->devices().size(), count);
    QCOMPARE(handler->imeiList().last(), QString::number(handler->devices().last().imei));
    QTRY_VERIFY(handler->tcpClient()->isConnected());
}

void TestOrbServerHandler::reconnectsAfterTheServerComesBack() {
    Sim sim;
    QVERIFY(sim.start({QStringLiteral("--devices"), QStringLiteral("3")}));
    const quint16 port = sim.port();
    const auto handler = startHandler(port, 100, 60000);
    QTRY_COMPARE_WITH_TIMEOUT(handler->imeiList().size(), 3, 10000);

    LogCapture log;
    sim.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!handler->tcpClient()->isConnected(), 10000);
    // attempts keep coming while the server is away
    const QString refused = QStringLiteral("Error in TCP connection: \"The connection was refused.\"");
    QTRY_VERIFY_WITH_TIMEOUT(log.count(refused) >= 3, 10000);
    QVERIFY(sim.start({}, port));
    QTRY_VERIFY_WITH_TIMEOUT(handler->tcpClient()->isConnected(), 10000);
    // the server now has no devices: the new list, asked for at once, empties both lists
    QTRY_VERIFY_WITH_TIMEOUT(handler->imeiList().isEmpty(), 10000);
    QVERIFY(handler->devices().isEmpty());
}

void TestOrbServerHandler::damagedOrEndlessList_data() {
    QTest::addColumn<QStringList>("fault");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("kept");
    QTest::newRow("a portion's count not matching its size")
        << QStringList{QStringLiteral("--bad-count"), QStringLiteral("1")}
        << int(OrbServerHandler::ListIncomplete) << 3000;
    QTest::newRow("endless") << QStringList{QStringLiteral("--endless")} << int(OrbServerHandler::ListDropped)
                             << 0;
}

// The part of a damaged list is kept and marked, an endless one is dropped at the ceiling; asking
// again starts over.
void TestOrbServerHandler::damagedOrEndlessList() {
    QFETCH(QStringList, fault);
    QFETCH(int, state);
    QFETCH(int, kept);
    Sim sim;
    QVERIFY(sim.start(QStringList{QStringLiteral("--devices"), QStringLiteral("5500")} + fault));
    const auto handler = startHandler(sim.port(), 60000, 600000);
    // set before the list is asked for, which waits for the connection
    handler->setMaxListSizeForTesting(6000);
    QTRY_COMPARE_WITH_TIMEOUT(int(handler->listState()), state, 10000);
    QCOMPARE(handler->devices().size(), kept);
    if (state == OrbServerHandler::ListIncomplete) {
        handler->reconnect();
        QTRY_COMPARE_WITH_TIMEOUT(handler->devices().size(), 5500, 10000);
        QCOMPARE(handler->listState(), OrbServerHandler::ListComplete);
    }
}

QTEST_GUILESS_MAIN(TestOrbServerHandler)
#include "tst_orbserverhandler.moc"
