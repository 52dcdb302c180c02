#include "db/snapshotloader.h"

#include "core/schema.h"
#include "db/connection.h"
#include "db/sqlparts.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// Gives each record the groups of its membership rows (owner id, group id), fed ordered by owner
// as `records` are by id, and counts every row by group as COUNT(*) does, rows of missing owners
// included. Records with the same groups share one list: a million devices fall into a few
// thousand combinations of groups, and a list of their own would cost each of them an allocation.
template <typename Record>
class MembershipAttacher {
public:
    MembershipAttacher(QVector<Record>& records, QHash<int, int>& counts)
        : records(records)
        , counts(counts) {}

    void add(int owner, int group) {
        ++counts[group];
        while (at < records.size() && records.at(at).id < owner)
            ++at;
        const int record = at < records.size() && records.at(at).id == owner ? at : -1;
        if (record != owned) {
            finish();
            owned = record;
        }
        if (owned >= 0)
            groups.append(group);
    }

    void finish() {
        if (owned >= 0 && !groups.isEmpty()) {
            auto it = shared.constFind(groups);
            if (it == shared.constEnd())
                it = shared.insert(groups, groups);
            records[owned].groups = it.value();
        }
        groups.clear();
    }

private:
    QVector<Record>& records;
    QHash<int, int>& counts;
    QHash<QVector<int>, QVector<int>> shared;
    QVector<int> groups;
    int owned = -1; // the record `groups` is gathered for
    int at = 0;
};

template <typename Record>
void attachOrdered(QVector<Record>& records, QSqlQuery& q, QHash<int, int>& counts) {
    MembershipAttacher<Record> attacher(records, counts);
    while (q.next())
        attacher.add(q.value(0).toInt(), q.value(1).toInt());
    attacher.finish();
}

} // namespace

// The transaction, the small tables and the first slices of the two large ones in one message,
// the further slices through kept statements: 2 round trips up to `slice` devices.
bool SnapshotLoader::load(TablesSnapshot& snapshot, QString& error, const DeviceNames& known) {
    QSqlQuery q(conn.database());
    q.setForwardOnly(true);
    bool open = false;
    auto failed = [&](const QSqlQuery& query) {
        error = query.lastError().text();
        if (open)
            QSqlQuery(conn.database()).exec(QStringLiteral("ROLLBACK"));
        return false;
    };
    const QString devicesSlice =
        QStringLiteral("SELECT %1, %2, %3, %4 FROM %5 WHERE %1>? ORDER BY %1 LIMIT %6")
            .arg(COL_ID, COL_IMEI, COL_NAME, COL_FOR_ALL, TABLE_DEVICES)
            .arg(slice);
    const QString membershipsSlice =
        QStringLiteral("SELECT %1, %2 FROM %3 WHERE %1>? OR (%1=? AND %2>?) ORDER BY %1, %2 LIMIT %4")
            .arg(COL_DG_DEVICE_ID, COL_DG_GROUP_ID, TABLE_DEVICE_GROUPS)
            .arg(slice * 3);
    const QString reads =
        QStringLiteral(";\nSELECT %1, %2 FROM %3 ORDER BY %1").arg(COL_ID, COL_GROUP_NAME, TABLE_GROUPS) +
        QStringLiteral(";\nSELECT %1, %2, %3 FROM %4 ORDER BY %1")
            .arg(COL_ID, COL_USER_LOGIN, COL_USER_PASSWORD, TABLE_USERS) +
        QStringLiteral(";\nSELECT %1, %2 FROM %3 ORDER BY %1, %2")
            .arg(COL_UG_USER_ID, COL_UG_GROUP_ID, TABLE_USER_GROUPS) +
        QStringLiteral(";\n") + devicesSlice + QStringLiteral(";\n") + membershipsSlice;
    const QVariantList firstSlices{0, 0, 0, 0};
    // Repeatable read makes the snapshot hold for every statement of the transaction.
    if (!conn.run(q,
                  QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ;\n"
                                 "START TRANSACTION WITH CONSISTENT SNAPSHOT, READ ONLY") +
                      reads,
                  firstSlices))
        return failed(q);
    if (!q.nextResult()) {
        // a server without read-only transactions
        if (!conn.run(q, QStringLiteral("START TRANSACTION WITH CONSISTENT SNAPSHOT") + reads, firstSlices))
            return failed(q);
    }
    open = true;

    TablesSnapshot s;
    if (!q.nextResult())
        return failed(q);
    while (q.next()) {
        s.groups.append(GroupInfo{q.value(0).toInt(), q.value(1).toString()});
        // the name compares bytewise (utf8mb4_nopad_bin), as checkDatabase's lookup does
        if (s.adminGroupId == 0 && s.groups.constLast().name == ADMIN_GROUP_NAME)
            s.adminGroupId = s.groups.constLast().id;
    }

    if (!q.nextResult())
        return failed(q);
    while (q.next()) {
        s.users.append(UserInfo());
        fillUser(s.users.last(), q);
    }
    if (!q.nextResult())
        return failed(q);
    attachOrdered(s.users, q, s.groupUsers);

    // Devices and their memberships in slices, so that the client library never holds a million
    // rows at once. The first slice of each comes in the message; when the devices need more, the
    // first memberships are kept aside until every device is read.
    QSqlQuery rows(conn.database());
    int lender = 0;
    const auto addDevices = [&](QSqlQuery& r) {
        int read = 0;
        while (r.next()) {
            s.devices.append(DeviceInfo());
            DeviceInfo& d = s.devices.last();
            fillDevice(d, r);
            while (lender < known.ids.size() && known.ids.at(lender) < d.id)
                ++lender;
            if (lender < known.ids.size() && known.ids.at(lender) == d.id && known.names.at(lender) == d.name)
                d.name = known.names.at(lender);
            ++read;
        }
        return read;
    };
    if (!q.nextResult())
        return failed(q);
    int read = addDevices(q);
    if (!q.nextResult())
        return failed(q);
    const bool devicesWhole = read < slice;
    std::vector<std::pair<int, int>> aside;
    if (!devicesWhole) {
        while (q.next())
            aside.emplace_back(q.value(0).toInt(), q.value(1).toInt());
        while (read == slice) {
            rows.finish();
            if (!conn.runKept(rows, devicesSlice, {s.devices.constLast().id}))
                return failed(rows);
            read = addDevices(rows);
        }
    }
    MembershipAttacher<DeviceInfo> attacher(s.devices, s.groupDevices);
    int owner = 0;
    int group = 0;
    int taken = 0; // of the latest slice
    const auto attach = [&](int o, int g) {
        owner = o;
        group = g;
        attacher.add(o, g);
        ++taken;
    };
    if (devicesWhole) {
        while (q.next())
            attach(q.value(0).toInt(), q.value(1).toInt());
    }
    for (const auto& [o, g] : aside)
        attach(o, g);
    aside = {};
    while (taken == slice * 3) {
        taken = 0;
        rows.finish();
        if (!conn.runKept(rows, membershipsSlice, {owner, owner, group}))
            return failed(rows);
        while (rows.next())
            attach(rows.value(0).toInt(), rows.value(1).toInt());
    }
    attacher.finish();
    q.finish();
    rows.finish();

    if (!conn.run(q, QStringLiteral("COMMIT")))
        return failed(q);
    snapshot = std::move(s);
    return true;
}
