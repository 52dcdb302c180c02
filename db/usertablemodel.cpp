#include "db/usertablemodel.h"

#include "db/confighandler.h"
#include "db/groupnames.h"

UserTableModel::UserTableModel(QObject* parent, ConfigHandler* handler)
    : QAbstractTableModel(parent)
    , handler(handler) {}

void UserTableModel::reload() {
    beginResetModel();
    rows.clear();
    const QVector<UserInfo> users = handler->getUsers();
    const GroupNames names(handler->getGroups());
    const int adminId = handler->adminGroupId();
    rows.reserve(users.size());
    for (const UserInfo& user : users) {
        UserRow row;
        for (const int groupId : user.groups)
            row.groupNames << (adminId > 0 && groupId == adminId ? QStringLiteral("Администратор")
                                                                 : names.name(groupId));
        row.user = user;
        rows.append(row);
    }
    endResetModel();
}

int UserTableModel::rowCount(const QModelIndex& parent) const {
    // a table: cells have no children
    return parent.isValid() ? 0 : rows.size();
}

int UserTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant UserTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows.size())
        return QVariant();
    const UserRow& row = rows.at(index.row());
    if (role == RecordRole)
        return QVariant::fromValue(row.user);
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case 0:
        return row.user.login;
    case 1:
        return row.groupNames.join(QStringLiteral(", "));
    default:
        return QVariant();
    }
}

bool UserTableModel::setData(const QModelIndex& /*index*/, const QVariant& /*value*/, int /*role*/) {
    return false;
}

QVariant UserTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    switch (section) {
    case 0:
        return tr("Имя (логин)");
    case 1:
        return tr("В группах");
    default:
        return QVariant();
    }
}

Qt::ItemFlags UserTableModel::flags(const QModelIndex& index) const {
    return QAbstractTableModel::flags(index);
}
