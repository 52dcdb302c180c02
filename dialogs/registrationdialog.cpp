#include "dialogs/registrationdialog.h"
#include "ui_registrationdialog.h"

#include "db/confighandler.h"
#include "dialogs/checkablelist.h"

RegistrationDialog::RegistrationDialog(QWidget* parent, const QString& header, ConfigHandler* handler,
                                       const UserInfo& user, const ShownRecords& shown)
    : GroupPickDialog(parent, handler, false, shown)
    , ui(new Ui::RegistrationDialog)
    , user(user)
    , storedPassword(user.password) {
    ui->setupUi(this);
    ui->header->setText(header);

    attachGroupsList(ui->groupsView);

    if (user.id > 0) {
        setWindowTitle(QStringLiteral("Редактирование пользователя"));
        setPasswordFieldsVisible(false);
    } else {
        // A new user must be given a password.
        ui->changePw->setChecked(true);
        ui->changePw->hide();
        setPasswordFieldsVisible(true);
    }
    setTextWhole(ui->loginEdit, user.login);
    groupsModel->applyIds(user.groups);
    connect(ui->changePw, &QCheckBox::stateChanged, this,
            [this](int) { setPasswordFieldsVisible(ui->changePw->isChecked()); });
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &RegistrationDialog::onAccept);

    ui->groupsGroup->hide();
    adjustSize();
}

RegistrationDialog::~RegistrationDialog() {
    delete ui;
}

UserInfo RegistrationDialog::getUserInfo() const {
    return user;
}

void RegistrationDialog::setPasswordFieldsVisible(bool visible) {
    ui->pwEdit->setVisible(visible);
    ui->pwEdit2->setVisible(visible);
    ui->label_3->setVisible(visible);
    ui->label_4->setVisible(visible);
    adjustSize();
}

void RegistrationDialog::on_showGroups_stateChanged(int arg1) {
    Q_UNUSED(arg1)
    ui->groupsGroup->setVisible(ui->showGroups->isChecked());
    adjustSize();
}

void RegistrationDialog::onAccept() {
    const QString login = ui->loginEdit->text().trimmed();
    if (login.isEmpty()) {
        showError(QStringLiteral("Введите логин!"));
        return;
    }
    if (ui->changePw->isChecked()) {
        const QString password = ui->pwEdit->text();
        if (password.isEmpty()) {
            showError(QStringLiteral("Введите пароль!"));
            return;
        }
        if (ui->pwEdit2->text() != password) {
            showError(QStringLiteral("Пароли не совпадают!"));
            return;
        }
        user.password = handler->hashPassword(password);
    } else {
        user.password = storedPassword;
    }
    user.login = login;
    user.groups = groupsModel->checkedIds();
    accept();
}
