#pragma once

#include "core/records.h"
#include "db/dberror.h"
#include "db/recordedit.h"
#include "db/recordtables.h"

#include <QVariant>
#include <QVector>

#include <functional>

class DbConnection;
class DbJournal;

// Adding, changing and deleting one record and its memberships. Users and devices go through
// the same steps; root and the administrators' group are protected here.
class DbWrites {
public:
    DbWrites(DbConnection& conn, DbJournal& journal)
        : conn(conn)
        , journal(journal)
        , editor(conn, journal) {}

    // On success `id` is the new row's.
    DbError addUser(const UserInfo& user, int& id);
    DbError addDevice(const DeviceInfo& device, int& id);
    DbError addGroup(GroupInfo& group);
    DbError updateUser(const UserInfo& user);
    DbError updateDevice(const DeviceInfo& device);
    DbError updateGroup(const GroupInfo& group);
    // What changed from `seen` to `wanted`, against the stored record.
    DbError updateUser(const UserInfo& seen, const UserInfo& wanted);
    DbError updateDevice(const DeviceInfo& seen, const DeviceInfo& wanted);
    DbError updateGroup(const GroupInfo& seen, const GroupInfo& wanted);

    // A user or a device with its memberships.
    bool remove(const RecordTable& records, int id);
    // Adds the memberships of `owner` in `groupIds`, never removes any; none unless `owner` and
    // every group are stored.
    bool addMemberships(const RecordTable& records, int owner, const QVector<int>& groupIds);
    bool removeMemberships(const RecordTable& records, int owner);

    bool deleteGroup(int id);
    // None unless the group and every user are stored.
    bool setGroupUsers(int groupId, const QVector<int>& userIds);
    bool removeGroupUsers(int groupId);

private:
    DbError add(const RecordTable& records, const QVariantList& values, const QVector<int>& groups, int& id);
    bool refusedFor(const RecordTable& records, int id);
    bool renamesRoot(const UserInfo& user);
    bool renamesAdminGroup(const GroupInfo& group);
    int insertUnlessTaken(const RecordTable& records, const QVariantList& values);
    // Journals row `id` of `records` as deleted, locking it, then deletes what `also` deletes and it.
    bool removeJournaled(const RecordTable& records, int id, const std::function<bool()>& also);
    bool dropGroupUsers(int groupId);

    DbConnection& conn;
    DbJournal& journal;
    RecordEditor editor;
};
