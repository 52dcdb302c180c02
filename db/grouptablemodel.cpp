#include "db/grouptablemodel.h"

#include "db/confighandler.h"

GroupTableModel::GroupTableModel(QObject* parent, ConfigHandler* handler)
    : RecordTableModel(parent, {tr("Название"), tr("Пользователей"), tr("Устройств")})
    , handler(handler) {}

void GroupTableModel::reload() {
    beginResetModel();
    rows.clear();
    const QVector<GroupInfo> groups = handler->getGroups();
    const QHash<int, int> users = handler->getGroupUsersCounts();
    const QHash<int, int> devices = handler->getGroupDevicesCounts();
    const int adminId = handler->adminGroupId();
    rows.reserve(groups.size());
    for (const GroupInfo& group : groups) {
        GroupRow row;
        row.usersCount = users.value(group.id);
        row.devicesCount = devices.value(group.id);
        row.group = group;
        if (adminId > 0 && group.id == adminId) {
            // the database keeps "Admin"; administrators see every device
            row.group.name = QStringLiteral("Администраторы");
            row.devicesCount = handler->getDevicesCount();
        }
        rows.append(row);
    }
    endResetModel();
}

int GroupTableModel::recordCount() const {
    return rows.size();
}

QVariant GroupTableModel::data(const QModelIndex& index, int role) const {
    if (!isRow(index))
        return QVariant();
    const GroupRow& row = rows.at(index.row());
    if (role == RecordRole)
        return QVariant::fromValue(row.group);
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case 0:
        return row.group.name;
    case 1:
        return row.usersCount;
    case 2:
        return row.devicesCount;
    default:
        return QVariant();
    }
}
