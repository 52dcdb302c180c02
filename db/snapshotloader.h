#pragma once

#include "core/records.h"

#include <QString>

class DbConnection;

// All three tables from one read-only consistent snapshot.
class SnapshotLoader {
public:
    explicit SnapshotLoader(DbConnection& conn)
        : conn(conn) {}

    // `snapshot` is left as it was on failure, and `error` tells why. A device of `known` whose
    // name is read unchanged lends it its string, so that two copies of a large table share their names.
    bool load(TablesSnapshot& snapshot, QString& error, const DeviceNames& known);
    // Devices per slice (memberships: three times as many).
    void setSlice(int devices) { slice = devices; }

private:
    DbConnection& conn;
    // A complete read goes in slices, so that the client library never holds a million rows.
    int slice = 250000;
};
