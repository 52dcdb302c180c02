#pragma once

#include "db/records.h"
#include "dialogs/editdialog.h"

#include <QDialog>
#include <QVector>

class CheckableIdList;
class ConfigHandler;
class DevicesToAddTableModel;
class QSortFilterProxyModel;

namespace Ui {
class AddDevicesDialog;
}

// Picks devices from a list (the server's or a file's), with their groups and the
// for-all flag, for adding them in one go. Writes nothing itself except a group
// created with "Создать новую группу".
class AddDevicesDialog : public QDialog, public EditDialog {
    Q_OBJECT

public:
    AddDevicesDialog(QWidget* parent, ConfigHandler* handler);
    ~AddDevicesDialog() override;

    void setDevices(const QVector<DeviceInfo>& devices);
    // The checked devices, each given the checked groups and the for-all flag.
    QVector<DeviceInfo> selectedDevices() const;

    void onAccept() override;

private slots:
    void on_addNewGroup_clicked();
    void on_checkAllDevs_clicked();
    void on_uncheckAllDevs_clicked();
    void on_forAllCheck_stateChanged(int arg1);
    void on_deviceFilter_textEdited(const QString& arg1);

private:
    void updateGroupsList();

    Ui::AddDevicesDialog* ui;
    ConfigHandler* handler;
    DevicesToAddTableModel* devicesModel;
    CheckableIdList* groupsModel;
    QSortFilterProxyModel* proxy;
};
