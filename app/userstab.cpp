#include "app/userstab.h"

#include "app/groupstab.h"
#include "dialogs/passwordedit.h"
#include "dialogs/registrationdialog.h"
#include "dialogs/usersbulkeditdialog.h"

UsersTab::UsersTab(TabContext* context, QTableView* view, UserTableModel* model, const TabButtons& buttons,
                   GroupsTab* groups)
    : RecordTab(context, view, model, buttons)
    , groups(groups) {}

// A refused change opens the dialog again as it was left.
void UsersTab::edit(const UserInfo& user) {
    if (user.id == ROOT_ID) {
        changeRootPassword(user);
        return;
    }
    ConfigHandler* db = context->db();
    UserInfo entered = user;
    bool changed = false;
    RegistrationDialog dialog(context->window(), QString(), db, user);
    for (;;) {
        const bool accepted = dialog.exec() == QDialog::Accepted;
        changed |= dialog.groupAdded();
        if (!accepted)
            break;
        entered = dialog.getUserInfo();
        if (user.id > 0 && entered.login == user.login && entered.password == user.password &&
            sameGroups(entered.groups, user.groups))
            break;
        QString error;
        int id = user.id;
        bool ok;
        if (user.id == 0) {
            ok = db->addUser(entered, error, id);
            if (ok)
                db->addUserGroups(id, entered.groups);
        } else {
            ok = db->updateUser(entered, error);
        }
        if (ok) {
            if (changed)
                groups->show();
            show({id});
            return;
        }
        if (!context->refused(error))
            return;
        if (user.id > 0)
            show({user.id});
        entered.password = user.password;
        changed = true;
    }
    if (changed)
        groups->show();
}

// The built-in administrator keeps his login and groups: only his password changes.
void UsersTab::changeRootPassword(UserInfo root) {
    PasswordEdit dialog;
    dialog.setHeader(QStringLiteral("Изменение пароля пользователя:"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    ConfigHandler* db = context->db();
    root.password = db->hashPassword(dialog.getPassword());
    QString error;
    if (db->updateUser(root, error))
        show({root.id});
    else if (!context->connectionLost())
        context->showError(error.isEmpty() ? QStringLiteral("Не удалось сохранить изменения!") : error);
}

bool UsersTab::changeMany(const QVector<UserInfo>& users) {
    changeInBulk<UsersBulkEditDialog>(
        users, [](const UsersBulkEditDialog&) { return false; },
        [this](const UsersBulkEditDialog&, const QVector<int>& ids, const QVector<int>& add,
               const QVector<int>& remove) { return context->db()->changeUsersGroups(ids, add, remove); });
    return true;
}

void UsersTab::showChanged(const QVector<int>& ids) {
    show(ids);
    groups->show();
}

UsersTab::Deletion UsersTab::deletion() const {
    return {QStringLiteral("Удаление пользователей"),
            QStringLiteral("Вы действительно хотить удалить из базы выбранныx пользователей (%1 шт.)?"),
            QStringLiteral("Пользователь root не удалён: встроенного администратора удалить нельзя."),
            &ConfigHandler::deleteUser};
}

// The rows of these users read back and put in place, the group counts moved with them.
void UsersTab::show(const QVector<int>& ids) {
    bool read = false;
    const QVector<UserInfo> now = context->db()->getUsersByIds(ids, &read);
    const std::optional<ReadBack> change = putInPlace(ids, now, read);
    if (!change)
        return;
    groups->tableModel()->addToCounts(change->counts, {}, 0);
    context->shown();
}
