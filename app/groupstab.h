#pragma once

#include "app/recordtab.h"
#include "models/grouptablemodel.h"

#include <functional>
#include <utility>

class DevicesTableModel;
class UserTableModel;

// The groups tab: a group's name and users in the group dialog, deletion of all but the
// administrators' group. Its rows are what the other tabs show as group names.
class GroupsTab : public RecordTab<GroupInfo, GroupTableModel> {
public:
    GroupsTab(TabContext* context, QTableView* view, GroupTableModel* model, const TabButtons& buttons,
              DevicesTableModel* devices);
    // The users' rows, which change with a group's users, and how the users tab reads them back.
    void setUsers(UserTableModel* model, std::function<void(const QVector<int>&)> readBack) {
        usersModel = model;
        showUsers = std::move(readBack);
    }

    // Groups are few: their list is read again; the counts of kept groups stay as shown until
    // the next refresh, new ones start at what is known of them.
    void show();

protected:
    void edit(const GroupInfo& group) override;
    int protectedId() const override { return context->db()->adminGroupId(); }
    void readBack(const QVector<int>& ids, bool gone) override;

private:
    std::optional<Stored> storing(const GroupInfo& seen, const GroupInfo& entered, DbError* why);

    DevicesTableModel* const devices;
    UserTableModel* usersModel = nullptr;
    std::function<void(const QVector<int>&)> showUsers;
};
