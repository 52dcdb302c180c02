#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <atomic>

// One device of the server's device list, exactly as it travels on the wire.
#pragma pack(push, 1)
struct TDeviceToConfigInfo {
    char imei[16];
    char name[41];

    // Each field ends at its first 0x00 byte, or at its own last byte when it holds none.
    QString imeiText() const;
    QString nameText() const;
    int imeiSize() const;

    // A record with the texts cut to their fields (the name at a UTF-8 character boundary).
    static TDeviceToConfigInfo make(const QByteArray& imei, const QByteArray& name);
};
#pragma pack(pop)
static_assert(sizeof(TDeviceToConfigInfo) == 57, "the device record is 57 bytes on the wire");

struct KalvoPacket_t {
    quint8 type = 0;
    QByteArray data;
};

enum PacketStatus { PacketOk = 0, PacketIncomplete = 1, PacketCrcError = 2 };

// Client side of the Orb server's packet protocol: cuts received bytes into packets, answers
// the handshake and collects the device list, which arrives in portions of up to 1000 records.
class KalvoMessageParser : public QObject {
    Q_OBJECT

public:
    enum PacketType : quint8 {
        HandshakeRequest = 10,
        HandshakeAnswer = 11,
        DeviceListRequest = 12,
        DeviceListPortion = 13
    };
    static constexpr int HeaderSize = 3;
    static constexpr int CrcSize = 4;
    static constexpr int MaxPayload = 65535;
    static constexpr int HandshakeAnswerSize = 21;
    static constexpr int FullPortion = 1000;
    // The longest list taken: twice the largest fleet the program is made for. A longer one is
    // dropped, so that a server sending without end cannot fill the memory.
    static constexpr int MaxListSize = 2000000;

    explicit KalvoMessageParser(QObject* parent = nullptr);

    void onDataReceived(const QByteArray& data);
    void requestDeviceList();

    // Asks for the list unless a request is outstanding and bytes still come; a request that got
    // no byte for a few polls is given up and asked again, so a lost or corrupted portion cannot
    // silence the poll while the connection stays up.
    void poll();
    // Abandons an interrupted exchange: received bytes, the outstanding request and its records.
    void reset();
    bool isRequestPending() const { return m_requestPending; }
    // Bytes received since construction; lets the owner see whether a request makes progress.
    quint64 receivedBytes() const { return m_receivedBytes; }
    // From any thread.
    void setMaxListSizeForTesting(int records) { m_maxListSize = records; }
    static constexpr int SilentPollsBeforeRetry = 3;

    // CRC-32 (ISO-HDLC: reflected polynomial 0xEDB88320, init and final XOR 0xFFFFFFFF), by zlib.
    static quint32 crc32(const char* data, int size);
    static QByteArray encodePacket(const KalvoPacket_t& packet);
    // Takes one packet from data[0 .. size); on PacketOk *length is the bytes it occupied.
    static PacketStatus decodePacket(const char* data, int size, KalvoPacket_t& packet, int* length);
    static QByteArray handshakeAnswerPayload();

signals:
    void sendData(QByteArray data);
    void devListReceived(QList<TDeviceToConfigInfo> list);
    // A portion whose record count did not match its size ended the list: the records before it.
    void devListIncomplete(QList<TDeviceToConfigInfo> list);
    // The list grew beyond the ceiling and was dropped; the request stays outstanding until the
    // rest of that list has arrived.
    void devListDropped();

private slots:
    PacketStatus parseBuffer(KalvoPacket_t& packet);
    void parseMessage(KalvoPacket_t packet);
    void sendMessage(KalvoPacket_t packet);
    QList<TDeviceToConfigInfo> getServerDeviceListPortion(KalvoPacket_t packet);

private:
    // The record count of a portion's payload, -1 when it does not match the payload's size.
    static int portionCount(const QByteArray& payload);
    static void appendPortion(const QByteArray& payload, int count, QList<TDeviceToConfigInfo>& list);
    // Ends the outstanding request; the records gathered are handed to the signal or dropped.
    void endRequest();

    QByteArray m_buffer;
    bool m_requestPending = false;
    // A list dropped at the ceiling is still arriving: no new request until it ends, so that
    // requests do not pile up behind an endless list.
    bool m_discarding = false;
    QList<TDeviceToConfigInfo> m_devices;
    // Bytes at the front of m_buffer already taken as packets; dropped once per chunk, so a
    // chunk holding many packets is not moved in memory once per packet.
    int m_consumed = 0;
    quint64 m_receivedBytes = 0;
    // Polls in a row that found a request outstanding with no byte received since the last one.
    int m_silentPolls = 0;
    quint64 m_bytesAtLastPoll = 0;
    std::atomic<int> m_maxListSize{MaxListSize};
};

Q_DECLARE_METATYPE(TDeviceToConfigInfo)
Q_DECLARE_METATYPE(QList<TDeviceToConfigInfo>)
