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
    ConfigHandler* db = context->db();
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
        QString error;
        const bool ok = group.id == 0 ? db->addGroup(entered, error) : db->updateGroup(seen, entered, error);
        if (ok)
            break;
        if (group.id == 0) {
            if (!context->refused(error))
                return;
        } else {
            const TabContext::EditRefusal next = context->editRefused(error);
            if (next == TabContext::EditRefusal::Gone) {
                show();
                return;
            }
            if (next != TabContext::EditRefusal::Again) {
                const QVector<GroupInfo> all = db->getGroups();
                const auto stored = std::find_if(all.cbegin(), all.cend(),
                                                 [&](const GroupInfo& g) { return g.id == group.id; });
                if (stored == all.cend()) {
                    show();
                    return;
                }
                seen = *stored;
                if (next == TabContext::EditRefusal::TakeStored)
                    entered.name = seen.name;
                else if (!db->updateGroup(seen, entered, error) && !context->refused(error))
                    return;
                else
                    break;
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
    const bool ok = db->asOneChange([&] {
        return (join.isEmpty() || db->changeUsersGroups(join, {entered.id}, {})) &&
               (leave.isEmpty() || db->changeUsersGroups(leave, {}, {entered.id}));
    });
    if (!ok) {
        if (context->connectionLost())
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

void GroupsTab::show() {
    ConfigHandler* db = context->db();
    const TableState state = TableState::of(table);
    const QVector<GroupInfo> groups = db->getGroups();
    const int adminId = db->adminGroupId();
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
