#include "link/kalvomessageparser.h"
#include "logcapture.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

// Bitwise CRC-32 and packet framing, independent of the codec's own.
QByteArray packet(quint8 type, const QByteArray& payload) {
    QByteArray bytes;
    bytes.append(char(payload.size() & 0xFF))
        .append(char(payload.size() >> 8))
        .append(char(type))
        .append(payload);
    quint32 crc = 0xFFFFFFFFu;
    for (const char ch : qAsConst(bytes)) {
        crc ^= quint8(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    for (int shift = 0; shift < 32; shift += 8)
        bytes.append(char((~crc >> shift) & 0xFF));
    return bytes;
}

// A device list portion of `count` records whose IMEIs count up from 100000000000000 + first.
QByteArray portion(int first, int count) {
    QByteArray payload;
    payload.append(char(count & 0xFF)).append(char(count >> 8));
    for (int i = 0; i < count; ++i) {
        const TDeviceToConfigInfo r = TDeviceToConfigInfo::make(
            QByteArray::number(100000000000000LL + first + i), "Dev " + QByteArray::number(first + i));
        payload.append(reinterpret_cast<const char*>(&r), int(sizeof r));
    }
    return packet(13, payload);
}

QStringList imeis(int count) {
    QStringList out;
    for (int i = 0; i < count; ++i)
        out << QString::number(100000000000000LL + i);
    return out;
}

} // namespace

class TestKalvoMessageParser : public QObject {
    Q_OBJECT

private slots:
    void init();
    void wireVectors();
    void byteByByte();
    void crcErrorLosesTheBuffer();
    void damagedOrEndlessList_data();
    void damagedOrEndlessList();
    void portionsAndRequests();
    void otherPacketTypes();
    void recordTexts();

private:
    // IMEI texts of the last list received
    QStringList received() const {
        QStringList out;
        const auto list = lists->last().at(0).value<QList<TDeviceToConfigInfo>>();
        for (const TDeviceToConfigInfo& r : list)
            out << r.imeiText();
        return out;
    }

    std::unique_ptr<KalvoMessageParser> parser;
    std::unique_ptr<QSignalSpy> sent;
    std::unique_ptr<QSignalSpy> lists;
};

void TestKalvoMessageParser::init() {
    qRegisterMetaType<QList<TDeviceToConfigInfo>>();
    sent.reset();
    lists.reset();
    parser = std::make_unique<KalvoMessageParser>();
    sent = std::make_unique<QSignalSpy>(parser.get(), &KalvoMessageParser::sendData);
    lists = std::make_unique<QSignalSpy>(parser.get(), &KalvoMessageParser::devListReceived);
}

void TestKalvoMessageParser::wireVectors() {
    // the device list request
    parser->requestDeviceList();
    QCOMPARE(sent->takeFirst().at(0).toByteArray(), QByteArray::fromHex("00000c3995f7f6"));

    // the handshake answer, to a request with and without payload
    QByteArray answer(21, '\0');
    answer[16] = char(0xFE);
    parser->onDataReceived(packet(10, QByteArray()));
    QCOMPARE(sent->takeFirst().at(0).toByteArray(), packet(11, answer));

    // one portion of one record: IMEI 100000000000001, name A
    QByteArray record(57, '\0');
    record.replace(0, 15, "100000000000001");
    record[16] = 'A';
    const QByteArray bytes = QByteArray::fromHex("3b000d0100") + record + QByteArray::fromHex("17e3352f");
    QCOMPARE(KalvoMessageParser::encodePacket(KalvoPacket_t{13, bytes.mid(3, 59)}), bytes);
    parser->onDataReceived(bytes);
    QCOMPARE(received(), QStringList{QStringLiteral("100000000000001")});
}

// A handshake request of 12 bytes and a one-record portion of 66, cut everywhere, inside the
// length fields too: each packet is handled exactly when its last byte has arrived.
void TestKalvoMessageParser::byteByByte() {
    const QByteArray stream = packet(10, "hello") + portion(0, 1);
    parser->requestDeviceList();
    for (int at = 1; at <= stream.size(); ++at) {
        parser->onDataReceived(stream.mid(at - 1, 1));
        QCOMPARE(sent->count(), at >= 12 ? 2 : 1);
        QCOMPARE(lists->count(), at >= 78 ? 1 : 0);
    }
    QCOMPARE(received(), imeis(1));
}

void TestKalvoMessageParser::crcErrorLosesTheBuffer() {
    LogCapture log;
    parser->requestDeviceList();
    QByteArray bad = portion(0, 1);
    bad[bad.size() - 1] = char(bad.at(bad.size() - 1) ^ 1);
    const QByteArray good = portion(0, 1);
    // a good packet behind a bad one in the same chunk is lost with it, and so is the beginning
    // of the next one
    parser->onDataReceived(bad + good + good.left(10));
    QCOMPARE(lists->count(), 0);
    QCOMPARE(log.count(QStringLiteral("packet error 2")), 1);
    QVERIFY(parser->isRequestPending());
    // the next chunk is taken as the start of a packet
    parser->onDataReceived(good);
    QCOMPARE(received(), imeis(1));
}

void TestKalvoMessageParser::damagedOrEndlessList_data() {
    QByteArray threeIn100(100, '\0');
    threeIn100[0] = 3;
    QTest::addColumn<QByteArray>("last");
    QTest::addColumn<int>("incomplete"); // records handed on as an incomplete list, -1: dropped
    QTest::newRow("count needs more bytes than the portion holds") << packet(13, threeIn100) << 2000;
    QTest::newRow("bytes beyond the count") << packet(13, QByteArray::fromHex("0000ff")) << 2000;
    QTest::newRow("beyond the ceiling") << portion(2000, 1000) << -1;
}

// A damaged portion ends the list as incomplete, one beyond the ceiling drops it; either way the
// next request starts over.
void TestKalvoMessageParser::damagedOrEndlessList() {
    QFETCH(QByteArray, last);
    QFETCH(int, incomplete);
    QSignalSpy cut(parser.get(), &KalvoMessageParser::devListIncomplete);
    QSignalSpy dropped(parser.get(), &KalvoMessageParser::devListDropped);
    parser->setMaxListSizeForTesting(2500);
    parser->requestDeviceList();
    parser->onDataReceived(portion(0, 1000) + portion(1000, 1000) + last);
    if (incomplete < 0) {
        // no new request while the rest of a dropped list still arrives
        parser->requestDeviceList();
        QCOMPARE(sent->count(), 1);
    }
    parser->onDataReceived(portion(3000, 5));
    QCOMPARE(lists->count(), 0);
    QCOMPARE(dropped.count(), incomplete < 0 ? 1 : 0);
    QCOMPARE(cut.count(), incomplete < 0 ? 0 : 1);
    if (incomplete >= 0)
        QCOMPARE(cut.first().first().value<QList<TDeviceToConfigInfo>>().size(), incomplete);
    QVERIFY(!parser->isRequestPending());
    parser->requestDeviceList();
    parser->onDataReceived(portion(0, 7));
    QCOMPARE(received(), imeis(7));
}

void TestKalvoMessageParser::portionsAndRequests() {
    // a portion outside a request is dropped
    parser->onDataReceived(portion(0, 3));
    QCOMPARE(lists->count() + sent->count(), 0);
    // a second request before the list is complete sends nothing
    parser->requestDeviceList();
    parser->requestDeviceList();
    QCOMPARE(sent->count(), 1);
    // 1000 records and then none make one list; the next request starts from an empty one
    parser->onDataReceived(portion(0, 1000));
    QCOMPARE(lists->count(), 0);
    parser->onDataReceived(portion(1000, 0));
    QCOMPARE(received(), imeis(1000));
    // a reset abandons an interrupted transfer: the next request is sent and starts afresh
    parser->requestDeviceList();
    parser->onDataReceived((portion(0, 1000) + portion(1000, 5)).left(57100));
    parser->reset();
    QVERIFY(!parser->isRequestPending());
    parser->requestDeviceList();
    QCOMPARE(sent->count(), 3);
    parser->onDataReceived(portion(0, 7));
    QCOMPARE(received(), imeis(7));
}

// Packets the server should not send, and unknown types, are dropped without an answer; a list
// behind one still arrives.
void TestKalvoMessageParser::otherPacketTypes() {
    LogCapture log;
    for (const quint8 type : {11, 12, 5})
        parser->onDataReceived(packet(type, "abc"));
    QCOMPARE(log.messages(), QStringList{QStringLiteral("unexpected packet type 5")});
    QCOMPARE(sent->count() + lists->count(), 0);
    parser->requestDeviceList();
    parser->onDataReceived(packet(99, "abc") + portion(0, 1));
    QCOMPARE(received(), imeis(1));
}

// Fields without a terminator stop at the field's end; a terminator ends the text early.
void TestKalvoMessageParser::recordTexts() {
    QByteArray early(57, 'z');
    early.replace(0, 4, QByteArray("12\0x", 4));
    early[16] = '\0';
    parser->requestDeviceList();
    parser->onDataReceived(packet(13, QByteArray::fromHex("0200") + QByteArray(57, '7') + early));
    const auto list = lists->value(0).value(0).value<QList<TDeviceToConfigInfo>>();
    QCOMPARE(list.size(), 2);
    QCOMPARE(QStringList({list[0].imeiText(), list[0].nameText(), list[1].imeiText(), list[1].nameText()}),
             QStringList({QString(16, '7'), QString(41, '7'), QStringLiteral("12"), QString()}));
}

QTEST_GUILESS_MAIN(TestKalvoMessageParser)
#include "tst_kalvomessageparser.moc"
