#include "dialogs/usersbulkeditdialog.h"
#include "ui_usersbulkeditdialog.h"

#include "core/schema.h"

#include <algorithm>

UsersBulkEditDialog::UsersBulkEditDialog(QWidget* parent, const QVector<UserInfo>& users,
                                         const QVector<GroupInfo>& groups, int adminGroupId)
    : BulkEditDialog(
          parent, users.size(),
          {QStringLiteral("пользователь"), QStringLiteral("пользователя"), QStringLiteral("пользователей")})
    , ui(new Ui::UsersBulkEditDialog) {
    ui->setupUi(this);
    // root never leaves the administrators' group
    const bool withRoot =
        std::any_of(users.cbegin(), users.cend(), [](const UserInfo& u) { return u.id == ROOT_ID; });
    setUp(QStringLiteral("Изменение пользователей (%1)"), ui->groupsView, ui->summaryLabel, ui->buttonBox,
          groups, BulkGroupList::memberCounts(users), adminGroupId,
          withRoot ? BulkGroupList::AdminRow::Fixed : BulkGroupList::AdminRow::Removable);
}

UsersBulkEditDialog::~UsersBulkEditDialog() {
    delete ui;
}
