#include "link/kalvomessageparser.h"
#include "logcapture.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

// Bitwise CRC-32, independent of the codec's table.
quint32 referenceCrc(const QByteArray& data) {
    quint32 crc = 0xFFFFFFFFu;
    for (const char ch : data) {
        crc ^= quint8(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray withCrc(QByteArray bytes) {
    const quint32 crc = referenceCrc(bytes);
    for (int shift = 0; shift < 32; shift += 8)
        bytes.append(char((crc >> shift) & 0xFF));
    return bytes;
}

QByteArray packet(quint8 type, const QByteArray& payload) {
    QByteArray bytes;
    bytes.append(char(payload.size() & 0xFF)).append(char(payload.size() >> 8)).append(char(type));
    return withCrc(bytes + payload);
}

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

QByteArray list(int count) {
    QByteArray bytes;
    int first = 0;
    for (; count - first >= 1000; first += 1000)
        bytes += portion(first, 1000);
    return bytes + portion(first, count - first);
}

QStringList imeis(const QList<TDeviceToConfigInfo>& records) {
    QStringList out;
    for (const TDeviceToConfigInfo& r : records)
        out << r.imeiText();
    return out;
}

QStringList expectedImeis(int count) {
    QStringList out;
    for (int i = 0; i < count; ++i)
        out << QString::number(100000000000000LL + i);
    return out;
}

} // namespace

class TestKalvoMessageParser : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void crcCheckValue();
    void requestEncodesToSevenBytes();
    void handshakeAnswer_data();
    void handshakeAnswer();
    void onePortionVector();
    void chunking_data();
    void chunking();
    void randomChunkingOfALongList();
    void crcErrorLosesTheBuffer();
    void malformedPortionEndsTheRequest_data();
    void malformedPortionEndsTheRequest();
    void thousandThenEmpty();
    void portionOutsideARequest();
    void otherPacketTypes_data();
    void otherPacketTypes();
    void secondRequestSendsNothing();
    void resetAbandonsTheTransfer();
    void recordTexts_data();
    void recordTexts();
    void recordFromLongTexts();

private:
    std::unique_ptr<KalvoMessageParser> parser;
    std::unique_ptr<QSignalSpy> sent;
    std::unique_ptr<QSignalSpy> lists;

    void fresh();
    QList<TDeviceToConfigInfo> lastList() const {
        return lists->last().at(0).value<QList<TDeviceToConfigInfo>>();
    }
};

void TestKalvoMessageParser::initTestCase() {
    qRegisterMetaType<QList<TDeviceToConfigInfo>>();
}

void TestKalvoMessageParser::fresh() {
    sent.reset();
    lists.reset();
    parser.reset(new KalvoMessageParser);
    sent.reset(new QSignalSpy(parser.get(), &KalvoMessageParser::sendData));
    lists.reset(new QSignalSpy(parser.get(), &KalvoMessageParser::devListReceived));
}

void TestKalvoMessageParser::crcCheckValue() {
    QCOMPARE(KalvoMessageParser::crc32("123456789", 9), 0xCBF43926u);
    const QByteArray noise = QByteArray::fromHex("00ff7f80a5c3e1015a");
    QCOMPARE(KalvoMessageParser::crc32(noise.constData(), noise.size()), referenceCrc(noise));
}

void TestKalvoMessageParser::requestEncodesToSevenBytes() {
    fresh();
    parser->requestDeviceList();
    QCOMPARE(sent->count(), 1);
    QCOMPARE(sent->at(0).at(0).toByteArray(), QByteArray::fromHex("00000c3995f7f6"));
}

void TestKalvoMessageParser::handshakeAnswer_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("with payload") << packet(10, "hello");
    QTest::newRow("empty payload") << packet(10, QByteArray());
}

void TestKalvoMessageParser::handshakeAnswer() {
    QFETCH(QByteArray, request);
    fresh();
    parser->onDataReceived(request);
    QCOMPARE(sent->count(), 1);
    const QByteArray answer = sent->at(0).at(0).toByteArray();
    QByteArray payload(21, '\0');
    payload[16] = char(0xFE);
    QCOMPARE(answer.size(), 28);
    QCOMPARE(answer, withCrc(QByteArray::fromHex("15000b") + payload));
}

void TestKalvoMessageParser::onePortionVector() {
    QByteArray bytes = QByteArray::fromHex("3b000d0100");
    QByteArray record(57, '\0');
    record.replace(0, 15, "100000000000001");
    record[16] = 'A';
    bytes += record + QByteArray::fromHex("17e3352f");
    QCOMPARE(bytes.size(), 66);

    KalvoPacket_t p;
    p.type = 13;
    p.data = bytes.mid(3, 59);
    QCOMPARE(KalvoMessageParser::encodePacket(p), bytes);

    fresh();
    parser->requestDeviceList();
    parser->onDataReceived(bytes);
    QCOMPARE(lists->count(), 1);
    const QList<TDeviceToConfigInfo> got = lastList();
    QCOMPARE(got.size(), 1);
    QCOMPARE(got.at(0).imeiText(), QStringLiteral("100000000000001"));
    QCOMPARE(got.at(0).nameText(), QStringLiteral("A"));
}

void TestKalvoMessageParser::chunking_data() {
    QTest::addColumn<QList<int>>("cuts");
    // The stream is a handshake request of 12 bytes followed by a one-record portion of 66 bytes.
    QTest::newRow("one chunk holding both packets") << QList<int>{78};
    QTest::newRow("six bytes, then the rest") << QList<int>{6, 72};
    QTest::newRow("cut inside the length field") << QList<int>{13, 65};
    QTest::newRow("cut before the CRC") << QList<int>{12, 62, 4};
    QTest::newRow("handshake tail with portion head") << QList<int>{10, 40, 28};
    QList<int> bytewise;
    for (int i = 0; i < 78; ++i)
        bytewise << 1;
    QTest::newRow("byte by byte") << bytewise;
}

void TestKalvoMessageParser::chunking() {
    QFETCH(QList<int>, cuts);
    const QByteArray stream = packet(10, "hello") + portion(0, 1);
    QCOMPARE(stream.size(), 78);
    fresh();
    parser->requestDeviceList();
    int at = 0;
    for (const int len : qAsConst(cuts)) {
        at += len;
        parser->onDataReceived(stream.mid(at - len, len));
        // Each packet is handled exactly when its last byte has arrived.
        QCOMPARE(sent->count(), at >= 12 ? 2 : 1);
        QCOMPARE(lists->count(), at >= 78 ? 1 : 0);
    }
    QCOMPARE(imeis(lastList()), expectedImeis(1));
}

void TestKalvoMessageParser::randomChunkingOfALongList() {
    const QByteArray stream = list(2500);
    QRandomGenerator random(20261206);
    for (int round = 0; round < 20; ++round) {
        fresh();
        parser->requestDeviceList();
        for (int at = 0; at < stream.size();) {
            const int len = int(random.bounded(1, 70000));
            parser->onDataReceived(stream.mid(at, len));
            at += len;
        }
        QCOMPARE(lists->count(), 1);
        QCOMPARE(imeis(lastList()), expectedImeis(2500));
    }
}

void TestKalvoMessageParser::crcErrorLosesTheBuffer() {
    fresh();
    LogCapture log;
    parser->requestDeviceList();
    QByteArray bad = portion(0, 1);
    bad[bad.size() - 1] = char(bad.at(bad.size() - 1) ^ 1);
    const QByteArray good = portion(0, 1);
    // A good packet behind a bad one in the same chunk is lost with it; so is the beginning of
    // the next one.
    parser->onDataReceived(bad + good + good.left(10));
    QCOMPARE(lists->count(), 0);
    QCOMPARE(log.count(QStringLiteral("packet error 2")), 1);
    QVERIFY(parser->isRequestPending());
    // The next chunk is taken as the start of a packet.
    parser->onDataReceived(good);
    QCOMPARE(lists->count(), 1);
    QCOMPARE(imeis(lastList()), expectedImeis(1));
}

void TestKalvoMessageParser::malformedPortionEndsTheRequest_data() {
    QTest::addColumn<QByteArray>("payload");
    QByteArray threeIn100(100, '\0');
    threeIn100[0] = 3;
    QTest::newRow("count 3 in a payload of 100 bytes") << threeIn100;
    QTest::newRow("payload of one byte") << QByteArray(1, '\x01');
    QTest::newRow("empty payload") << QByteArray();
    QTest::newRow("count 65535") << QByteArray::fromHex("ffff") + QByteArray(500, 'x');
}

void TestKalvoMessageParser::malformedPortionEndsTheRequest() {
    QFETCH(QByteArray, payload);
    fresh();
    LogCapture log;
    parser->requestDeviceList();
    parser->onDataReceived(portion(0, 1000) + packet(13, payload));
    QCOMPARE(log.count(QStringLiteral("Fail size of devlist cmd answer")), 1);
    QCOMPARE(lists->count(), 1);
    QCOMPARE(imeis(lastList()), expectedImeis(1000));
    QVERIFY(!parser->isRequestPending());
}

void TestKalvoMessageParser::thousandThenEmpty() {
    fresh();
    parser->requestDeviceList();
    parser->onDataReceived(portion(0, 1000));
    QCOMPARE(lists->count(), 0);
    parser->onDataReceived(portion(1000, 0));
    QCOMPARE(lists->count(), 1);
    QCOMPARE(imeis(lastList()), expectedImeis(1000));
}

void TestKalvoMessageParser::portionOutsideARequest() {
    fresh();
    LogCapture log;
    parser->onDataReceived(portion(0, 3));
    QCOMPARE(log.messages(), QStringList{QStringLiteral("receive packet with device list")});
    QCOMPARE(lists->count(), 0);
    QCOMPARE(sent->count(), 0);
    // A later request starts from an empty list.
    parser->requestDeviceList();
    parser->onDataReceived(portion(0, 2));
    QCOMPARE(imeis(lastList()), expectedImeis(2));
}

void TestKalvoMessageParser::otherPacketTypes_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("expectedLog");
    QTest::newRow("handshake answer from the server") << 11 << QStringList();
    QTest::newRow("list request from the server") << 12 << QStringList();
    QTest::newRow("type 5") << 5 << QStringList{QStringLiteral("unexpected packet type 5")};
    QTest::newRow("type 255") << 255 << QStringList{QStringLiteral("unexpected packet type 255")};
}

void TestKalvoMessageParser::otherPacketTypes() {
    QFETCH(int, type);
    QFETCH(QStringList, expectedLog);
    fresh();
    LogCapture log;
    parser->onDataReceived(packet(quint8(type), "abc"));
    QCOMPARE(log.messages(), expectedLog);
    QCOMPARE(sent->count(), 0);
    QCOMPARE(lists->count(), 0);
}

void TestKalvoMessageParser::secondRequestSendsNothing() {
    fresh();
    parser->requestDeviceList();
    parser->requestDeviceList();
    QCOMPARE(sent->count(), 1);
    parser->onDataReceived(portion(0, 4));
    parser->requestDeviceList();
    QCOMPARE(sent->count(), 2);
}

void TestKalvoMessageParser::resetAbandonsTheTransfer() {
    fresh();
    parser->requestDeviceList();
    const QByteArray first = portion(0, 1000) + portion(1000, 5);
    parser->onDataReceived(first.left(57100));
    QCOMPARE(lists->count(), 0);
    parser->reset();
    QVERIFY(!parser->isRequestPending());
    parser->requestDeviceList();
    QCOMPARE(sent->count(), 2);
    parser->onDataReceived(portion(0, 7));
    QCOMPARE(lists->count(), 1);
    QCOMPARE(imeis(lastList()), expectedImeis(7));
}

void TestKalvoMessageParser::recordTexts_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("imei");
    QTest::addColumn<QString>("name");
    QByteArray full(57, '7');
    QTest::newRow("fields without a terminator") << full << QString(16, '7') << QString(41, '7');
    QByteArray early(57, 'z');
    early.replace(0, 4, QByteArray("12\0x", 4));
    early[16] = '\0';
    QTest::newRow("terminator in the first byte") << early << QStringLiteral("12") << QString();
    QByteArray utf(57, '\0');
    utf.replace(0, 3, "123");
    const QByteArray cyr = QStringLiteral("Грузовик").toUtf8();
    utf.replace(16, cyr.size(), cyr);
    QTest::newRow("Cyrillic name") << utf << QStringLiteral("123") << QStringLiteral("Грузовик");
}

void TestKalvoMessageParser::recordTexts() {
    QFETCH(QByteArray, raw);
    QFETCH(QString, imei);
    QFETCH(QString, name);
    fresh();
    parser->requestDeviceList();
    parser->onDataReceived(packet(13, QByteArray::fromHex("0100") + raw));
    QCOMPARE(lists->count(), 1);
    const TDeviceToConfigInfo r = lastList().at(0);
    QCOMPARE(r.imeiText(), imei);
    QCOMPARE(r.nameText(), name);
}

void TestKalvoMessageParser::recordFromLongTexts() {
    // 30 Cyrillic letters are 60 bytes: the name is cut to whole letters within its 41 bytes.
    const TDeviceToConfigInfo r =
        TDeviceToConfigInfo::make("12345678901234567890", QString(30, QChar(0x0416)).toUtf8());
    QCOMPARE(r.imeiText(), QStringLiteral("1234567890123456"));
    QCOMPARE(r.nameText(), QString(20, QChar(0x0416)));
    QCOMPARE(r.name[40], '\0');
}

QTEST_GUILESS_MAIN(TestKalvoMessageParser)
#include "tst_kalvomessageparser.moc"
