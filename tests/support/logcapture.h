#pragma once

#include <QStringList>
#include <QtGlobal>

#include <mutex>

// Every message written while it lives, from any thread (a std::mutex, for ThreadSanitizer).
class LogCapture {
public:
    LogCapture() {
        {
            std::lock_guard<std::mutex> lock(mutex());
            lines().clear();
        }
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

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
