#include "db/grouptablemodel.h"

#include "db/confighandler.h"

GroupTableModel::GroupTableModel(QObject* parent, ConfigHandler* handler)
    : QAbstractTableModel(parent)
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

int GroupTableModel::rowCount(const QModelIndex& parent) const {
    // a table: cells have no children
    return parent.isValid() ? 0 : rows.size();
}

int GroupTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 3;
}

QVariant GroupTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows.size())
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

bool GroupTableModel::setData(const QModelIndex& /*index*/, const QVariant& /*value*/, int /*role*/) {
    return false;
}

QVariant GroupTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    switch (section) {
    case 0:
        return tr("Название");
    case 1:
        return tr("Пользователей");
    case 2:
        return tr("Устройств");
    default:
        return QVariant();
    }
}

Qt::ItemFlags GroupTableModel::flags(const QModelIndex& index) const {
    return QAbstractTableModel::flags(index);
}
