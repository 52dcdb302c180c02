#pragma once

#include "core/records.h"
#include "db/dberror.h"
#include "db/recordtables.h"

#include <QVariant>
#include <QVector>

class DbConnection;

// Adding, changing and deleting one record and its memberships. Users and devices go through
// the same steps; root and the administrators' group are protected here.
class DbWrites {
public:
    explicit DbWrites(DbConnection& conn)
        : conn(conn) {}

    // On success `id` is the new row's.
    DbError addUser(const UserInfo& user, int& id);
    DbError addDevice(const DeviceInfo& device, int& id);
    DbError addGroup(GroupInfo& group);
    DbError updateUser(const UserInfo& user);
    DbError updateDevice(const DeviceInfo& device);
    DbError updateGroup(const GroupInfo& group);

    // A user or a device with its memberships.
    bool remove(const RecordTable& records, int id);
    // Adds the memberships of `owner` in `groupIds`, never removes any.
    bool addMemberships(const RecordTable& records, int owner, const QVector<int>& groupIds);
    bool removeMemberships(const RecordTable& records, int owner);

    bool deleteGroup(int id);
    bool setGroupUsers(int groupId, const QVector<int>& userIds);
    bool removeGroupUsers(int groupId);

private:
    DbError add(const RecordTable& records, const QVariantList& values, const QVector<int>& groups, int& id);
    DbError update(const RecordTable& records, int id, const QVariantList& values,
                   const QVector<int>& groups);
    bool refusedFor(const RecordTable& records, int id);
    DbError takenCheck(const RecordTable& records, const QVariant& value, int exceptId, QVector<int>& groups);
    int insertUnlessTaken(const RecordTable& records, const QVariantList& values);
    bool insertMemberships(const QString& table, const QString& keyColumn, const QString& valueColumn,
                           int key, const QVector<int>& values);
    bool replaceMemberships(const RecordTable& records, int owner, const QVector<int>& groupIds);
    bool deleteWhere(const QString& table, const QString& column, int value);

    DbConnection& conn;
};
