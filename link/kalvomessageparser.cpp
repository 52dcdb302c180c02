#include "link/kalvomessageparser.h"

#include <QDebug>

#include <zlib.h>

#include <cstring>

namespace {

quint16 readU16(const char* p) {
    return quint16(quint8(p[0]) | (quint16(quint8(p[1])) << 8));
}

quint32 readU32(const char* p) {
    return quint32(quint8(p[0])) | (quint32(quint8(p[1])) << 8) | (quint32(quint8(p[2])) << 16) |
           (quint32(quint8(p[3])) << 24);
}

int fieldLength(const char* field, int size) {
    const void* zero = std::memchr(field, 0, size_t(size));
    return zero ? int(static_cast<const char*>(zero) - field) : size;
}

// Copies text into a field without cutting a UTF-8 sequence; the rest of the field stays 0x00.
void fillField(char* field, int size, const QByteArray& text) {
    int n = qMin(text.size(), size);
    if (n < text.size()) {
        while (n > 0 && (quint8(text.at(n)) & 0xC0) == 0x80)
            --n;
    }
    std::memcpy(field, text.constData(), size_t(n));
}

} // namespace

QString TDeviceToConfigInfo::imeiText() const {
    return QString::fromUtf8(imei, imeiSize());
}

QString TDeviceToConfigInfo::nameText() const {
    return QString::fromUtf8(name, fieldLength(name, int(sizeof name)));
}

int TDeviceToConfigInfo::imeiSize() const {
    return fieldLength(imei, int(sizeof imei));
}

TDeviceToConfigInfo TDeviceToConfigInfo::make(const QByteArray& imei, const QByteArray& name) {
    TDeviceToConfigInfo record;
    std::memset(&record, 0, sizeof record);
    fillField(record.imei, int(sizeof record.imei), imei);
    fillField(record.name, int(sizeof record.name), name);
    return record;
}

KalvoMessageParser::KalvoMessageParser(QObject* parent)
    : QObject(parent) {}

quint32 KalvoMessageParser::crc32(const char* data, int size) {
    return quint32(::crc32(0, reinterpret_cast<const Bytef*>(data), uInt(qMax(size, 0))));
}

QByteArray KalvoMessageParser::encodePacket(const KalvoPacket_t& packet) {
    Q_ASSERT(packet.data.size() <= MaxPayload);
    const int n = qMin(packet.data.size(), MaxPayload);
    QByteArray bytes;
    bytes.reserve(n + HeaderSize + CrcSize);
    bytes.append(char(n & 0xFF));
    bytes.append(char((n >> 8) & 0xFF));
    bytes.append(char(packet.type));
    bytes.append(packet.data.constData(), n);
    const quint32 crc = crc32(bytes.constData(), bytes.size());
    for (int shift = 0; shift < 32; shift += 8)
        bytes.append(char((crc >> shift) & 0xFF));
    return bytes;
}

PacketStatus KalvoMessageParser::decodePacket(const char* data, int size, KalvoPacket_t& packet,
                                              int* length) {
    if (size < HeaderSize + CrcSize)
        return PacketIncomplete;
    const int n = readU16(data);
    packet.type = quint8(data[2]);
    const int total = n + HeaderSize + CrcSize;
    if (size < total)
        return PacketIncomplete;
    packet.data.append(data + HeaderSize, n);
    if (readU32(data + HeaderSize + n) != crc32(data, n + HeaderSize))
        return PacketCrcError;
    if (length)
        *length = total;
    return PacketOk;
}

QByteArray KalvoMessageParser::handshakeAnswerPayload() {
    QByteArray payload(HandshakeAnswerSize, '\0');
    payload[16] = char(0xFE);
    return payload;
}

void KalvoMessageParser::onDataReceived(const QByteArray& data) {
    m_buffer.append(data);
    m_receivedBytes += quint64(data.size());
    // One chunk may complete several packets, and the server may send nothing after them.
    for (;;) {
        KalvoPacket_t packet;
        const PacketStatus status = parseBuffer(packet);
        if (status == PacketOk) {
            parseMessage(packet);
            continue;
        }
        if (status == PacketCrcError)
            qDebug() << "packet error" << int(status);
        break;
    }
    if (m_consumed > 0) {
        m_buffer.remove(0, m_consumed);
        m_consumed = 0;
    }
}

void KalvoMessageParser::requestDeviceList() {
    if (m_requestPending)
        return;
    m_requestPending = true;
    m_devices.clear();
    KalvoPacket_t packet;
    packet.type = DeviceListRequest;
    sendMessage(packet);
}

void KalvoMessageParser::poll() {
    if (!m_requestPending || m_receivedBytes != m_bytesAtLastPoll) {
        m_silentPolls = 0;
    } else if (++m_silentPolls >= SilentPollsBeforeRetry) {
        qDebug() << "device list request unanswered, asking again";
        reset();
    }
    m_bytesAtLastPoll = m_receivedBytes;
    requestDeviceList();
}

void KalvoMessageParser::reset() {
    m_silentPolls = 0;
    m_buffer.clear();
    m_consumed = 0;
    m_requestPending = false;
    m_discarding = false;
    m_devices.clear();
}

PacketStatus KalvoMessageParser::parseBuffer(KalvoPacket_t& packet) {
    int length = 0;
    const PacketStatus status =
        decodePacket(m_buffer.constData() + m_consumed, m_buffer.size() - m_consumed, packet, &length);
    if (status == PacketOk) {
        m_consumed += length;
    } else if (status == PacketCrcError) {
        m_buffer.clear();
        m_consumed = 0;
    }
    return status;
}

void KalvoMessageParser::parseMessage(KalvoPacket_t packet) {
    switch (packet.type) {
    case HandshakeRequest: {
        KalvoPacket_t answer;
        answer.type = HandshakeAnswer;
        answer.data = handshakeAnswerPayload();
        sendMessage(answer);
        break;
    }
    case HandshakeAnswer:
    case DeviceListRequest:
        break;
    case DeviceListPortion: {
        qDebug() << "receive packet with device list";
        if (!m_requestPending)
            break;
        const int count = portionCount(packet.data);
        if (m_discarding) {
            // the rest of a dropped list: the request ends with the list's last portion
            if (count < FullPortion)
                endRequest();
        } else if (count < 0) {
            qDebug() << "device list incomplete after" << m_devices.size() << "records";
            const QList<TDeviceToConfigInfo> part = m_devices;
            endRequest();
            emit devListIncomplete(part);
        } else if (m_devices.size() + count > m_maxListSize) {
            qDebug() << "device list dropped: more than" << m_maxListSize.load() << "records";
            m_devices = QList<TDeviceToConfigInfo>();
            m_discarding = true;
            emit devListDropped();
        } else {
            // Decoded straight into the accumulated list: a list of 100,000 records is copied once.
            appendPortion(packet.data, count, m_devices);
            if (count < FullPortion) {
                qDebug() << "ALL DEVICE LIST RECEIVED!";
                m_requestPending = false;
                emit devListReceived(m_devices);
            }
        }
        break;
    }
    default:
        qDebug() << "unexpected packet type" << int(packet.type);
        break;
    }
}

void KalvoMessageParser::sendMessage(KalvoPacket_t packet) {
    emit sendData(encodePacket(packet));
}

QList<TDeviceToConfigInfo> KalvoMessageParser::getServerDeviceListPortion(KalvoPacket_t packet) {
    QList<TDeviceToConfigInfo> portion;
    const int count = portionCount(packet.data);
    if (count > 0)
        appendPortion(packet.data, count, portion);
    return portion;
}

int KalvoMessageParser::portionCount(const QByteArray& payload) {
    const qint64 recordSize = qint64(sizeof(TDeviceToConfigInfo));
    if (payload.size() < 2 || 2 + recordSize * readU16(payload.constData()) != payload.size()) {
        qCritical() << "Fail size of devlist cmd answer";
        return -1;
    }
    return readU16(payload.constData());
}

void KalvoMessageParser::appendPortion(const QByteArray& payload, int count,
                                       QList<TDeviceToConfigInfo>& list) {
    const char* data = payload.constData();
    const int recordSize = int(sizeof(TDeviceToConfigInfo));
    list.reserve(list.size() + count);
    for (int i = 0; i < count; ++i) {
        TDeviceToConfigInfo record;
        std::memcpy(&record, data + 2 + i * recordSize, sizeof record);
        list.append(record);
    }
}

void KalvoMessageParser::endRequest() {
    m_requestPending = false;
    m_discarding = false;
    m_devices = QList<TDeviceToConfigInfo>();
}
