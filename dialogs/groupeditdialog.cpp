#include "dialogs/groupeditdialog.h"
#include "ui_groupeditdialog.h"

#include "db/confighandler.h"
#include "dialogs/checkablelist.h"

namespace {
// The built-in administrator; he never leaves the administrators' group.
constexpr int rootUserId = 1;
} // namespace

GroupEditDialog::GroupEditDialog(QWidget* parent, ConfigHandler* handler, const GroupInfo& group)
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
    updateUsersList();
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &GroupEditDialog::onAccept);
}

GroupEditDialog::~GroupEditDialog() {
    delete ui;
}

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
        ids << rootUserId;
    usersModel->applyIds(ids);
}

void GroupEditDialog::updateUsersList() {
    usersModel->fillUsers(handler, group.id, isAdminGroup() ? rootUserId : 0);
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
    group.name = name;
    selectedUsers = usersModel->checkedIds();
    accept();
}
