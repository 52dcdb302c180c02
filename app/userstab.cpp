#include "app/userstab.h"

#include "app/groupstab.h"
#include "dialogs/passwordedit.h"
#include "dialogs/registrationdialog.h"
#include "dialogs/usersbulkeditdialog.h"

#include <memory>

UsersTab::UsersTab(TabContext* context, QTableView* view, UserTableModel* model, const TabButtons& buttons,
                   GroupsTab* groups)
    : RecordTab(context, view, model, buttons,
                {QStringLiteral("Удаление пользователей"),
                 QStringLiteral("Вы действительно хотить удалить из базы выбранныx пользователей (%1 шт.)?"),
                 QStringLiteral("Пользователь root не удалён: встроенного администратора удалить нельзя."),
                 &ConfigHandler::deleteUser})
    , groups(groups) {}

// A refused change opens the dialog again as it was left. A stored user is changed against the
// record the dialog showed (`seen`), so that what others changed meanwhile stays.
void UsersTab::edit(const UserInfo& user) {
    if (user.id == ROOT_ID) {
        changeRootPassword(user);
        return;
    }
    ConfigHandler* db = context->db();
    UserInfo seen = user;
    UserInfo entered = user;
    bool changed = false;
    bool ask = true;
    auto dialog =
        std::make_unique<RegistrationDialog>(context->window(), QString(), db, user, context->shownRecords());
    for (;;) {
        if (ask) {
            const bool accepted = dialog->exec() == QDialog::Accepted;
            changed |= dialog->groupAdded();
            if (!accepted)
                break;
            entered = dialog->getUserInfo();
            if (user.id > 0 && sameRecord(entered, seen))
                break;
        }
        ask = true;
        // a new password entered stays new against the stored one
        const bool newPassword = entered.password != seen.password;
        const int id = user.id;
        const EditStep step = storeEdit(
            id, seen, changed,
            [id, seen, entered](ConfigHandler& db) {
                Stored stored;
                stored.ok = id == 0 ? db.addUser(entered, stored.error, stored.id)
                                    : db.updateUser(seen, entered, stored.error);
                return stored;
            },
            [id](ConfigHandler& db) { return db.getUsersByIds({id}); });
        if (step == EditStep::Stored || step == EditStep::Quit)
            return;
        changed = true;
        if (step == EditStep::Close)
            break;
        if (step == EditStep::TakeStored) {
            dialog = std::make_unique<RegistrationDialog>(context->window(), QString(), db, seen,
                                                          context->shownRecords());
        } else if (step == EditStep::Overwrite) {
            if (!newPassword)
                entered.password = seen.password;
            ask = false;
        }
    }
    if (changed)
        context->groupsChanged();
}

// The built-in administrator keeps his login and groups: only his password changes.
void UsersTab::changeRootPassword(UserInfo root) {
    PasswordEdit dialog;
    dialog.setHeader(QStringLiteral("Изменение пароля пользователя:"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    root.password = context->db()->hashPassword(dialog.getPassword());
    DbError why;
    const std::optional<Stored> stored =
        context->aside(std::function<Stored(ConfigHandler&)>([root](ConfigHandler& db) {
                           Stored tried;
                           tried.ok = db.updateUser(root, tried.error);
                           return tried;
                       }),
                       &why);
    if (!stored)
        return;
    if (stored->ok)
        show({root.id});
    else if (!context->connectionLost(why))
        context->showError(stored->error.isEmpty() ? QStringLiteral("Не удалось сохранить изменения!")
                                                   : stored->error);
}

bool UsersTab::changeMany(const QVector<UserInfo>& users) {
    changeInBulk<UsersBulkEditDialog>(
        users, [](const UsersBulkEditDialog&) { return false; },
        [](const UsersBulkEditDialog&, const QVector<int>& ids, const QVector<int>& add,
           const QVector<int>& remove) {
            return [=](ConfigHandler& db) {
                return db.changeUsersGroups(ids, add, remove);
            };
        });
    return true;
}

// The rows of these users read back and put in place, the group counts moved with them.
void UsersTab::show(const QVector<int>& ids) {
    DbError why;
    const std::optional<RowsRead<UserInfo>> now =
        context->aside(std::function<RowsRead<UserInfo>(ConfigHandler&)>([ids](ConfigHandler& db) {
                           RowsRead<UserInfo> rows;
                           rows.rows = db.getUsersByIds(ids, &rows.read);
                           return rows;
                       }),
                       &why);
    if (!now)
        return;
    const std::optional<ReadBack> change = putInPlace(ids, now->rows, now->read, why);
    if (!change)
        return;
    groups->tableModel()->addToCounts(change->counts, {}, 0);
    context->shown();
}
