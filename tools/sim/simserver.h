#pragma once

#include "link/kalvomessageparser.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QVector>

class QTcpSocket;

// Faults the simulator can inject into its answers.
struct SimFaults {
    int dropMidList = 0;      // the first N device lists are cut off by closing the connection
    int badCrc = 0;           // the first N device lists carry a last portion with a wrong CRC
    bool unknownType = false; // each device list is preceded by a packet of an unknown type
    int badCount = 0;         // the first N device lists carry a portion whose count exceeds its records
    bool endless = false;     // every device list is full portions without end
};

// A stand-in for the Orb server's device list service: one handshake per connection, then a
// device list in portions of 1000 records for every request.
class SimServer : public QObject {
    Q_OBJECT

public:
    SimServer(const QList<TDeviceToConfigInfo>& devices, const SimFaults& faults, QObject* parent = nullptr);

    bool listen(quint16 port);
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }

    // The encoded portions of a device list: full ones of exactly 1000 records, then a last one
    // of fewer (empty when the count is a multiple of 1000).
    static QVector<QByteArray> encodeDeviceList(const QList<TDeviceToConfigInfo>& devices);

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void handlePacket(QTcpSocket* socket, const KalvoPacket_t& packet);
    void sendDeviceList(QTcpSocket* socket);
    void sendEndlessList(QTcpSocket* socket);

    QTcpServer m_server;
    QVector<QByteArray> m_portions;
    int m_deviceCount = 0;
    SimFaults m_faults;
    int m_listsSent = 0;
    QHash<QTcpSocket*, QByteArray> m_buffers;
};

void simLog(const QString& line);
