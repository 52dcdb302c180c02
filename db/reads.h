#pragma once

#include "core/journal.h"
#include "core/records.h"

#include <QHash>
#include <QPair>
#include <QString>
#include <QVector>

class DbConnection;

// Every read of records, ids and memberships but the snapshot of whole tables.
class DbReads {
public:
    explicit DbReads(DbConnection& conn)
        : conn(conn) {}

    // Whether the server answers, connecting again once when the connection was found gone; one
    // round trip.
    bool reachable();
    int getDevicesCount();
    QVector<DeviceInfo> getDevices();
    QVector<UserInfo> getUsers();
    QVector<GroupInfo> getGroups();
    UserInfo getUser(int id);
    int getUserId(const QString& login);
    int getDeviceId(quint64 imei);
    int getGroupId(const QString& name);
    QVector<int> getUserGroups(int userId);
    QVector<int> getDeviceGroups(int deviceId);
    QVector<int> getGroupUsers(int groupId);
    QVector<int> getGroupDevices(int groupId);
    // Member counts of every group in one statement each: group id -> count.
    QHash<int, int> getGroupUsersCounts();
    QHash<int, int> getGroupDevicesCounts();
    // Rows of `ids` with their memberships, in id order; ids not found are left out.
    // `ok` (when given) tells a failed read from ids that are all gone.
    QVector<DeviceInfo> getDevicesByIds(const QVector<int>& ids, bool* ok = nullptr);
    QVector<UserInfo> getUsersByIds(const QVector<int>& ids, bool* ok = nullptr);
    // The stored devices among `imeis`: IMEI -> id and name. `ok` (when given) tells a failed
    // read from IMEIs none of which is stored.
    QHash<quint64, QPair<int, QString>> storedDevices(const QVector<quint64>& imeis, bool* ok = nullptr);
    // The newest `limit` rows of the change journal that `filter` chooses, newest first; `at` in UTC.
    // `ok` (when given) tells a failed read (the journal off, the connection gone) from no rows.
    QVector<JournalEntry> journal(const JournalFilter& filter, int limit, bool* ok = nullptr);

private:
    template <typename Record>
    void attachGroups(QVector<Record>& records, const QString& table, const QString& ownerColumn,
                      const QString& groupColumn);
    template <typename Key>
    int idByKey(const QString& table, const QString& column, const Key& key, const char* before,
                const char* after);
    QVector<int> memberIds(const QString& table, const QString& keyColumn, int key, const QString& column);
    QHash<int, int> countsByGroup(const QString& table, const QString& groupColumn);
    template <typename Record, typename Fill>
    QVector<Record> recordsByIds(const QVector<int>& ids, const QString& sql, const QString& column,
                                 Fill fill, bool* ok);

    DbConnection& conn;
};
