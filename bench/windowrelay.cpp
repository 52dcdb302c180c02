#include "windowrelay.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <deque>
#include <utility>

namespace windowbench {

namespace {

// Holds back what it is given by a fixed delay, then writes it to `to` in arrival order.
class DelayLane : public QObject {
public:
    DelayLane(QTcpSocket* to, int delayMs, QObject* parent)
        : QObject(parent)
        , to(to)
        , delayMs(delayMs) {
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, &DelayLane::flush);
        clock.start();
    }

    void push(QByteArray bytes) {
        pending.emplace_back(clock.elapsed() + delayMs, std::move(bytes));
        if (!timer.isActive())
            timer.start(delayMs);
    }

private:
    void flush() {
        const qint64 now = clock.elapsed();
        while (!pending.empty() && pending.front().first <= now) {
            to->write(pending.front().second);
            pending.pop_front();
        }
        if (!pending.empty())
            timer.start(int(pending.front().first - now));
    }

    QTcpSocket* const to;
    const int delayMs;
    QTimer timer;
    QElapsedTimer clock;
    std::deque<std::pair<qint64, QByteArray>> pending;
};

// One client connection forwarded to the server. A client chunk that follows a server chunk is
// one round trip: the client had to wait for the answer before it could go on.
class RelayLink : public QObject {
public:
    RelayLink(QTcpSocket* client, quint16 serverPort, int delayMs, std::atomic<qint64>& turns,
              QObject* parent)
        : QObject(parent)
        , client(client)
        , upstream(new QTcpSocket(this))
        , toServer(new DelayLane(upstream, delayMs, this))
        , toClient(new DelayLane(client, delayMs, this))
        , turns(turns) {
        client->setParent(this);
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(client, &QTcpSocket::readyRead, this, [this] {
            if (serverSpokeLast)
                ++this->turns;
            serverSpokeLast = false;
            toServer->push(this->client->readAll());
        });
        connect(upstream, &QTcpSocket::readyRead, this, [this] {
            serverSpokeLast = true;
            toClient->push(upstream->readAll());
        });
        connect(upstream, &QTcpSocket::connected, this,
                [this] { upstream->setSocketOption(QAbstractSocket::LowDelayOption, 1); });
        connect(client, &QTcpSocket::disconnected, this, &RelayLink::close);
        connect(upstream, &QTcpSocket::disconnected, this, &RelayLink::close);
        upstream->connectToHost(QHostAddress::LocalHost, serverPort);
    }

private:
    void close() {
        client->disconnectFromHost();
        upstream->disconnectFromHost();
        deleteLater();
    }

    QTcpSocket* const client;
    QTcpSocket* const upstream;
    DelayLane* const toServer;
    DelayLane* const toClient;
    std::atomic<qint64>& turns;
    bool serverSpokeLast = false;
};

} // namespace

DelayRelay::DelayRelay(quint16 serverPort, int delayMs) {
    home->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, home, &QObject::deleteLater);
    thread.start();
    QMetaObject::invokeMethod(
        home,
        [this, serverPort, delayMs] {
            auto* server = new QTcpServer(home);
            QObject::connect(server, &QTcpServer::newConnection, server, [this, server, serverPort, delayMs] {
                while (QTcpSocket* s = server->nextPendingConnection())
                    new RelayLink(s, serverPort, delayMs, turnCount, home);
            });
            if (server->listen(QHostAddress::LocalHost, 0))
                listenPort = server->serverPort();
        },
        Qt::BlockingQueuedConnection);
}

DelayRelay::~DelayRelay() {
    thread.quit();
    thread.wait();
}

} // namespace windowbench
