#include "dialogs/usersbulkeditdialog.h"
#include "ui_usersbulkeditdialog.h"

#include "dialogs/bulkgrouplist.h"

#include <algorithm>

namespace {
constexpr int ROOT_USER_ID = 1;
}

UsersBulkEditDialog::UsersBulkEditDialog(QWidget* parent, const QVector<UserInfo>& users,
                                         const QVector<GroupInfo>& groups, int adminGroupId)
    : QDialog(parent)
    , EditDialog(this)
    , ui(new Ui::UsersBulkEditDialog)
    , groupsModel(new BulkGroupList(this))
    , count(users.size()) {
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Изменение пользователей (%1)").arg(spacedNumber(count)));
    // root never leaves the administrators' group
    const bool withRoot =
        std::any_of(users.cbegin(), users.cend(), [](const UserInfo& u) { return u.id == ROOT_USER_ID; });
    groupsModel->attach(ui->groupsView);
    groupsModel->fill(groups, BulkGroupList::memberCounts(users), count, adminGroupId,
                      withRoot ? BulkGroupList::AdminRow::Fixed : BulkGroupList::AdminRow::Removable);
    connect(groupsModel, &QAbstractItemModel::dataChanged, this, &UsersBulkEditDialog::updateSummary);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &UsersBulkEditDialog::onAccept);
    updateSummary();
}

UsersBulkEditDialog::~UsersBulkEditDialog() {
    delete ui;
}

QVector<int> UsersBulkEditDialog::addGroupIds() const {
    return groupsModel->addedIds();
}

QVector<int> UsersBulkEditDialog::removeGroupIds() const {
    return groupsModel->removedIds();
}

void UsersBulkEditDialog::onAccept() {
    accept();
}

void UsersBulkEditDialog::updateSummary() {
    ui->summaryLabel->setText(
        bulkSummary(groupsModel->addedIds().size(), groupsModel->removedIds().size(), {},
                    countedText(count, QStringLiteral("пользователь"), QStringLiteral("пользователя"),
                                QStringLiteral("пользователей"))));
}
