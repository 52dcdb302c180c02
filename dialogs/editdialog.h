#pragma once

#include <QString>

class QLineEdit;
class QWidget;

// Second base of every edit dialog: the OK check and the error box.
class EditDialog {
public:
    explicit EditDialog(QWidget* owner);

    // Runs when OK is pressed: checks the input, shows the first failure with
    // showError and keeps the dialog open, or stores the result and accepts.
    virtual void onAccept() = 0;

    void showError(const QString& message);

    // Puts a stored value into a field without cutting it to the field's length limit,
    // so that pressing OK never shortens what is stored.
    static void setTextWhole(QLineEdit* edit, const QString& text);

protected:
    ~EditDialog() = default;

private:
    QWidget* const owner;
};
