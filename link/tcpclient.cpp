#include "link/tcpclient.h"

#include <QDebug>
#include <QTcpSocket>

namespace {
constexpr int ConnectTimeoutMs = 1000;
}

TcpClient::TcpClient(QObject* parent)
    : QObject(parent)
    , m_socket(new QTcpSocket(this)) {
    connect(m_socket, &QTcpSocket::connected, this, &TcpClient::onConnected);
    connect(m_socket, &QTcpSocket::disconnected, this, &TcpClient::onDisconnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &TcpClient::onReadyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &TcpClient::onError);
    connect(m_socket, &QTcpSocket::stateChanged, this, [this](QAbstractSocket::SocketState state) {
        m_connected.store(state == QAbstractSocket::ConnectedState);
    });
}

TcpClient::~TcpClient() {
    // The socket goes with the client; it must not call back into a client being destroyed.
    m_socket->disconnect(this);
    m_connected.store(false);
}

bool TcpClient::connectToServer(const QString& host, quint16 port) {
    if (m_socket->state() != QAbstractSocket::UnconnectedState) {
        qDebug() << "хост уже подключен!";
        return false;
    }
    m_errorReported = false;
    m_socket->connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    if (!m_socket->waitForConnected(ConnectTimeoutMs)) {
        // A time-out is not reported by the socket itself; other failures already were.
        if (!m_errorReported)
            onError(m_socket->error());
        if (m_socket->state() != QAbstractSocket::UnconnectedState)
            m_socket->abort();
        return false;
    }
    return true;
}

void TcpClient::disconnectFromServer() {
    m_socket->disconnectFromHost();
    m_socket->close();
    qDebug() << "disconnect from server";
}

bool TcpClient::sendData(const QByteArray& data) {
    const qint64 written = m_socket->write(data);
    qDebug() << "send data to server:" << data.toHex();
    return written == data.size();
}

bool TcpClient::isConnected() const {
    return m_connected.load();
}

void TcpClient::onReadyRead() {
    const QByteArray data = m_socket->readAll();
    if (!data.isEmpty())
        emit fullDataReceived(data);
}

void TcpClient::onError(QAbstractSocket::SocketError err) {
    m_errorReported = true;
    QString text;
    switch (err) {
    case QAbstractSocket::ConnectionRefusedError:
        text = QStringLiteral("The connection was refused.");
        break;
    case QAbstractSocket::RemoteHostClosedError:
        text = QStringLiteral("The remote host is closed.");
        break;
    case QAbstractSocket::HostNotFoundError:
        text = QStringLiteral("The host was not found.");
        break;
    default:
        text = m_socket->errorString();
        break;
    }
    qDebug() << "Error in TCP connection:" << text;
    emit connectionError(text);
}

void TcpClient::onConnected() {
    qDebug() << "Success connection to TCP server";
    emit serverConnected();
}

void TcpClient::onDisconnected() {
    qDebug() << "tcp server disconnect";
    emit serverDisconnected();
}
