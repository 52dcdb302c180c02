#include "db/tablerefresher.h"

#include "core/aside.h"
#include "db/lanehandler.h"

#include <utility>

// The refresher's connection, opened, used and closed on its lane's thread.
struct RefreshLink : LaneHandler {
    struct Result {
        bool ok = false;
        TablesSnapshot snapshot;
        QString error;
    };

    RefreshLink()
        : LaneHandler(QStringLiteral("refresh")) {}

    void load(const SqlConnectionSettings& settings, bool settingsChanged, const DeviceNames& shown,
              Result& result) {
        // A connection kept since the last refresh may have been dropped meanwhile (a restarted
        // server, wait_timeout): it gets one new connection before the refresh counts as failed.
        const bool reused = connected && !settingsChanged;
        if (reused || open(settings)) {
            result.ok = handler->loadTables(result.snapshot, result.error, shown);
            if (!result.ok && reused && open(settings))
                result.ok = handler->loadTables(result.snapshot, result.error, shown);
        }
        if (!connected)
            result.error = handler->lastErrorText();
        else if (!result.ok)
            connected = false;
    }
};

TableRefresher::TableRefresher(QObject* parent)
    : QObject(parent)
    , lane(Aside::lane())
    , link(std::make_shared<RefreshLink>()) {
    qRegisterMetaType<TablesSnapshot>("TablesSnapshot");
}

TableRefresher::~TableRefresher() {
    lane->run([link = link] { link->close(); });
    Aside::abandon(std::move(lane));
}

void TableRefresher::setConnectionSettings(const SqlConnectionSettings& settings) {
    this->settings = settings;
    settingsChanged = true;
}

void TableRefresher::refresh(const DeviceNames& shown) {
    this->shown = shown;
    if (running) {
        again = true;
        return;
    }
    running = true;
    emit refreshingChanged(true);
    start();
}

bool TableRefresher::isRefreshing() const {
    return running;
}

void TableRefresher::start() {
    auto result = std::make_shared<RefreshLink::Result>();
    lane->run(
        this,
        [link = link, settings = settings, changed = std::exchange(settingsChanged, false),
         shown = std::exchange(shown, {}), result]() mutable {
            link->load(settings, changed, shown, *result);
            shown = DeviceNames();
        },
        [this, result] {
            if (result->ok)
                emit refreshed(result->snapshot);
            else
                emit refreshFailed(result->error);
            // one asked for meanwhile, from these signals' slots too, follows at once
            if (std::exchange(again, false)) {
                start();
                return;
            }
            running = false;
            emit refreshingChanged(false);
        });
}
