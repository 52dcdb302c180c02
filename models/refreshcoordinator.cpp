#include "models/refreshcoordinator.h"

#include "core/aside.h"
#include "core/memory.h"
#include "db/tablerefresher.h"
#include "models/preparedtables.h"

#include <memory>
#include <utility>

RefreshCoordinator::RefreshCoordinator(TableRefresher* refresher, DevicesTableModel* devices,
                                       UserTableModel* users, GroupTableModel* groups, QObject* parent)
    : QObject(parent)
    , refresher(refresher)
    , devicesModel(devices)
    , usersModel(users)
    , groupsModel(groups)
    , keeper([](RecordTableModel*, const std::function<void()>& replace) { replace(); }) {
    // The process's memory policy, here where the large tables are made and replaced.
    returnLargeBlocksToSystem();
    connect(refresher, &TableRefresher::refreshed, this, &RefreshCoordinator::tablesRefreshed);
    connect(refresher, &TableRefresher::refreshFailed, this, &RefreshCoordinator::refreshFailed);
    connect(refresher, &TableRefresher::refreshingChanged, this, &RefreshCoordinator::showBusy);
}

void RefreshCoordinator::setKeeper(Keeper keeper) {
    this->keeper = std::move(keeper);
}

void RefreshCoordinator::refresh() {
    // One copy of the tables at a time besides the shown one: the next read waits for the
    // rows being prepared.
    if (preparing > 0) {
        refreshWanted = true;
        showBusy();
        return;
    }
    if (refresher->isRefreshing()) {
        // the running one may miss what changed since: only the one after it counts
        if (refreshRuns.size() < 2)
            refreshRuns.append(changeSerial);
        else
            refreshRuns.last() = changeSerial;
    } else {
        refreshRuns = {changeSerial};
    }
    refresher->refresh(deviceNames);
    showBusy();
}

void RefreshCoordinator::changeShown() {
    ++changeSerial;
    refresh();
}

void RefreshCoordinator::setActive(bool active) {
    if (!active)
        ++changeSerial; // a refresh still running belongs to the old connection
    this->active = active;
}

bool RefreshCoordinator::isBusy() const {
    return refresher->isRefreshing() || preparing > 0 || refreshWanted;
}

void RefreshCoordinator::showBusy() {
    emit busyChanged(isBusy());
}

void RefreshCoordinator::tablesRefreshed(const TablesSnapshot& snapshot) {
    // the client library's buffers of the read are free now
    Aside::shared().run(returnFreePagesToSystem);
    const quint64 serial = refreshRuns.isEmpty() ? 0 : refreshRuns.takeFirst();
    // stale, or a newer read follows this one
    if (serial != changeSerial || !refreshRuns.isEmpty()) {
        showBusy();
        return;
    }
    ++preparing;
    auto prepared = std::make_shared<PreparedTables>();
    // The snapshot is let go as soon as it is prepared: `done` may run much later, after a modal
    // dialog's loop.
    auto input = std::make_shared<TablesSnapshot>(snapshot);
    auto now = std::make_shared<ShownTables>();
    now->devices = devicesModel->storedRows();
    now->users = usersModel->storedRows();
    now->names = devicesModel->shownContext();
    now->devicesShownBy = devicesModel->shownBy();
    now->usersShownBy = usersModel->shownBy();
    // a closed window does not wait for rows nobody will see
    Aside::shared().run(
        this,
        [input, now, prepared] {
            *prepared = prepareTables(*input, *now);
            *input = TablesSnapshot();
            *now = ShownTables();
        },
        [this, prepared, serial] {
            --preparing;
            // Only when nothing changed in place meanwhile, or those changes would be undone; such a
            // change has asked for a refresh of its own.
            if (serial == changeSerial && active)
                applyTables(std::move(*prepared));
            if (refreshWanted) {
                refreshWanted = false;
                refresh();
            }
            showBusy();
        });
    showBusy();
}

void RefreshCoordinator::applyTables(PreparedTables&& tables) {
    // the rows replaced are freed off the GUI thread: a million of them take a while
    auto replaced = std::make_shared<PreparedTables>();
    keeper(devicesModel, [&] {
        if (!tables.devicesDelta) {
            replaced->devices = devicesModel->setPrepared(std::move(tables.devices));
        } else {
            devicesModel->upsert(tables.changedDevices);
            devicesModel->removeIds(tables.goneDevices);
        }
    });
    keeper(usersModel, [&] {
        if (!tables.sameUsers)
            replaced->users = usersModel->setPrepared(std::move(tables.users));
    });
    keeper(groupsModel, [&] { replaced->groups = groupsModel->setPrepared(std::move(tables.groups)); });
    if (!tables.devicesDelta)
        replaced->names = std::exchange(deviceNames, std::move(tables.names));
    Aside::shared().run([replaced] { *replaced = PreparedTables(); });
    emit applied();
}

void RefreshCoordinator::refreshFailed(const QString& error) {
    refreshRuns.clear();
    showBusy();
    emit failed(error);
}
