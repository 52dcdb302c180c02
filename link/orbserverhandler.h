#pragma once

#include "core/records.h"
#include "link/kalvomessageparser.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <atomic>

class QThread;
class TcpClient;

struct OrbHostSettings {
    QString host;
    int port = 0;
};

// The server link as the rest of the program sees it: runs the TCP client and the packet codec in
// a worker thread, reconnects after a lost connection, polls the server's device list and keeps the last one.
class OrbServerHandler : public QObject {
    Q_OBJECT

public:
    // What became of the last list the server sent.
    enum ListState {
        ListComplete,
        ListIncomplete, // a damaged portion cut it short: devices() holds the part before it
        ListDropped,    // longer than KalvoMessageParser::MaxListSize: devices() holds the one before
    };

    explicit OrbServerHandler(QObject* parent = nullptr);
    ~OrbServerHandler() override;

    OrbHostSettings hostSettings() const;
    void setHostSettings(const OrbHostSettings& settings);
    void reconnect();
    TcpClient* tcpClient() const;
    QVector<DeviceInfo> devices() const;
    QStringList imeiList() const;
    // When the last device list arrived; invalid before the first one.
    QDateTime devicesReceived() const;
    ListState listState() const;

    // Lets tests run the reconnect and poll timers faster than the program does.
    void setTimerIntervalsForTesting(int reconnectMs, int pollMs);
    void setMaxListSizeForTesting(int records);

signals:
    void startConnect(QString host, int port);
    void disconnectFromHost();
    void hostStateUpdated();

private:
    struct ServerList {
        QStringList imeis;
        QVector<DeviceInfo> devices;
    };
    // On the link's thread; an empty list once `stopping` is set.
    static ServerList buildList(const QList<TDeviceToConfigInfo>& list, const std::atomic<bool>& stopping);
    void takeList(ServerList list, ListState state);
    void devListDropped();
    void pollDeviceList();
    void onServerConnected();
    void onServerDisconnected();
    void onReconnectTimer();

    QString m_host;
    int m_port = 0;
    TcpClient* m_client = nullptr;
    QThread* m_thread = nullptr;
    QTimer m_reconnectTimer;
    KalvoMessageParser* m_parser = nullptr;
    QTimer m_requestTimer;
    QStringList m_imeiList;
    QVector<DeviceInfo> m_devices;
    QDateTime m_devicesReceived;
    ListState m_listState = ListComplete;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_threadDone{false};
};
