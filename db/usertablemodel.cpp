#include "db/usertablemodel.h"

#include "db/confighandler.h"
#include "db/groupnames.h"

UserTableModel::UserTableModel(QObject* parent, ConfigHandler* handler)
    : RecordTableModel(parent, {tr("Имя (логин)"), tr("В группах")})
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

int UserTableModel::recordCount() const {
    return rows.size();
}

QVariant UserTableModel::data(const QModelIndex& index, int role) const {
    if (!isRow(index))
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
