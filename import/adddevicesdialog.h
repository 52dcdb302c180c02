#pragma once

#include "core/records.h"
#include "dialogs/editdialog.h"
#include "dialogs/shownrecords.h"
#include "import/devicestoaddtablemodel.h"
#include "link/orbserverhandler.h"

#include <QDateTime>
#include <QDialog>
#include <QHash>
#include <QStringList>
#include <QVector>

class CheckableIdList;
class ConfigHandler;
class DevicesFileParser;
class DevicesToAddProxy;
class DevicesToAddTableModel;

namespace Ui {
class AddDevicesDialog;
}

// Picks devices from a list (the server's or a file's), with their groups and the for-all flag,
// for adding them in one go; shows each row's state against the database, and may give the
// groups to listed devices that are stored already. Writes nothing itself except a group
// created with "Создать новую группу".
class AddDevicesDialog : public QDialog, public EditDialog {
    Q_OBJECT

public:
    // `shown`: the groups and users the window holds, and how a group made here is stored.
    AddDevicesDialog(QWidget* parent, ConfigHandler* handler, const ShownRecords& shown);
    ~AddDevicesDialog() override;

    // Rows made beforehand (see DevicesToAddTableModel::makeRows), shown.
    void setRows(DevicesToAddRows rows);
    // The devices of a file the parser has read, with what it noticed: the encoding, the lines
    // skipped, IMEIs not written with 15 digits, names cut, and the groups and for-all flags
    // the file gives ("Группы из файла"). `rows`: made beforehand from the parser's devices.
    void setFile(const QString& fileName, const DevicesFileParser& parser, DevicesToAddRows rows);
    // Lines of the file that gave no device.
    int skippedLines() const;
    // The server's list: when it was received, and whether the link to the server is down.
    void setListAge(const QDateTime& received, bool linkLost);
    // Whether the server's last list came whole.
    void setListState(OrbServerHandler::ListState state);
    // The checked new devices, each given the checked groups and the for-all flag.
    QVector<DeviceInfo> selectedDevices() const;
    // Ids of the checked stored devices that are to get the checked groups, and those groups.
    QVector<int> selectedStoredIds() const;
    QVector<int> selectedGroups() const;
    // Rows of the list that are stored already.
    int storedCount() const;
    // True once a group was stored from inside the dialog, even if it was then cancelled.
    bool groupAdded() const;

    void onAccept() override;

private slots:
    void on_addNewGroup_clicked();
    void on_checkAllDevs_clicked();
    void on_uncheckAllDevs_clicked();
    void on_forAllCheck_stateChanged(int arg1);
    void on_deviceFilter_textEdited(const QString& arg1);
    void on_groupsForStoredCheck_toggled(bool checked);
    void on_fileGroupsCheck_toggled(bool checked);
    void on_createGroupsButton_clicked();

private:
    void updateGroupsList();
    // "Выбрать все" and "Убрать все" reach only the rows the filter shows.
    void checkShownDevices(bool checked);
    void updateCounter();
    void updateListNote();
    // Matches the file's group names with the stored groups; lists the ones missing.
    void matchFileGroups();
    bool fileGroupsUsed() const;
    void updateGroupsEnabled();

    Ui::AddDevicesDialog* ui;
    ConfigHandler* handler;
    ShownRecords shown;
    DevicesToAddTableModel* devicesModel;
    CheckableIdList* groupsModel;
    DevicesToAddProxy* proxy;
    QVector<QStringList> fileGroups; // by row of the devices set; empty without such columns
    QVector<int> fileForAll;
    QHash<QString, int> groupIds; // stored groups by name
    QStringList missingGroups;
    int skipped = 0;
    QString linkNote;
    QString stateNote;
    bool added = false;
    bool lookupFailed = false;
};
