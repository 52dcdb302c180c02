#include "db/deviceimporter.h"

#include "core/schema.h"
#include "db/connection.h"
#include "db/recordtables.h"
#include "db/sqlparts.h"
#include "db/writes.h"

#include <QDebug>
#include <QMap>
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

// `seen` holds the IMEIs of the records before `from` and gains those up to `to`.
void DeviceImporter::addOneByOne(const QVector<DeviceInfo>& devices, int from, int to, QSet<quint64>& seen,
                                 AddDevicesResult& result) {
    for (int i = from; i < to; ++i) {
        const DeviceInfo& device = devices.at(i);
        int id = 0;
        const DbError error = writes.addDevice(device, id);
        if (!error.failed())
            ++result.added;
        else
            reportRefused(result, error, device, seen.contains(device.imei));
        seen.insert(device.imei);
    }
}

// One batch with the outcome of adding its records one by one: a record is refused when
// its IMEI is 0, stored (earlier batches included) or taken by an earlier record of the batch.
// Returns false when the batch could not run as a whole and nothing of it was written;
// `seen` and `result` then stay as they were.
bool DeviceImporter::addBatch(const QVector<DeviceInfo>& devices, int from, int to, QSet<quint64>& seen,
                              AddDevicesResult& result) {
    QSet<quint64> inBatch;
    QVector<bool> earlier(to - from);
    for (int i = from; i < to; ++i) {
        const quint64 imei = devices.at(i).imei;
        earlier[i - from] = seen.contains(imei) || inBatch.contains(imei);
        inBatch.insert(imei);
    }

    // IMEIs of this batch already stored
    QSet<quint64> stored;
    QVariantList imeis;
    for (const quint64 imei : qAsConst(inBatch)) {
        if (imei != 0)
            imeis << bound(imei);
    }
    if (!imeis.isEmpty()) {
        QSqlQuery q(conn.database());
        q.setForwardOnly(true);
        if (!conn.run(q,
                      QStringLiteral("SELECT %1 FROM %2 WHERE %1 IN (%3)")
                          .arg(COL_IMEI, TABLE_DEVICES, placeholders(imeis.size(), 0)),
                      imeis))
            return false;
        while (q.next())
            stored.insert(q.value(0).toULongLong());
    }

    // Refused records with their reasons, reported in list order as addDevice would have.
    QMap<int, DbError> refused;
    QSet<quint64> taken;
    QVector<int> toInsert;
    QVariantList rowValues;
    for (int i = from; i < to; ++i) {
        const quint64 imei = devices.at(i).imei;
        if (imei == 0) {
            refused.insert(i, DbError::of(DbError::Kind::InvalidImei));
            continue;
        }
        if (stored.contains(imei) || taken.contains(imei)) {
            refused.insert(i, DbError::of(DbError::Kind::Taken));
            continue;
        }
        taken.insert(imei);
        toInsert << i;
        rowValues << deviceValues(devices.at(i));
    }
    if (!toInsert.isEmpty()) {
        QSqlQuery q(conn.database());
        if (!conn.run(q,
                      QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                          .arg(TABLE_DEVICES, RecordTable::devices().columns.join(QStringLiteral(", ")),
                               placeholders(toInsert.size(), 3)),
                      rowValues))
            return false;
    }

    auto report = [&](int added) {
        result.added += added;
        for (auto it = refused.constBegin(); it != refused.constEnd(); ++it) {
            if (it.value().step == DbError::Step::NewRow)
                qDebug() << "Устройство с imei" << devices.at(it.key()).imei << "не найдено!";
            reportRefused(result, it.value(), devices.at(it.key()), earlier.at(it.key() - from));
        }
        seen.unite(inBatch);
        return true;
    };
    if (toInsert.isEmpty())
        return report(0);

    // Ids of the new rows
    QHash<quint64, int> idOf;
    {
        QVariantList values;
        for (const int i : qAsConst(toInsert))
            values << bound(devices.at(i).imei);
        QSqlQuery q(conn.database());
        q.setForwardOnly(true);
        if (conn.run(q,
                     QStringLiteral("SELECT %1, %2 FROM %3 WHERE %2 IN (%4)")
                         .arg(COL_ID, COL_IMEI, TABLE_DEVICES, placeholders(toInsert.size(), 0)),
                     values)) {
            while (q.next())
                idOf.insert(q.value(1).toULongLong(), q.value(0).toInt());
        }
    }
    QVector<int> withId;
    for (const int i : qAsConst(toInsert)) {
        if (idOf.value(devices.at(i).imei) > 0)
            withId << i;
        else
            refused.insert(i, DbError::of(DbError::Kind::Refused, DbError::Step::NewRow));
    }

    // Memberships of the whole batch in as few statements as the placeholder limit allows.
    bool membershipsOk = true;
    QVariantList pairs;
    const int maxPairs = MAX_PLACEHOLDERS / 2;
    auto flush = [&]() {
        if (pairs.isEmpty() || !membershipsOk)
            return;
        QSqlQuery q(conn.database());
        membershipsOk = conn.run(q,
                                 QStringLiteral("INSERT IGNORE INTO %1 (%2, %3) VALUES %4")
                                     .arg(TABLE_DEVICE_GROUPS, COL_DG_DEVICE_ID, COL_DG_GROUP_ID,
                                          placeholders(pairs.size() / 2, 2)),
                                 pairs);
        pairs.clear();
    };
    for (const int i : qAsConst(withId)) {
        const int id = idOf.value(devices.at(i).imei);
        for (const int groupId : devices.at(i).groups) {
            pairs << id << groupId;
            if (pairs.size() / 2 >= maxPairs)
                flush();
        }
    }
    flush();
    if (membershipsOk)
        return report(withId.size());

    // Retry the memberships device by device so that only the failing ones are refused.
    int count = 0;
    for (const int i : qAsConst(withId)) {
        if (writes.addMemberships(RecordTable::devices(), idOf.value(devices.at(i).imei),
                                  devices.at(i).groups))
            ++count;
        else
            refused.insert(i, conn.failure(DbError::Step::Memberships));
    }
    return report(count);
}

int DeviceImporter::add(const QVector<DeviceInfo>& devices, const Progress& progress,
                        AddDevicesResult& result) {
    AddDevicesResult outcome;
    QSet<quint64> seen;
    const int total = devices.size();
    for (int from = 0; from < total; from += DEVICE_BATCH) {
        const int to = std::min(total, from + DEVICE_BATCH);
        if (!addBatch(devices, from, to, seen, outcome))
            addOneByOne(devices, from, to, seen, outcome);
        if (progress && !progress(to, total))
            break;
    }
    result = outcome;
    return outcome.added;
}
