#include "db/writes.h"

#include "core/schema.h"
#include "db/connection.h"
#include "db/journal.h"
#include "db/recordtables.h"
#include "db/sqlparts.h"

#include <QDebug>
#include <QSqlQuery>

#include <algorithm>

namespace {

// The members of a group that leave it or join it, for the journal: the group's name as the change.
QString memberChange(const char* key) {
    return QStringLiteral("JSON_OBJECT('%1', JSON_ARRAY(g.%2))").arg(QLatin1String(key), COL_GROUP_NAME);
}

} // namespace

// ---------------------------------------------------------------- one shape for every record

// The row and its memberships in one transaction: a group gone meanwhile leaves no row behind.
DbError DbWrites::add(const RecordTable& records, const QVariantList& values, const QVector<int>& groups,
                      int& id) {
    int stored = 0;
    const auto insert = [&] {
        stored = insertUnlessTaken(records, values);
        if (stored == 0)
            return conn.refuse(DbError::Kind::Taken);
        if (stored < 0)
            return conn.failure(DbError::Step::NewRow);
        if (!groups.isEmpty()) {
            const DbError joined = editor.joinNew(records, stored, groups);
            if (joined.failed())
                return joined;
        }
        if (!journal.write("add", records, QStringLiteral("r.id"),
                           QStringLiteral("JSON_OBJECT('after', %1)")
                               .arg(DbJournal::recordJson(records, QStringLiteral("r"))),
                           QStringLiteral("FROM %1 r WHERE r.id=?").arg(records.table), {stored}, 1))
            return conn.failure(DbError::Step::NewRow);
        return DbError();
    };
    DbError outcome;
    if (groups.isEmpty() && !journal.isOn()) {
        outcome = insert();
    } else if (!conn.inTransaction([&] {
                   outcome = insert();
                   return !outcome.failed();
               }) &&
               !outcome.failed()) {
        outcome = conn.failure(DbError::Step::NewRow);
    }
    if (!outcome.failed())
        id = stored;
    return outcome;
}

// True, with the debug line, for root: he can be neither deleted nor taken out of his groups.
bool DbWrites::refusedFor(const RecordTable& records, int id) {
    if (!records.isProtected(id))
        return false;
    qDebug() << "нельзя удалить админа";
    conn.refuse(DbError::Kind::Protected);
    return true;
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

bool DbWrites::removeJournaled(const RecordTable& records, int id, const std::function<bool()>& also) {
    return conn.inTransaction([&] {
        return journal.write("delete", records, QStringLiteral("r.id"),
                             QStringLiteral("JSON_OBJECT('before', %1)")
                                 .arg(DbJournal::recordJson(records, QStringLiteral("r"))),
                             QStringLiteral("FROM %1 r WHERE r.id=? FOR UPDATE").arg(records.table), {id}) &&
               also() && editor.deleteWhere(records.table, COL_ID, id);
    });
}

bool DbWrites::remove(const RecordTable& records, int id) {
    if (refusedFor(records, id))
        return false;
    return removeJournaled(records, id,
                           [&] { return editor.deleteWhere(records.members, records.ownerColumn, id); });
}

bool DbWrites::addMemberships(const RecordTable& records, int owner, const QVector<int>& groupIds) {
    if (refusedFor(records, owner))
        return false;
    return !editor.join(records, owner, groupIds).failed();
}

bool DbWrites::removeMemberships(const RecordTable& records, int owner) {
    if (refusedFor(records, owner))
        return false;
    return conn.inTransaction([&] {
        return journal.write(
                   "change", records, QStringLiteral("r.id"),
                   QStringLiteral("JSON_OBJECT('groups_removed', %1)")
                       .arg(DbJournal::groupsJson(records, QStringLiteral("r"))),
                   QStringLiteral("FROM %1 r WHERE r.id=? AND EXISTS (SELECT 1 FROM %2 x WHERE x.%3=r.id) "
                                  "FOR UPDATE")
                       .arg(records.table, records.members, records.ownerColumn),
                   {owner}) &&
               editor.deleteWhere(records.members, records.ownerColumn, owner);
    });
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
    const DbError outcome = add(RecordTable::groups(), {bound(group.name)}, {}, group.id);
    if (!outcome.failed())
        conn.rememberGroupName(group.id, group.name);
    return outcome;
}

bool DbWrites::renamesRoot(const UserInfo& user) {
    if (user.id != ROOT_ID || user.login == ROOT_LOGIN)
        return false;
    qDebug() << "нельзя переименовать админа";
    conn.refuse(DbError::Kind::Protected);
    return true;
}

// The administrators' group is found by its stored name: renaming it would lock everybody out at
// the next start. Its members are changed separately.
bool DbWrites::renamesAdminGroup(const GroupInfo& group) {
    if (conn.adminGroupId() <= 0 || group.id != conn.adminGroupId())
        return false;
    qDebug() << "нельзя переименовать группу админа";
    return true;
}

DbError DbWrites::updateUser(const UserInfo& user) {
    if (renamesRoot(user))
        return conn.lastError();
    return editor.replace(RecordTable::users(), {user.id, userValues(user), user.groups});
}

DbError DbWrites::updateDevice(const DeviceInfo& device) {
    if (device.imei == 0)
        return conn.refuse(DbError::Kind::InvalidImei);
    return editor.replace(RecordTable::devices(), {device.id, deviceValues(device), device.groups});
}

DbError DbWrites::updateGroup(const GroupInfo& group) {
    if (renamesAdminGroup(group))
        return DbError();
    return editor.replace(RecordTable::groups(), {group.id, {bound(group.name)}, {}});
}

DbError DbWrites::updateUser(const UserInfo& seen, const UserInfo& wanted) {
    if (renamesRoot(wanted))
        return conn.lastError();
    return editor.merge(RecordTable::users(), {seen.id, userValues(seen), seen.groups},
                        {seen.id, userValues(wanted), wanted.groups});
}

DbError DbWrites::updateDevice(const DeviceInfo& seen, const DeviceInfo& wanted) {
    if (wanted.imei == 0)
        return conn.refuse(DbError::Kind::InvalidImei);
    return editor.merge(RecordTable::devices(), {seen.id, deviceValues(seen), seen.groups},
                        {seen.id, deviceValues(wanted), wanted.groups});
}

DbError DbWrites::updateGroup(const GroupInfo& seen, const GroupInfo& wanted) {
    if (renamesAdminGroup(seen))
        return DbError();
    return editor.merge(RecordTable::groups(), {seen.id, {bound(seen.name)}, {}},
                        {seen.id, {bound(wanted.name)}, {}});
}

bool DbWrites::deleteGroup(int id) {
    if (id == conn.adminGroupId()) {
        qDebug() << "нельзя удалить группу админа";
        conn.refuse(DbError::Kind::Protected);
        return false;
    }
    // every member leaves the group: a row each, before the memberships go
    const auto membersLeave = [&](const RecordTable& records) {
        return journal.write("change", records, QStringLiteral("m.%1").arg(records.ownerColumn),
                             memberChange("groups_removed"),
                             QStringLiteral("FROM %1 m JOIN %2 g ON g.%3 = m.%4 WHERE m.%4=?")
                                 .arg(records.members, TABLE_GROUPS, COL_ID, records.groupColumn),
                             {id});
    };
    return removeJournaled(RecordTable::groups(), id, [&] {
        return membersLeave(RecordTable::devices()) && membersLeave(RecordTable::users()) &&
               editor.deleteWhere(TABLE_DEVICE_GROUPS, COL_DG_GROUP_ID, id) &&
               editor.deleteWhere(TABLE_USER_GROUPS, COL_UG_GROUP_ID, id);
    });
}

bool DbWrites::setGroupUsers(int groupId, const QVector<int>& userIds) {
    return conn.inTransaction([&] {
        bool found = false;
        QSet<int> users;
        if (!editor.lockAndFind(TABLE_GROUPS, groupId, TABLE_USERS, userIds, found, users))
            return false;
        if (!found || users.size() < distinctIds(userIds).size()) {
            conn.refuse(DbError::Kind::Deleted);
            return false;
        }
        const QString list = DbJournal::idList(distinctIds(userIds));
        const bool keepsRoot = conn.adminGroupId() > 0 && groupId == conn.adminGroupId();
        return journal.write("change", RecordTable::users(), QStringLiteral("m.%1").arg(COL_UG_USER_ID),
                             memberChange("groups_removed"),
                             QStringLiteral("FROM %1 m JOIN %2 g ON g.%3 = m.%4 WHERE m.%4=? AND m.%5 NOT IN "
                                            "(SELECT id FROM %6) AND m.%5<>?")
                                 .arg(TABLE_USER_GROUPS, TABLE_GROUPS, COL_ID, COL_UG_GROUP_ID,
                                      COL_UG_USER_ID, DbJournal::idTable(QStringLiteral("ju"))),
                             {groupId, list, keepsRoot ? ROOT_ID : 0}) &&
               journal.write(
                   "change", RecordTable::users(), QStringLiteral("u.%1").arg(COL_ID),
                   memberChange("groups_added"),
                   QStringLiteral("FROM %1 u JOIN %2 g ON g.%3=? WHERE u.%3 IN (SELECT id FROM %4) AND "
                                  "NOT EXISTS (SELECT 1 FROM %5 x WHERE x.%6=u.%3 AND x.%7=g.%3)")
                       .arg(TABLE_USERS, TABLE_GROUPS, COL_ID, DbJournal::idTable(QStringLiteral("ju")),
                            TABLE_USER_GROUPS, COL_UG_USER_ID, COL_UG_GROUP_ID),
                   {groupId, list}) &&
               dropGroupUsers(groupId) &&
               editor.insertPairs(TABLE_USER_GROUPS, COL_UG_GROUP_ID, COL_UG_USER_ID, groupId, userIds);
    });
}

bool DbWrites::removeGroupUsers(int groupId) {
    const bool keepsRoot = conn.adminGroupId() > 0 && groupId == conn.adminGroupId();
    return conn.inTransaction([&] {
        return journal.write(
                   "change", RecordTable::users(), QStringLiteral("m.%1").arg(COL_UG_USER_ID),
                   memberChange("groups_removed"),
                   QStringLiteral("FROM %1 m JOIN %2 g ON g.%3 = m.%4 WHERE m.%4=? AND m.%5<>?")
                       .arg(TABLE_USER_GROUPS, TABLE_GROUPS, COL_ID, COL_UG_GROUP_ID, COL_UG_USER_ID),
                   {groupId, keepsRoot ? ROOT_ID : 0}) &&
               dropGroupUsers(groupId);
    });
}

bool DbWrites::dropGroupUsers(int groupId) {
    QSqlQuery q(conn.database());
    // root stays in the administrators' group, or the next start could not find him.
    if (conn.adminGroupId() > 0 && groupId == conn.adminGroupId())
        return conn.runKept(q,
                            QStringLiteral("DELETE FROM %1 WHERE %2=? AND %3<>?")
                                .arg(TABLE_USER_GROUPS, COL_UG_GROUP_ID, COL_UG_USER_ID),
                            {groupId, ROOT_ID});
    return editor.deleteWhere(TABLE_USER_GROUPS, COL_UG_GROUP_ID, groupId);
}
