#include "db/bulkchanges.h"

#include "core/schema.h"
#include "db/connection.h"
#include "db/journal.h"
#include "db/reads.h"
#include "db/recordtables.h"
#include "db/sqlparts.h"

#include <QSet>
#include <QSqlQuery>

#include <algorithm>

namespace {

// Ids per DELETE: beyond about 10,000 listed ids the server stops using the key and scans the table.
constexpr int DELETE_CHUNK = 4096;
// Owner ids per statement of a bulk change. With a DELETE and an INSERT per slice, the statements
// grow by one per 8,192 ids; a slice at most a quarter of the placeholder limit.
constexpr int BULK_SLICE = 16384;
// Group ids per statement of a bulk change: one statement for any usual number of groups.
constexpr int BULK_GROUPS = 4096;
// Ranges of ids in one journal statement at most; more runs are bound as one list.
constexpr int JOURNAL_RANGES = 8192;

// The records of `ids` (sorted, distinct) to journal, as what follows FROM or JOIN: o is the record.
// Read by their key, so that their rows are locked, not only another index's entries.
QString journalRecords(const RecordTable& records, const QVector<int>& ids, QVariantList& values) {
    const int runs = idRuns(ids, 0, ids.size());
    if (runs * 4 <= ids.size() && runs <= JOURNAL_RANGES)
        return QStringLiteral("%1 o FORCE INDEX (PRIMARY) WHERE %2")
            .arg(records.table, idsWhere(QStringLiteral("o.%1").arg(COL_ID), ids, 0, ids.size(), values));
    values << DbJournal::idList(ids);
    return QStringLiteral("%1 JOIN %2 o ON o.%3 = jo.id")
        .arg(DbJournal::idTable(QStringLiteral("jo")), records.table, COL_ID);
}

} // namespace

int DbBulkChanges::deleteDevices(const QVector<int>& ids) {
    int deleted = 0;
    for (int from = 0; from < ids.size(); from += DELETE_CHUNK) {
        const int to = std::min<int>(ids.size(), from + DELETE_CHUNK);
        const QVariantList values = paddedIds(ids, from, to);
        const QString in = placeholders(values.size(), 0);
        int chunkDeleted = 0;
        const bool ok = conn.inTransaction([&] {
            if (!journal.write(
                    "delete", RecordTable::devices(), QStringLiteral("r.%1").arg(COL_ID),
                    QStringLiteral("JSON_OBJECT('before', %1)")
                        .arg(DbJournal::recordJson(RecordTable::devices(), QStringLiteral("r"))),
                    QStringLiteral("FROM %1 r WHERE r.%2 IN (%3) FOR UPDATE").arg(TABLE_DEVICES, COL_ID, in),
                    values))
                return false;
            QSqlQuery q(conn.database());
            if (!conn.runKept(
                    q, QStringLiteral("DELETE FROM %1 WHERE %2 IN (%3)").arg(TABLE_DEVICES, COL_ID, in),
                    values))
                return false;
            chunkDeleted = std::max(0, q.numRowsAffected());
            return conn.runWithNext(QStringLiteral("DELETE FROM %1 WHERE %2 IN (%3)")
                                        .arg(TABLE_DEVICE_GROUPS, COL_DG_DEVICE_ID, in),
                                    values);
        });
        if (ok)
            deleted += chunkDeleted;
    }
    return deleted;
}

// A single statement is all or nothing by itself: a transaction would only add two round trips.
bool DbBulkChanges::asOne(int statements, const std::function<bool()>& change) {
    return statements > 1 ? conn.inTransaction(change) : change();
}

// False, with the group's name as the failure, when one of `groupIds` (distinct) is not stored.
bool DbBulkChanges::allGroupsStored(const QVector<int>& groupIds) {
    QSet<int> stored;
    QSqlQuery q(conn.database());
    for (int from = 0; from < groupIds.size(); from += BULK_GROUPS) {
        const QVariantList ids =
            paddedIds(groupIds, from, std::min<int>(groupIds.size(), from + BULK_GROUPS));
        if (!conn.run(q,
                      QStringLiteral("SELECT %1 FROM %2 WHERE %1 IN (%3) LOCK IN SHARE MODE")
                          .arg(COL_ID, TABLE_GROUPS, placeholders(ids.size(), 0)),
                      ids))
            return false;
        while (q.next())
            stored.insert(q.value(0).toInt());
    }
    for (const int g : groupIds) {
        if (!stored.contains(g)) {
            DbError missing = DbError::of(DbError::Kind::MissingGroup);
            missing.field = conn.groupName(g);
            conn.refuse(missing);
            return false;
        }
    }
    return true;
}

int DbBulkChanges::protectedGroupId() {
    return conn.adminGroupId() > 0 ? conn.adminGroupId() : reads.getGroupId(ADMIN_GROUP_NAME);
}

// Deletes the memberships of `ownerIds` in the groups to remove, then inserts those of the groups to
// add, joined with both tables so that unknown ids insert nothing. A stored pair is left as it is
// (a no-op update; twice as fast as skipping it with NOT EXISTS, which reads the table it writes
// through a temporary table), but unlike INSERT IGNORE, a refused row fails the change instead of
// going missing. With `rootGroup`, root keeps his membership in it.
bool DbBulkChanges::changeGroups(const RecordTable& records, const QVector<int>& ownerIds,
                                 const QVector<int>& addGroupIds, const QVector<int>& removeGroupIds,
                                 int rootGroup) {
    const QVector<int> ids = distinctIds(ownerIds);
    const QVector<int> add = distinctIds(addGroupIds);
    QVector<int> remove;
    for (const int group : distinctIds(removeGroupIds)) {
        if (!std::binary_search(add.cbegin(), add.cend(), group))
            remove << group;
    }
    const auto chunks = [](int n, int size) {
        return (n + size - 1) / size;
    };
    const int slices = chunks(ids.size(), BULK_SLICE);
    const int statements = slices * (chunks(add.size(), BULK_GROUPS) + chunks(remove.size(), BULK_GROUPS));
    if (statements == 0)
        return true;
    // the groups to join are share-locked, so none of them goes before the change is stored
    return asOne(statements + (add.isEmpty() ? 0 : 1) + (journal.isOn() ? 1 : 0), [&] {
        if (!add.isEmpty() && !allGroupsStored(add))
            return false;
        QStringList changed;
        QVariantList named;
        for (const auto& [key, groups] : {qMakePair(QStringLiteral("groups_added"), add),
                                          qMakePair(QStringLiteral("groups_removed"), remove)}) {
            if (!groups.isEmpty()) {
                changed << QStringLiteral("'%1', %2").arg(key, DbJournal::groupNamesJson());
                named << DbJournal::idList(groups);
            }
        }
        const QString journaled = journalRecords(records, ids, named);
        if (!journal.write(
                "change", records, QStringLiteral("o.%1").arg(COL_ID), QStringLiteral("once.d"),
                QStringLiteral("FROM %1 JOIN %2")
                    .arg(DbJournal::once(
                             QStringLiteral("JSON_OBJECT(%1)").arg(changed.join(QStringLiteral(", ")))),
                         journaled),
                named))
            return false;
        for (int from = 0; from < ids.size(); from += BULK_SLICE) {
            const int to = std::min<int>(ids.size(), from + BULK_SLICE);
            QVariantList members;
            const QString memberWhere = idsWhere(records.ownerColumn, ids, from, to, members);
            QVariantList owned;
            const QString ownedWhere = idsWhere(QStringLiteral("o.%1").arg(COL_ID), ids, from, to, owned);
            for (int g = 0; g < remove.size(); g += BULK_GROUPS) {
                const QVariantList groups =
                    paddedIds(remove, g, std::min<int>(remove.size(), g + BULK_GROUPS));
                QString sql = QStringLiteral("DELETE FROM %1 WHERE %2 AND %3 IN (%4)")
                                  .arg(records.members, memberWhere, records.groupColumn,
                                       placeholders(groups.size(), 0));
                QVariantList values = members + groups;
                if (rootGroup > 0) {
                    sql +=
                        QStringLiteral(" AND (%1<>? OR %2<>?)").arg(records.ownerColumn, records.groupColumn);
                    values << ROOT_ID << rootGroup;
                }
                if (!conn.runWithNext(sql, values))
                    return false;
            }
            for (int g = 0; g < add.size(); g += BULK_GROUPS) {
                const QVariantList groups = paddedIds(add, g, std::min<int>(add.size(), g + BULK_GROUPS));
                if (!conn.runWithNext(
                        QStringLiteral("INSERT INTO %1 (%2, %3) SELECT o.%4, g.%4 FROM %5 o FORCE "
                                       "INDEX (PRIMARY) JOIN %6 g "
                                       "ON g.%4 IN (%7) WHERE %8 ON DUPLICATE KEY UPDATE %3 = "
                                       "VALUES(%3)")
                            .arg(records.members, records.ownerColumn, records.groupColumn, COL_ID,
                                 records.table, TABLE_GROUPS, placeholders(groups.size(), 0), ownedWhere),
                        groups + owned))
                    return false;
            }
        }
        return true;
    });
}

bool DbBulkChanges::changeDevicesGroups(const QVector<int>& deviceIds, const QVector<int>& addGroupIds,
                                        const QVector<int>& removeGroupIds) {
    QVector<int> remove = removeGroupIds;
    if (!remove.isEmpty())
        remove.removeAll(protectedGroupId());
    return changeGroups(RecordTable::devices(), deviceIds, addGroupIds, remove, 0);
}

bool DbBulkChanges::changeUsersGroups(const QVector<int>& userIds, const QVector<int>& addGroupIds,
                                      const QVector<int>& removeGroupIds) {
    return changeGroups(RecordTable::users(), userIds, addGroupIds, removeGroupIds,
                        removeGroupIds.isEmpty() ? 0 : protectedGroupId());
}

bool DbBulkChanges::setDevicesForAll(const QVector<int>& deviceIds, bool forAll) {
    const QVector<int> ids = distinctIds(deviceIds);
    if (ids.isEmpty())
        return true;
    return asOne((ids.size() + BULK_SLICE - 1) / BULK_SLICE + (journal.isOn() ? 1 : 0), [&] {
        QVariantList journaledValues{forAll ? 1 : 0};
        const QString journaled = journalRecords(RecordTable::devices(), ids, journaledValues);
        if (!journal.write("change", RecordTable::devices(), QStringLiteral("o.%1").arg(COL_ID),
                           QStringLiteral("JSON_OBJECT('for_all', ? <> 0)"),
                           QStringLiteral("FROM %1").arg(journaled), journaledValues))
            return false;
        for (int from = 0; from < ids.size(); from += BULK_SLICE) {
            QVariantList values{forAll ? 1 : 0};
            const QString where =
                idsWhere(COL_ID, ids, from, std::min<int>(ids.size(), from + BULK_SLICE), values);
            if (!conn.runWithNext(
                    QStringLiteral("UPDATE %1 SET %2=? WHERE %3").arg(TABLE_DEVICES, COL_FOR_ALL, where),
                    values))
                return false;
        }
        return true;
    });
}
