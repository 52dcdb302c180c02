#include "models/grouptablemodel.h"
#include "core/schema.h"

QString GroupRowTraits::text(const Row& row, int column, const Context& /*none*/) {
    return column == 0 ? row.group.name : QString::number(number(row, column, 0));
}

QVariant GroupRowTraits::display(const Row& row, int column, const Context& /*none*/) {
    switch (column) {
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

bool GroupRowTraits::matches(const Row& row, const QString& needle, const Context& /*none*/) {
    for (int column = 0; column < columns(); ++column) {
        if (text(row, column, 0).contains(needle, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

GroupTableModel::GroupTableModel(QObject* parent, ConfigHandler* handler)
    : RecordRowsModel(parent, handler, {tr("Название"), tr("Пользователей"), tr("Устройств")}) {}

QVector<GroupRow> GroupTableModel::rowsOf(const QVector<GroupInfo>& groups, const QHash<int, int>& users,
                                          const QHash<int, int>& devices, int adminGroupId, int allDevices) {
    QVector<GroupRow> result;
    result.reserve(groups.size());
    for (const GroupInfo& group : groups) {
        GroupRow row{users.value(group.id), devices.value(group.id), group};
        if (adminGroupId > 0 && group.id == adminGroupId) {
            // the database keeps "Admin"; administrators see every device
            row.group.name = ADMIN_GROUP_TITLE;
            row.devicesCount = allDevices;
        }
        result.append(row);
    }
    return result;
}

void GroupTableModel::addToCounts(const QHash<int, int>& users, const QHash<int, int>& devices,
                                  int allDevices) {
    const int adminId = context;
    QVector<GroupRow> changed;
    for (const GroupRow& row : qAsConst(rows)) {
        const int id = row.group.id;
        const int byDevices = id == adminId ? allDevices : devices.value(id);
        const int byUsers = users.value(id);
        if (byDevices == 0 && byUsers == 0)
            continue;
        GroupRow r = row;
        r.usersCount += byUsers;
        r.devicesCount += byDevices;
        changed.append(r);
    }
    upsert(changed);
}

QVector<GroupRow> GroupRowTraits::rowsIn(const TablesSnapshot& s) {
    return GroupTableModel::rowsOf(s.groups, s.groupUsers, s.groupDevices, s.adminGroupId, s.devices.size());
}
