#pragma once

#include "core/records.h"
#include "db/dberror.h"

#include <QHash>
#include <QSet>
#include <QVector>

#include <functional>

class DbConnection;
class DbJournal;
class DbWrites;

// What addDevices did with the records it handled.
struct AddDevicesResult {
    int added = 0;
    int alreadyStored = 0; // the IMEI is in the database already
    int repeated = 0;      // the same IMEI on an earlier record of the list
    int invalid = 0;       // IMEI 0
    int failed = 0; // refused (a failed insert or memberships, too long a name, a group deleted meanwhile)
    // What ended the import before its end (the connection lost); none when it ran through or was stopped.
    DbError stoppedBy;
};

// Adds many devices in batches of a few statements each, each batch one transaction, with the
// outcome of adding them one by one. Every device stored is in the administrators' group.
class DeviceImporter {
public:
    // Called after each batch with the records handled so far and the total;
    // returning false stops before the next batch.
    using Progress = std::function<bool(int done, int total)>;

    DeviceImporter(DbConnection& conn, DbWrites& writes, DbJournal& journal)
        : conn(conn)
        , writes(writes)
        , journal(journal) {}

    // Returns the number added; `result` tells what became of every handled record.
    int add(const QVector<DeviceInfo>& devices, const Progress& progress, AddDevicesResult& result);

private:
    enum class Batch { Stored, Refused, Lost };
    Batch addBatch(const QVector<DeviceInfo>& devices, int from, int to, QSet<quint64>& seen,
                   AddDevicesResult& result);
    // False when the connection was lost.
    bool addOneByOne(const QVector<DeviceInfo>& devices, int from, int to, QSet<quint64>& seen,
                     AddDevicesResult& result);
    DeviceInfo withAdminGroup(const DeviceInfo& device) const;
    // The journal's rows of a batch's new devices; `groupNames` quoted as JSON strings.
    bool journalAdded(const QVector<DeviceInfo>& batch, const QVector<int>& added,
                      const QHash<quint64, int>& idOf, const QHash<int, QString>& groupNames);

    DbConnection& conn;
    DbWrites& writes;
    DbJournal& journal;
};
