#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>

class QTcpSocket;

// The one TCP connection to the Orb server. Lives in the server handler's worker thread;
// only isConnected() may be called from another thread.
class TcpClient : public QObject {
    Q_OBJECT

public:
    explicit TcpClient(QObject* parent = nullptr);
    ~TcpClient() override;

    bool connectToServer(const QString& host, quint16 port);
    void disconnectFromServer();
    bool sendData(const QByteArray& data);
    bool isConnected() const;

signals:
    void fullDataReceived(QByteArray data);
    void serverConnected();
    void serverDisconnected();
    void connectionError(QString text);

private slots:
    void onReadyRead();
    void onError(QAbstractSocket::SocketError err);
    void onConnected();
    void onDisconnected();

private:
    QTcpSocket* m_socket;
    // Copy of "socket is connected", written in the client's thread, read from any thread.
    std::atomic<bool> m_connected{false};
    // Set when the socket reported an error during the current connection attempt, so that a
    // failed attempt is reported once.
    bool m_errorReported = false;
};
