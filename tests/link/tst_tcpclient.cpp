#include "link/tcpclient.h"
#include "logcapture.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

// The client runs in the test's thread unless a case says otherwise; the server side is a
// QTcpServer on loopback in the same thread.
class TestTcpClient : public QObject {
    Q_OBJECT

private slots:
    void init();
    void failedConnection_data();
    void failedConnection();
    void connection();

private:
    // Connects `client` to the test's server; the server's side of the connection, or null.
    QTcpSocket* connectClient(TcpClient& client) {
        if (!client.connectToServer(QStringLiteral("127.0.0.1"), server->serverPort()) ||
            !(server->hasPendingConnections() || server->waitForNewConnection(5000)))
            return nullptr;
        return server->nextPendingConnection();
    }

    std::unique_ptr<QTcpServer> server;
};

void TestTcpClient::init() {
    server = std::make_unique<QTcpServer>();
    QVERIFY(server->listen(QHostAddress::LocalHost));
}

void TestTcpClient::failedConnection_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("text");
    QTest::newRow("refused") << QStringLiteral("127.0.0.1") << QStringLiteral("The connection was refused.");
    QTest::newRow("host not found") << QStringLiteral("no-such-host.invalid")
                                    << QStringLiteral("The host was not found.");
}

void TestTcpClient::failedConnection() {
    QFETCH(QString, host);
    QFETCH(QString, text);
    const quint16 port = server->serverPort();
    server->close();
    TcpClient client;
    QSignalSpy errors(&client, &TcpClient::connectionError);
    QSignalSpy connected(&client, &TcpClient::serverConnected);
    LogCapture log;
    QVERIFY(!client.connectToServer(host, port));
    QCoreApplication::processEvents();
    // reported once, although both the socket and the failed wait notice it
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toString(), text);
    QCOMPARE(log.count(QStringLiteral("Error in TCP connection: \"%1\"").arg(text)), 1);
    QCOMPARE(connected.count(), 0);
    // the socket is unconnected again, so a new attempt is made
    QVERIFY(!client.connectToServer(host, port));
    QCOMPARE(errors.count(), 2);
}

// Every byte goes out and comes in, in order; a second attempt while connected leaves the
// connection alone; the server closing it is noticed once.
void TestTcpClient::connection() {
    TcpClient client;
    QSignalSpy errors(&client, &TcpClient::connectionError);
    QSignalSpy connected(&client, &TcpClient::serverConnected);
    QSignalSpy disconnected(&client, &TcpClient::serverDisconnected);
    QByteArray received;
    connect(&client, &TcpClient::fullDataReceived, this, [&received](const QByteArray& d) { received += d; });
    QTcpSocket* peer = connectClient(client);
    QVERIFY(peer);
    QTest::ignoreMessage(QtDebugMsg, "хост уже подключен!");
    QVERIFY(!client.connectToServer(QStringLiteral("127.0.0.1"), server->serverPort()));
    QVERIFY(client.isConnected());
    QCOMPARE(connected.count() + errors.count(), 1);

    const QByteArray request = QByteArray::fromHex("00000c3995f7f6");
    QVERIFY(client.sendData(request));
    QTRY_COMPARE(peer->bytesAvailable(), qint64(request.size()));
    QCOMPARE(peer->readAll(), request);
    QByteArray sent;
    for (int i = 0; i < 300000; ++i)
        sent.append(char(i * 7));
    peer->write(sent);
    QTRY_COMPARE(received, sent);

    peer->close();
    QVERIFY(disconnected.wait(5000));
    QCOMPARE(errors.count(), 1);
    QVERIFY(!client.isConnected());
}

QTEST_GUILESS_MAIN(TestTcpClient)
#include "tst_tcpclient.moc"
