#pragma once

#include "core/records.h"
#include "dialogs/grouppickdialog.h"

namespace Ui {
class RegistrationDialog;
}

// Adds a user (login, password, groups) or edits one; the password is returned hashed.
// Writes nothing itself except a group created with "Добавить новую группу".
class RegistrationDialog : public GroupPickDialog {
    Q_OBJECT

public:
    // A user with id 0 opens the dialog in add mode, where a password must be given, a stored
    // one in edit mode. Either way the login and groups show the user as given. Run again after
    // a refusal, it shows what was entered, the passwords and the groups section included.
    RegistrationDialog(QWidget* parent, const QString& header, ConfigHandler* handler, const UserInfo& user,
                       const ShownRecords& shown);
    ~RegistrationDialog() override;

    UserInfo getUserInfo() const;

    void onAccept() override;

private slots:
    void on_showGroups_stateChanged(int arg1);

private:
    void setPasswordFieldsVisible(bool visible);

    Ui::RegistrationDialog* ui;
    UserInfo user;
    const QByteArray storedPassword;
};
