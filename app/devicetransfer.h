#pragma once

#include "import/devicesfileparser.h"
#include "import/devicesfilereader.h"
#include "import/devicesimport.h"
#include "import/devicestoaddtablemodel.h"

#include <QObject>
#include <QString>

#include <functional>

class AddDevicesDialog;
class ConfigHandler;
class DevicesTableModel;
class GroupsTab;
class OrbServerHandler;
class QTableView;
class RefreshCoordinator;
class TabContext;

// Devices in and out in bulk: from the tracking server's list or a file into the database, and
// the devices table out to a file.
class DeviceTransfer : public QObject {
    Q_OBJECT

public:
    // What the transfer works on; all of it belongs to the window.
    struct Parts {
        TabContext* context;
        OrbServerHandler* orb;
        RefreshCoordinator* tables;
        GroupsTab* groupsTab;
        DevicesTableModel* devicesModel;
        QTableView* devicesView;
    };

    DeviceTransfer(const Parts& parts, QObject* parent);

public slots:
    void addFromServer();
    void addFromFile();
    void exportDevices();

private:
    QWidget* window() const;
    ConfigHandler* db() const;
    QString fileFolder() const;
    bool busy() const;
    // Rows made aside from the stored devices found, and the dialog opened with them.
    using Making = std::function<DevicesToAddRows(const DevicesImport::StoredDevices& stored)>;
    using Opening = std::function<void(DevicesToAddRows rows)>;
    void lookUp(const QVector<DeviceInfo>& devices, Making make, Opening open);
    void readFile(const QString& fileName);
    void offerFile(const QString& fileName, bool opened);
    void runAddDevices(AddDevicesDialog& dialog);
    void addDevicesInBulk(const AddDevicesDialog& dialog);
    // What was picked, for the summary.
    struct ImportAsked {
        int devices = 0;
        int storedIds = 0;
        int listedStored = 0;
        int skippedLines = 0;
    };
    void tellExport(const QString& fileName, int count, bool ok, const QString& error);
    void tellImport(const ImportAsked& asked, const DevicesImport::Outcome& outcome, bool cancelled);

    const Parts parts;
    DevicesFileParser devicesFileParser;
    DevicesFileReader fileReader;
    DevicesImport import;
    bool lookingUp = false;
    bool exporting = false;
};
