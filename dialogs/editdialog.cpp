#include "dialogs/editdialog.h"

#include <QMessageBox>

EditDialog::EditDialog(QWidget* owner)
    : owner(owner)
{
}

void EditDialog::showError(const QString& message)
{
    QMessageBox::critical(owner, QStringLiteral("Ошибка"), message, QMessageBox::Ok, QMessageBox::NoButton);
}
