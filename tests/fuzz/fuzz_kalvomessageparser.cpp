// Reads the input as a program of requests, resets, raw chunks and packets encoded here with a
// correct (optionally spoilt) CRC, so that hostile counts and texts reach the portion decoder.

#include "link/kalvomessageparser.h"

#include <QByteArray>
#include <QObject>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size)
        : m_data(data)
        , m_size(size) {}
    bool atEnd() const { return m_pos >= m_size; }
    quint8 byte() { return atEnd() ? 0 : m_data[m_pos++]; }
    quint16 word() {
        const quint8 low = byte(); // two calls in one expression would run in no fixed order
        return quint16(low | (byte() << 8));
    }
    QByteArray bytes(size_t n) {
        n = qMin(n, m_size - m_pos);
        QByteArray out(reinterpret_cast<const char*>(m_data + m_pos), int(n));
        m_pos += n;
        return out;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

void quietMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

// Sends the bytes as up to three chunks cut where the input says.
void feed(KalvoMessageParser& parser, Input& in, const QByteArray& bytes) {
    const int cuts = in.byte() % 3;
    int from = 0;
    for (int i = 0; i < cuts && from < bytes.size(); ++i) {
        const int len = in.word() % (bytes.size() - from + 1);
        parser.onDataReceived(bytes.mid(from, len));
        from += len;
    }
    parser.onDataReceived(bytes.mid(from));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    [[maybe_unused]] static const bool quiet = (qInstallMessageHandler(quietMessages), true);

    KalvoMessageParser parser;
    qint64 received = 0;
    QObject::connect(&parser, &KalvoMessageParser::devListReceived,
                     [&received](const QList<TDeviceToConfigInfo>& list) {
                         for (const TDeviceToConfigInfo& record : list)
                             received += record.imeiText().size() + record.nameText().size();
                     });
    QObject::connect(&parser, &KalvoMessageParser::sendData, [](const QByteArray& bytes) {
        KalvoPacket_t p;
        int length = 0;
        if (KalvoMessageParser::decodePacket(bytes.constData(), bytes.size(), p, &length) != PacketOk ||
            length != bytes.size())
            __builtin_trap();
    });

    Input in(data, size);
    while (!in.atEnd()) {
        const quint8 op = in.byte();
        switch (op % 8) {
        case 0:
            parser.requestDeviceList();
            break;
        case 1:
            if (op & 0x80)
                parser.reset();
            break;
        case 2:
        case 3:
            parser.onDataReceived(in.bytes(in.word() % 2048));
            break;
        default: {
            static const quint8 types[] = {10, 11, 12, 13, 13, 13, 5, 255};
            KalvoPacket_t p;
            p.type = types[(op >> 3) % 8];
            if (p.type == 13 && (op & 0x40)) {
                // A portion whose count may or may not match its records.
                const quint16 count = in.word() % 1200;
                p.data.append(char(count & 0xFF)).append(char(count >> 8));
                p.data.append(in.bytes(in.word()));
            } else {
                p.data = in.bytes(in.word() % 512);
            }
            QByteArray bytes = KalvoMessageParser::encodePacket(p);
            if (op & 0x80)
                bytes[in.byte() % bytes.size()] = char(in.byte());
            feed(parser, in, bytes);
            break;
        }
        }
    }
    return received < 0;
}
