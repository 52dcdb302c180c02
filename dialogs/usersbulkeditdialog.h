#pragma once

#include "core/records.h"
#include "dialogs/editdialog.h"

#include <QDialog>
#include <QVector>

class BulkGroupList;

namespace Ui {
class UsersBulkEditDialog;
}

// Changes the groups of many users at once. Writes nothing itself: the caller applies what the
// getters return, only what the administrator changed.
class UsersBulkEditDialog : public QDialog, public EditDialog {
    Q_OBJECT

public:
    UsersBulkEditDialog(QWidget* parent, const QVector<UserInfo>& users, const QVector<GroupInfo>& groups,
                        int adminGroupId);
    ~UsersBulkEditDialog() override;

    QVector<int> addGroupIds() const;
    QVector<int> removeGroupIds() const;

    void onAccept() override;

private:
    void updateSummary();

    Ui::UsersBulkEditDialog* ui;
    BulkGroupList* groupsModel;
    const int count;
};
