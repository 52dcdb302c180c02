#include "db/usertablemodel.h"

#include "db/confighandler.h"
#include "db/groupnames.h"

UserTableModel::UserTableModel(QObject* parent, ConfigHandler* handler)
    : RecordRowsModel(parent, handler, {tr("Имя (логин)"), tr("В группах")}) {}

void UserTableModel::reload() {
    beginResetModel();
    rows.clear();
    const QVector<UserInfo> users = handler->getUsers();
    const GroupNames names(handler->getGroups(), handler->adminGroupId());
    rows.reserve(users.size());
    for (const UserInfo& user : users)
        rows.append({names.list(user.groups, QStringLiteral("Администратор")), user});
    endResetModel();
}

QVariant UserTableModel::record(int row) const {
    return QVariant::fromValue(rows.at(row).user);
}

QVariant UserTableModel::cell(int row, int column) const {
    const UserRow& r = rows.at(row);
    switch (column) {
    case 0:
        return r.user.login;
    case 1:
        return r.groupNames.join(QStringLiteral(", "));
    default:
        return QVariant();
    }
}
