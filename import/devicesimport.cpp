#include "import/devicesimport.h"

#include "core/aside.h"
#include "db/confighandler.h"
#include "db/lanehandler.h"

#include <QEventLoop>

#include <atomic>
#include <utility>

// What the import's thread and the GUI share.
struct DevicesImport::Run {
    std::atomic<bool> stop{false};
    std::atomic<int> done{0};
    int total = 0;
    Outcome outcome;
};

DevicesImport::DevicesImport(QObject* parent)
    : QObject(parent) {
    ticker.setInterval(100);
    connect(&ticker, &QTimer::timeout, this, [this] {
        if (running)
            emit progress(running->done.load(), running->total);
    });
}

DevicesImport::~DevicesImport() {
    cancel();
}

namespace {

// The import's connection, opened and closed on its lane's thread.
void importOn(const QString& connectionName, const SqlConnectionSettings& settings,
              const JournalState& journal, const QVector<DeviceInfo>& devices, const QVector<int>& storedIds,
              const QVector<int>& groups, DevicesImport::Outcome& outcome,
              const std::function<bool(int, int)>& going) {
    auto handler = std::make_unique<ConfigHandler>(nullptr, connectionName);
    handler->setConnectionSettings(settings);
    handler->useJournal(journal);
    if (handler->connectToDatabase() != 0) {
        outcome.result.stoppedBy = handler->lastError();
    } else {
        try {
            // every device stored goes into the administrators' group, which this finds
            handler->checkDatabase();
        } catch (const QString&) {
        }
        if (!devices.isEmpty())
            handler->addDevices(devices, going, &outcome.result);
        if (!storedIds.isEmpty() && !outcome.result.stoppedBy.failed()) {
            if (handler->changeDevicesGroups(storedIds, groups, {}))
                outcome.given = storedIds.size();
            else
                outcome.result.failed += storedIds.size();
        }
    }
    // an import that outlived the program's second leaves its connection to the system
    if (Aside::ending())
        static_cast<void>(handler.release());
}

} // namespace

bool DevicesImport::start(const SqlConnectionSettings& settings, const JournalState& journal,
                          const QVector<DeviceInfo>& devices, const QVector<int>& storedIds,
                          const QVector<int>& groups) {
    if (running)
        return false;
    const QString connectionName = LaneHandler::uniqueConnectionName(QStringLiteral("import"));
    const auto run = std::make_shared<Run>();
    run->total = devices.size();
    running = run;
    ticker.start();
    std::unique_ptr<Aside> lane = Aside::lane();
    lane->run(
        this,
        [run, connectionName, settings, journal, devices, storedIds, groups] {
            importOn(connectionName, settings, journal, devices, storedIds, groups, run->outcome,
                     [run](int done, int) {
                         run->outcome.handled = done;
                         run->done = done;
                         return !run->stop.load();
                     });
        },
        [this, run] {
            if (run != running)
                return;
            running.reset();
            ticker.stop();
            last = std::move(run->outcome);
            emit finished();
        });
    Aside::abandon(std::move(lane));
    return true;
}

void DevicesImport::lookUpStored(QObject* context, const SqlConnectionSettings& settings,
                                 const QVector<quint64>& imeis,
                                 const std::function<void(const StoredDevices&, bool)>& done) {
    const QString connectionName = LaneHandler::uniqueConnectionName(QStringLiteral("lookup"));
    struct Found {
        StoredDevices stored;
        bool ok = false;
    };
    const auto found = std::make_shared<Found>();
    std::unique_ptr<Aside> lane = Aside::lane();
    lane->run(
        context,
        [found, connectionName, settings, imeis] {
            auto handler = std::make_unique<ConfigHandler>(nullptr, connectionName);
            handler->setConnectionSettings(settings);
            if (handler->connectToDatabase() == 0)
                found->stored = handler->storedDevices(imeis, &found->ok);
            if (Aside::ending())
                static_cast<void>(handler.release());
        },
        [found, done] { done(found->stored, found->ok); });
    Aside::abandon(std::move(lane));
}

DevicesImport::StoredDevices DevicesImport::lookUpStoredNow(const SqlConnectionSettings& settings,
                                                            const QVector<quint64>& imeis, bool* ok) {
    QEventLoop loop;
    StoredDevices found;
    bool answered = false;
    lookUpStored(&loop, settings, imeis, [&](const StoredDevices& stored, bool worked) {
        found = stored;
        answered = true;
        if (ok)
            *ok = worked;
        loop.quit();
    });
    if (!answered)
        loop.exec();
    return found;
}

void DevicesImport::cancel() {
    if (running)
        running->stop = true;
}
