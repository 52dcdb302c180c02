#include "app/groupstab.h"

#include "dialogs/groupeditdialog.h"
#include "models/devicestablemodel.h"
#include "models/groupnames.h"
#include "models/usertablemodel.h"

#include <algorithm>

GroupsTab::GroupsTab(TabContext* context, QTableView* view, GroupTableModel* model, const TabButtons& buttons,
                     DevicesTableModel* devices)
    : RecordTab(context, view, model, buttons,
                {QStringLiteral("Удаление групп"),
                 QStringLiteral("Вы действительно хотить удалить из базы выбранные группы (%1 шт.)?"),
                 QStringLiteral("Группа администраторов не удалена: её удалить нельзя."),
                 &ConfigHandler::deleteGroup})
    , devices(devices) {
    connect(context, &TabContext::membershipsChanged, this, &GroupsTab::show);
}

// A new group (id 0) is added, a stored one renamed against the name the dialog showed; then the
// users ticked join it and those unticked leave it, others stay. A refused name opens the dialog
// again with what was entered.
void GroupsTab::edit(const GroupInfo& group) {
    ConfigHandler* db = context->db(); // the dialog's group names
    GroupInfo seen = group;
    GroupInfo entered = group;
    QVector<int> members;
    QVector<int> shownMembers;
    bool refusedBefore = false;
    for (;;) {
        GroupEditDialog dialog(context->window(), db, entered, context->shownRecords().users);
        if (refusedBefore)
            dialog.setSelectedUsers(members);
        else
            shownMembers = dialog.shownUsers();
        if (dialog.exec() != QDialog::Accepted)
            return;
        entered = dialog.getGroupInfo();
        members = dialog.getSelectedUsers();
        DbError why;
        std::optional<Stored> tried = storing(seen, entered, &why);
        if (!tried)
            return;
        if (tried->ok) {
            entered.id = tried->id;
            break;
        }
        if (group.id == 0) {
            if (!context->refused(tried->error, why))
                return;
        } else {
            const TabContext::EditRefusal next = context->editRefused(tried->error, why);
            if (next == TabContext::EditRefusal::Gone) {
                show();
                return;
            }
            if (next != TabContext::EditRefusal::Again) {
                const std::optional<QVector<GroupInfo>> all =
                    context->aside(std::function<QVector<GroupInfo>(ConfigHandler&)>(
                        [](ConfigHandler& db) { return db.getGroups(); }));
                if (!all)
                    return;
                const auto stored = std::find_if(all->cbegin(), all->cend(),
                                                 [&](const GroupInfo& g) { return g.id == group.id; });
                if (stored == all->cend()) {
                    show();
                    return;
                }
                seen = *stored;
                if (next == TabContext::EditRefusal::TakeStored) {
                    entered.name = seen.name;
                } else {
                    tried = storing(seen, entered, &why);
                    if (!tried || (!tried->ok && !context->refused(tried->error, why)))
                        return;
                    break;
                }
            }
        }
        entered.id = group.id;
        refusedBefore = true;
    }
    QVector<int> join;
    QVector<int> leave;
    for (const int id : members) {
        if (!shownMembers.contains(id))
            join << id;
    }
    for (const int id : qAsConst(shownMembers)) {
        if (!members.contains(id))
            leave << id;
    }
    DbError why;
    const std::optional<bool> ok =
        context->aside(std::function<bool(ConfigHandler&)>([join, leave, id = entered.id](ConfigHandler& db) {
                           return db.asOneChange([&] {
                               return (join.isEmpty() || db.changeUsersGroups(join, {id}, {})) &&
                                      (leave.isEmpty() || db.changeUsersGroups(leave, {}, {id}));
                           });
                       }),
                       &why);
    if (!ok)
        return;
    if (!*ok) {
        if (context->connectionLost(why))
            return;
        // The group itself is stored; say so rather than show an empty box.
        context->showError(QStringLiteral("Группа сохранена, но не удалось изменить её пользователей!"));
    }
    show();
    showUsers(join + leave);
}

void GroupsTab::readBack(const QVector<int>& ids, bool /*gone*/) {
    QVector<int> affected;
    for (const UserInfo& user : usersModel->storedRows()) {
        for (const int id : ids) {
            if (user.groups.contains(id)) {
                affected.append(user.id);
                break;
            }
        }
    }
    show();
    showUsers(affected);
}

// A group added (seen.id 0) or renamed against `seen`, on the lane.
std::optional<GroupsTab::Stored> GroupsTab::storing(const GroupInfo& seen, const GroupInfo& entered,
                                                    DbError* why) {
    return context->aside(std::function<Stored(ConfigHandler&)>([seen, entered](ConfigHandler& db) {
                              Stored stored;
                              GroupInfo group = entered;
                              stored.ok = seen.id == 0 ? db.addGroup(group, stored.error)
                                                       : db.updateGroup(seen, group, stored.error);
                              stored.id = group.id;
                              return stored;
                          }),
                          why);
}

void GroupsTab::show() {
    const std::optional<QVector<GroupInfo>> read = context->aside(
        std::function<QVector<GroupInfo>(ConfigHandler&)>([](ConfigHandler& db) { return db.getGroups(); }));
    if (!read)
        return;
    const QVector<GroupInfo>& groups = *read;
    const TableState state = TableState::of(table);
    const int adminId = context->db()->adminGroupId();
    QHash<int, int> userCounts, deviceCounts;
    QSet<int> ids;
    for (const GroupInfo& group : groups) {
        ids.insert(group.id);
        if (const GroupRow* row = model->rowOf(group.id)) {
            userCounts.insert(group.id, row->usersCount);
            deviceCounts.insert(group.id, row->devicesCount);
        }
    }
    QVector<int> gone;
    for (const GroupRow& row : model->storedRows()) {
        if (!ids.contains(row.group.id))
            gone.append(row.group.id);
    }
    model->upsert(GroupTableModel::rowsOf(groups, userCounts, deviceCounts, adminId, devices->storedCount()));
    model->removeIds(gone);
    const GroupNames names(groups, adminId);
    devices->setContext(names);
    usersModel->setContext(names);
    state.restore(table);
    context->shown();
}
