#pragma once

#include "core/records.h"
#include "dialogs/editdialog.h"
#include "dialogs/shownrecords.h"

#include <QDialog>
#include <QVector>

class CheckableIdList;
class ConfigHandler;

namespace Ui {
class GroupEditDialog;
}

// Adds a group or renames one, and picks its users. Writes nothing itself.
class GroupEditDialog : public QDialog, public EditDialog {
    Q_OBJECT

public:
    // A group with id 0 opens the dialog in add mode, a stored one in edit mode, its members
    // checked. Either way the name field shows the group's name.
    // `users` are the users as the window holds them, with their groups.
    GroupEditDialog(QWidget* parent, ConfigHandler* handler, const GroupInfo& group,
                    const QVector<UserInfo>& users);
    ~GroupEditDialog() override;

    GroupInfo getGroupInfo() const;
    QVector<int> getSelectedUsers() const;
    // The group's users as the dialog showed them when it opened.
    QVector<int> shownUsers() const { return shown; }
    // Checks exactly these users; root stays checked in the administrators' group.
    void setSelectedUsers(const QVector<int>& userIds);

    void onAccept() override;

    // "Добавить новую группу" of the dialogs with a group list: asks for a group and stores it
    // as `shown` says. True when a group was added (the caller refills its list); a refused
    // group is reported through `errors` and the dialog opens again as it was left. `added`
    // gets the stored group.
    static bool addNewGroup(QWidget* parent, ConfigHandler* handler, const ShownRecords& shown,
                            EditDialog* errors, GroupInfo* added = nullptr);

private slots:
    void on_checkAll_clicked();
    void on_uncheckAll_clicked();

private:
    void fillUsers(const QVector<UserInfo>& users);
    bool isAdminGroup() const;

    Ui::GroupEditDialog* ui;
    ConfigHandler* handler;
    GroupInfo group;
    QVector<int> selectedUsers;
    QVector<int> shown;
    CheckableIdList* usersModel;
};
