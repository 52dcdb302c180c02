#include "dialogs/grouppickdialog.h"

#include "db/confighandler.h"
#include "dialogs/checkablelist.h"
#include "dialogs/groupeditdialog.h"

GroupPickDialog::GroupPickDialog(QWidget* parent, ConfigHandler* handler, bool adminFixed,
                                 const ShownRecords& shown)
    : QDialog(parent)
    , EditDialog(this)
    , handler(handler)
    , groupsModel(new CheckableIdList(this))
    , adminFixed(adminFixed)
    , shown(shown) {}

void GroupPickDialog::attachGroupsList(QListView* view) {
    groupsModel->attach(view);
    updateGroupsList();
}

bool GroupPickDialog::groupAdded() const {
    return added;
}

void GroupPickDialog::updateGroupsList() {
    groupsModel->fillGroups(shown.groups, handler->adminGroupId(), adminFixed);
}

void GroupPickDialog::on_checkAll_clicked() {
    groupsModel->checkAll();
}

void GroupPickDialog::on_uncheckAll_clicked() {
    groupsModel->uncheckAll();
}

void GroupPickDialog::on_addNewGroup_clicked() {
    GroupInfo group;
    if (GroupEditDialog::addNewGroup(this, handler, shown, this, &group)) {
        added = true;
        shown.groups.append(group);
        updateGroupsList();
    }
}
