#pragma once

#include "core/records.h"
#include "db/bulkchanges.h"
#include "db/connection.h"
#include "db/dberror.h"
#include "db/deviceimporter.h"
#include "db/journal.h"
#include "db/reads.h"
#include "db/snapshotloader.h"
#include "db/writes.h"

#include <QHash>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVector>

#include <functional>

// The program's only way into the tracking server's database; its reads are those of DbReads. Every value
// that comes from a person, a file or the network is bound, never spliced into SQL. A handler and its
// connection belong to the thread that created it.
class ConfigHandler : public QObject, public DbReads {
    Q_OBJECT

public:
    // An empty name means Qt's default connection; another thread needs a name of its own.
    explicit ConfigHandler(QObject* parent = nullptr, const QString& connectionName = QString());
    ~ConfigHandler() override;

    // Connection and integrity
    void setConnectionSettings(const SqlConnectionSettings& settings);
    SqlConnectionSettings connectionSettings() const;
    int connectToDatabase(); // 0 = open, 1 = failed
    QString lastErrorText() const;
    // What made the latest failure on this connection fail; none after connecting.
    DbError lastError() const;
    // "TLSv1.3, TLS_AES_256_GCM_SHA384" while the open connection is encrypted, else empty.
    QString tlsSession() const;
    QSqlDatabase database() const;
    bool checkDatabase();     // true = root still has the default password; throws QString
    int adminGroupId() const; // 0 until checkDatabase finds the group in the current database
    // The change journal is kept once its table was made or found usable; when it is not, changes
    // are stored without it and journalOffReason() says why. Connecting does not look: the connect
    // attempt does (prepareJournal()) and hands what it found to the other connections
    // (useJournal()); a connection told nothing looks before its first change.
    bool prepareJournal();
    JournalState journalState() const;
    void useJournal(const JournalState& state);
    bool journalOn() const;
    QString journalOffReason() const;
    // The database passed checkDatabase on another connection, which found this group.
    void useCheckedDatabase(int adminGroupId);
    // Group names read elsewhere (a refresh), so that a group deleted meanwhile can be named.
    void knowGroups(const QVector<GroupInfo>& groups);
    QByteArray hashPassword(const QString& password) const;

    // Loading: every read of DbReads, and all three tables from one read-only consistent snapshot; `snapshot`
    // is left as it was on failure. A device of `known` whose name is read unchanged lends it its string, so
    // that two copies of a large table share their names.
    bool loadTables(TablesSnapshot& snapshot, QString& error, const DeviceNames& known = {});
    // Devices per slice of loadTables (memberships: three times as many); tests make it small.
    void setLoadSliceForTesting(int devices) { loader.setSlice(devices); }

    // Users and groups
    bool addUser(const UserInfo& user, QString& error);
    // The same, giving the new user's id to `id`.
    bool addUser(const UserInfo& user, QString& error, int& id);
    bool updateUser(const UserInfo& user, QString& error);
    // Edits apply what changed from `seen`, the record as the dialog showed it, to `wanted`,
    // against the stored record, in one transaction: a field changed elsewhere stays unless it was
    // changed here too; a field changed here and elsewhere to a third value is a conflict, and
    // nothing is written. Groups ticked are joined, groups unticked left, other memberships stay.
    // A record or a ticked group deleted meanwhile: nothing is written. `error` tells why.
    bool updateUser(const UserInfo& seen, const UserInfo& wanted, QString& error);
    bool deleteUser(int id);
    bool addUserGroups(int userId, const QVector<int>& groupIds);
    bool removeUserGroups(int userId);
    bool addGroup(GroupInfo& group, QString& error);
    bool updateGroup(const GroupInfo& group, QString& error);
    bool updateGroup(const GroupInfo& seen, const GroupInfo& wanted, QString& error);
    bool deleteGroup(int id);
    bool setGroupUsers(int groupId, const QVector<int>& userIds);
    bool removeGroupUsers(int groupId);

    // Devices
    bool addDevice(const DeviceInfo& device, QString& error);
    // The same, giving the new device's id to `id`.
    bool addDevice(const DeviceInfo& device, QString& error, int& id);
    // Called after each batch with the records handled so far and the total;
    // returning false stops before the next batch.
    using Progress = DeviceImporter::Progress;
    // Returns the number added; `result` (when given) tells what became of every handled record.
    int addDevices(const QVector<DeviceInfo>& devices, const Progress& progress = Progress(),
                   AddDevicesResult* result = nullptr);
    bool updateDevice(const DeviceInfo& device, QString& error);
    bool updateDevice(const DeviceInfo& seen, const DeviceInfo& wanted, QString& error);
    bool deleteDevice(int id);
    // Deletes many devices and their memberships in a few statements; returns the number deleted.
    int deleteDevices(const QVector<int>& ids);
    bool addDeviceGroups(int deviceId, const QVector<int>& groupIds);
    bool removeDeviceGroups(int deviceId);

    // Bulk changes, each one transaction: all or nothing. Every listed record joins every group of
    // addGroupIds (a group listed in both lists too) and leaves every group of removeGroupIds;
    // devices never leave the administrators' group, root never leaves it either. Other
    // memberships stay; records unknown to the database are ignored, a group to join that is not
    // stored (deleted meanwhile) refuses the change.
    bool changeDevicesGroups(const QVector<int>& deviceIds, const QVector<int>& addGroupIds,
                             const QVector<int>& removeGroupIds);
    bool setDevicesForAll(const QVector<int>& deviceIds, bool forAll);
    bool changeUsersGroups(const QVector<int>& userIds, const QVector<int>& addGroupIds,
                           const QVector<int>& removeGroupIds);
    // Runs `change`, calls of this handler, as one transaction: all of them or nothing.
    bool asOneChange(const std::function<bool()>& change);

private:
    DbConnection conn;
    DbJournal journaling;
    DbWrites writes;
    DbBulkChanges bulk;
    DeviceImporter importer;
    SnapshotLoader loader;
};
