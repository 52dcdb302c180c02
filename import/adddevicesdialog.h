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
    // True once a group was stored from inside the dialog, even if it was then cancelled.
    bool groupAdded() const;

    void onAccept() override;

private slots:
    void on_addNewGroup_clicked();
    void on_checkAllDevs_clicked();
    void on_uncheckAllDevs_clicked();
    void on_forAllCheck_stateChanged(int arg1);
    void on_deviceFilter_textEdited(const QString& arg1);

private:
    void updateGroupsList();
    // "Выбрать все" and "Убрать все" reach only the rows the filter shows.
    void checkShownDevices(bool checked);

    Ui::AddDevicesDialog* ui;
    ConfigHandler* handler;
    DevicesToAddTableModel* devicesModel;
    CheckableIdList* groupsModel;
    QSortFilterProxyModel* proxy;
    bool added = false;
};
