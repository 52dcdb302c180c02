#pragma once

#include "app/recordtab.h"
#include "core/schema.h"
#include "models/usertablemodel.h"

class GroupsTab;

// The users tab: one user in the registration dialog (root only in the password dialog), many
// in the bulk dialog, deletion of all but root.
class UsersTab : public RecordTab<UserInfo, UserTableModel> {
public:
    UsersTab(TabContext* context, QTableView* view, UserTableModel* model, const TabButtons& buttons,
             GroupsTab* groups);

    void show(const QVector<int>& ids);

protected:
    void edit(const UserInfo& user) override;
    bool changeMany(const QVector<UserInfo>& users) override;
    int protectedId() const override { return ROOT_ID; }
    void readBack(const QVector<int>& ids, bool /*gone*/) override { show(ids); }

private:
    void changeRootPassword(UserInfo root);

    GroupsTab* const groups;
};
