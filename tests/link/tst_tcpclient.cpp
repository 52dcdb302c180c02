#include "link/tcpclient.h"
#include "logcapture.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

// The client runs in the test's thread unless a case says otherwise; the server side is a
// QTcpServer on loopback in the same thread.
class TestTcpClient : public QObject {
    Q_OBJECT

private slots:
    void failedConnection_data();
    void failedConnection();
    void closedByServer();
    void secondConnectWhileConnected();
    void sending();
    void receivingHandsOnEveryByte();
    void disconnectWhenNotConnected();
    void stateFromAnotherThread();

private:
    static quint16 closedPort();
};

quint16 TestTcpClient::closedPort() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost))
        return 0;
    return server.serverPort();
}

void TestTcpClient::failedConnection_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("useClosedPort");
    QTest::addColumn<QString>("text");
    QTest::newRow("refused") << QStringLiteral("127.0.0.1") << true
                             << QStringLiteral("The connection was refused.");
    QTest::newRow("host not found") << QStringLiteral("no-such-host.invalid") << false
                                    << QStringLiteral("The host was not found.");
}

void TestTcpClient::failedConnection() {
    QFETCH(QString, host);
    QFETCH(bool, useClosedPort);
    QFETCH(QString, text);
    const quint16 port = useClosedPort ? closedPort() : 12345;
    QVERIFY(port != 0);
    TcpClient client;
    QSignalSpy errors(&client, &TcpClient::connectionError);
    QSignalSpy connected(&client, &TcpClient::serverConnected);
    QSignalSpy disconnected(&client, &TcpClient::serverDisconnected);
    LogCapture log;
    QVERIFY(!client.connectToServer(host, port));
    QCoreApplication::processEvents();
    // Reported once, even though both the socket and the failed wait notice it.
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toString(), text);
    QCOMPARE(log.count(QStringLiteral("Error in TCP connection: \"%1\"").arg(text)), 1);
    QCOMPARE(connected.count(), 0);
    QCOMPARE(disconnected.count(), 0);
    QVERIFY(!client.isConnected());
    // The socket is back to unconnected, so a new attempt is possible.
    QVERIFY(!client.connectToServer(host, port));
    QCOMPARE(errors.count(), 2);
}

void TestTcpClient::closedByServer() {
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    TcpClient client;
    QSignalSpy errors(&client, &TcpClient::connectionError);
    QSignalSpy connected(&client, &TcpClient::serverConnected);
    QSignalSpy disconnected(&client, &TcpClient::serverDisconnected);
    QVERIFY(client.connectToServer(QStringLiteral("127.0.0.1"), server.serverPort()));
    QCOMPARE(connected.count(), 1);
    QVERIFY(client.isConnected());
    QTRY_VERIFY(server.hasPendingConnections());
    QTcpSocket* peer = server.nextPendingConnection();
    peer->close();
    QVERIFY(disconnected.wait(5000));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("The remote host is closed."));
    QVERIFY(!client.isConnected());
}

void TestTcpClient::secondConnectWhileConnected() {
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    TcpClient client;
    QSignalSpy connected(&client, &TcpClient::serverConnected);
    QSignalSpy errors(&client, &TcpClient::connectionError);
    QVERIFY(client.connectToServer(QStringLiteral("127.0.0.1"), server.serverPort()));
    LogCapture log;
    QVERIFY(!client.connectToServer(QStringLiteral("127.0.0.1"), server.serverPort()));
    QCOMPARE(log.messages(), QStringList{QStringLiteral("хост уже подключен!")});
    QVERIFY(client.isConnected());
    QCOMPARE(connected.count(), 1);
    QCOMPARE(errors.count(), 0);
}

void TestTcpClient::sending() {
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    TcpClient client;
    const QByteArray request = QByteArray::fromHex("00000c3995f7f6");
    {
        LogCapture log;
        QVERIFY(!client.sendData(request));
    }
    QVERIFY(client.connectToServer(QStringLiteral("127.0.0.1"), server.serverPort()));
    QTRY_VERIFY(server.hasPendingConnections());
    QTcpSocket* peer = server.nextPendingConnection();
    LogCapture log;
    QVERIFY(client.sendData(request));
    QCOMPARE(log.messages(), QStringList{QStringLiteral("send data to server: \"00000c3995f7f6\"")});
    QTRY_COMPARE(peer->bytesAvailable(), qint64(request.size()));
    QCOMPARE(peer->readAll(), request);
}

void TestTcpClient::receivingHandsOnEveryByte() {
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    TcpClient client;
    QByteArray received;
    connect(&client, &TcpClient::fullDataReceived, this, [&received](const QByteArray& d) { received += d; });
    QVERIFY(client.connectToServer(QStringLiteral("127.0.0.1"), server.serverPort()));
    QTRY_VERIFY(server.hasPendingConnections());
    QTcpSocket* peer = server.nextPendingConnection();
    QByteArray sent;
    for (int i = 0; i < 300000; ++i)
        sent.append(char(i * 7));
    peer->write(sent);
    QTRY_COMPARE(received.size(), sent.size());
    QCOMPARE(received, sent);
}

void TestTcpClient::disconnectWhenNotConnected() {
    TcpClient client;
    QSignalSpy disconnected(&client, &TcpClient::serverDisconnected);
    QSignalSpy errors(&client, &TcpClient::connectionError);
    LogCapture log;
    client.disconnectFromServer();
    QCoreApplication::processEvents();
    QCOMPARE(log.messages(), QStringList{QStringLiteral("disconnect from server")});
    QCOMPARE(disconnected.count(), 0);
    QCOMPARE(errors.count(), 0);
}

void TestTcpClient::stateFromAnotherThread() {
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QThread worker;
    auto* client = new TcpClient;
    client->moveToThread(&worker);
    connect(&worker, &QThread::finished, client, &QObject::deleteLater);
    const quint16 port = server.serverPort();
    connect(&worker, &QThread::started, client,
            [client, port] { client->connectToServer(QStringLiteral("127.0.0.1"), port); });
    worker.start();
    QTRY_VERIFY(client->isConnected());
    QTRY_VERIFY(server.hasPendingConnections());
    server.nextPendingConnection()->close();
    QTRY_VERIFY(!client->isConnected());
    worker.quit();
    QVERIFY(worker.wait(5000));
}

QTEST_GUILESS_MAIN(TestTcpClient)
#include "tst_tcpclient.moc"
