#pragma once

#include "core/records.h"
#include "db/connection.h"
#include "db/deviceimporter.h"
#include "db/journal.h"

#include <QHash>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTimer>
#include <QVector>

#include <functional>
#include <memory>

// Adds picked devices to the database, then gives picked stored ones groups, on a thread and a
// database connection of its own, telling how far it got; it can be stopped between two batches.
class DevicesImport : public QObject {
    Q_OBJECT

public:
    struct Outcome {
        AddDevicesResult result;
        int handled = 0; // of the devices to add
        int given = 0;   // stored devices given the groups
    };

    explicit DevicesImport(QObject* parent = nullptr);
    // An import still running stops after its batch and closes its connection by itself; its
    // outcome is dropped and nothing waits for it.
    ~DevicesImport() override;

    // False while another import runs. `journal`: what connecting found of the change journal; not
    // known, the import's connection looks itself.
    bool start(const SqlConnectionSettings& settings, const JournalState& journal,
               const QVector<DeviceInfo>& devices, const QVector<int>& storedIds = {},
               const QVector<int>& groups = {});
    // Stops before the next batch; finished() follows.
    void cancel();
    bool isRunning() const { return running != nullptr; }
    // What the finished import did.
    const Outcome& outcome() const { return last; }

    using StoredDevices = QHash<quint64, QPair<int, QString>>;
    // The stored devices among `imeis` (IMEI -> id and name), looked up on a thread and connection
    // of their own; `done` gets them on the GUI thread with whether the look-up worked, unless
    // `context` is gone by then.
    static void lookUpStored(QObject* context, const SqlConnectionSettings& settings,
                             const QVector<quint64>& imeis,
                             const std::function<void(const StoredDevices& stored, bool ok)>& done);
    // The same, waited for in an event loop of its own: for a tool or a test without a window.
    static StoredDevices lookUpStoredNow(const SqlConnectionSettings& settings, const QVector<quint64>& imeis,
                                         bool* ok = nullptr);

signals:
    // Devices handled and their number, now and then while the import runs.
    void progress(int done, int total);
    void finished();

private:
    struct Run;
    std::shared_ptr<Run> running;
    Outcome last;
    QTimer ticker;
};
