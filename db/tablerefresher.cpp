#include "db/tablerefresher.h"

#include "core/memory.h"

#include <QAtomicInt>

#include <mutex>
#include <utility>

// What the two threads hand each other, under a standard mutex so that ThreadSanitizer sees the
// hand-over: Qt's own locking is not instrumented.
struct RefreshExchange {
    std::mutex mutex;
    SqlConnectionSettings settings;
    bool settingsChanged = true;
    DeviceNames shown;
    bool ok = false;
    TablesSnapshot snapshot;
    QString error;
};

// Owns the refresher's ConfigHandler: created, used and destroyed in the refresher's thread.
class RefreshWorker : public QObject {
    Q_OBJECT

public:
    RefreshWorker(const QString& connectionName, std::shared_ptr<RefreshExchange> exchange)
        : connectionName(connectionName)
        , exchange(std::move(exchange)) {}

    void load();

signals:
    void requested();
    void done();

private:
    bool open(const SqlConnectionSettings& settings);

    const QString connectionName;
    const std::shared_ptr<RefreshExchange> exchange;
    std::unique_ptr<ConfigHandler> handler;
    bool connected = false;
};

bool RefreshWorker::open(const SqlConnectionSettings& settings) {
    if (!handler)
        handler = std::make_unique<ConfigHandler>(nullptr, connectionName);
    handler->setConnectionSettings(settings);
    connected = handler->connectToDatabase() == 0;
    return connected;
}

void RefreshWorker::load() {
    SqlConnectionSettings settings;
    bool settingsChanged = false;
    DeviceNames shown;
    {
        std::lock_guard<std::mutex> lock(exchange->mutex);
        settings = exchange->settings;
        settingsChanged = std::exchange(exchange->settingsChanged, false);
        shown = std::exchange(exchange->shown, {});
    }
    TablesSnapshot snapshot;
    QString error;
    bool ok = false;
    // A connection kept since the last refresh may have been dropped meanwhile (a restarted
    // server, wait_timeout): it gets one new connection before the refresh counts as failed.
    const bool reused = connected && !settingsChanged;
    if (reused || open(settings)) {
        ok = handler->loadTables(snapshot, error, shown);
        if (!ok && reused && open(settings))
            ok = handler->loadTables(snapshot, error, shown);
    }
    shown = DeviceNames();
    // the client library's buffers of the slices are free now
    returnFreePagesToSystem();
    if (!connected)
        error = handler->lastErrorText();
    else if (!ok)
        connected = false;
    {
        std::lock_guard<std::mutex> lock(exchange->mutex);
        exchange->ok = ok;
        exchange->snapshot = std::move(snapshot);
        exchange->error = error;
    }
    emit done();
}

TableRefresher::TableRefresher(QObject* parent)
    : QObject(parent)
    , exchange(std::make_shared<RefreshExchange>()) {
    qRegisterMetaType<TablesSnapshot>("TablesSnapshot");
    static QAtomicInt serial;
    worker = new RefreshWorker(QStringLiteral("orb-refresh-%1").arg(serial.fetchAndAddRelaxed(1)), exchange);
    worker->moveToThread(&thread);
    connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &RefreshWorker::requested, worker, &RefreshWorker::load, Qt::QueuedConnection);
    connect(worker, &RefreshWorker::done, this, &TableRefresher::finish);
    thread.setObjectName(QStringLiteral("TableRefresher"));
    thread.start();
}

TableRefresher::~TableRefresher() {
    disconnect(worker, nullptr, this, nullptr);
    thread.quit();
    thread.wait();
}

void TableRefresher::setConnectionSettings(const SqlConnectionSettings& settings) {
    std::lock_guard<std::mutex> lock(exchange->mutex);
    exchange->settings = settings;
    exchange->settingsChanged = true;
}

void TableRefresher::refresh(const DeviceNames& shown) {
    {
        std::lock_guard<std::mutex> lock(exchange->mutex);
        exchange->shown = shown;
    }
    if (running) {
        again = true;
        return;
    }
    running = true;
    emit refreshingChanged(true);
    emit worker->requested();
}

bool TableRefresher::isRefreshing() const {
    return running;
}

void TableRefresher::finish() {
    bool ok = false;
    TablesSnapshot snapshot;
    QString error;
    {
        std::lock_guard<std::mutex> lock(exchange->mutex);
        ok = exchange->ok;
        snapshot = std::move(exchange->snapshot);
        error = std::move(exchange->error);
    }
    if (ok)
        emit refreshed(snapshot);
    else
        emit refreshFailed(error);
    // one asked for meanwhile, from these signals' slots too, follows at once
    if (std::exchange(again, false)) {
        emit worker->requested();
        return;
    }
    running = false;
    emit refreshingChanged(false);
}

#include "tablerefresher.moc"
