#include "db/writes.h"

#include "core/schema.h"
#include "db/connection.h"
#include "db/recordtables.h"
#include "db/sqlparts.h"

#include <QDebug>
#include <QSqlQuery>

#include <algorithm>

namespace {

// Memberships per INSERT of one record's list.
constexpr int MEMBERSHIP_CHUNK = 4096;

} // namespace

// ---------------------------------------------------------------- one shape for every record

DbError DbWrites::add(const RecordTable& records, const QVariantList& values, const QVector<int>& groups,
                      int& id) {
    const int stored = insertUnlessTaken(records, values);
    if (stored == 0)
        return conn.refuse(DbError::Kind::Taken);
    if (stored < 0)
        return conn.failure(DbError::Step::NewRow);
    if (!addMemberships(records, stored, groups))
        return conn.failure(DbError::Step::Memberships);
    id = stored;
    return DbError();
}

// Memberships change only when they differ from the stored ones.
DbError DbWrites::update(const RecordTable& records, int id, const QVariantList& values,
                         const QVector<int>& groups) {
    QVector<int> stored;
    const DbError taken = takenCheck(records, values.first(), id, stored);
    if (taken.failed())
        return taken;
    QSqlQuery q(conn.database());
    if (!conn.runKept(q,
                      QStringLiteral("UPDATE %1 SET %2=? WHERE %3=?")
                          .arg(records.table, records.columns.join(QStringLiteral("=?, ")), COL_ID),
                      values + QVariantList{id}))
        return conn.failure(DbError::Step::Other);
    // root keeps his memberships whatever the record asks.
    if (sameGroups(stored, groups) || records.isProtected(id))
        return DbError();
    if (replaceMemberships(records, id, groups))
        return DbError();
    return conn.failure(DbError::Step::Memberships);
}

// True, with the debug line, for root: he can be neither deleted nor taken out of his groups.
bool DbWrites::refusedFor(const RecordTable& records, int id) {
    if (!records.isProtected(id))
        return false;
    qDebug() << "нельзя удалить админа";
    conn.refuse(DbError::Kind::Protected);
    return true;
}

// Whether a row other than `exceptId` has `value` in the first column; with a membership table,
// the same statement reads the memberships of `exceptId` into `groups`.
DbError DbWrites::takenCheck(const RecordTable& records, const QVariant& value, int exceptId,
                             QVector<int>& groups) {
    const QString own = QStringLiteral("SELECT %1 FROM %2 WHERE %3=? AND %1<>?")
                            .arg(COL_ID, records.table, records.columns.first());
    QSqlQuery q(conn.database());
    bool ok = false;
    if (records.members.isEmpty()) {
        ok = conn.runKept(q, own, {value, exceptId});
    } else {
        ok = conn.runKept(q,
                          QStringLiteral("SELECT 0, %1 FROM %2 WHERE %3=? AND %1<>? "
                                         "UNION ALL SELECT 1, %4 FROM %5 WHERE %6=?")
                              .arg(COL_ID, records.table, records.columns.first(), records.groupColumn,
                                   records.members, records.ownerColumn),
                          {value, exceptId, exceptId});
    }
    if (!ok)
        return conn.failure(DbError::Step::Other);
    bool taken = false;
    while (q.next()) {
        if (records.members.isEmpty() || q.value(0).toInt() == 0)
            taken = true;
        else
            groups.append(q.value(1).toInt());
    }
    q.finish();
    return taken ? conn.refuse(DbError::Kind::Taken) : DbError();
}

// Inserts one row unless another has the first column's value, in one statement. Returns the
// new id, 0 when the value is taken, -1 when the row could not be stored.
int DbWrites::insertUnlessTaken(const RecordTable& records, const QVariantList& values) {
    QSqlQuery q(conn.database());
    if (!conn.runKept(q,
                      QStringLiteral("INSERT INTO %1 (%2) SELECT %3 FROM DUAL WHERE NOT EXISTS "
                                     "(SELECT 1 FROM %1 WHERE %4=?)")
                          .arg(records.table, records.columns.join(QLatin1Char(',')),
                               placeholders(records.columns.size(), 0), records.columns.first()),
                      values + QVariantList{values.first()}))
        return -1;
    if (q.numRowsAffected() < 1)
        return 0;
    const int id = q.lastInsertId().toInt();
    if (id > 0)
        return id;
    conn.refuse(DbError::Kind::Refused);
    return -1;
}

// Inserts the pairs (key, each of values) with INSERT IGNORE, one statement per chunk: a list
// of any usual length is stored whole or not at all.
bool DbWrites::insertMemberships(const QString& table, const QString& keyColumn, const QString& valueColumn,
                                 int key, const QVector<int>& values) {
    for (int from = 0; from < values.size(); from += MEMBERSHIP_CHUNK) {
        const int to = std::min<int>(values.size(), from + MEMBERSHIP_CHUNK);
        const int length = paddedLength(to - from);
        QVariantList pairs;
        pairs.reserve(2 * length);
        for (int i = from; i < from + length; ++i)
            pairs << key << values.at(std::min(i, to - 1));
        QSqlQuery q(conn.database());
        if (!conn.runKept(q,
                          QStringLiteral("INSERT IGNORE INTO %1 (%2, %3) VALUES %4")
                              .arg(table, keyColumn, valueColumn, placeholders(length, 2)),
                          pairs))
            return false;
    }
    return true;
}

// Replaces the list of `owner` whole or not at all; one DELETE alone needs no transaction.
bool DbWrites::replaceMemberships(const RecordTable& records, int owner, const QVector<int>& groupIds) {
    if (groupIds.isEmpty())
        return deleteWhere(records.members, records.ownerColumn, owner);
    return conn.inTransaction([&] {
        return deleteWhere(records.members, records.ownerColumn, owner) &&
               insertMemberships(records.members, records.ownerColumn, records.groupColumn, owner, groupIds);
    });
}

bool DbWrites::deleteWhere(const QString& table, const QString& column, int value) {
    QSqlQuery q(conn.database());
    return conn.runKept(q, QStringLiteral("DELETE FROM %1 WHERE %2=?").arg(table, column), {value});
}

bool DbWrites::remove(const RecordTable& records, int id) {
    if (refusedFor(records, id))
        return false;
    return conn.inTransaction([&] {
        return deleteWhere(records.table, COL_ID, id) &&
               deleteWhere(records.members, records.ownerColumn, id);
    });
}

bool DbWrites::addMemberships(const RecordTable& records, int owner, const QVector<int>& groupIds) {
    if (refusedFor(records, owner))
        return false;
    return insertMemberships(records.members, records.ownerColumn, records.groupColumn, owner, groupIds);
}

bool DbWrites::removeMemberships(const RecordTable& records, int owner) {
    if (refusedFor(records, owner))
        return false;
    return deleteWhere(records.members, records.ownerColumn, owner);
}

// ---------------------------------------------------------------- what differs

DbError DbWrites::addUser(const UserInfo& user, int& id) {
    return add(RecordTable::users(), userValues(user), user.groups, id);
}

DbError DbWrites::addDevice(const DeviceInfo& device, int& id) {
    if (device.imei == 0)
        return conn.refuse(DbError::Kind::InvalidImei);
    return add(RecordTable::devices(), deviceValues(device), device.groups, id);
}

DbError DbWrites::addGroup(GroupInfo& group) {
    return add(RecordTable::groups(), {bound(group.name)}, {}, group.id);
}

DbError DbWrites::updateUser(const UserInfo& user) {
    if (user.id == ROOT_ID && user.login != ROOT_LOGIN) {
        qDebug() << "нельзя переименовать админа";
        return conn.refuse(DbError::Kind::Protected);
    }
    return update(RecordTable::users(), user.id, userValues(user), user.groups);
}

DbError DbWrites::updateDevice(const DeviceInfo& device) {
    if (device.imei == 0)
        return conn.refuse(DbError::Kind::InvalidImei);
    return update(RecordTable::devices(), device.id, deviceValues(device), device.groups);
}

DbError DbWrites::updateGroup(const GroupInfo& group) {
    // The administrators' group is found by its stored name: renaming it would lock
    // everybody out at the next start. Its members are changed separately.
    if (conn.adminGroupId() > 0 && group.id == conn.adminGroupId()) {
        qDebug() << "нельзя переименовать группу админа";
        return DbError();
    }
    return update(RecordTable::groups(), group.id, {bound(group.name)}, {});
}

bool DbWrites::deleteGroup(int id) {
    if (id == conn.adminGroupId()) {
        qDebug() << "нельзя удалить группу админа";
        conn.refuse(DbError::Kind::Protected);
        return false;
    }
    return conn.inTransaction([&] {
        return deleteWhere(TABLE_GROUPS, COL_ID, id) &&
               deleteWhere(TABLE_DEVICE_GROUPS, COL_DG_GROUP_ID, id) &&
               deleteWhere(TABLE_USER_GROUPS, COL_UG_GROUP_ID, id);
    });
}

bool DbWrites::setGroupUsers(int groupId, const QVector<int>& userIds) {
    return conn.inTransaction([&] {
        return removeGroupUsers(groupId) &&
               insertMemberships(TABLE_USER_GROUPS, COL_UG_GROUP_ID, COL_UG_USER_ID, groupId, userIds);
    });
}

bool DbWrites::removeGroupUsers(int groupId) {
    QSqlQuery q(conn.database());
    // root stays in the administrators' group, or the next start could not find him.
    if (conn.adminGroupId() > 0 && groupId == conn.adminGroupId())
        return conn.runKept(q,
                            QStringLiteral("DELETE FROM %1 WHERE %2=? AND %3<>?")
                                .arg(TABLE_USER_GROUPS, COL_UG_GROUP_ID, COL_UG_USER_ID),
                            {groupId, ROOT_ID});
    return deleteWhere(TABLE_USER_GROUPS, COL_UG_GROUP_ID, groupId);
}
