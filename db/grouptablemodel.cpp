#include "db/grouptablemodel.h"

#include "db/confighandler.h"

GroupTableModel::GroupTableModel(QObject* parent, ConfigHandler* handler)
    : RecordRowsModel(parent, handler, {tr("Название"), tr("Пользователей"), tr("Устройств")}) {}

void GroupTableModel::reload() {
    beginResetModel();
    rows.clear();
    const QVector<GroupInfo> groups = handler->getGroups();
    const QHash<int, int> users = handler->getGroupUsersCounts();
    const QHash<int, int> devices = handler->getGroupDevicesCounts();
    const int adminId = handler->adminGroupId();
    rows.reserve(groups.size());
    for (const GroupInfo& group : groups) {
        GroupRow row{users.value(group.id), devices.value(group.id), group};
        if (adminId > 0 && group.id == adminId) {
            // the database keeps "Admin"; administrators see every device
            row.group.name = QStringLiteral("Администраторы");
            row.devicesCount = handler->getDevicesCount();
        }
        rows.append(row);
    }
    endResetModel();
}

QVariant GroupTableModel::record(int row) const {
    return QVariant::fromValue(rows.at(row).group);
}

QVariant GroupTableModel::cell(int row, int column) const {
    const GroupRow& r = rows.at(row);
    switch (column) {
    case 0:
        return r.group.name;
    case 1:
        return r.usersCount;
    case 2:
        return r.devicesCount;
    default:
        return QVariant();
    }
}
