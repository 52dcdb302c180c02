#include "link/orbserverhandler.h"

#include "link/tcpclient.h"

#include <QDebug>
#include <QThread>

namespace {
constexpr int ReconnectIntervalMs = 5000;
constexpr int PollIntervalMs = 10000;
// A request that got no byte for this many polls is given up and asked again, so a lost or
// corrupted portion cannot silence the poll while the connection stays up.
constexpr int SilentPollsBeforeRetry = 3;

// Digits only, as the server sends them; anything else goes through QString's own parsing.
bool imeiNumber(const char* text, int size, qint64* value) {
    if (size > 0 && size <= 18) {
        qint64 v = 0;
        int i = 0;
        for (; i < size && text[i] >= '0' && text[i] <= '9'; ++i)
            v = v * 10 + (text[i] - '0');
        if (i == size) {
            *value = v;
            return true;
        }
    }
    bool ok = false;
    *value = QString::fromUtf8(text, size).toLongLong(&ok, 10);
    // A negative number is no IMEI and would turn into a huge unsigned one.
    return ok && *value >= 0;
}
} // namespace

OrbServerHandler::OrbServerHandler(QObject* parent)
    : QObject(parent) {
    m_client = new TcpClient();
    m_thread = new QThread(this);
    m_client->moveToThread(m_thread);
    // The client and its socket are destroyed in their own thread when it ends.
    connect(m_thread, &QThread::finished, m_client, &QObject::deleteLater);
    m_thread->start(QThread::InheritPriority);

    m_parser = new KalvoMessageParser(this);

    connect(this, &OrbServerHandler::startConnect, m_client, &TcpClient::connectToServer);
    connect(this, &OrbServerHandler::disconnectFromHost, m_client, &TcpClient::disconnectFromServer);
    connect(m_client, &TcpClient::serverConnected, this, &OrbServerHandler::hostStateUpdated);
    connect(m_client, &TcpClient::serverDisconnected, this, &OrbServerHandler::hostStateUpdated);
    connect(m_client, &TcpClient::connectionError, this, &OrbServerHandler::hostStateUpdated);
    connect(m_client, &TcpClient::serverConnected, this, &OrbServerHandler::onServerConnected);
    connect(m_client, &TcpClient::serverDisconnected, this, &OrbServerHandler::onServerDisconnected);
    connect(m_client, &TcpClient::fullDataReceived, m_parser, &KalvoMessageParser::onDataReceived);
    connect(m_parser, &KalvoMessageParser::sendData, m_client, &TcpClient::sendData);
    connect(m_parser, &KalvoMessageParser::devListReceived, this, &OrbServerHandler::devListReceived);
    connect(m_parser, &KalvoMessageParser::devListIncomplete, this, &OrbServerHandler::devListIncomplete);
    connect(m_parser, &KalvoMessageParser::devListDropped, this, &OrbServerHandler::devListDropped);

    m_reconnectTimer.setSingleShot(false);
    m_reconnectTimer.setInterval(ReconnectIntervalMs);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &OrbServerHandler::onReconnectTimer);

    m_requestTimer.setSingleShot(false);
    m_requestTimer.setInterval(PollIntervalMs);
    connect(&m_requestTimer, &QTimer::timeout, this, &OrbServerHandler::pollDeviceList);
    m_requestTimer.start();
}

OrbServerHandler::~OrbServerHandler() {
    // Nothing the client does while it goes down may reach the handler or the codec any more.
    QObject::disconnect(m_client, nullptr, this, nullptr);
    QObject::disconnect(m_client, nullptr, m_parser, nullptr);
    QObject::disconnect(this, nullptr, m_client, nullptr);
    QObject::disconnect(m_parser, nullptr, m_client, nullptr);
    // Its event loop ends after the event it handles: at worst a connection attempt, which gives up
    // after a second.
    m_thread->quit();
    m_thread->wait();
}

OrbHostSettings OrbServerHandler::hostSettings() const {
    OrbHostSettings settings;
    settings.host = m_host;
    settings.port = m_port;
    return settings;
}

void OrbServerHandler::setHostSettings(const OrbHostSettings& settings) {
    // another server's list is not this one's
    if (settings.host != m_host || settings.port != m_port) {
        m_imeiList.clear();
        m_devices.clear();
        m_devicesReceived = QDateTime();
        m_listState = ListComplete;
    }
    m_host = settings.host;
    m_port = settings.port;
}

void OrbServerHandler::reconnect() {
    if (m_client->isConnected())
        emit disconnectFromHost();
    if (m_port < 1 || m_port > 65535) {
        // Narrowed to 16 bits it would silently name another port.
        qDebug() << "invalid server port" << m_port;
        emit hostStateUpdated();
        return;
    }
    emit startConnect(m_host, m_port);
}

TcpClient* OrbServerHandler::tcpClient() const {
    return m_client;
}

QVector<DeviceInfo> OrbServerHandler::devices() const {
    return m_devices;
}

QStringList OrbServerHandler::imeiList() const {
    return m_imeiList;
}

QDateTime OrbServerHandler::devicesReceived() const {
    return m_devicesReceived;
}

OrbServerHandler::ListState OrbServerHandler::listState() const {
    return m_listState;
}

void OrbServerHandler::setMaxListSizeForTesting(int records) {
    m_parser->setMaxListSizeForTesting(records);
}

void OrbServerHandler::setTimerIntervalsForTesting(int reconnectMs, int pollMs) {
    m_reconnectTimer.setInterval(reconnectMs);
    m_requestTimer.setInterval(pollMs);
}

void OrbServerHandler::devListReceived(QList<TDeviceToConfigInfo> list) {
    takeList(list, ListComplete);
}

void OrbServerHandler::takeList(const QList<TDeviceToConfigInfo>& list, ListState state) {
    m_imeiList.clear();
    m_devices.clear();
    m_imeiList.reserve(list.size());
    m_devices.reserve(list.size());
    for (const TDeviceToConfigInfo& record : list) {
        const int size = record.imeiSize();
        m_imeiList.append(QString::fromUtf8(record.imei, size));
        qint64 number = 0;
        if (imeiNumber(record.imei, size, &number)) {
            DeviceInfo device;
            device.imei = quint64(number);
            device.name = record.nameText();
            m_devices.append(device);
        }
    }
    m_devicesReceived = QDateTime::currentDateTime();
    m_listState = state;
    emit hostStateUpdated();
}

void OrbServerHandler::devListIncomplete(QList<TDeviceToConfigInfo> list) {
    takeList(list, ListIncomplete);
}

void OrbServerHandler::devListDropped() {
    m_listState = ListDropped;
    emit hostStateUpdated();
}

void OrbServerHandler::pollDeviceList() {
    if (!m_client->isConnected())
        return;
    if (!m_parser->isRequestPending() || m_parser->receivedBytes() != m_bytesAtLastPoll) {
        m_silentPolls = 0;
    } else if (++m_silentPolls >= SilentPollsBeforeRetry) {
        qDebug() << "device list request unanswered, asking again";
        m_parser->reset();
        m_silentPolls = 0;
    }
    m_bytesAtLastPoll = m_parser->receivedBytes();
    m_parser->requestDeviceList();
}

void OrbServerHandler::onServerConnected() {
    m_reconnectTimer.stop();
    pollDeviceList();
}

void OrbServerHandler::onServerDisconnected() {
    // An interrupted transfer is abandoned, so that the first poll on the next connection asks again.
    m_parser->reset();
    m_silentPolls = 0;
    m_reconnectTimer.start();
}

void OrbServerHandler::onReconnectTimer() {
    if (!m_client->isConnected())
        reconnect();
}
