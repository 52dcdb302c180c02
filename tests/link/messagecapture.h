#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

// Collects the debug output while it lives, from any thread, so tests can check exact log lines
// and the absence of others.
class MessageCapture {
public:
    MessageCapture() {
        lines().clear();
        m_previous = qInstallMessageHandler(&MessageCapture::handler);
    }
    ~MessageCapture() { qInstallMessageHandler(m_previous); }

    QStringList messages() const {
        QMutexLocker lock(&mutex());
        return lines();
    }
    bool contains(const QString& line) const { return messages().contains(line); }
    int count(const QString& line) const { return messages().count(line); }

private:
    static void handler(QtMsgType, const QMessageLogContext&, const QString& message) {
        QMutexLocker lock(&mutex());
        lines().append(message);
    }
    static QStringList& lines() {
        static QStringList list;
        return list;
    }
    static QMutex& mutex() {
        static QMutex m;
        return m;
    }

    QtMessageHandler m_previous = nullptr;
};
