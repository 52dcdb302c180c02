#pragma once

#include "core/records.h"
#include "models/devicestablemodel.h"
#include "models/grouptablemodel.h"
#include "models/usertablemodel.h"

// The three tables' rows with their column orders, made off the GUI thread.
struct PreparedTables {
    // A refresh that found few devices changed puts just those in place; users equal to those
    // shown stay as they are.
    bool devicesDelta = false;
    QVector<DeviceInfo> changedDevices;
    QVector<int> goneDevices;
    bool sameUsers = false;
    DeviceNames names;
    DevicesTableModel::Prepared devices;
    UserTableModel::Prepared users;
    GroupTableModel::Prepared groups;
};

// What the models show when a refresh arrives; copies that share the models' rows.
struct ShownTables {
    QVector<DeviceInfo> devices;
    QVector<UserInfo> users;
    GroupNames names;
    RecordTableModel::ShownBy devicesShownBy;
    RecordTableModel::ShownBy usersShownBy;
};

// The rows of `read` that differ from `shown` (both in id order) and the ids gone from it; false
// when there are more than `limit`.
bool fewChanged(const QVector<DeviceInfo>& shown, const QVector<DeviceInfo>& read, int limit,
                QVector<DeviceInfo>& changed, QVector<int>& gone);

// A refresh that finds nothing new, the usual one, costs little more than its read, and one that
// finds a few devices changed elsewhere puts just those in place: all rows get new column orders
// only when many changed or group names did.
PreparedTables prepareTables(const TablesSnapshot& s, const ShownTables& now);
