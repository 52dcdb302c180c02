#include "link/orbserverhandler.h"

#include "core/aside.h"
#include "link/tcpclient.h"

#include <QDebug>
#include <QThread>

#include <memory>
#include <utility>

namespace {
constexpr int ReconnectIntervalMs = 5000;
constexpr int PollIntervalMs = 10000;

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
    // QThread::wait() is invisible to ThreadSanitizer: this pair shows it that everything the thread
    // did, including the events it posted here, happened before the handler goes.
    connect(
        m_thread, &QThread::finished, m_client,
        [this] { m_threadDone.store(true, std::memory_order_release); }, Qt::DirectConnection);

    // Packets are decoded and the list is built on the link's thread: a list of millions of
    // devices never holds up the window.
    m_parser = new KalvoMessageParser;
    m_parser->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_parser, &QObject::deleteLater);

    connect(this, &OrbServerHandler::startConnect, m_client, &TcpClient::connectToServer);
    connect(this, &OrbServerHandler::disconnectFromHost, m_client, &TcpClient::disconnectFromServer);
    connect(m_client, &TcpClient::serverConnected, this, &OrbServerHandler::hostStateUpdated);
    connect(m_client, &TcpClient::serverDisconnected, this, &OrbServerHandler::hostStateUpdated);
    connect(m_client, &TcpClient::connectionError, this, &OrbServerHandler::hostStateUpdated);
    connect(m_client, &TcpClient::serverConnected, this, &OrbServerHandler::onServerConnected);
    connect(m_client, &TcpClient::serverDisconnected, this, &OrbServerHandler::onServerDisconnected);
    // An interrupted transfer is abandoned, so that the first poll on the next connection asks again.
    connect(m_client, &TcpClient::serverDisconnected, m_parser, &KalvoMessageParser::reset);
    connect(m_client, &TcpClient::fullDataReceived, m_parser, &KalvoMessageParser::onDataReceived);
    connect(m_parser, &KalvoMessageParser::sendData, m_client, &TcpClient::sendData);
    const auto built = [this](ListState state) {
        return [this, state](const QList<TDeviceToConfigInfo>& list) {
            auto taken = std::make_shared<ServerList>(buildList(list, m_stopping));
            // Moved, not copied: the list is released on the window's thread only.
            QMetaObject::invokeMethod(
                this, [this, taken = std::move(taken), state] { takeList(std::move(*taken), state); },
                Qt::QueuedConnection);
        };
    };
    connect(m_parser, &KalvoMessageParser::devListReceived, m_parser, built(ListComplete));
    connect(m_parser, &KalvoMessageParser::devListIncomplete, m_parser, built(ListIncomplete));
    connect(m_parser, &KalvoMessageParser::devListDropped, this, &OrbServerHandler::devListDropped);
    // Started only now: what the client and the codec were given here is theirs before their
    // thread touches them.
    m_thread->start(QThread::InheritPriority);

    m_reconnectTimer.setSingleShot(false);
    m_reconnectTimer.setInterval(ReconnectIntervalMs);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &OrbServerHandler::onReconnectTimer);

    m_requestTimer.setSingleShot(false);
    m_requestTimer.setInterval(PollIntervalMs);
    connect(&m_requestTimer, &QTimer::timeout, this, &OrbServerHandler::pollDeviceList);
    m_requestTimer.start();
}

OrbServerHandler::~OrbServerHandler() {
    // Nothing the client and the codec do while they go down may reach the handler any more.
    m_stopping = true;
    QObject::disconnect(m_client, nullptr, this, nullptr);
    QObject::disconnect(m_client, nullptr, m_parser, nullptr);
    QObject::disconnect(this, nullptr, m_client, nullptr);
    QObject::disconnect(m_parser, nullptr, nullptr, nullptr);
    // Its event loop ends after the event it handles: at worst a connection attempt, which gives up
    // after a second, or a list being built, which stops.
    m_thread->quit();
    m_thread->wait();
    (void)m_threadDone.load(std::memory_order_acquire);
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

OrbServerHandler::ServerList OrbServerHandler::buildList(const QList<TDeviceToConfigInfo>& list,
                                                         const std::atomic<bool>& stopping) {
    ServerList built;
    built.imeis.reserve(list.size());
    built.devices.reserve(list.size());
    for (const TDeviceToConfigInfo& record : list) {
        if ((built.imeis.size() & 0xFFF) == 0 && stopping.load())
            return ServerList();
        const int size = record.imeiSize();
        built.imeis.append(QString::fromUtf8(record.imei, size));
        qint64 number = 0;
        if (imeiNumber(record.imei, size, &number)) {
            DeviceInfo device;
            device.imei = quint64(number);
            device.name = record.nameText();
            built.devices.append(device);
        }
    }
    return built;
}

void OrbServerHandler::takeList(ServerList list, ListState state) {
    // the list replaced goes on another thread: freeing millions of names takes a while
    Aside::shared().run([old = ServerList{std::exchange(m_imeiList, std::move(list.imeis)),
                                          std::exchange(m_devices, std::move(list.devices))}] {});
    m_devicesReceived = QDateTime::currentDateTime();
    m_listState = state;
    emit hostStateUpdated();
}

void OrbServerHandler::devListDropped() {
    m_listState = ListDropped;
    emit hostStateUpdated();
}

void OrbServerHandler::pollDeviceList() {
    if (m_client->isConnected())
        QMetaObject::invokeMethod(m_parser, &KalvoMessageParser::poll, Qt::QueuedConnection);
}

void OrbServerHandler::onServerConnected() {
    m_reconnectTimer.stop();
    pollDeviceList();
}

void OrbServerHandler::onServerDisconnected() {
    m_reconnectTimer.start();
}

void OrbServerHandler::onReconnectTimer() {
    if (!m_client->isConnected())
        reconnect();
}
