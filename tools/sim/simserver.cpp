#include "simserver.h"

#include <QTcpSocket>
#include <QTextStream>

void simLog(const QString& line) {
    static QTextStream err(stderr);
    err << "sim: " << line << '\n';
    err.flush();
}

namespace {
QString peer(const QTcpSocket* socket) {
    return QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
}

QByteArray packet(quint8 type, const QByteArray& payload) {
    KalvoPacket_t p;
    p.type = type;
    p.data = payload;
    return KalvoMessageParser::encodePacket(p);
}
} // namespace

SimServer::SimServer(const QList<TDeviceToConfigInfo>& devices, const SimFaults& faults, QObject* parent)
    : QObject(parent)
    , m_portions(encodeDeviceList(devices))
    , m_deviceCount(devices.size())
    , m_faults(faults) {
    connect(&m_server, &QTcpServer::newConnection, this, &SimServer::onNewConnection);
}

bool SimServer::listen(quint16 port) {
    return m_server.listen(QHostAddress::LocalHost, port);
}

QVector<QByteArray> SimServer::encodeDeviceList(const QList<TDeviceToConfigInfo>& devices) {
    QVector<QByteArray> portions;
    const int full = KalvoMessageParser::FullPortion;
    for (int first = 0;; first += full) {
        const int count = qMin(full, devices.size() - first);
        QByteArray payload;
        payload.reserve(2 + count * int(sizeof(TDeviceToConfigInfo)));
        payload.append(char(count & 0xFF));
        payload.append(char((count >> 8) & 0xFF));
        for (int i = first; i < first + count; ++i)
            payload.append(reinterpret_cast<const char*>(&devices.at(i)), int(sizeof(TDeviceToConfigInfo)));
        portions.append(packet(KalvoMessageParser::DeviceListPortion, payload));
        if (count < full)
            break;
    }
    return portions;
}

void SimServer::onNewConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        simLog(QStringLiteral("client connected from %1").arg(peer(socket)));
        m_buffers.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            simLog(QStringLiteral("client disconnected"));
            m_buffers.remove(socket);
            socket->deleteLater();
        });
        socket->write(packet(KalvoMessageParser::HandshakeRequest, QByteArrayLiteral("KALVO-ORB-SIM")));
        simLog(QStringLiteral("sent handshake request"));
    }
}

void SimServer::onReadyRead(QTcpSocket* socket) {
    QByteArray& buffer = m_buffers[socket];
    const QByteArray data = socket->readAll();
    simLog(
        QStringLiteral("received %1 bytes: %2").arg(data.size()).arg(QString::fromLatin1(data.toHex(' '))));
    buffer.append(data);
    int used = 0;
    for (;;) {
        KalvoPacket_t p;
        int length = 0;
        const PacketStatus status =
            KalvoMessageParser::decodePacket(buffer.constData() + used, buffer.size() - used, p, &length);
        if (status == PacketIncomplete)
            break;
        if (status == PacketCrcError) {
            simLog(QStringLiteral("bad CRC in a packet of type %1, dropping %2 buffered bytes")
                       .arg(p.type)
                       .arg(buffer.size() - used));
            used = buffer.size();
            break;
        }
        used += length;
        handlePacket(socket, p);
        if (!m_buffers.contains(socket))
            return;
    }
    m_buffers[socket].remove(0, used);
}

void SimServer::handlePacket(QTcpSocket* socket, const KalvoPacket_t& p) {
    switch (p.type) {
    case KalvoMessageParser::HandshakeAnswer: {
        const QByteArray& d = p.data;
        bool ok = d.size() == KalvoMessageParser::HandshakeAnswerSize && quint8(d.at(16)) == 0xFE;
        for (int i = 0; ok && i < 15; ++i)
            ok = d.at(i) == '\0';
        simLog(ok ? QStringLiteral("handshake answer ok")
                  : QStringLiteral("handshake answer malformed: %1").arg(QString::fromLatin1(d.toHex(' '))));
        break;
    }
    case KalvoMessageParser::DeviceListRequest:
        simLog(QStringLiteral("device list request"));
        sendDeviceList(socket);
        break;
    default:
        simLog(
            QStringLiteral("unexpected packet type %1 with %2 payload bytes").arg(p.type).arg(p.data.size()));
        break;
    }
}

void SimServer::sendDeviceList(QTcpSocket* socket) {
    const int list = ++m_listsSent;
    if (m_faults.unknownType) {
        socket->write(packet(99, QByteArrayLiteral("unknown")));
        simLog(QStringLiteral("sent a packet of unknown type 99"));
    }
    if (list <= m_faults.dropMidList) {
        // The first portion whole (when there are several), then half of the next packet.
        QByteArray bytes;
        if (m_portions.size() > 1)
            bytes = m_portions.first() + m_portions.at(1).left(m_portions.at(1).size() / 2);
        else
            bytes = m_portions.first().left(m_portions.first().size() / 2);
        socket->write(bytes);
        simLog(
            QStringLiteral("device list %1: sent %2 bytes, closing the connection in the middle of the list")
                .arg(list)
                .arg(bytes.size()));
        socket->disconnectFromHost();
        return;
    }
    if (m_faults.endless) {
        sendEndlessList(socket);
        return;
    }
    qint64 total = 0;
    const int badCountAt = list <= m_faults.badCount ? m_portions.size() / 2 : -1;
    for (int i = 0; i < m_portions.size(); ++i) {
        QByteArray bytes = m_portions.at(i);
        if (list <= m_faults.badCrc && i == m_portions.size() - 1)
            bytes[bytes.size() - 1] = char(bytes.at(bytes.size() - 1) ^ 0x5A);
        if (i == badCountAt) {
            // one record more than the payload holds, with a valid CRC
            KalvoPacket_t p;
            int length = 0;
            KalvoMessageParser::decodePacket(bytes.constData(), bytes.size(), p, &length);
            const int count = (quint8(p.data.at(0)) | (quint8(p.data.at(1)) << 8)) + 1;
            p.data[0] = char(count & 0xFF);
            p.data[1] = char(count >> 8);
            bytes = packet(p.type, p.data);
            simLog(QStringLiteral("device list %1: portion %2 claims %3 records")
                       .arg(list)
                       .arg(i + 1)
                       .arg(count));
        }
        socket->write(bytes);
        total += bytes.size();
    }
    simLog(QStringLiteral("device list %1: sent %2 devices in %3 portions, %4 bytes%5")
               .arg(list)
               .arg(m_deviceCount)
               .arg(m_portions.size())
               .arg(total)
               .arg(list <= m_faults.badCrc ? QStringLiteral(", last portion with a wrong CRC") : QString()));
}

// Full portions as long as the client reads them, each the first 1000 devices again.
void SimServer::sendEndlessList(QTcpSocket* socket) {
    QList<TDeviceToConfigInfo> devices;
    for (int i = 0; i < KalvoMessageParser::FullPortion; ++i)
        devices.append(TDeviceToConfigInfo::make(QByteArray::number(100000000000000LL + i), "endless"));
    const QByteArray portion = encodeDeviceList(devices).first();
    simLog(QStringLiteral("sending full portions without end"));
    const auto more = [socket, portion] {
        while (socket->state() == QAbstractSocket::ConnectedState &&
               socket->bytesToWrite() < 4 * portion.size())
            socket->write(portion);
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, more);
    more();
}
