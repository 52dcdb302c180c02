#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <memory>

// The server simulator (tools/sim) as a child process; its first line on stdout names its port.
class SimProcess {
public:
    explicit SimProcess(const QString& program)
        : m_program(program) {}
    ~SimProcess() { stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts it on `port` (0: a free one) and waits until it listens.
    bool start(const QStringList& args, quint16 port = 0) {
        m_process = std::make_unique<QProcess>();
        m_process->start(m_program, QStringList{QStringLiteral("--port"), QString::number(port)} + args);
        QElapsedTimer timer;
        timer.start();
        while (!m_process->canReadLine() && m_process->state() != QProcess::NotRunning &&
               timer.elapsed() < 20000)
            m_process->waitForReadyRead(1000);
        const QString line = QString::fromUtf8(m_process->readLine()).trimmed();
        m_port = quint16(line.section(QLatin1Char(':'), -1).toUInt());
        return line.startsWith(QLatin1String("listening on 127.0.0.1:")) && m_port != 0;
    }

    void stop() {
        if (m_process && m_process->state() != QProcess::NotRunning) {
            m_process->kill();
            m_process->waitForFinished(10000);
        }
    }

    // Everything it has logged on stderr so far.
    QString log() {
        if (m_process)
            m_log += QString::fromUtf8(m_process->readAllStandardError());
        return m_log;
    }

    quint16 port() const { return m_port; }

private:
    const QString m_program;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_log;
};
