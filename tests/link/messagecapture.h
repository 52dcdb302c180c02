#pragma once

#include <QStringList>
#include <QtGlobal>

#include <mutex>

// Collects the debug output while it lives, from any thread, so tests can check exact log lines
// and the absence of others. A standard mutex, so that ThreadSanitizer sees the locking.
class MessageCapture {
public:
    MessageCapture() {
        {
            std::lock_guard<std::mutex> lock(mutex());
            lines().clear();
        }
        m_previous = qInstallMessageHandler(&MessageCapture::handler);
    }
    ~MessageCapture() { qInstallMessageHandler(m_previous); }

    QStringList messages() const {
        std::lock_guard<std::mutex> lock(mutex());
        return lines();
    }
    bool contains(const QString& line) const { return messages().contains(line); }
    int count(const QString& line) const { return messages().count(line); }

private:
    static void handler(QtMsgType, const QMessageLogContext&, const QString& message) {
        std::lock_guard<std::mutex> lock(mutex());
        lines().append(message);
    }
    static QStringList& lines() {
        static QStringList list;
        return list;
    }
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }

    QtMessageHandler m_previous = nullptr;
};
