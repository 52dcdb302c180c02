#include "dialogs/editdialog.h"

#include <QLineEdit>
#include <QMessageBox>

EditDialog::EditDialog(QWidget* owner)
    : owner(owner) {}

void EditDialog::showError(const QString& message) {
    QMessageBox::critical(owner, QStringLiteral("Ошибка"), message, QMessageBox::Ok, QMessageBox::NoButton);
}

void EditDialog::setTextWhole(QLineEdit* edit, const QString& text) {
    if (text.length() > edit->maxLength())
        edit->setMaxLength(text.length());
    edit->setText(text);
}
