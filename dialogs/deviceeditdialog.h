#pragma once

#include "db/records.h"
#include "dialogs/editdialog.h"

#include <QDialog>
#include <QStringList>

class CheckableIdList;
class ConfigHandler;
class QCompleter;
class QStringListModel;

namespace Ui {
class DeviceEditDialog;
}

// Adds or edits one device: IMEI, name, for-all flag and groups. Writes nothing itself
// except a group created with "Добавить новую группу".
class DeviceEditDialog : public QDialog, public EditDialog {
    Q_OBJECT

public:
    // A device with imei 0 opens the dialog in add mode, any other in edit mode.
    DeviceEditDialog(QWidget* parent, ConfigHandler* handler, const DeviceInfo& device);
    ~DeviceEditDialog() override;

    // IMEI texts the IMEI field offers while typing.
    void setCompleterList(const QStringList& list);
    DeviceInfo getDeviceInfo() const;

    void onAccept() override;

public slots:
    void updateGroupsList();

private slots:
    void on_checkAll_clicked();
    void on_uncheckAll_clicked();
    void on_addNewGroup_clicked();
    void on_forAllCheck_stateChanged(int arg1);

private:
    Ui::DeviceEditDialog* ui;
    ConfigHandler* handler;
    CheckableIdList* groupsModel;
    QCompleter* completer;
    QStringListModel* completerModel = nullptr;
    DeviceInfo device;
};
