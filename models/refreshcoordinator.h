#pragma once

#include "core/records.h"

#include <QObject>
#include <QVector>

#include <functional>

class DevicesTableModel;
class GroupTableModel;
class RecordTableModel;
class TableRefresher;
class UserTableModel;
struct PreparedTables;

// Keeps the three table models in step with the database: complete refreshes read and prepared
// off the GUI thread, and changes shown in place meanwhile, which make an older refresh stale.
// One copy of the tables at a time besides the shown one.
class RefreshCoordinator : public QObject {
    Q_OBJECT

public:
    // Wraps the replacement of a model's rows, to keep what the person sees of them.
    using Keeper = std::function<void(RecordTableModel* model, const std::function<void()>& replace)>;

    RefreshCoordinator(TableRefresher* refresher, DevicesTableModel* devices, UserTableModel* users,
                       GroupTableModel* groups, QObject* parent = nullptr);

    void setKeeper(Keeper keeper);
    // Starts a complete refresh, or asks for one after what runs.
    void refresh();
    // A change was shown in place: a refresh asked for before it would undo it; one is asked for now.
    void changeShown();
    // While inactive (no usable database) nothing is applied; deactivating drops what runs.
    void setActive(bool active);
    // Reading, preparing or about to read again.
    bool isBusy() const;

signals:
    void busyChanged(bool busy);
    // New rows are in the models.
    void applied();
    // The rows stay as they are.
    void failed(const QString& error);

private:
    void tablesRefreshed(const TablesSnapshot& snapshot);
    void refreshFailed(const QString& error);
    void applyTables(PreparedTables&& tables);
    void showBusy();

    TableRefresher* const refresher;
    DevicesTableModel* const devicesModel;
    UserTableModel* const usersModel;
    GroupTableModel* const groupsModel;
    Keeper keeper;
    bool active = true;
    // Counts the changes shown in place; a refresh asked for before the latest one is stale.
    quint64 changeSerial = 0;
    QVector<quint64> refreshRuns; // changeSerial of each refresh asked for and not yet delivered
    int preparing = 0;            // rows being prepared off the GUI thread
    bool refreshWanted = false;   // asked for while rows were being prepared
    // The names of the devices last read; only ever replaced whole, so a refresh may share them.
    DeviceNames deviceNames;
};
