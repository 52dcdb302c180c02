#pragma once

#include "core/records.h"
#include "dialogs/editdialog.h"

#include <QDialog>
#include <QVector>

class BulkGroupList;

namespace Ui {
class DevicesBulkEditDialog;
}

// Changes the groups and the for-all flag of many devices at once. Writes nothing itself: the
// caller applies what the getters return, only what the administrator changed.
class DevicesBulkEditDialog : public QDialog, public EditDialog {
    Q_OBJECT

public:
    DevicesBulkEditDialog(QWidget* parent, const QVector<DeviceInfo>& devices,
                          const QVector<GroupInfo>& groups, int adminGroupId);
    ~DevicesBulkEditDialog() override;

    QVector<int> addGroupIds() const;
    QVector<int> removeGroupIds() const;
    Qt::CheckState forAll() const; // Qt::PartiallyChecked: leave as it is

    void onAccept() override;

private slots:
    void on_forAllCheck_stateChanged(int arg1);

private:
    void updateSummary();

    Ui::DevicesBulkEditDialog* ui;
    BulkGroupList* groupsModel;
    const int count;
    Qt::CheckState forAllStart = Qt::Unchecked;
};
