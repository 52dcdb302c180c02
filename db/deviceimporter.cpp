#include "db/deviceimporter.h"

#include "core/schema.h"
#include "db/connection.h"
#include "db/journal.h"
#include "db/recordtables.h"
#include "db/sqlparts.h"
#include "db/writes.h"

#include <QDebug>
#include <QMap>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace {

// Records per batch, and bound values per statement: MariaDB accepts at most 65535 placeholders
// in one prepared statement.
constexpr int DEVICE_BATCH = 2000;
constexpr int MAX_PLACEHOLDERS = 60000;

// Counts and logs a record refused with `error`; `earlier`: an earlier record of the list has its IMEI.
void reportRefused(AddDevicesResult& result, const DbError& error, const DeviceInfo& device, bool earlier) {
    qDebug() << errorText(RecordKind::Device, error) << device.id << device.groups;
    if (error.kind == DbError::Kind::Taken)
        ++(earlier ? result.repeated : result.alreadyStored);
    else if (error.kind == DbError::Kind::InvalidImei)
        ++result.invalid;
    else
        ++result.failed;
}

} // namespace

DeviceInfo DeviceImporter::withAdminGroup(const DeviceInfo& device) const {
    DeviceInfo d = device;
    if (conn.adminGroupId() > 0 && !d.groups.contains(conn.adminGroupId()))
        d.groups.prepend(conn.adminGroupId());
    return d;
}

// `seen` holds the IMEIs of the records before `from` and gains those up to `to`.
bool DeviceImporter::addOneByOne(const QVector<DeviceInfo>& devices, int from, int to, QSet<quint64>& seen,
                                 AddDevicesResult& result) {
    for (int i = from; i < to; ++i) {
        const DeviceInfo& device = devices.at(i);
        int id = 0;
        const DbError error = writes.addDevice(withAdminGroup(device), id);
        if (error.kind == DbError::Kind::ConnectionLost) {
            result.stoppedBy = error;
            return false;
        }
        if (!error.failed())
            ++result.added;
        else
            reportRefused(result, error, device, seen.contains(device.imei));
        seen.insert(device.imei);
    }
    return true;
}

// One batch as one transaction, with the outcome of adding its records one by one: a record is
// refused when its IMEI is 0, stored (earlier batches included) or taken by an earlier record of
// the batch, or when one of its groups is gone. Refused or Lost: nothing of the batch was
// written, and `seen` and `result` stay as they were.
DeviceImporter::Batch DeviceImporter::addBatch(const QVector<DeviceInfo>& devices, int from, int to,
                                               QSet<quint64>& seen, AddDevicesResult& result) {
    QSet<quint64> inBatch;
    QVector<bool> earlier(to - from);
    QVector<DeviceInfo> batch;
    batch.reserve(to - from);
    QVector<int> groupIds;
    for (int i = from; i < to; ++i) {
        batch << withAdminGroup(devices.at(i));
        groupIds += batch.last().groups;
        const quint64 imei = devices.at(i).imei;
        earlier[i - from] = seen.contains(imei) || inBatch.contains(imei);
        inBatch.insert(imei);
    }
    groupIds = distinctIds(groupIds);

    QMap<int, DbError> refused; // by index into the batch, reported in list order
    int added = 0;
    const auto write = [&]() -> bool {
        // IMEIs of this batch already stored, and the stored groups, which stay until the commit.
        QSet<quint64> stored;
        QHash<int, QString> groups; // quoted names
        QVariantList values;
        QStringList parts;
        for (const quint64 imei : qAsConst(inBatch)) {
            if (imei != 0)
                values << bound(imei);
        }
        if (!values.isEmpty())
            parts << QStringLiteral("(SELECT 0, %1, NULL FROM %2 WHERE %1 IN (%3))")
                         .arg(COL_IMEI, TABLE_DEVICES, placeholders(values.size(), 0));
        if (!groupIds.isEmpty()) {
            parts << QStringLiteral("(SELECT 1, %1, %4 FROM %2 WHERE %1 IN (%3) LOCK IN SHARE MODE)")
                         .arg(COL_ID, TABLE_GROUPS, placeholders(groupIds.size(), 0), COL_GROUP_NAME);
            for (const int g : qAsConst(groupIds))
                values << g;
        }
        if (!parts.isEmpty()) {
            QSqlQuery q(conn.database());
            q.setForwardOnly(true);
            if (!conn.run(q, parts.join(QStringLiteral(" UNION ALL ")), values))
                return false;
            while (q.next()) {
                if (q.value(0).toInt() == 0)
                    stored.insert(q.value(1).toULongLong());
                else
                    groups.insert(q.value(1).toInt(), DbJournal::quoted(q.value(2).toString()));
            }
            if (!conn.readThrough(q))
                return false;
        }

        QSet<quint64> taken;
        QVector<int> toInsert;
        QVariantList rowValues;
        for (int i = 0; i < batch.size(); ++i) {
            const DeviceInfo& d = batch.at(i);
            if (d.imei == 0) {
                refused.insert(i, DbError::of(DbError::Kind::InvalidImei));
                continue;
            }
            if (stored.contains(d.imei) || taken.contains(d.imei)) {
                refused.insert(i, DbError::of(DbError::Kind::Taken));
                continue;
            }
            const auto gone =
                std::find_if(d.groups.cbegin(), d.groups.cend(), [&](int g) { return !groups.contains(g); });
            if (gone != d.groups.cend()) {
                DbError missing = DbError::of(DbError::Kind::MissingGroup);
                missing.field = conn.groupName(*gone);
                refused.insert(i, missing);
                continue;
            }
            taken.insert(d.imei);
            toInsert << i;
            rowValues << deviceValues(d);
        }
        if (toInsert.isEmpty())
            return true;
        QSqlQuery q(conn.database());
        if (!conn.run(q,
                      QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                          .arg(TABLE_DEVICES, RecordTable::devices().columns.join(QStringLiteral(", ")),
                               placeholders(toInsert.size(), 3)),
                      rowValues))
            return false;

        // Ids of the new rows
        QHash<quint64, int> idOf;
        QVariantList imeis;
        for (const int i : qAsConst(toInsert))
            imeis << bound(batch.at(i).imei);
        q.setForwardOnly(true);
        if (!conn.run(q,
                      QStringLiteral("SELECT %1, %2 FROM %3 WHERE %2 IN (%4)")
                          .arg(COL_ID, COL_IMEI, TABLE_DEVICES, placeholders(toInsert.size(), 0)),
                      imeis))
            return false;
        while (q.next())
            idOf.insert(q.value(1).toULongLong(), q.value(0).toInt());
        if (!conn.readThrough(q))
            return false;
        if (idOf.size() < toInsert.size())
            return false;

        // Memberships of the whole batch in as few statements as the placeholder limit allows.
        QVariantList pairs;
        const int maxPairs = MAX_PLACEHOLDERS / 2;
        const auto flush = [&] {
            if (pairs.isEmpty())
                return true;
            QSqlQuery m(conn.database());
            const bool ok = conn.run(m,
                                     QStringLiteral("INSERT IGNORE INTO %1 (%2, %3) VALUES %4")
                                         .arg(TABLE_DEVICE_GROUPS, COL_DG_DEVICE_ID, COL_DG_GROUP_ID,
                                              placeholders(pairs.size() / 2, 2)),
                                     pairs);
            pairs.clear();
            return ok;
        };
        for (const int i : qAsConst(toInsert)) {
            const int id = idOf.value(batch.at(i).imei);
            for (const int groupId : batch.at(i).groups) {
                pairs << id << groupId;
                if (pairs.size() / 2 >= maxPairs && !flush())
                    return false;
            }
        }
        if (!flush())
            return false;
        if (journal.isOn() && !journalAdded(batch, toInsert, idOf, groups))
            return false;
        added = toInsert.size();
        return true;
    };

    if (!conn.inTransaction(write))
        return conn.lastError().kind == DbError::Kind::ConnectionLost ? Batch::Lost : Batch::Refused;
    result.added += added;
    for (auto it = refused.constBegin(); it != refused.constEnd(); ++it)
        reportRefused(result, it.value(), devices.at(from + it.key()), earlier.at(it.key()));
    seen.unite(inBatch);
    return Batch::Stored;
}

// What each new device became, made here from the values bound and the groups joined, named as
// read under the batch's share lock: the same details the server makes from the stored rows, without
// its subquery per record.
bool DeviceImporter::journalAdded(const QVector<DeviceInfo>& batch, const QVector<int>& added,
                                  const QHash<quint64, int>& idOf, const QHash<int, QString>& groupNames) {
    QString rows;
    rows.reserve(added.size() * 160);
    rows += QLatin1Char('[');
    for (const int i : added) {
        const DeviceInfo& d = batch.at(i);
        QStringList names;
        for (const int g : distinctIds(d.groups))
            names << groupNames.value(g);
        if (rows.size() > 1)
            rows += QLatin1Char(',');
        rows += QStringLiteral("[%1, {\"after\": %2}]")
                    .arg(QString::number(idOf.value(d.imei)),
                         DbJournal::deviceJson(d.imei, bound(d.name).toString(), d.forAll, names));
    }
    rows += QLatin1Char(']');
    return journal.writeMade("add", RecordTable::devices(), rows, added.size());
}

int DeviceImporter::add(const QVector<DeviceInfo>& devices, const Progress& progress,
                        AddDevicesResult& result) {
    AddDevicesResult outcome;
    QSet<quint64> seen;
    const int total = devices.size();
    for (int from = 0; from < total; from += DEVICE_BATCH) {
        const int to = std::min(total, from + DEVICE_BATCH);
        const Batch batch = addBatch(devices, from, to, seen, outcome);
        if (batch == Batch::Lost) {
            outcome.stoppedBy = conn.lastError();
            break;
        }
        if (batch == Batch::Refused && !addOneByOne(devices, from, to, seen, outcome))
            break;
        if (progress && !progress(to, total))
            break;
    }
    result = outcome;
    return outcome.added;
}
