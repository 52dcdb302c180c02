#include "dialogs/passwordedit.h"
#include "ui_passwordedit.h"

#include "core/schema.h"

PasswordEdit::PasswordEdit(QWidget* parent)
    : QDialog(parent)
    , EditDialog(nullptr)
    , ui(new Ui::PasswordEdit) {
    ui->setupUi(this);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &PasswordEdit::onAccept);
}

PasswordEdit::~PasswordEdit() {
    delete ui;
}

void PasswordEdit::setHeader(const QString& header) {
    ui->headerLabel->setText(header);
    // A header wrapped over several lines needs more height than the form gives; a window's
    // layout does not grow for it by itself.
    resize(width(), qMax(height(), heightForWidth(width())));
}

QString PasswordEdit::getPassword() const {
    return ui->pwEdit->text();
}

void PasswordEdit::onAccept() {
    if (ui->pwEdit->text().isEmpty()) {
        showError(QStringLiteral("Введите пароль!"));
        return;
    }
    if (ui->pwEdit2->text() != ui->pwEdit->text()) {
        showError(QStringLiteral("Пароли не совпадают!"));
        return;
    }
    if (ui->pwEdit->text() == ROOT_DEFAULT_PASSWORD) {
        showError(QStringLiteral("Это пароль по умолчанию, он известен всем: введите другой!"));
        return;
    }
    accept();
}
