#pragma once

#include "db/records.h"
#include "dialogs/editdialog.h"

#include <QDialog>

class CheckableIdList;
class ConfigHandler;

namespace Ui {
class RegistrationDialog;
}

// Adds a user (login, password, groups) or edits one; the password is returned hashed.
// Writes nothing itself except a group created with "Добавить новую группу".
class RegistrationDialog : public QDialog, public EditDialog {
    Q_OBJECT

public:
    // A user with an empty login opens the dialog in add mode, any other in edit mode.
    RegistrationDialog(QWidget* parent, const QString& header, ConfigHandler* handler, const UserInfo& user);
    ~RegistrationDialog() override;

    UserInfo getUserInfo() const;

    void onAccept() override;

public slots:
    void updateGroupsList();

private slots:
    void on_checkAll_clicked();
    void on_uncheckAll_clicked();
    void on_addNewGroup_clicked();
    void on_showGroups_stateChanged(int arg1);

private:
    void setPasswordFieldsVisible(bool visible);

    Ui::RegistrationDialog* ui;
    ConfigHandler* handler;
    CheckableIdList* groupsModel;
    UserInfo user;
};
