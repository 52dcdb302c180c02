#include "dialogs/groupeditdialog.h"
#include "ui_groupeditdialog.h"

#include "core/schema.h"
#include "db/confighandler.h"
#include "dialogs/checkablelist.h"

GroupEditDialog::GroupEditDialog(QWidget* parent, ConfigHandler* handler, const GroupInfo& group,
                                 const QVector<UserInfo>& users)
    : QDialog(parent)
    , EditDialog(this)
    , ui(new Ui::GroupEditDialog)
    , handler(handler)
    , group(group)
    , usersModel(new CheckableIdList(this)) {
    ui->setupUi(this);
    if (group.id > 0)
        setWindowTitle(QStringLiteral("Редактирование группы"));
    setTextWhole(ui->groupNameEdit, group.name);
    // The administrators' group keeps its name and root stays in it.
    if (isAdminGroup())
        ui->groupNameEdit->setReadOnly(true);
    usersModel->attach(ui->usersView);
    fillUsers(users);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &GroupEditDialog::onAccept);
}

GroupEditDialog::~GroupEditDialog() {
    delete ui;
}

// The built-in administrator never leaves the administrators' group.
bool GroupEditDialog::isAdminGroup() const {
    return group.id > 0 && group.id == handler->adminGroupId();
}

GroupInfo GroupEditDialog::getGroupInfo() const {
    return group;
}

QVector<int> GroupEditDialog::getSelectedUsers() const {
    return selectedUsers;
}

void GroupEditDialog::setSelectedUsers(const QVector<int>& userIds) {
    QVector<int> ids = userIds;
    if (isAdminGroup())
        ids << ROOT_ID;
    usersModel->applyIds(ids);
}

void GroupEditDialog::fillUsers(const QVector<UserInfo>& users) {
    shown.clear();
    if (group.id > 0) {
        for (const UserInfo& user : users) {
            if (user.groups.contains(group.id))
                shown.append(user.id);
        }
    }
    usersModel->fillUsers(users, shown, isAdminGroup() ? ROOT_ID : 0);
}

void GroupEditDialog::on_checkAll_clicked() {
    usersModel->checkAll();
}

void GroupEditDialog::on_uncheckAll_clicked() {
    usersModel->uncheckAll();
}

void GroupEditDialog::onAccept() {
    const QString name = ui->groupNameEdit->text().trimmed();
    if (name.isEmpty()) {
        showError(QStringLiteral("Введите имя группы!"));
        return;
    }
    // Another group with the administrators' name would pass for theirs in every list.
    if (!isAdminGroup()) {
        for (const QString& reserved : {ADMIN_GROUP_NAME, ADMIN_GROUP_TITLE, ADMIN_MEMBER_TITLE}) {
            if (name.compare(reserved, Qt::CaseInsensitive) == 0) {
                showError(
                    QStringLiteral("Имя «%1» носит группа администраторов, выберите другое!").arg(name));
                return;
            }
        }
    }
    group.name = name;
    selectedUsers = usersModel->checkedIds();
    accept();
}

bool GroupEditDialog::addNewGroup(QWidget* parent, ConfigHandler* handler, const ShownRecords& shown,
                                  EditDialog* errors, GroupInfo* added) {
    GroupEditDialog dialog(parent, handler, GroupInfo(), shown.users);
    // A refused group opens the dialog again as it was left.
    while (dialog.exec() == QDialog::Accepted) {
        GroupInfo group = dialog.getGroupInfo();
        QString error;
        if (shown.addGroup && shown.addGroup(group, error)) {
            if (added)
                *added = group;
            return true;
        }
        errors->showError(error.isEmpty() ? QStringLiteral("Не удалось добавить группу!") : error);
    }
    return false;
}
