#pragma once

#include "app/recordtab.h"
#include "models/devicestablemodel.h"

#include <QDateTime>
#include <QStringList>

class GroupsTab;
class OrbServerHandler;

// The devices tab: one device in its dialog, many in the bulk dialog, deletion.
class DevicesTab : public RecordTab<DeviceInfo, DevicesTableModel> {
public:
    DevicesTab(TabContext* context, QTableView* view, DevicesTableModel* model, const TabButtons& buttons,
               GroupsTab* groups, OrbServerHandler* server);

    // deleted: the rows are known to be gone, nothing is read
    void show(const QVector<int>& ids, bool deleted = false);

protected:
    void edit(const DeviceInfo& device) override;
    bool changeMany(const QVector<DeviceInfo>& devices) override;
    bool* askAgain() override { return &askDeleting; }
    std::function<int(ConfigHandler&)> deleting(const QVector<int>& ids) const override;
    void readBack(const QVector<int>& ids, bool gone) override { show(ids, gone); }

private:
    // The server's IMEIs for the device dialog, made aside once per list received.
    void followServerList();

    GroupsTab* const groups;
    OrbServerHandler* const server;
    QStringList completions; // ascending
    QDateTime completionsOf;
    // cleared by "больше не спрашивать"; never stored
    bool askDeleting = true;
};
