#pragma once

#include "dialogs/bulkeditdialog.h"

namespace Ui {
class DevicesBulkEditDialog;
}

// Changes the groups and the for-all flag of many devices at once.
class DevicesBulkEditDialog : public BulkEditDialog {
    Q_OBJECT

public:
    DevicesBulkEditDialog(QWidget* parent, const QVector<DeviceInfo>& devices,
                          const QVector<GroupInfo>& groups, int adminGroupId);
    ~DevicesBulkEditDialog() override;

    Qt::CheckState forAll() const; // Qt::PartiallyChecked: leave as it is

private slots:
    void on_forAllCheck_stateChanged(int arg1);

private:
    QStringList otherChanges() const override;

    Ui::DevicesBulkEditDialog* ui;
    Qt::CheckState forAllStart = Qt::Unchecked;
};
