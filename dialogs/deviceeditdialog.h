#pragma once

#include "core/records.h"
#include "dialogs/grouppickdialog.h"

#include <QStringList>

class QCompleter;
class QStringListModel;

namespace Ui {
class DeviceEditDialog;
}

// Adds or edits one device: IMEI, name, for-all flag and groups. Writes nothing itself
// except a group created with "Добавить новую группу".
class DeviceEditDialog : public GroupPickDialog {
    Q_OBJECT

public:
    // A device with id 0 opens the dialog in add mode, a stored one in edit mode. Either way
    // the fields show the device as given, so that what getDeviceInfo() returned reopens as it was.
    DeviceEditDialog(QWidget* parent, ConfigHandler* handler, const DeviceInfo& device,
                     const ShownRecords& shown);
    ~DeviceEditDialog() override;

    // IMEI texts the IMEI field offers while typing; only those of exactly 15 digits are kept.
    void setCompleterList(const QStringList& list);
    // The same for IMEIs known to be of 15 digits, in ascending order: nothing is read through.
    void setCompleterImeis(const QStringList& imeis);
    DeviceInfo getDeviceInfo() const;

    void onAccept() override;

private slots:
    void on_forAllCheck_stateChanged(int arg1);

private:
    Ui::DeviceEditDialog* ui;
    QCompleter* completer;
    QStringListModel* completerModel = nullptr;
    DeviceInfo device;
    quint64 warnedImei = 0; // a new IMEI whose check digit fails is stored at the second OK
};
