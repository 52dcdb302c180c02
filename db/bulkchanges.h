#pragma once

#include <QVector>

#include <functional>

class DbConnection;
class DbJournal;
class DbReads;
struct RecordTable;

// Changes of many records at once, each all or nothing, in statements that do not grow in
// number with the records.
class DbBulkChanges {
public:
    DbBulkChanges(DbConnection& conn, DbReads& reads, DbJournal& journal)
        : conn(conn)
        , reads(reads)
        , journal(journal) {}

    int deleteDevices(const QVector<int>& ids);
    bool changeDevicesGroups(const QVector<int>& deviceIds, const QVector<int>& addGroupIds,
                             const QVector<int>& removeGroupIds);
    bool setDevicesForAll(const QVector<int>& deviceIds, bool forAll);
    bool changeUsersGroups(const QVector<int>& userIds, const QVector<int>& addGroupIds,
                           const QVector<int>& removeGroupIds);

private:
    bool asOne(int statements, const std::function<bool()>& change);
    int protectedGroupId();
    bool allGroupsStored(const QVector<int>& groupIds);
    bool changeGroups(const RecordTable& records, const QVector<int>& ownerIds,
                      const QVector<int>& addGroupIds, const QVector<int>& removeGroupIds, int rootGroup);

    DbConnection& conn;
    DbReads& reads;
    DbJournal& journal;
};
