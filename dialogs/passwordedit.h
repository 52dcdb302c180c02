#pragma once

#include "dialogs/editdialog.h"

#include <QDialog>

namespace Ui {
class PasswordEdit;
}

// Asks root's new password twice and returns it as plain text; the caller hashes it. The
// default password is refused.
class PasswordEdit : public QDialog, public EditDialog {
    Q_OBJECT

public:
    explicit PasswordEdit(QWidget* parent = nullptr);
    ~PasswordEdit() override;

    void setHeader(const QString& header);
    QString getPassword() const;

public slots:
    void onAccept() override;

private:
    Ui::PasswordEdit* ui;
};
