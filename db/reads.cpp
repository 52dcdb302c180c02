#include "db/reads.h"

#include "core/schema.h"
#include "db/connection.h"
#include "db/journal.h"
#include "db/sqlparts.h"

#include <QDebug>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>

namespace {

// Ids per read-back statement. A list is padded to a power of two with its last id, so that a
// dozen kept statements serve every length.
constexpr int READ_BACK_CHUNK = 4096;
// Ranges per read-back statement when the ids come in runs: a statement then names at least as
// many ids as a list does.
constexpr int READ_BACK_RANGES = READ_BACK_CHUNK / 4;
// IMEIs per look-up statement, padded the same way up to this length.
constexpr int IMEI_SLICE = 5000;
// Record ids per read of the journal.
constexpr int JOURNAL_IDS = 16384;

// Reads a whole table in the order the server returns its rows; `fill` sets one record from
// the current row, given the positions of `columns`.
template <typename Record, typename Fill>
QVector<Record> readTable(DbConnection& conn, const QString& table, const QStringList& columns, Fill fill) {
    QVector<Record> records;
    QSqlQuery q(conn.database());
    if (!conn.readWhole(q, QStringLiteral("SELECT * FROM %1").arg(table)))
        return records;
    QVector<int> positions;
    for (const QString& column : columns)
        positions << q.record().indexOf(column);
    if (q.size() > 0)
        records.reserve(q.size());
    while (q.next()) {
        Record r;
        fill(r, q, positions);
        records.append(r);
    }
    return records;
}

} // namespace

bool DbReads::reachable() {
    QSqlQuery q(conn.database());
    return conn.read(q, QStringLiteral("DO 0"));
}

int DbReads::getDevicesCount() {
    QSqlQuery q(conn.database());
    if (!conn.read(q, QStringLiteral("SELECT COUNT(*) FROM %1").arg(TABLE_DEVICES)))
        return -1;
    if (!q.next())
        return -1;
    return q.value(0).toInt();
}

QVector<GroupInfo> DbReads::getGroups() {
    const QVector<GroupInfo> groups =
        readTable<GroupInfo>(conn, TABLE_GROUPS, {COL_ID, COL_GROUP_NAME},
                             [](GroupInfo& g, const QSqlQuery& q, const QVector<int>& c) {
                                 g.id = q.value(c[0]).toInt();
                                 g.name = q.value(c[1]).toString();
                             });
    for (const GroupInfo& g : groups)
        conn.rememberGroupName(g.id, g.name);
    return groups;
}

// Reads a whole membership table once and appends each row's group id to its record, so a
// reload costs the same few statements whatever the number of rows. Memberships keep the
// order in which the server returns them.
template <typename Record>
void DbReads::attachGroups(QVector<Record>& records, const QString& table, const QString& ownerColumn,
                           const QString& groupColumn) {
    QHash<int, int> rowOf;
    rowOf.reserve(records.size());
    for (int i = records.size() - 1; i >= 0; --i)
        rowOf.insert(records.at(i).id, i);

    QSqlQuery q(conn.database());
    if (!conn.readWhole(q, QStringLiteral("SELECT * FROM %1").arg(table)))
        return;
    const QSqlRecord rec = q.record();
    const int cOwner = rec.indexOf(ownerColumn);
    const int cGroup = rec.indexOf(groupColumn);
    while (q.next()) {
        const auto it = rowOf.constFind(q.value(cOwner).toInt());
        if (it != rowOf.constEnd())
            records[it.value()].groups.append(q.value(cGroup).toInt());
    }
}

QVector<DeviceInfo> DbReads::getDevices() {
    QVector<DeviceInfo> devices =
        readTable<DeviceInfo>(conn, TABLE_DEVICES, {COL_ID, COL_IMEI, COL_NAME, COL_FOR_ALL},
                              [](DeviceInfo& d, const QSqlQuery& q, const QVector<int>& c) {
                                  d.id = q.value(c[0]).toInt();
                                  d.imei = q.value(c[1]).toULongLong();
                                  d.name = q.value(c[2]).toString();
                                  d.forAll = q.value(c[3]).toBool();
                              });
    attachGroups(devices, TABLE_DEVICE_GROUPS, COL_DG_DEVICE_ID, COL_DG_GROUP_ID);
    return devices;
}

QVector<UserInfo> DbReads::getUsers() {
    QVector<UserInfo> users =
        readTable<UserInfo>(conn, TABLE_USERS, {COL_ID, COL_USER_LOGIN, COL_USER_PASSWORD},
                            [](UserInfo& u, const QSqlQuery& q, const QVector<int>& c) {
                                u.id = q.value(c[0]).toInt();
                                u.login = q.value(c[1]).toString();
                                u.password = q.value(c[2]).toByteArray();
                            });
    attachGroups(users, TABLE_USER_GROUPS, COL_UG_USER_ID, COL_UG_GROUP_ID);
    return users;
}

UserInfo DbReads::getUser(int id) {
    UserInfo u;
    QSqlQuery q(conn.database());
    if (conn.readKept(q, QStringLiteral("SELECT * FROM %1 WHERE %2=?").arg(TABLE_USERS, COL_ID), {id}) &&
        q.next()) {
        const QSqlRecord rec = q.record();
        u.id = q.value(rec.indexOf(COL_ID)).toInt();
        u.login = q.value(rec.indexOf(COL_USER_LOGIN)).toString();
        u.password = q.value(rec.indexOf(COL_USER_PASSWORD)).toByteArray();
    }
    u.groups = getUserGroups(u.id);
    return u;
}

// "SELECT id FROM table WHERE column=?": the first row's id, or -1 with the debug line
// `before` key `after` when there is none.
template <typename Key>
int DbReads::idByKey(const QString& table, const QString& column, const Key& key, const char* before,
                     const char* after) {
    QSqlQuery q(conn.database());
    if (!conn.readKept(q, QStringLiteral("SELECT %1 FROM %2 WHERE %3=?").arg(COL_ID, table, column),
                       {bound(key)}))
        return -1;
    if (!q.next()) {
        qDebug() << before << key << after;
        return -1;
    }
    return q.value(0).toInt();
}

int DbReads::getUserId(const QString& login) {
    return idByKey(TABLE_USERS, COL_USER_LOGIN, login, "Пользователь с именем", "не найден!");
}

int DbReads::getDeviceId(quint64 imei) {
    return idByKey(TABLE_DEVICES, COL_IMEI, imei, "Устройство с imei", "не найдено!");
}

int DbReads::getGroupId(const QString& name) {
    return idByKey(TABLE_GROUPS, COL_GROUP_NAME, name, "Группа с названием", "не найдена!");
}

QVector<int> DbReads::memberIds(const QString& table, const QString& keyColumn, int key,
                                const QString& column) {
    QSqlQuery q(conn.database());
    if (!conn.readKept(q, QStringLiteral("SELECT * FROM %1 WHERE %2=?").arg(table, keyColumn), {key}))
        return {};
    return intColumn(q, column);
}

QVector<int> DbReads::getUserGroups(int userId) {
    return memberIds(TABLE_USER_GROUPS, COL_UG_USER_ID, userId, COL_UG_GROUP_ID);
}

QVector<int> DbReads::getDeviceGroups(int deviceId) {
    return memberIds(TABLE_DEVICE_GROUPS, COL_DG_DEVICE_ID, deviceId, COL_DG_GROUP_ID);
}

QVector<int> DbReads::getGroupUsers(int groupId) {
    return memberIds(TABLE_USER_GROUPS, COL_UG_GROUP_ID, groupId, COL_UG_USER_ID);
}

QVector<int> DbReads::getGroupDevices(int groupId) {
    return memberIds(TABLE_DEVICE_GROUPS, COL_DG_GROUP_ID, groupId, COL_DG_DEVICE_ID);
}

QHash<int, int> DbReads::countsByGroup(const QString& table, const QString& groupColumn) {
    QHash<int, int> counts;
    QSqlQuery q(conn.database());
    if (!conn.read(q, QStringLiteral("SELECT %1, COUNT(*) FROM %2 GROUP BY %1").arg(groupColumn, table)))
        return counts;
    while (q.next())
        counts.insert(q.value(0).toInt(), q.value(1).toInt());
    return counts;
}

QHash<int, int> DbReads::getGroupUsersCounts() {
    return countsByGroup(TABLE_USER_GROUPS, COL_UG_GROUP_ID);
}

QHash<int, int> DbReads::getGroupDevicesCounts() {
    return countsByGroup(TABLE_DEVICE_GROUPS, COL_DG_GROUP_ID);
}

// `sql` selects the record's columns and last the group id of a LEFT JOINed membership, where
// %1 is a condition on the owner id, ordered by owner and group: one statement per chunk of ids.
template <typename Record, typename Fill>
QVector<Record> DbReads::recordsByIds(const QVector<int>& ids, const QString& sql, const QString& column,
                                      Fill fill, bool* ok) {
    QVector<int> wanted = ids;
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    QVector<Record> records;
    for (int from = 0, to = 0; from < wanted.size(); from = to) {
        to = std::min<int>(wanted.size(), from + READ_BACK_CHUNK);
        if (idRuns(wanted, from, to) <= READ_BACK_RANGES) {
            // in runs: as many ids as that many ranges name
            int runs = 1;
            for (to = from + 1; to < wanted.size(); ++to) {
                if (wanted.at(to) != wanted.at(to - 1) + 1 && ++runs > READ_BACK_RANGES)
                    break;
            }
        }
        QVariantList values;
        const QString where = idsWhere(column, wanted, from, to, values);
        QSqlQuery q(conn.database());
        if (!conn.readKept(q, sql.arg(where), values)) {
            if (ok)
                *ok = false;
            return {};
        }
        const int groupColumn = q.record().count() - 1;
        while (q.next()) {
            if (records.isEmpty() || records.constLast().id != q.value(0).toInt()) {
                records.append(Record());
                fill(records.last(), q);
            }
            if (!q.isNull(groupColumn))
                records.last().groups.append(q.value(groupColumn).toInt());
        }
        q.finish();
    }
    if (ok)
        *ok = true;
    return records;
}

QVector<DeviceInfo> DbReads::getDevicesByIds(const QVector<int>& ids, bool* ok) {
    return recordsByIds<DeviceInfo>(
        ids,
        QStringLiteral("SELECT d.%1, d.%2, d.%3, d.%4, m.%5 FROM %6 d LEFT JOIN %7 m ON m.%8 = d.%1 "
                       "WHERE %9 ORDER BY d.%1, m.%5")
            .arg(COL_ID, COL_IMEI, COL_NAME, COL_FOR_ALL, COL_DG_GROUP_ID, TABLE_DEVICES, TABLE_DEVICE_GROUPS,
                 COL_DG_DEVICE_ID, QStringLiteral("%1")),
        QStringLiteral("d.%1").arg(COL_ID), fillDevice, ok);
}

QVector<UserInfo> DbReads::getUsersByIds(const QVector<int>& ids, bool* ok) {
    return recordsByIds<UserInfo>(
        ids,
        QStringLiteral("SELECT u.%1, u.%2, u.%3, m.%4 FROM %5 u LEFT JOIN %6 m ON m.%7 = u.%1 "
                       "WHERE %8 ORDER BY u.%1, m.%4")
            .arg(COL_ID, COL_USER_LOGIN, COL_USER_PASSWORD, COL_UG_GROUP_ID, TABLE_USERS, TABLE_USER_GROUPS,
                 COL_UG_USER_ID, QStringLiteral("%1")),
        QStringLiteral("u.%1").arg(COL_ID), fillUser, ok);
}

QHash<quint64, QPair<int, QString>> DbReads::storedDevices(const QVector<quint64>& imeis, bool* ok) {
    QVector<quint64> wanted = imeis;
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    QHash<quint64, QPair<int, QString>> stored;
    for (int from = 0; from < wanted.size(); from += IMEI_SLICE) {
        const int to = std::min<int>(wanted.size(), from + IMEI_SLICE);
        const int length = std::min(paddedLength(to - from), IMEI_SLICE);
        QVariantList values;
        values.reserve(length);
        for (int i = from; i < from + length; ++i)
            values << bound(wanted.at(std::min(i, to - 1)));
        QSqlQuery q(conn.database());
        if (!conn.readKept(q,
                           QStringLiteral("SELECT %1, %2, %3 FROM %4 WHERE %2 IN (%5)")
                               .arg(COL_ID, COL_IMEI, COL_NAME, TABLE_DEVICES, placeholders(length, 0)),
                           values)) {
            if (ok)
                *ok = false;
            return {};
        }
        while (q.next())
            stored.insert(q.value(1).toULongLong(), qMakePair(q.value(0).toInt(), q.value(2).toString()));
        q.finish();
    }
    if (ok)
        *ok = true;
    return stored;
}

QVector<JournalEntry> DbReads::journal(const JournalFilter& filter, int limit, bool* ok) {
    if (ok)
        *ok = true;
    QVector<JournalEntry> entries;
    if (limit <= 0)
        return entries;
    const QVector<int> ids = distinctIds(filter.objectIds);
    // A long list of records is read a slice at a time; the newest `limit` of all slices are kept.
    for (int from = 0; from == 0 || from < ids.size(); from += JOURNAL_IDS) {
        QStringList where;
        QVariantList values;
        if (!filter.object.isEmpty()) {
            where << QStringLiteral("object=?");
            values << filter.object;
        }
        if (!ids.isEmpty()) {
            const QVariantList some = paddedIds(ids, from, std::min<int>(ids.size(), from + JOURNAL_IDS));
            where << QStringLiteral("object_id IN (%1)").arg(placeholders(some.size(), 0));
            values += some;
        }
        if (filter.beforeId > 0) {
            where << QStringLiteral("id<?");
            values << static_cast<qulonglong>(filter.beforeId);
        }
        values << limit;
        QSqlQuery q(conn.database());
        if (!conn.readKept(q,
                           QStringLiteral("SELECT %1 FROM %2%3 ORDER BY id DESC LIMIT ?")
                               .arg(DbJournal::columns(), TABLE_JOURNAL,
                                    where.isEmpty()
                                        ? QString()
                                        : QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "))),
                           values)) {
            if (ok)
                *ok = false;
            return {};
        }
        while (q.next()) {
            JournalEntry e;
            e.id = q.value(0).toULongLong();
            const QDateTime at = q.value(1).toDateTime();
            e.at = QDateTime(at.date(), at.time(), Qt::UTC);
            e.dbUser = q.value(2).toString();
            e.osUser = q.value(3).toString();
            e.workstation = q.value(4).toString();
            e.operation = q.value(5).toULongLong();
            e.action = q.value(6).toString();
            e.object = q.value(7).toString();
            e.objectId = q.value(8).toInt();
            e.details = q.value(9).toString();
            entries.append(e);
        }
        q.finish();
    }
    if (ids.size() > JOURNAL_IDS) {
        std::sort(entries.begin(), entries.end(),
                  [](const JournalEntry& a, const JournalEntry& b) { return a.id > b.id; });
        entries.resize(std::min<int>(entries.size(), limit));
    }
    return entries;
}
