#pragma once

#include <QThread>

#include <atomic>

class QObject;

namespace windowbench {

// A QTcpServer on 127.0.0.1 in a thread of its own that forwards every connection to the
// database server, each chunk delayed in either direction, like a distant server would.
class DelayRelay {
public:
    DelayRelay(quint16 serverPort, int delayMs);
    ~DelayRelay();
    DelayRelay(const DelayRelay&) = delete;
    DelayRelay& operator=(const DelayRelay&) = delete;

    quint16 port() const { return listenPort; }
    qint64 turns() const { return turnCount.load(); }

private:
    QThread thread;
    QObject* const home = new QObject;
    quint16 listenPort = 0;
    std::atomic<qint64> turnCount{0};
};

} // namespace windowbench
