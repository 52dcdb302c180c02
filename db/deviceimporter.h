#pragma once

#include "core/records.h"

#include <QSet>
#include <QVector>

#include <functional>

class DbConnection;
class DbWrites;

// What addDevices did with the records it handled.
struct AddDevicesResult {
    int added = 0;
    int alreadyStored = 0; // the IMEI is in the database already
    int repeated = 0;      // the same IMEI on an earlier record of the list
    int invalid = 0;       // IMEI 0
    int failed = 0;        // refused by the database server (a failed insert or memberships, too long a name)
};

// Adds many devices in batches of a few statements each, with the outcome of adding them one by one.
class DeviceImporter {
public:
    // Called after each batch with the records handled so far and the total;
    // returning false stops before the next batch.
    using Progress = std::function<bool(int done, int total)>;

    DeviceImporter(DbConnection& conn, DbWrites& writes)
        : conn(conn)
        , writes(writes) {}

    // Returns the number added; `result` tells what became of every handled record.
    int add(const QVector<DeviceInfo>& devices, const Progress& progress, AddDevicesResult& result);

private:
    bool addBatch(const QVector<DeviceInfo>& devices, int from, int to, QSet<quint64>& seen,
                  AddDevicesResult& result);
    void addOneByOne(const QVector<DeviceInfo>& devices, int from, int to, QSet<quint64>& seen,
                     AddDevicesResult& result);

    DbConnection& conn;
    DbWrites& writes;
};
