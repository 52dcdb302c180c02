#include "models/preparedtables.h"

bool fewChanged(const QVector<DeviceInfo>& shown, const QVector<DeviceInfo>& read, int limit,
                QVector<DeviceInfo>& changed, QVector<int>& gone) {
    int i = 0, j = 0;
    while ((i < shown.size() || j < read.size()) && changed.size() + gone.size() <= limit) {
        if (j == read.size() || (i < shown.size() && shown.at(i).id < read.at(j).id)) {
            gone.append(shown.at(i++).id);
        } else if (i == shown.size() || read.at(j).id < shown.at(i).id) {
            changed.append(read.at(j++));
        } else {
            if (shown.at(i) != read.at(j))
                changed.append(read.at(j));
            ++i;
            ++j;
        }
    }
    return changed.size() + gone.size() <= limit;
}

PreparedTables prepareTables(const TablesSnapshot& s, const ShownTables& now) {
    const GroupNames names(s.groups, s.adminGroupId);
    const bool sameGroups = names == now.names;
    PreparedTables p;
    // each costs the GUI thread a pass over the column orders
    constexpr int fewDevices = 16;
    p.devicesDelta = sameGroups && !now.devices.isEmpty() &&
                     fewChanged(now.devices, s.devices, fewDevices, p.changedDevices, p.goneDevices);
    if (!p.devicesDelta) {
        p.changedDevices.clear();
        p.goneDevices.clear();
        p.names = DeviceNames::of(s.devices);
        p.devices = DevicesTableModel::prepareFrom(s);
        DevicesTableModel::matchAhead(p.devices, now.devicesShownBy);
    }
    p.sameUsers = sameGroups && s.users == now.users;
    if (!p.sameUsers) {
        p.users = UserTableModel::prepareFrom(s);
        UserTableModel::matchAhead(p.users, now.usersShownBy);
    }
    p.groups = GroupTableModel::prepareFrom(s);
    return p;
}
