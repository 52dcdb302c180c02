#include "db/confighandler.h"

#include "db/recordtables.h"

namespace {

// Sets `error` to the sentence of `outcome`, where it has one; true when nothing failed.
bool told(const DbError& outcome, RecordKind kind, QString& error) {
    const QString text = errorText(kind, outcome);
    if (!text.isEmpty())
        error = text;
    return !outcome.failed();
}

} // namespace

ConfigHandler::ConfigHandler(QObject* parent, const QString& connectionName)
    : QObject(parent)
    // the reads keep a reference to the connection, made just after them
    , DbReads(conn)
    , conn(connectionName)
    , journaling(conn)
    , writes(conn, journaling)
    , bulk(conn, *this, journaling)
    , importer(conn, writes, journaling)
    , loader(conn) {
    qRegisterMetaType<DeviceInfo>("DeviceInfo");
    qRegisterMetaType<UserInfo>("UserInfo");
    qRegisterMetaType<GroupInfo>("GroupInfo");
    qRegisterMetaType<TablesSnapshot>("TablesSnapshot");
}

ConfigHandler::~ConfigHandler() = default;

// ---------------------------------------------------------------- connection

void ConfigHandler::setConnectionSettings(const SqlConnectionSettings& settings) {
    const SqlConnectionSettings& was = conn.connectionSettings();
    // another database or account may keep the journal otherwise
    if (settings.ip != was.ip || settings.port != was.port || settings.db != was.db ||
        settings.user != was.user)
        journaling.use(JournalState());
    conn.setSettings(settings);
}

SqlConnectionSettings ConfigHandler::connectionSettings() const {
    return conn.connectionSettings();
}

int ConfigHandler::connectToDatabase() {
    return conn.open() ? 0 : 1;
}

bool ConfigHandler::prepareJournal() {
    return journaling.prepare();
}

JournalState ConfigHandler::journalState() const {
    return journaling.state();
}

void ConfigHandler::useJournal(const JournalState& state) {
    journaling.use(state);
}

bool ConfigHandler::journalOn() const {
    return journaling.isOn();
}

QString ConfigHandler::journalOffReason() const {
    return journaling.offReason();
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

void ConfigHandler::knowGroups(const QVector<GroupInfo>& groups) {
    for (const GroupInfo& group : groups)
        conn.rememberGroupName(group.id, group.name);
}

void ConfigHandler::useCheckedDatabase(int adminGroupId) {
    conn.setAdminGroupId(adminGroupId);
}

int ConfigHandler::adminGroupId() const {
    return conn.adminGroupId();
}

QByteArray ConfigHandler::hashPassword(const QString& password) const {
    return ::hashPassword(password);
}

// ---------------------------------------------------------------- loading

bool ConfigHandler::loadTables(TablesSnapshot& snapshot, QString& error, const DeviceNames& known) {
    return loader.load(snapshot, error, known);
}

// ---------------------------------------------------------------- users and groups

bool ConfigHandler::addUser(const UserInfo& user, QString& error) {
    int id = 0;
    return addUser(user, error, id);
}

bool ConfigHandler::addUser(const UserInfo& user, QString& error, int& id) {
    const DbJournal::Operation operation(journaling);
    return told(writes.addUser(user, id), RecordKind::User, error);
}

bool ConfigHandler::updateUser(const UserInfo& user, QString& error) {
    const DbJournal::Operation operation(journaling);
    return told(writes.updateUser(user), RecordKind::User, error);
}

bool ConfigHandler::updateUser(const UserInfo& seen, const UserInfo& wanted, QString& error) {
    const DbJournal::Operation operation(journaling);
    return told(writes.updateUser(seen, wanted), RecordKind::User, error);
}

bool ConfigHandler::deleteUser(int id) {
    const DbJournal::Operation operation(journaling);
    return writes.remove(RecordTable::users(), id);
}

bool ConfigHandler::addUserGroups(int userId, const QVector<int>& groupIds) {
    const DbJournal::Operation operation(journaling);
    return writes.addMemberships(RecordTable::users(), userId, groupIds);
}

bool ConfigHandler::removeUserGroups(int userId) {
    const DbJournal::Operation operation(journaling);
    return writes.removeMemberships(RecordTable::users(), userId);
}

bool ConfigHandler::addGroup(GroupInfo& group, QString& error) {
    const DbJournal::Operation operation(journaling);
    return told(writes.addGroup(group), RecordKind::Group, error);
}

bool ConfigHandler::updateGroup(const GroupInfo& group, QString& error) {
    const DbJournal::Operation operation(journaling);
    return told(writes.updateGroup(group), RecordKind::Group, error);
}

bool ConfigHandler::updateGroup(const GroupInfo& seen, const GroupInfo& wanted, QString& error) {
    const DbJournal::Operation operation(journaling);
    return told(writes.updateGroup(seen, wanted), RecordKind::Group, error);
}

bool ConfigHandler::deleteGroup(int id) {
    const DbJournal::Operation operation(journaling);
    return writes.deleteGroup(id);
}

bool ConfigHandler::setGroupUsers(int groupId, const QVector<int>& userIds) {
    const DbJournal::Operation operation(journaling);
    return writes.setGroupUsers(groupId, userIds);
}

bool ConfigHandler::removeGroupUsers(int groupId) {
    const DbJournal::Operation operation(journaling);
    return writes.removeGroupUsers(groupId);
}

// ---------------------------------------------------------------- devices

bool ConfigHandler::addDevice(const DeviceInfo& device, QString& error) {
    int id = 0;
    return addDevice(device, error, id);
}

bool ConfigHandler::addDevice(const DeviceInfo& device, QString& error, int& id) {
    const DbJournal::Operation operation(journaling);
    return told(writes.addDevice(device, id), RecordKind::Device, error);
}

int ConfigHandler::addDevices(const QVector<DeviceInfo>& devices, const Progress& progress,
                              AddDevicesResult* result) {
    const DbJournal::Operation operation(journaling);
    AddDevicesResult outcome;
    const int added = importer.add(devices, progress, outcome);
    if (result)
        *result = outcome;
    return added;
}

bool ConfigHandler::updateDevice(const DeviceInfo& device, QString& error) {
    const DbJournal::Operation operation(journaling);
    return told(writes.updateDevice(device), RecordKind::Device, error);
}

bool ConfigHandler::updateDevice(const DeviceInfo& seen, const DeviceInfo& wanted, QString& error) {
    const DbJournal::Operation operation(journaling);
    return told(writes.updateDevice(seen, wanted), RecordKind::Device, error);
}

bool ConfigHandler::deleteDevice(int id) {
    const DbJournal::Operation operation(journaling);
    return writes.remove(RecordTable::devices(), id);
}

int ConfigHandler::deleteDevices(const QVector<int>& ids) {
    const DbJournal::Operation operation(journaling);
    return bulk.deleteDevices(ids);
}

bool ConfigHandler::addDeviceGroups(int deviceId, const QVector<int>& groupIds) {
    const DbJournal::Operation operation(journaling);
    return writes.addMemberships(RecordTable::devices(), deviceId, groupIds);
}

bool ConfigHandler::removeDeviceGroups(int deviceId) {
    const DbJournal::Operation operation(journaling);
    return writes.removeMemberships(RecordTable::devices(), deviceId);
}

// ---------------------------------------------------------------- bulk changes

bool ConfigHandler::changeDevicesGroups(const QVector<int>& deviceIds, const QVector<int>& addGroupIds,
                                        const QVector<int>& removeGroupIds) {
    const DbJournal::Operation operation(journaling);
    return bulk.changeDevicesGroups(deviceIds, addGroupIds, removeGroupIds);
}

bool ConfigHandler::setDevicesForAll(const QVector<int>& deviceIds, bool forAll) {
    const DbJournal::Operation operation(journaling);
    return bulk.setDevicesForAll(deviceIds, forAll);
}

bool ConfigHandler::changeUsersGroups(const QVector<int>& userIds, const QVector<int>& addGroupIds,
                                      const QVector<int>& removeGroupIds) {
    const DbJournal::Operation operation(journaling);
    return bulk.changeUsersGroups(userIds, addGroupIds, removeGroupIds);
}

bool ConfigHandler::asOneChange(const std::function<bool()>& change) {
    const DbJournal::Operation operation(journaling);
    return conn.inTransaction(change);
}
