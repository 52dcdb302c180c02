#include "db/confighandler.h"

#include "core/qtcompat.h"
#include "core/schema.h"
#include "db/sqlparts.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QMap>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <algorithm>
#include <utility>

namespace {

const QString ERR_USER_EXISTS = QStringLiteral("Такой пользователь уже существует!");
const QString ERR_USER_ADD = QStringLiteral("Не удалось добавить пользователя!");
const QString ERR_USER_GROUPS = QStringLiteral("Не удалось присвоить пользователю группы!");
const QString ERR_GROUP_EXISTS = QStringLiteral("Такая группа уже существует!");
const QString ERR_GROUP_ADD = QStringLiteral("Не удалось добавить группу!");
const QString ERR_DEVICE_EXISTS = QStringLiteral("Такое устройство уже добавлено!");
const QString ERR_DEVICE_ADD = QStringLiteral("Не удалось добавить устройство!");
const QString ERR_DEVICE_GROUPS = QStringLiteral("Не удалось присвоить устройству группы!");
const QString ERR_DEVICE_IMEI = QStringLiteral("Введите IMEI устройства (15 цифр)!");

// Records per addDevices batch, and bound values per statement: MariaDB accepts at most
// 65535 placeholders in one prepared statement.
constexpr int DEVICE_BATCH = 2000;
constexpr int MAX_PLACEHOLDERS = 60000;
// Ids per DELETE: beyond about 10,000 listed ids the server stops using the key and scans the table.
constexpr int DELETE_CHUNK = 4096;
// Memberships per INSERT of one record's list.
constexpr int MEMBERSHIP_CHUNK = 4096;
// Ids per read-back statement. A list is padded to a power of two with its last id, so that a
// dozen kept statements serve every length.
constexpr int READ_BACK_CHUNK = 4096;
// IMEIs per look-up statement, padded the same way up to this length.
constexpr int IMEI_SLICE = 5000;

// Owner ids per statement of a bulk change. With a DELETE and an INSERT per slice, the statements
// grow by one per 8,192 ids; a slice at most a quarter of the placeholder limit.
constexpr int BULK_SLICE = 16384;
// Group ids per statement of a bulk change: one statement for any usual number of groups.
constexpr int BULK_GROUPS = 4096;

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

void logRefusedDevice(const QString& error, const DeviceInfo& device) {
    qDebug() << error << device.id << device.groups;
}

// Counts a record refused with `error`; `earlier`: an earlier record of the list has its IMEI.
void countRefused(AddDevicesResult& result, const QString& error, bool earlier) {
    if (error == ERR_DEVICE_EXISTS)
        ++(earlier ? result.repeated : result.alreadyStored);
    else if (error == ERR_DEVICE_IMEI)
        ++result.invalid;
    else
        ++result.failed;
}

// Gives each record the groups of its membership rows (owner id, group id), fed ordered by owner
// as `records` are by id, and counts every row by group as COUNT(*) does, rows of missing owners
// included. Records with the same groups share one list: a million devices fall into a few
// thousand combinations of groups, and a list of their own would cost each of them an allocation.
template <typename Record>
class MembershipAttacher {
public:
    MembershipAttacher(QVector<Record>& records, QHash<int, int>& counts)
        : records(records)
        , counts(counts) {}

    void add(int owner, int group) {
        ++counts[group];
        while (at < records.size() && records.at(at).id < owner)
            ++at;
        const int record = at < records.size() && records.at(at).id == owner ? at : -1;
        if (record != owned) {
            finish();
            owned = record;
        }
        if (owned >= 0)
            groups.append(group);
    }

    void finish() {
        if (owned >= 0 && !groups.isEmpty()) {
            auto it = shared.constFind(groups);
            if (it == shared.constEnd())
                it = shared.insert(groups, groups);
            records[owned].groups = it.value();
        }
        groups.clear();
    }

private:
    QVector<Record>& records;
    QHash<int, int>& counts;
    QHash<QVector<int>, QVector<int>> shared;
    QVector<int> groups;
    int owned = -1; // the record `groups` is gathered for
    int at = 0;
};

template <typename Record>
void attachOrdered(QVector<Record>& records, QSqlQuery& q, QHash<int, int>& counts) {
    MembershipAttacher<Record> attacher(records, counts);
    while (q.next())
        attacher.add(q.value(0).toInt(), q.value(1).toInt());
    attacher.finish();
}

} // namespace

ConfigHandler::ConfigHandler(QObject* parent, const QString& connectionName)
    : QObject(parent)
    , conn(connectionName) {
    qRegisterMetaType<DeviceInfo>("DeviceInfo");
    qRegisterMetaType<UserInfo>("UserInfo");
    qRegisterMetaType<GroupInfo>("GroupInfo");
    qRegisterMetaType<TablesSnapshot>("TablesSnapshot");
}

ConfigHandler::~ConfigHandler() = default;

// ---------------------------------------------------------------- connection

void ConfigHandler::setConnectionSettings(const SqlConnectionSettings& settings) {
    conn.setSettings(settings);
}

SqlConnectionSettings ConfigHandler::connectionSettings() const {
    return conn.connectionSettings();
}

int ConfigHandler::connectToDatabase() {
    addedDevice = {};
    addedUser = {};
    return conn.open() ? 0 : 1;
}

QString ConfigHandler::lastErrorText() const {
    return conn.lastErrorText();
}

DbError ConfigHandler::lastError() const {
    return conn.lastError();
}

QString ConfigHandler::tlsSession() const {
    return conn.tlsSession();
}

QSqlDatabase ConfigHandler::database() const {
    return conn.database();
}

bool ConfigHandler::checkDatabase() {
    return conn.checkDatabase();
}

int ConfigHandler::adminGroupId() const {
    return conn.adminGroupId();
}

QByteArray ConfigHandler::hashPassword(const QString& password) const {
    return ::hashPassword(password);
}

int ConfigHandler::getDevicesCount() {
    QSqlQuery q(conn.database());
    if (!conn.run(q, QStringLiteral("SELECT COUNT(*) FROM %1").arg(TABLE_DEVICES)))
        return -1;
    if (!q.next())
        return -1;
    return q.value(0).toInt();
}

// ---------------------------------------------------------------- loading

QVector<GroupInfo> ConfigHandler::getGroups() {
    return readTable<GroupInfo>(conn, TABLE_GROUPS, {COL_ID, COL_GROUP_NAME},
                                [](GroupInfo& g, const QSqlQuery& q, const QVector<int>& c) {
                                    g.id = q.value(c[0]).toInt();
                                    g.name = q.value(c[1]).toString();
                                });
}

// Reads a whole membership table once and appends each row's group id to its record, so a
// reload costs the same few statements whatever the number of rows. Memberships keep the
// order in which the server returns them.
template <typename Record>
void ConfigHandler::attachGroups(QVector<Record>& records, const QString& table, const QString& ownerColumn,
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

QVector<DeviceInfo> ConfigHandler::getDevices() {
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

QVector<UserInfo> ConfigHandler::getUsers() {
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

UserInfo ConfigHandler::getUser(int id) {
    UserInfo u;
    QSqlQuery q(conn.database());
    if (conn.runKept(q, QStringLiteral("SELECT * FROM %1 WHERE %2=?").arg(TABLE_USERS, COL_ID), {id}) &&
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
int ConfigHandler::idByKey(const QString& table, const QString& column, const Key& key, const char* before,
                           const char* after) {
    QSqlQuery q(conn.database());
    if (!conn.runKept(q, QStringLiteral("SELECT %1 FROM %2 WHERE %3=?").arg(COL_ID, table, column),
                      {bound(key)}))
        return -1;
    if (!q.next()) {
        qDebug() << before << key << after;
        return -1;
    }
    return q.value(0).toInt();
}

int ConfigHandler::getUserId(const QString& login) {
    const QPair<QString, int> added = std::exchange(addedUser, {});
    if (added.second > 0 && added.first == login)
        return added.second;
    return idByKey(TABLE_USERS, COL_USER_LOGIN, login, "Пользователь с именем", "не найден!");
}

int ConfigHandler::getDeviceId(quint64 imei) {
    const QPair<quint64, int> added = std::exchange(addedDevice, {});
    if (added.second > 0 && added.first == imei)
        return added.second;
    return idByKey(TABLE_DEVICES, COL_IMEI, imei, "Устройство с imei", "не найдено!");
}

int ConfigHandler::getGroupId(const QString& name) {
    return idByKey(TABLE_GROUPS, COL_GROUP_NAME, name, "Группа с названием", "не найдена!");
}

QVector<int> ConfigHandler::memberIds(const QString& table, const QString& keyColumn, int key,
                                      const QString& column) {
    QSqlQuery q(conn.database());
    if (!conn.runKept(q, QStringLiteral("SELECT * FROM %1 WHERE %2=?").arg(table, keyColumn), {key}))
        return {};
    return intColumn(q, column);
}

QVector<int> ConfigHandler::getUserGroups(int userId) {
    return memberIds(TABLE_USER_GROUPS, COL_UG_USER_ID, userId, COL_UG_GROUP_ID);
}

QVector<int> ConfigHandler::getDeviceGroups(int deviceId) {
    return memberIds(TABLE_DEVICE_GROUPS, COL_DG_DEVICE_ID, deviceId, COL_DG_GROUP_ID);
}

QVector<int> ConfigHandler::getGroupUsers(int groupId) {
    return memberIds(TABLE_USER_GROUPS, COL_UG_GROUP_ID, groupId, COL_UG_USER_ID);
}

QVector<int> ConfigHandler::getGroupDevices(int groupId) {
    return memberIds(TABLE_DEVICE_GROUPS, COL_DG_GROUP_ID, groupId, COL_DG_DEVICE_ID);
}

QHash<int, int> ConfigHandler::countsByGroup(const QString& table, const QString& groupColumn) {
    QHash<int, int> counts;
    QSqlQuery q(conn.database());
    if (!conn.run(q, QStringLiteral("SELECT %1, COUNT(*) FROM %2 GROUP BY %1").arg(groupColumn, table)))
        return counts;
    while (q.next())
        counts.insert(q.value(0).toInt(), q.value(1).toInt());
    return counts;
}

QHash<int, int> ConfigHandler::getGroupUsersCounts() {
    return countsByGroup(TABLE_USER_GROUPS, COL_UG_GROUP_ID);
}

QHash<int, int> ConfigHandler::getGroupDevicesCounts() {
    return countsByGroup(TABLE_DEVICE_GROUPS, COL_DG_GROUP_ID);
}

// `sql` selects the record's columns and last the group id of a LEFT JOINed membership, where
// the owner id is IN (%1), ordered by owner and group: one statement per chunk of ids.
template <typename Record, typename Fill>
QVector<Record> ConfigHandler::recordsByIds(const QVector<int>& ids, const QString& sql, Fill fill,
                                            bool* ok) {
    QVector<int> wanted = ids;
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    QVector<Record> records;
    for (int from = 0; from < wanted.size(); from += READ_BACK_CHUNK) {
        const int to = std::min<int>(wanted.size(), from + READ_BACK_CHUNK);
        const QVariantList values = paddedIds(wanted, from, to);
        QSqlQuery q(conn.database());
        if (!conn.runKept(q, sql.arg(placeholders(values.size(), 0)), values)) {
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

QVector<DeviceInfo> ConfigHandler::getDevicesByIds(const QVector<int>& ids, bool* ok) {
    return recordsByIds<DeviceInfo>(
        ids,
        QStringLiteral("SELECT d.%1, d.%2, d.%3, d.%4, m.%5 FROM %6 d LEFT JOIN %7 m ON m.%8 = d.%1 "
                       "WHERE d.%1 IN (%9) ORDER BY d.%1, m.%5")
            .arg(COL_ID, COL_IMEI, COL_NAME, COL_FOR_ALL, COL_DG_GROUP_ID, TABLE_DEVICES, TABLE_DEVICE_GROUPS,
                 COL_DG_DEVICE_ID, QStringLiteral("%1")),
        fillDevice, ok);
}

QVector<UserInfo> ConfigHandler::getUsersByIds(const QVector<int>& ids, bool* ok) {
    return recordsByIds<UserInfo>(
        ids,
        QStringLiteral("SELECT u.%1, u.%2, u.%3, m.%4 FROM %5 u LEFT JOIN %6 m ON m.%7 = u.%1 "
                       "WHERE u.%1 IN (%8) ORDER BY u.%1, m.%4")
            .arg(COL_ID, COL_USER_LOGIN, COL_USER_PASSWORD, COL_UG_GROUP_ID, TABLE_USERS, TABLE_USER_GROUPS,
                 COL_UG_USER_ID, QStringLiteral("%1")),
        fillUser, ok);
}

QHash<quint64, QPair<int, QString>> ConfigHandler::storedDevices(const QVector<quint64>& imeis, bool* ok) {
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
        if (!conn.runKept(q,
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

// Text statements but for the two large tables, which are read through kept statements:
// 12 round trips the first time on a connection, 10 after.
bool ConfigHandler::loadTables(TablesSnapshot& snapshot, QString& error, const DeviceNames& known) {
    QSqlQuery q(conn.database());
    bool open = false;
    auto failed = [&](const QSqlQuery& query) {
        error = query.lastError().text();
        if (open)
            QSqlQuery(conn.database()).exec(QStringLiteral("ROLLBACK"));
        return false;
    };
    // Repeatable read makes the snapshot hold for every statement of the transaction.
    if (!conn.run(q, QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ")))
        return failed(q);
    if (!conn.run(q, QStringLiteral("START TRANSACTION WITH CONSISTENT SNAPSHOT, READ ONLY")) &&
        !conn.run(q, QStringLiteral("START TRANSACTION WITH CONSISTENT SNAPSHOT")))
        return failed(q);
    open = true;

    TablesSnapshot s;
    if (!conn.run(
            q, QStringLiteral("SELECT %1, %2 FROM %3 ORDER BY %1").arg(COL_ID, COL_GROUP_NAME, TABLE_GROUPS)))
        return failed(q);
    s.groups.reserve(std::max(0, q.size()));
    while (q.next()) {
        s.groups.append(GroupInfo{q.value(0).toInt(), q.value(1).toString()});
        // the name compares bytewise (utf8mb4_nopad_bin), as checkDatabase's lookup does
        if (s.adminGroupId == 0 && s.groups.constLast().name == ADMIN_GROUP_NAME)
            s.adminGroupId = s.groups.constLast().id;
    }

    if (!conn.run(q, QStringLiteral("SELECT %1, %2, %3 FROM %4 ORDER BY %1")
                         .arg(COL_ID, COL_USER_LOGIN, COL_USER_PASSWORD, TABLE_USERS)))
        return failed(q);
    s.users.reserve(std::max(0, q.size()));
    while (q.next()) {
        s.users.append(UserInfo());
        fillUser(s.users.last(), q);
    }
    if (!conn.run(q, QStringLiteral("SELECT %1, %2 FROM %3 ORDER BY %1, %2")
                         .arg(COL_UG_USER_ID, COL_UG_GROUP_ID, TABLE_USER_GROUPS)))
        return failed(q);
    attachOrdered(s.users, q, s.groupUsers);

    // Devices and their memberships in slices, so that the client library never holds a million
    // rows at once; one slice at 100,000 devices.
    QSqlQuery rows(conn.database());
    int lender = 0;
    for (int after = 0;;) {
        if (!conn.runKept(rows,
                          QStringLiteral("SELECT %1, %2, %3, %4 FROM %5 WHERE %1>? ORDER BY %1 LIMIT %6")
                              .arg(COL_ID, COL_IMEI, COL_NAME, COL_FOR_ALL, TABLE_DEVICES)
                              .arg(loadSlice),
                          {after}))
            return failed(rows);
        if (s.devices.isEmpty())
            s.devices.reserve(std::max(0, rows.size()));
        int read = 0;
        while (rows.next()) {
            s.devices.append(DeviceInfo());
            DeviceInfo& d = s.devices.last();
            fillDevice(d, rows);
            while (lender < known.ids.size() && known.ids.at(lender) < d.id)
                ++lender;
            if (lender < known.ids.size() && known.ids.at(lender) == d.id && known.names.at(lender) == d.name)
                d.name = known.names.at(lender);
            ++read;
        }
        rows.finish();
        if (read < loadSlice)
            break;
        after = s.devices.constLast().id;
    }
    MembershipAttacher<DeviceInfo> attacher(s.devices, s.groupDevices);
    for (int owner = 0, group = 0;;) {
        if (!conn.runKept(
                rows,
                QStringLiteral("SELECT %1, %2 FROM %3 WHERE %1>? OR (%1=? AND %2>?) ORDER BY %1, %2 LIMIT %4")
                    .arg(COL_DG_DEVICE_ID, COL_DG_GROUP_ID, TABLE_DEVICE_GROUPS)
                    .arg(loadSlice * 3),
                {owner, owner, group}))
            return failed(rows);
        int read = 0;
        while (rows.next()) {
            owner = rows.value(0).toInt();
            group = rows.value(1).toInt();
            attacher.add(owner, group);
            ++read;
        }
        rows.finish();
        if (read < loadSlice * 3)
            break;
    }
    attacher.finish();

    if (!conn.run(q, QStringLiteral("COMMIT")))
        return failed(q);
    snapshot = std::move(s);
    return true;
}

// ---------------------------------------------------------------- shared helpers

// True when no row other than `exceptId` has `value` in `column`. When one has, `error`
// becomes `takenText`; when the check itself cannot run, `error` stays as it was.
bool ConfigHandler::isFree(const QString& table, const QString& column, const QVariant& value, int exceptId,
                           QString& error, const QString& takenText) {
    QSqlQuery q(conn.database());
    if (!conn.runKept(q, QStringLiteral("SELECT %1 FROM %2 WHERE %3=? AND %1<>?").arg(COL_ID, table, column),
                      {value, exceptId}))
        return false;
    const bool taken = q.next();
    q.finish();
    if (taken) {
        error = takenText;
        return false;
    }
    return true;
}

// isFree for record `id`, reading its memberships into `groups` in the same statement.
bool ConfigHandler::isFreeWithGroups(const QString& table, const QString& column, const QVariant& value,
                                     int id, const QString& members, const QString& ownerColumn,
                                     const QString& groupColumn, QVector<int>& groups, QString& error,
                                     const QString& takenText) {
    QSqlQuery q(conn.database());
    if (!conn.runKept(q,
                      QStringLiteral("SELECT 0, %1 FROM %2 WHERE %3=? AND %1<>? "
                                     "UNION ALL SELECT 1, %4 FROM %5 WHERE %6=?")
                          .arg(COL_ID, table, column, groupColumn, members, ownerColumn),
                      {value, id, id}))
        return false;
    bool taken = false;
    while (q.next()) {
        if (q.value(0).toInt() == 0)
            taken = true;
        else
            groups.append(q.value(1).toInt());
    }
    q.finish();
    if (taken) {
        error = takenText;
        return false;
    }
    return true;
}

// Inserts one row unless another has the first column's value, in one statement. Returns the
// new id, 0 when the value is taken, -1 when the row could not be stored.
int ConfigHandler::insertUnlessTaken(const QString& table, const QStringList& columns,
                                     const QVariantList& values) {
    QSqlQuery q(conn.database());
    if (!conn.runKept(
            q,
            QStringLiteral("INSERT INTO %1 (%2) SELECT %3 FROM DUAL WHERE NOT EXISTS "
                           "(SELECT 1 FROM %1 WHERE %4=?)")
                .arg(table, columns.join(QLatin1Char(',')), placeholders(columns.size(), 0), columns.first()),
            values + QVariantList{values.first()}))
        return -1;
    if (q.numRowsAffected() < 1)
        return 0;
    const int id = q.lastInsertId().toInt();
    return id > 0 ? id : -1;
}

// Inserts the pairs (key, each of values) with INSERT IGNORE, one statement per chunk: a list
// of any usual length is stored whole or not at all.
bool ConfigHandler::insertMemberships(const QString& table, const QString& keyColumn,
                                      const QString& valueColumn, int key, const QVector<int>& values) {
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

// Replaces the list of `key` whole or not at all; one DELETE alone needs no transaction.
bool ConfigHandler::replaceMemberships(const QString& table, const QString& keyColumn,
                                       const QString& valueColumn, int key, const QVector<int>& values) {
    if (values.isEmpty())
        return deleteWhere(table, keyColumn, key);
    return conn.inTransaction([&] {
        return deleteWhere(table, keyColumn, key) &&
               insertMemberships(table, keyColumn, valueColumn, key, values);
    });
}

bool ConfigHandler::deleteWhere(const QString& table, const QString& column, int value) {
    QSqlQuery q(conn.database());
    return conn.runKept(q, QStringLiteral("DELETE FROM %1 WHERE %2=?").arg(table, column), {value});
}

// ---------------------------------------------------------------- users and groups

bool ConfigHandler::addUser(const UserInfo& user, QString& error) {
    addedUser = {};
    const int id = insertUnlessTaken(TABLE_USERS, {COL_USER_LOGIN, COL_USER_PASSWORD},
                                     {bound(user.login), user.password});
    if (id <= 0) {
        error = id == 0 ? ERR_USER_EXISTS : ERR_USER_ADD;
        return false;
    }
    addedUser = qMakePair(user.login, id);
    if (addUserGroups(id, user.groups))
        return true;
    error = ERR_USER_GROUPS;
    return false;
}

bool ConfigHandler::updateUser(const UserInfo& user, QString& error) {
    if (user.id == ROOT_ID && user.login != ROOT_LOGIN) {
        qDebug() << "нельзя переименовать админа";
        return false;
    }
    addedUser = {};
    QVector<int> stored;
    if (!isFreeWithGroups(TABLE_USERS, COL_USER_LOGIN, bound(user.login), user.id, TABLE_USER_GROUPS,
                          COL_UG_USER_ID, COL_UG_GROUP_ID, stored, error, ERR_USER_EXISTS))
        return false;

    QSqlQuery q(conn.database());
    if (!conn.runKept(q,
                      QStringLiteral("UPDATE %1 SET %2=?, %3=? WHERE %4=?")
                          .arg(TABLE_USERS, COL_USER_LOGIN, COL_USER_PASSWORD, COL_ID),
                      {bound(user.login), user.password, user.id}))
        return false;

    // root keeps his memberships whatever the record asks.
    if (sameGroups(stored, user.groups) || user.id == ROOT_ID)
        return true;
    if (replaceMemberships(TABLE_USER_GROUPS, COL_UG_USER_ID, COL_UG_GROUP_ID, user.id, user.groups))
        return true;
    error = ERR_USER_GROUPS;
    return false;
}

bool ConfigHandler::deleteUser(int id) {
    addedUser = {};
    if (id == ROOT_ID) {
        qDebug() << "нельзя удалить админа";
        return false;
    }
    return conn.inTransaction([&] {
        return deleteWhere(TABLE_USERS, COL_ID, id) && deleteWhere(TABLE_USER_GROUPS, COL_UG_USER_ID, id);
    });
}

bool ConfigHandler::addUserGroups(int userId, const QVector<int>& groupIds) {
    if (userId == ROOT_ID) {
        qDebug() << "нельзя удалить админа";
        return false;
    }
    return insertMemberships(TABLE_USER_GROUPS, COL_UG_USER_ID, COL_UG_GROUP_ID, userId, groupIds);
}

bool ConfigHandler::removeUserGroups(int userId) {
    if (userId == ROOT_ID) {
        qDebug() << "нельзя удалить админа";
        return false;
    }
    return deleteWhere(TABLE_USER_GROUPS, COL_UG_USER_ID, userId);
}

bool ConfigHandler::addGroup(GroupInfo& group, QString& error) {
    const int id = insertUnlessTaken(TABLE_GROUPS, {COL_GROUP_NAME}, {bound(group.name)});
    if (id <= 0) {
        error = id == 0 ? ERR_GROUP_EXISTS : ERR_GROUP_ADD;
        return false;
    }
    group.id = id;
    return true;
}

bool ConfigHandler::updateGroup(const GroupInfo& group, QString& error) {
    // The administrators' group is found by its stored name: renaming it would lock
    // everybody out at the next start. Its members are changed separately.
    if (conn.adminGroupId() > 0 && group.id == conn.adminGroupId()) {
        qDebug() << "нельзя переименовать группу админа";
        return true;
    }
    if (!isFree(TABLE_GROUPS, COL_GROUP_NAME, bound(group.name), group.id, error, ERR_GROUP_EXISTS))
        return false;
    QSqlQuery q(conn.database());
    return conn.runKept(
        q, QStringLiteral("UPDATE %1 SET %2=? WHERE %3=?").arg(TABLE_GROUPS, COL_GROUP_NAME, COL_ID),
        {bound(group.name), group.id});
}

bool ConfigHandler::deleteGroup(int id) {
    if (id == conn.adminGroupId()) {
        qDebug() << "нельзя удалить группу админа";
        return false;
    }
    return conn.inTransaction([&] {
        return deleteWhere(TABLE_GROUPS, COL_ID, id) &&
               deleteWhere(TABLE_DEVICE_GROUPS, COL_DG_GROUP_ID, id) &&
               deleteWhere(TABLE_USER_GROUPS, COL_UG_GROUP_ID, id);
    });
}

bool ConfigHandler::setGroupUsers(int groupId, const QVector<int>& userIds) {
    return conn.inTransaction([&] {
        return removeGroupUsers(groupId) &&
               insertMemberships(TABLE_USER_GROUPS, COL_UG_GROUP_ID, COL_UG_USER_ID, groupId, userIds);
    });
}

bool ConfigHandler::removeGroupUsers(int groupId) {
    QSqlQuery q(conn.database());
    // root stays in the administrators' group, or the next start could not find him.
    if (conn.adminGroupId() > 0 && groupId == conn.adminGroupId())
        return conn.runKept(q,
                            QStringLiteral("DELETE FROM %1 WHERE %2=? AND %3<>?")
                                .arg(TABLE_USER_GROUPS, COL_UG_GROUP_ID, COL_UG_USER_ID),
                            {groupId, ROOT_ID});
    return deleteWhere(TABLE_USER_GROUPS, COL_UG_GROUP_ID, groupId);
}

// ---------------------------------------------------------------- devices

bool ConfigHandler::addDevice(const DeviceInfo& device, QString& error) {
    addedDevice = {};
    if (device.imei == 0) {
        error = ERR_DEVICE_IMEI;
        return false;
    }
    const int id = insertUnlessTaken(TABLE_DEVICES, {COL_IMEI, COL_NAME, COL_FOR_ALL},
                                     {bound(device.imei), bound(device.name), device.forAll ? 1 : 0});
    if (id <= 0) {
        error = id == 0 ? ERR_DEVICE_EXISTS : ERR_DEVICE_ADD;
        return false;
    }
    addedDevice = qMakePair(device.imei, id);
    if (addDeviceGroups(id, device.groups))
        return true;
    error = ERR_DEVICE_GROUPS;
    return false;
}

// `seen` holds the IMEIs of the records before `from` and gains those up to `to`.
void ConfigHandler::addDevicesOneByOne(const QVector<DeviceInfo>& devices, int from, int to,
                                       QSet<quint64>& seen, AddDevicesResult& result) {
    for (int i = from; i < to; ++i) {
        const DeviceInfo& device = devices.at(i);
        QString error;
        if (addDevice(device, error))
            ++result.added;
        else
            countRefused(result, error, seen.contains(device.imei));
        if (!error.isEmpty())
            logRefusedDevice(error, device);
        seen.insert(device.imei);
    }
}

// One batch with the outcome of adding its records one by one: a record is refused when
// its IMEI is 0, stored (earlier batches included) or taken by an earlier record of the batch.
// Returns false when the batch could not run as a whole and nothing of it was written;
// `seen` and `result` then stay as they were.
bool ConfigHandler::addDevicesBatch(const QVector<DeviceInfo>& devices, int from, int to, QSet<quint64>& seen,
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
    QMap<int, QString> refused;
    QSet<quint64> taken;
    QVector<int> toInsert;
    QVariantList rowValues;
    for (int i = from; i < to; ++i) {
        const quint64 imei = devices.at(i).imei;
        if (imei == 0) {
            refused.insert(i, ERR_DEVICE_IMEI);
            continue;
        }
        if (stored.contains(imei) || taken.contains(imei)) {
            refused.insert(i, ERR_DEVICE_EXISTS);
            continue;
        }
        taken.insert(imei);
        toInsert << i;
        rowValues << bound(imei) << bound(devices.at(i).name) << (devices.at(i).forAll ? 1 : 0);
    }
    if (!toInsert.isEmpty()) {
        QSqlQuery q(conn.database());
        if (!conn.run(
                q,
                QStringLiteral("INSERT INTO %1 (%2, %3, %4) VALUES %5")
                    .arg(TABLE_DEVICES, COL_IMEI, COL_NAME, COL_FOR_ALL, placeholders(toInsert.size(), 3)),
                rowValues))
            return false;
    }

    auto report = [&](int added) {
        result.added += added;
        for (auto it = refused.constBegin(); it != refused.constEnd(); ++it) {
            if (it.value() == ERR_DEVICE_ADD)
                qDebug() << "Устройство с imei" << devices.at(it.key()).imei << "не найдено!";
            logRefusedDevice(it.value(), devices.at(it.key()));
            countRefused(result, it.value(), earlier.at(it.key() - from));
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
            refused.insert(i, ERR_DEVICE_ADD);
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
        if (addDeviceGroups(idOf.value(devices.at(i).imei), devices.at(i).groups))
            ++count;
        else
            refused.insert(i, ERR_DEVICE_GROUPS);
    }
    return report(count);
}

int ConfigHandler::addDevices(const QVector<DeviceInfo>& devices, const Progress& progress,
                              AddDevicesResult* result) {
    AddDevicesResult outcome;
    QSet<quint64> seen;
    const int total = devices.size();
    for (int from = 0; from < total; from += DEVICE_BATCH) {
        const int to = std::min(total, from + DEVICE_BATCH);
        if (!addDevicesBatch(devices, from, to, seen, outcome))
            addDevicesOneByOne(devices, from, to, seen, outcome);
        if (progress && !progress(to, total))
            break;
    }
    addedDevice = {};
    if (result)
        *result = outcome;
    return outcome.added;
}

bool ConfigHandler::updateDevice(const DeviceInfo& device, QString& error) {
    addedDevice = {};
    if (device.imei == 0) {
        error = ERR_DEVICE_IMEI;
        return false;
    }
    QVector<int> stored;
    if (!isFreeWithGroups(TABLE_DEVICES, COL_IMEI, bound(device.imei), device.id, TABLE_DEVICE_GROUPS,
                          COL_DG_DEVICE_ID, COL_DG_GROUP_ID, stored, error, ERR_DEVICE_EXISTS))
        return false;

    QSqlQuery q(conn.database());
    if (!conn.runKept(q,
                      QStringLiteral("UPDATE %1 SET %2=?, %3=?, %4=? WHERE %5=?")
                          .arg(TABLE_DEVICES, COL_IMEI, COL_NAME, COL_FOR_ALL, COL_ID),
                      {bound(device.imei), bound(device.name), device.forAll ? 1 : 0, device.id}))
        return false;

    if (sameGroups(stored, device.groups))
        return true;
    if (replaceMemberships(TABLE_DEVICE_GROUPS, COL_DG_DEVICE_ID, COL_DG_GROUP_ID, device.id, device.groups))
        return true;
    error = ERR_DEVICE_GROUPS;
    return false;
}

bool ConfigHandler::deleteDevice(int id) {
    addedDevice = {};
    return conn.inTransaction([&] {
        return deleteWhere(TABLE_DEVICES, COL_ID, id) &&
               deleteWhere(TABLE_DEVICE_GROUPS, COL_DG_DEVICE_ID, id);
    });
}

int ConfigHandler::deleteDevices(const QVector<int>& ids) {
    addedDevice = {};
    int deleted = 0;
    for (int from = 0; from < ids.size(); from += DELETE_CHUNK) {
        const int to = std::min<int>(ids.size(), from + DELETE_CHUNK);
        const QVariantList values = paddedIds(ids, from, to);
        const QString in = placeholders(values.size(), 0);
        int chunkDeleted = 0;
        const bool ok = conn.inTransaction([&] {
            QSqlQuery q(conn.database());
            if (!conn.runKept(
                    q, QStringLiteral("DELETE FROM %1 WHERE %2 IN (%3)").arg(TABLE_DEVICES, COL_ID, in),
                    values))
                return false;
            chunkDeleted = std::max(0, q.numRowsAffected());
            QSqlQuery m(conn.database());
            return conn.runKept(m,
                                QStringLiteral("DELETE FROM %1 WHERE %2 IN (%3)")
                                    .arg(TABLE_DEVICE_GROUPS, COL_DG_DEVICE_ID, in),
                                values);
        });
        if (ok)
            deleted += chunkDeleted;
    }
    return deleted;
}

bool ConfigHandler::addDeviceGroups(int deviceId, const QVector<int>& groupIds) {
    return insertMemberships(TABLE_DEVICE_GROUPS, COL_DG_DEVICE_ID, COL_DG_GROUP_ID, deviceId, groupIds);
}

bool ConfigHandler::removeDeviceGroups(int deviceId) {
    return deleteWhere(TABLE_DEVICE_GROUPS, COL_DG_DEVICE_ID, deviceId);
}

// ---------------------------------------------------------------- bulk changes

// A single statement is all or nothing by itself: a transaction would only add two round trips.
bool ConfigHandler::asOne(int statements, const std::function<bool()>& change) {
    return statements > 1 ? conn.inTransaction(change) : change();
}

bool ConfigHandler::asOneChange(const std::function<bool()>& change) {
    return conn.inTransaction(change);
}

int ConfigHandler::protectedGroupId() {
    return conn.adminGroupId() > 0 ? conn.adminGroupId() : getGroupId(ADMIN_GROUP_NAME);
}

// Deletes the memberships of `ownerIds` in the groups to remove, then inserts those of the groups to
// add, joined with both tables so that unknown ids insert nothing. A stored pair is left as it is
// (a no-op update; twice as fast as skipping it with NOT EXISTS, which reads the table it writes
// through a temporary table), but unlike INSERT IGNORE, a refused row fails the change instead of
// going missing. With `rootGroup`, root keeps his membership in it.
bool ConfigHandler::changeGroups(const QString& owners, const QString& members, const QString& ownerColumn,
                                 const QString& groupColumn, const QVector<int>& ownerIds,
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
    return asOne(statements, [&] {
        QSqlQuery q(conn.database());
        for (int from = 0; from < ids.size(); from += BULK_SLICE) {
            const QVariantList owned = paddedIds(ids, from, std::min<int>(ids.size(), from + BULK_SLICE));
            const QString in = placeholders(owned.size(), 0);
            for (int g = 0; g < remove.size(); g += BULK_GROUPS) {
                const QVariantList groups =
                    paddedIds(remove, g, std::min<int>(remove.size(), g + BULK_GROUPS));
                QString sql = QStringLiteral("DELETE FROM %1 WHERE %2 IN (%3) AND %4 IN (%5)")
                                  .arg(members, ownerColumn, in, groupColumn, placeholders(groups.size(), 0));
                QVariantList values = owned + groups;
                if (rootGroup > 0) {
                    sql += QStringLiteral(" AND (%1<>? OR %2<>?)").arg(ownerColumn, groupColumn);
                    values << ROOT_ID << rootGroup;
                }
                if (!conn.runKept(q, sql, values))
                    return false;
            }
            for (int g = 0; g < add.size(); g += BULK_GROUPS) {
                const QVariantList groups = paddedIds(add, g, std::min<int>(add.size(), g + BULK_GROUPS));
                if (!conn.runKept(
                        q,
                        QStringLiteral("INSERT INTO %1 (%2, %3) SELECT o.%4, g.%4 FROM %5 o JOIN %6 g "
                                       "ON g.%4 IN (%7) WHERE o.%4 IN (%8) ON DUPLICATE KEY UPDATE %3 = "
                                       "VALUES(%3)")
                            .arg(members, ownerColumn, groupColumn, COL_ID, owners, TABLE_GROUPS,
                                 placeholders(groups.size(), 0), in),
                        groups + owned))
                    return false;
            }
        }
        return true;
    });
}

bool ConfigHandler::changeDevicesGroups(const QVector<int>& deviceIds, const QVector<int>& addGroupIds,
                                        const QVector<int>& removeGroupIds) {
    QVector<int> remove = removeGroupIds;
    if (!remove.isEmpty())
        remove.removeAll(protectedGroupId());
    return changeGroups(TABLE_DEVICES, TABLE_DEVICE_GROUPS, COL_DG_DEVICE_ID, COL_DG_GROUP_ID, deviceIds,
                        addGroupIds, remove, 0);
}

bool ConfigHandler::changeUsersGroups(const QVector<int>& userIds, const QVector<int>& addGroupIds,
                                      const QVector<int>& removeGroupIds) {
    return changeGroups(TABLE_USERS, TABLE_USER_GROUPS, COL_UG_USER_ID, COL_UG_GROUP_ID, userIds, addGroupIds,
                        removeGroupIds, removeGroupIds.isEmpty() ? 0 : protectedGroupId());
}

bool ConfigHandler::setDevicesForAll(const QVector<int>& deviceIds, bool forAll) {
    const QVector<int> ids = distinctIds(deviceIds);
    return asOne((ids.size() + BULK_SLICE - 1) / BULK_SLICE, [&] {
        QSqlQuery q(conn.database());
        for (int from = 0; from < ids.size(); from += BULK_SLICE) {
            const QVariantList values = paddedIds(ids, from, std::min<int>(ids.size(), from + BULK_SLICE));
            if (!conn.runKept(q,
                              QStringLiteral("UPDATE %1 SET %2=? WHERE %3 IN (%4)")
                                  .arg(TABLE_DEVICES, COL_FOR_ALL, COL_ID, placeholders(values.size(), 0)),
                              QVariantList{forAll ? 1 : 0} + values))
                return false;
        }
        return true;
    });
}
