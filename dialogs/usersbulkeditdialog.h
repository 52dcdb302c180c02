#pragma once

#include "dialogs/bulkeditdialog.h"

namespace Ui {
class UsersBulkEditDialog;
}

// Changes the groups of many users at once.
class UsersBulkEditDialog : public BulkEditDialog {
    Q_OBJECT

public:
    UsersBulkEditDialog(QWidget* parent, const QVector<UserInfo>& users, const QVector<GroupInfo>& groups,
                        int adminGroupId);
    ~UsersBulkEditDialog() override;

private:
    Ui::UsersBulkEditDialog* ui;
};
