#include "db/confighandler.h"
#include "logcapture.h"
#include "testdb.h"

#include <QSqlQuery>
#include <QtTest>

#include <memory>

namespace {

const QString USER_TAKEN = QStringLiteral("Такой пользователь уже существует!");
const QString GROUP_TAKEN = QStringLiteral("Такая группа уже существует!");
const QString DEVICE_TAKEN = QStringLiteral("Такое устройство уже добавлено!");

int rows(const QString& tableAndCondition) {
    return TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM ") + tableAndCondition).toInt();
}

DeviceInfo device(quint64 imei, const QString& name = QString(), const QVector<int>& groups = {},
                  bool forAll = false) {
    return DeviceInfo{0, imei, name, groups, forAll};
}

UserInfo user(const QString& login, const QVector<int>& groups = {}) {
    return UserInfo{0, login, QByteArray(64, 'h'), groups};
}

// Devices with their memberships as the inspection connection sees them, by IMEI.
QStringList deviceTable() {
    QSqlQuery q(TestDb::admin());
    if (!q.exec(QStringLiteral(
            "SELECT d.imei, HEX(d.name), d.for_all, GROUP_CONCAT(g.group_id ORDER BY g.group_id) "
            "FROM devices d LEFT JOIN device_groups g ON g.device_id = d.id "
            "GROUP BY d.id ORDER BY d.imei")))
        return {QStringLiteral("query failed")};
    QStringList out;
    while (q.next())
        out << QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                           q.value(3).toString()}
                   .join(QLatin1Char('|'));
    return out;
}

struct Outcome {
    int count = -1;
    QStringList rows;
    QStringList refusals;
};

} // namespace

class TestConfigHandler : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void connection();
    void handlerCanBeCreatedAgain();
    void checkDatabaseDefaultPassword();
    void checkDatabaseFailures_data();
    void checkDatabaseFailures();
    void hashPassword();

    void hostileTexts_data();
    void hostileTexts();
    void imeiLimitAndMissingRows();
    void duplicatesRefused();
    void rootProtections();
    void adminGroupProtections();

    void memberships();
    void refusedPairKeepsEarlierOnes();
    void failedMembershipChangeKeepsOldOnes();
    void failedDeleteKeepsRecordAndMemberships();
    void deleteRemovesMemberships();
    void loaders();
    void groupCountsAndDeleteDevices();

    void addDevicesAsOneByOne_data();
    void addDevicesAsOneByOne();
    void addDevicesStatementsAndProgress();

private:
    bool reconnect(bool check = true) {
        handler.reset();
        handler = TestDb::handler(check);
        return handler != nullptr;
    }
    int addUser(const UserInfo& u) {
        QString e;
        return handler->addUser(u, e) ? handler->getUserId(u.login) : -1;
    }
    Outcome addAll(const QVector<DeviceInfo>& prestored, const QVector<DeviceInfo>& list, bool batched);

    std::unique_ptr<ConfigHandler> handler;
    QString error;
};

void TestConfigHandler::init() {
    ORB_RESET_DB();
    QVERIFY(reconnect());
    error.clear();
}

void TestConfigHandler::cleanup() {
    handler.reset();
}

// ---------------------------------------------------------------- connection and integrity

void TestConfigHandler::connection() {
    auto session = [this] {
        QSqlQuery q(handler->database());
        if (!q.exec(QStringLiteral("SELECT DATABASE(), @@character_set_connection, CONNECTION_ID()")) ||
            !q.next())
            return QStringList();
        return QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString()};
    };
    // the database the settings name, in utf8mb4
    const QStringList first = session();
    QCOMPARE(first.mid(0, 2), (QStringList{TestDb::defaultName(), QStringLiteral("utf8mb4")}));
    // connecting again closes and reopens
    QCOMPARE(handler->connectToDatabase(), 0);
    QVERIFY(session().value(2) != first.value(2));

    SqlConnectionSettings s = TestDb::settings();
    s.password = QStringLiteral("wrong");
    handler->setConnectionSettings(s);
    QCOMPARE(handler->connectToDatabase(), 1);
    QVERIFY(!handler->database().isOpen());
    QVERIFY(handler->lastErrorText().contains(QStringLiteral("Access denied")));
}

void TestConfigHandler::handlerCanBeCreatedAgain() {
    handler.reset();
    QVERIFY(!QSqlDatabase::contains(QLatin1String(QSqlDatabase::defaultConnection)));
    {
        // the next handler registers the connection anew, without a "duplicate connection" warning
        LogCapture log;
        QVERIFY(reconnect());
        handler.reset();
        QCOMPARE(log.messages(), QStringList());
    }
    // a handler that outlives an older one keeps its connection
    auto older = std::make_unique<ConfigHandler>();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("duplicate connection name")));
    QVERIFY(reconnect());
    older.reset();
    QVERIFY(handler->database().isOpen());
    QCOMPARE(handler->getUserId(QStringLiteral("root")), 1);
}

void TestConfigHandler::checkDatabaseDefaultPassword() {
    QCOMPARE(handler->adminGroupId(), 1);
    UserInfo root = handler->getUser(1);
    root.password = handler->hashPassword(QStringLiteral("new secret"));
    QVERIFY(handler->updateUser(root, error));
    QVERIFY(!handler->checkDatabase());

    // an admin group with another id
    QVERIFY(TestDb::exec(QStringLiteral("UPDATE groups_list SET id=5 WHERE id=1")));
    QVERIFY(TestDb::exec(QStringLiteral("UPDATE user_groups SET group_id=5 WHERE group_id=1")));
    root.password = handler->hashPassword(QStringLiteral("vexo"));
    QVERIFY(handler->updateUser(root, error));
    QVERIFY(handler->checkDatabase());
    QCOMPARE(handler->adminGroupId(), 5);
}

void TestConfigHandler::checkDatabaseFailures_data() {
    QTest::addColumn<QString>("sabotage");
    QTest::addColumn<QString>("message");
    QTest::newRow("no admin group") << "UPDATE groups_list SET group_name='admin' WHERE id=1"
                                    << "admin role not found";
    QTest::newRow("membership query fails") << "DROP TABLE user_groups"
                                            << "users with admin role not found";
    QTest::newRow("root not in admin group") << "DELETE FROM user_groups WHERE user_id=1"
                                             << "user root not found";
    QTest::newRow("root renamed") << "UPDATE users SET user_login='Root' WHERE id=1"
                                  << "user root not found";
    QTest::newRow("user 1 missing") << "DELETE FROM users WHERE id=1"
                                    << "user root not found";
}

void TestConfigHandler::checkDatabaseFailures() {
    QFETCH(QString, sabotage);
    QFETCH(QString, message);
    QVERIFY(TestDb::exec(sabotage));
    QString thrown;
    try {
        handler->checkDatabase();
    } catch (const QString& e) {
        thrown = e;
    }
    QCOMPARE(thrown, message);
}

void TestConfigHandler::hashPassword() {
    LogCapture log;
    const QByteArray empty = handler->hashPassword(QString());
    QCOMPARE(empty.size(), 64);
    QCOMPARE(empty, QCryptographicHash::hash(QByteArrayLiteral("Qw7rTz2Lp9"), QCryptographicHash::Sha3_512));
    QCOMPARE(
        handler->hashPassword(QStringLiteral("пароль")),
        QCryptographicHash::hash(QStringLiteral("Qw7rTz2Lp9пароль").toUtf8(), QCryptographicHash::Sha3_512));
    // the digest never reaches the log
    QCOMPARE(log.messages(), QStringList());
}

// ---------------------------------------------------------------- values and protections

void TestConfigHandler::hostileTexts_data() {
    QTest::addColumn<QString>("value");
    QTest::newRow("quotes") << QStringLiteral("O'Brien \"x\" `y`");
    QTest::newRow("backslashes") << QStringLiteral("C:\\path\\'\\\\n");
    QTest::newRow("injection") << QStringLiteral("'; DROP TABLE users; --");
    QTest::newRow("cyrillic") << QStringLiteral("Группа Ёжиков");
    QTest::newRow("emoji") << QStringLiteral("📡 трекер 🚚");
    QTest::newRow("254 chars") << QString(254, QChar(0x0416));
    QTest::newRow("placeholder-like") << QStringLiteral(":passwd ? %1 %2");
}

// Logins, group names and device names are stored and read back byte for byte through add,
// update and the loaders, and no statement changes meaning.
void TestConfigHandler::hostileTexts() {
    QFETCH(QString, value);
    UserInfo u = user(value);
    u.id = addUser(u);
    QVERIFY(u.id > 1);
    QCOMPARE(handler->getUser(u.id).login, value);
    QVERIFY(!handler->addUser(u, error));
    QCOMPARE(error, USER_TAKEN);
    GroupInfo g{0, value};
    QVERIFY(handler->addGroup(g, error));
    QCOMPARE(handler->getGroupId(value), g.id);
    QVERIFY(handler->addDevice(device(1, value, {g.id}), error));
    QCOMPARE(handler->addDevices({device(2, value)}), 1);

    const QString changed = QLatin1Char('\'') + value.left(250) + QLatin1Char('\\');
    u.login = changed;
    g.name = changed;
    DeviceInfo d = device(1, changed, {g.id});
    d.id = handler->getDeviceId(1);
    QVERIFY(handler->updateUser(u, error) && handler->updateGroup(g, error) &&
            handler->updateDevice(d, error));
    QCOMPARE(handler->getUsers().at(1).login, changed);
    QVERIFY(handler->getGroups().contains(g));
    const QVector<DeviceInfo> devices = handler->getDevices();
    QCOMPARE(devices.at(0).name, changed);
    QCOMPARE(devices.at(1).name, value);
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT user_login FROM users WHERE id=%1").arg(u.id)).toString(),
             changed);
    QCOMPARE(rows(QStringLiteral("users")) + rows(QStringLiteral("groups_list")) +
                 rows(QStringLiteral("devices")),
             6);
}

void TestConfigHandler::imeiLimitAndMissingRows() {
    const quint64 max = 18446744073709551615ULL;
    const quint64 aboveSigned = 9223372036854775808ULL;
    QVERIFY(handler->addDevice(device(max), error) && handler->addDevice(device(aboveSigned), error));
    const int maxId = handler->getDeviceId(max);
    QVERIFY(maxId > 0 && handler->getDeviceId(aboveSigned) > maxId);
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT MAX(imei) FROM devices")).toULongLong(), max);
    const QVector<DeviceInfo> devices = handler->getDevices();
    QCOMPARE(devices.at(0).imei, max);
    QCOMPARE(devices.at(1).imei, aboveSigned);
    QVERIFY(!handler->addDevice(device(max), error));
    QCOMPARE(error, DEVICE_TAKEN);

    // missing rows give -1 and their debug lines
    QTest::ignoreMessage(QtDebugMsg, "Устройство с imei 18446744073709551614 не найдено!");
    QCOMPARE(handler->getDeviceId(max - 1), -1);
    QTest::ignoreMessage(QtDebugMsg, "Пользователь с именем \"nobody\" не найден!");
    QCOMPARE(handler->getUserId(QStringLiteral("nobody")), -1);
    QTest::ignoreMessage(QtDebugMsg, "Группа с названием \"Nobody\" не найдена!");
    QCOMPARE(handler->getGroupId(QStringLiteral("Nobody")), -1);
}

void TestConfigHandler::duplicatesRefused() {
    GroupInfo admin{42, QStringLiteral("Admin")};
    QVERIFY(!handler->addGroup(admin, error));
    QCOMPARE(error, GROUP_TAKEN);
    QCOMPARE(admin.id, 42);

    // on update another row's login, name or IMEI is refused; keeping one's own is no duplicate
    addUser(user(QStringLiteral("alice")));
    UserInfo bob = user(QStringLiteral("alice"));
    bob.id = addUser(user(QStringLiteral("bob")));
    error.clear();
    QVERIFY(!handler->updateUser(bob, error));
    QCOMPARE(error, USER_TAKEN);
    QCOMPARE(handler->getUser(bob.id).login, QStringLiteral("bob"));
    bob.login = QStringLiteral("bob");
    bob.password = QByteArray(64, 'c');
    error.clear();
    QVERIFY(handler->updateUser(bob, error));
    QVERIFY(error.isEmpty());
    QCOMPARE(handler->getUser(bob.id).password, bob.password);

    GroupInfo one{0, QStringLiteral("one")}, two{0, QStringLiteral("two")};
    QVERIFY(handler->addGroup(one, error) && handler->addGroup(two, error));
    two.name = one.name;
    QVERIFY(!handler->updateGroup(two, error));
    QCOMPARE(error, GROUP_TAKEN);
    QVERIFY(handler->updateGroup(one, error));

    QVERIFY(handler->addDevice(device(111), error) && handler->addDevice(device(222), error));
    DeviceInfo d = device(111);
    d.id = handler->getDeviceId(222);
    error.clear();
    QVERIFY(!handler->updateDevice(d, error));
    QCOMPARE(error, DEVICE_TAKEN);
    QCOMPARE(rows(QStringLiteral("devices WHERE imei=111")), 1);
    d.imei = 222;
    d.forAll = true;
    QVERIFY(handler->updateDevice(d, error));
}

void TestConfigHandler::rootProtections() {
    UserInfo root = handler->getUser(1);
    QCOMPARE(root.groups, QVector<int>{1});
    QTest::ignoreMessage(QtDebugMsg, "нельзя удалить админа");
    QVERIFY(!handler->deleteUser(1));
    QTest::ignoreMessage(QtDebugMsg, "нельзя удалить админа");
    QVERIFY(!handler->removeUserGroups(1));
    QTest::ignoreMessage(QtDebugMsg, "нельзя удалить админа");
    QVERIFY(!handler->addUserGroups(1, {1}));
    root.login = QStringLiteral("Root");
    QTest::ignoreMessage(QtDebugMsg, "нельзя переименовать админа");
    QVERIFY(!handler->updateUser(root, error));
    QCOMPARE(handler->getUser(1).login, QStringLiteral("root"));

    // a new password is stored; the memberships stay even when the record asks otherwise
    root.login = QStringLiteral("root");
    root.password = handler->hashPassword(QStringLiteral("x"));
    root.groups = {2};
    QTest::ignoreMessage(QtDebugMsg, "нельзя удалить админа");
    QVERIFY(handler->updateUser(root, error));
    QCOMPARE(handler->getUser(1).password, root.password);
    QCOMPARE(handler->getUser(1).groups, QVector<int>{1});
    QCOMPARE(rows(QStringLiteral("users")), 1);
}

void TestConfigHandler::adminGroupProtections() {
    const int uid = addUser(user(QStringLiteral("u")));
    QTest::ignoreMessage(QtDebugMsg, "нельзя удалить группу админа");
    QVERIFY(!handler->deleteGroup(1));
    // editing the admin group keeps its stored name and still succeeds
    QVERIFY(handler->updateGroup(GroupInfo{1, QStringLiteral("Администраторы")}, error));
    QVERIFY(error.isEmpty());
    QCOMPARE(handler->getGroupId(QStringLiteral("Admin")), 1);
    // root cannot be taken out of the admin group
    QVERIFY(handler->setGroupUsers(1, {uid}));
    QCOMPARE(handler->getGroupUsers(1), (QVector<int>{1, uid}));
    QVERIFY(handler->setGroupUsers(1, {}));
    QCOMPARE(handler->getGroupUsers(1), QVector<int>{1});
    QVERIFY(handler->checkDatabase());

    // before checkDatabase no group is the admin group: only id 0 is refused
    QVERIFY(reconnect(false));
    QTest::ignoreMessage(QtDebugMsg, "нельзя удалить группу админа");
    QVERIFY(!handler->deleteGroup(0));
    GroupInfo g{0, QStringLiteral("g")};
    QVERIFY(handler->addGroup(g, error));
    QVERIFY(handler->deleteGroup(g.id));
}

// ---------------------------------------------------------------- memberships and loading

void TestConfigHandler::memberships() {
    // a pair that is already stored is no error and no second row
    QVERIFY(handler->addDevice(device(5, QString(), {2}), error));
    const int dev = handler->getDeviceId(5);
    QVERIFY(handler->addDeviceGroups(dev, {1, 2, 1}));
    QCOMPARE(rows(QStringLiteral("device_groups")), 2);
    UserInfo u = user(QStringLiteral("u"), {2});
    u.id = addUser(u);
    QVERIFY(handler->addUserGroups(u.id, {2, 2}));
    QCOMPARE(handler->getUserGroups(u.id), QVector<int>{2});

    // a change replaces the list; an empty list removes every membership
    DeviceInfo d = device(5, QStringLiteral("d"), {2, 4});
    d.id = dev;
    QVERIFY(handler->updateDevice(d, error));
    QCOMPARE(handler->getDeviceGroups(dev), (QVector<int>{2, 4}));
    d.groups.clear();
    QVERIFY(handler->updateDevice(d, error));
    QVERIFY(handler->getDeviceGroups(dev).isEmpty());
    u.groups = {3};
    QVERIFY(handler->updateUser(u, error));
    QCOMPARE(handler->getUser(u.id).groups, QVector<int>{3});
    const int v = addUser(user(QStringLiteral("v"))), w = addUser(user(QStringLiteral("w")));
    QVERIFY(handler->setGroupUsers(3, {v, w}));
    QCOMPARE(handler->getGroupUsers(3), (QVector<int>{v, w}));
    QVERIFY(handler->setGroupUsers(3, {}));
    QVERIFY(handler->getGroupUsers(3).isEmpty());

    // the loaders keep the order in which the server returns the membership rows
    QVERIFY(handler->addDevice(device(9, QString(), {7, 3}), error));
    QSqlQuery q(TestDb::admin());
    QVERIFY(q.exec(QStringLiteral("SELECT group_id FROM device_groups WHERE device_id=%1")
                       .arg(handler->getDeviceId(9))));
    QVector<int> serverOrder;
    while (q.next())
        serverOrder << q.value(0).toInt();
    QCOMPARE(handler->getDevices().last().groups, serverOrder);
}

// A refused pair stores the pairs listed before it, and only those.
void TestConfigHandler::refusedPairKeepsEarlierOnes() {
    const int u = addUser(user(QStringLiteral("m")));
    QVERIFY(
        TestDb::exec(QStringLiteral("CREATE TRIGGER refuse_group BEFORE INSERT ON user_groups FOR EACH ROW "
                                    "IF NEW.group_id = 99 THEN SIGNAL SQLSTATE '45000'; END IF")));
    {
        LogCapture log;
        QVERIFY(!handler->addUserGroups(u, {5, 6, 99, 7}));
    }
    QCOMPARE(handler->getUserGroups(u), (QVector<int>{5, 6}));
    QVERIFY(handler->addUserGroups(u, {7, 8}));
    QCOMPARE(handler->getUserGroups(u), (QVector<int>{5, 6, 7, 8}));
}

void TestConfigHandler::failedMembershipChangeKeepsOldOnes() {
    // the server refuses group 99 and, among users, user 999
    QVERIFY(
        TestDb::exec(QStringLiteral("CREATE TRIGGER refuse_dg BEFORE INSERT ON device_groups FOR EACH ROW "
                                    "IF NEW.group_id = 99 THEN SIGNAL SQLSTATE '45000'; END IF")));
    QVERIFY(TestDb::exec(QStringLiteral("CREATE TRIGGER refuse_ug BEFORE INSERT ON user_groups FOR EACH ROW "
                                        "IF NEW.group_id = 99 OR NEW.user_id = 999 THEN "
                                        "SIGNAL SQLSTATE '45000'; END IF")));
    QVERIFY(handler->addDevice(device(5, QStringLiteral("d"), {2, 3}), error));
    DeviceInfo d = handler->getDevices().first();
    UserInfo u = user(QStringLiteral("u"), {2, 3});
    u.id = addUser(u);
    QVERIFY(handler->setGroupUsers(4, {u.id}));

    LogCapture log;
    d.groups = {4, 99};
    QVERIFY(!handler->updateDevice(d, error));
    QCOMPARE(error, QStringLiteral("Не удалось присвоить устройству группы!"));
    QCOMPARE(handler->getDeviceGroups(d.id), (QVector<int>{2, 3}));

    u.groups = {4, 99};
    error.clear();
    QVERIFY(!handler->updateUser(u, error));
    QCOMPARE(error, QStringLiteral("Не удалось присвоить пользователю группы!"));
    QCOMPARE(handler->getUserGroups(u.id), (QVector<int>{2, 3, 4}));

    QVERIFY(!handler->setGroupUsers(4, {1, 999}));
    QCOMPARE(handler->getGroupUsers(4), QVector<int>{u.id});
}

void TestConfigHandler::failedDeleteKeepsRecordAndMemberships() {
    GroupInfo g{0, QStringLiteral("g")};
    QVERIFY(handler->addGroup(g, error));
    QVERIFY(handler->addDevice(device(5, QString(), {g.id}), error));
    QVERIFY(handler->addDevice(device(6, QString(), {g.id}), error));
    const int u = addUser(user(QStringLiteral("u"), {g.id}));
    const QStringList devicesBefore = deviceTable();
    for (const QString& table : {QStringLiteral("device_groups"), QStringLiteral("user_groups")})
        QVERIFY(TestDb::exec(QStringLiteral("CREATE TRIGGER keep_%1 BEFORE DELETE ON %1 FOR EACH ROW "
                                            "SIGNAL SQLSTATE '45000'")
                                 .arg(table)));

    LogCapture log;
    QVERIFY(!handler->deleteDevice(handler->getDeviceId(5)));
    QCOMPARE(handler->deleteDevices({handler->getDeviceId(5), handler->getDeviceId(6)}), 0);
    QCOMPARE(deviceTable(), devicesBefore);
    QVERIFY(!handler->deleteUser(u));
    QCOMPARE(handler->getUser(u).groups, QVector<int>{g.id});
    QVERIFY(!handler->deleteGroup(g.id));
    QCOMPARE(handler->getGroupId(g.name), g.id);
    QCOMPARE(handler->getGroupDevices(g.id).size(), 2);
}

void TestConfigHandler::deleteRemovesMemberships() {
    GroupInfo g{0, QStringLiteral("g")};
    QVERIFY(handler->addGroup(g, error));
    const int uid = addUser(user(QStringLiteral("u"), {1, g.id}));
    QVERIFY(handler->addDevice(device(11, QString(), {1, g.id}), error));

    QVERIFY(handler->deleteGroup(g.id));
    QCOMPARE(rows(QStringLiteral("groups_list")), 1);
    QCOMPARE(rows(QStringLiteral("device_groups")), 1);
    QCOMPARE(rows(QStringLiteral("user_groups")), 2);
    QVERIFY(handler->deleteUser(uid));
    QCOMPARE(rows(QStringLiteral("users")), 1);
    QCOMPARE(rows(QStringLiteral("user_groups")), 1);
    QVERIFY(handler->deleteDevice(handler->getDeviceId(11)));
    QCOMPARE(rows(QStringLiteral("devices")) + rows(QStringLiteral("device_groups")), 0);
    QVERIFY(handler->deleteDevice(12345));
}

void TestConfigHandler::loaders() {
    QVector<DeviceInfo> expected{device(100000000000001ULL, QString(), {}, true),
                                 device(100000000000002ULL, QStringLiteral("b"), {1})};
    for (DeviceInfo& d : expected) {
        QVERIFY(handler->addDevice(d, error));
        d.id = handler->getDeviceId(d.imei);
    }
    QCOMPARE(handler->getDevices(), expected);
    QCOMPARE(handler->getUsers(), QVector<UserInfo>{handler->getUser(1)});
    // a user that does not exist: id 0 and nothing else
    QCOMPARE(handler->getUser(999), UserInfo());
}

void TestConfigHandler::groupCountsAndDeleteDevices() {
    GroupInfo g{0, QStringLiteral("g")};
    QVERIFY(handler->addGroup(g, error));
    QVector<DeviceInfo> list;
    for (quint64 i = 1; i <= 50; ++i)
        list << device(i, QString(), i % 2 ? QVector<int>{g.id} : QVector<int>{g.id, 1});
    QCOMPARE(handler->addDevices(list), 50);
    addUser(user(QStringLiteral("u"), {g.id}));
    QCOMPARE(handler->getGroupUsersCounts(), (QHash<int, int>{{1, 1}, {g.id, 1}}));
    QCOMPARE(handler->getGroupDevicesCounts(), (QHash<int, int>{{1, 25}, {g.id, 50}}));
    QCOMPARE(handler->getDevicesCount(), 50);

    // the even IMEIs and an id that does not exist
    QVector<int> ids{999999};
    const QVector<DeviceInfo> stored = handler->getDevices();
    for (const DeviceInfo& d : stored) {
        if (d.imei % 2 == 0)
            ids << d.id;
    }
    QCOMPARE(handler->deleteDevices(ids), 25);
    QCOMPARE(handler->getDevicesCount(), 25);
    QCOMPARE(rows(QStringLiteral("device_groups")), 25);
    QCOMPARE(handler->deleteDevices({}), 0);
}

// ---------------------------------------------------------------- addDevices

// addDevices stores in batches; its outcome must be exactly that of adding the records one by
// one in list order: the same count, the same rows, the same refusal lines in the same order.
Outcome TestConfigHandler::addAll(const QVector<DeviceInfo>& prestored, const QVector<DeviceInfo>& list,
                                  bool batched) {
    Outcome out;
    if (!TestDb::reset() || !reconnect())
        return out;
    for (const DeviceInfo& d : prestored)
        handler->addDevice(d, error);
    LogCapture log;
    if (batched) {
        out.count = handler->addDevices(list);
    } else {
        out.count = 0;
        for (const DeviceInfo& d : list) {
            QString e;
            out.count += handler->addDevice(d, e) ? 1 : 0;
            if (!e.isEmpty())
                qDebug() << e << d.id << d.groups;
        }
    }
    out.refusals = log.messages().filter(
        QRegularExpression(QStringLiteral("^(\"Такое|\"Не удалось|Устройство с imei)")));
    out.rows = deviceTable();
    return out;
}

void TestConfigHandler::addDevicesAsOneByOne_data() {
    QTest::addColumn<QVector<DeviceInfo>>("prestored");
    QTest::addColumn<QVector<DeviceInfo>>("list");
    QTest::addColumn<int>("expectedCount");

    QTest::newRow("three, one stored")
        << QVector<DeviceInfo>{device(2, QStringLiteral("old"), {1})}
        << QVector<DeviceInfo>{device(1, QStringLiteral("a"), {1}), device(2, QStringLiteral("b"), {2}),
                               device(3, QString(), {}, true)}
        << 2;
    QTest::newRow("first of equal IMEIs wins")
        << QVector<DeviceInfo>{}
        << QVector<DeviceInfo>{device(10, QStringLiteral("first"), {1, 2}), device(11, QStringLiteral("x")),
                               device(10, QStringLiteral("second"), {3}), device(10, QStringLiteral("third"))}
        << 2;
    QTest::newRow("unsigned limit")
        << QVector<DeviceInfo>{device(18446744073709551615ULL, QStringLiteral("m"))}
        << QVector<DeviceInfo>{device(18446744073709551615ULL, QStringLiteral("n")),
                               device(18446744073709551614ULL, QStringLiteral("o"), {1})}
        << 1;
    QTest::newRow("empty list") << QVector<DeviceInfo>{} << QVector<DeviceInfo>{} << 0;

    // Across batch boundaries: duplicates of earlier batches, of the same batch and of the table.
    QVector<DeviceInfo> many;
    for (int i = 0; i < 4500; ++i)
        many << device(500000000000000ULL + quint64(i), QStringLiteral("d%1").arg(i), {1 + i % 3});
    many[2100].imei = many.at(5).imei;
    many[2200].imei = many.at(2150).imei;
    many[4499].imei = 42;
    QTest::newRow("several batches") << QVector<DeviceInfo>{device(42, QStringLiteral("stored"))} << many
                                     << 4497;

    // A record the server refuses makes its batch fail as a whole: that batch is stored one by
    // one, so the next record with the same IMEI gets in, as it would have one by one.
    QVector<DeviceInfo> failing = many.mid(0, 2500);
    failing[10].name = QString(300, QLatin1Char('x'));
    failing[11].imei = failing.at(10).imei;
    failing[2300].name = QString(256, QChar(0x0416));
    QTest::newRow("batch failure falls back") << QVector<DeviceInfo>{} << failing << 2496;
}

void TestConfigHandler::addDevicesAsOneByOne() {
    QFETCH(QVector<DeviceInfo>, prestored);
    QFETCH(QVector<DeviceInfo>, list);
    QFETCH(int, expectedCount);
    const Outcome oneByOne = addAll(prestored, list, false);
    const Outcome batched = addAll(prestored, list, true);
    QCOMPARE(oneByOne.count, expectedCount);
    QCOMPARE(batched.count, oneByOne.count);
    QCOMPARE(batched.rows.size(), oneByOne.rows.size());
    QCOMPARE(batched.rows, oneByOne.rows);
    QCOMPARE(batched.refusals, oneByOne.refusals);
}

void TestConfigHandler::addDevicesStatementsAndProgress() {
    QVector<DeviceInfo> list;
    for (int i = 0; i < 4500; ++i)
        list << device(700000000000000ULL + quint64(i), QString(), {1, 2});
    QVector<QPair<int, int>> calls;
    const qint64 before = TestDb::sessionQuestions(handler->database());
    QCOMPARE(handler->addDevices(list,
                                 [&calls](int done, int total) {
                                     calls << qMakePair(done, total);
                                     return true;
                                 }),
             4500);
    // a few statements per batch, not a few per device
    const qint64 statements = TestDb::sessionQuestions(handler->database()) - before - 1;
    QVERIFY2(statements <= 20, qPrintable(QString::number(statements)));
    QCOMPARE(rows(QStringLiteral("device_groups")), 9000);
    QVERIFY(calls.size() > 1);
    QCOMPARE(calls.last(), qMakePair(4500, 4500));
    for (int i = 1; i < calls.size(); ++i)
        QVERIFY(calls.at(i).first > calls.at(i - 1).first && calls.at(i).second == 4500);

    // stopping after the first batch keeps what that batch stored
    QVERIFY(TestDb::reset() && reconnect());
    QCOMPARE(handler->addDevices(list, [](int, int) { return false; }), calls.first().first);
    QCOMPARE(handler->getDevicesCount(), calls.first().first);
}

QTEST_GUILESS_MAIN(TestConfigHandler)
#include "tst_confighandler.moc"
