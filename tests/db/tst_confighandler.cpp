#include "app/constants.h"
#include "db/confighandler.h"
#include "testdb.h"

#include <QSqlQuery>
#include <QtTest>

#include <memory>

namespace {

const QString HOSTILE_QUOTE = QStringLiteral("O'Brien \"x\" `y`");
const QString HOSTILE_BACKSLASH = QStringLiteral("C:\\path\\'\\\\n");
const QString HOSTILE_INJECTION = QStringLiteral("'; DROP TABLE users; --");
const QString HOSTILE_CYRILLIC = QStringLiteral("Группа Ёжиков");
const QString HOSTILE_EMOJI = QStringLiteral("📡 трекер 🚚");
const QString HOSTILE_LONG = QString(254, QChar(0x0416)); // 254 × "Ж"

void addHostileRows() {
    QTest::addColumn<QString>("value");
    QTest::newRow("quotes") << HOSTILE_QUOTE;
    QTest::newRow("backslashes") << HOSTILE_BACKSLASH;
    QTest::newRow("injection") << HOSTILE_INJECTION;
    QTest::newRow("cyrillic") << HOSTILE_CYRILLIC;
    QTest::newRow("emoji") << HOSTILE_EMOJI;
    QTest::newRow("254 chars") << HOSTILE_LONG;
    QTest::newRow("placeholder-like") << QStringLiteral(":passwd ? %1 %2");
}

// Collects every message written while it lives.
class MessageLog {
public:
    MessageLog() { previous = qInstallMessageHandler(&MessageLog::handler); }
    ~MessageLog() { qInstallMessageHandler(previous); }
    static QStringList& lines() {
        static QStringList all;
        return all;
    }

private:
    static void handler(QtMsgType, const QMessageLogContext&, const QString& message) { lines() << message; }
    QtMessageHandler previous;
};

int tableRows(const QString& table) {
    return TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table)).toInt();
}

} // namespace

class TestConfigHandler : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void connectsToTheConfiguredDatabase();
    void reconnectClosesAndReopens();
    void connectFailureReportsTheError();
    void handlerCanBeCreatedAgain();

    void checkDatabaseDefaultPassword();
    void checkDatabaseFailures_data();
    void checkDatabaseFailures();
    void hashPassword();

    void hostileUserLogin_data();
    void hostileUserLogin();
    void hostileGroupName_data();
    void hostileGroupName();
    void hostileDeviceName_data();
    void hostileDeviceName();

    void imeiUnsignedLimit();
    void idLookupsMissingRows();

    void duplicatesOnAdd();
    void duplicatesOnUpdate();

    void rootProtections();
    void adminGroupProtections();
    void adminGroupProtectionsBeforeCheck();

    void membershipsInsertIgnore();
    void membershipsReplacedOnChange();
    void membershipsOrder();
    void deleteRemovesMemberships();
    void setGroupUsers();

    void loadersReturnRecords();
    void getUserMissing();
    void groupCounts();
    void deleteDevices();

private:
    std::unique_ptr<ConfigHandler> handler;
};

void TestConfigHandler::init() {
    ORB_RESET_DB();
    handler = std::make_unique<ConfigHandler>();
    handler->setConnectionSettings(TestDb::settings());
    QCOMPARE(handler->connectToDatabase(), 0);
    QVERIFY(handler->checkDatabase());
}

void TestConfigHandler::cleanup() {
    handler.reset();
}

// ---------------------------------------------------------------- connection

void TestConfigHandler::connectsToTheConfiguredDatabase() {
    QSqlQuery q(handler->database());
    QVERIFY(q.exec(QStringLiteral("SELECT DATABASE(), @@character_set_connection")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), TestDb::defaultName());
    QCOMPARE(q.value(1).toString(), QStringLiteral("utf8mb4"));

    SqlConnectionSettings s = handler->connectionSettings();
    QCOMPARE(s.db, TestDb::defaultName());
    QCOMPARE(s.port, TestDb::settings().port);
}

void TestConfigHandler::reconnectClosesAndReopens() {
    QSqlQuery q(handler->database());
    QVERIFY(q.exec(QStringLiteral("SELECT CONNECTION_ID()")) && q.next());
    const qint64 first = q.value(0).toLongLong();
    QCOMPARE(handler->connectToDatabase(), 0);
    QSqlQuery again(handler->database());
    QVERIFY(again.exec(QStringLiteral("SELECT CONNECTION_ID()")) && again.next());
    QVERIFY(again.value(0).toLongLong() != first);
    QVERIFY(handler->database().isOpen());
}

void TestConfigHandler::connectFailureReportsTheError() {
    SqlConnectionSettings s = TestDb::settings();
    s.password = QStringLiteral("wrong");
    handler->setConnectionSettings(s);
    QCOMPARE(handler->connectToDatabase(), 1);
    QVERIFY(!handler->database().isOpen());
    QVERIFY(handler->lastErrorText().contains(QStringLiteral("Access denied")));

    s = TestDb::settings(QStringLiteral("orbtest_no_such_database"));
    handler->setConnectionSettings(s);
    QCOMPARE(handler->connectToDatabase(), 1);
    QVERIFY(handler->lastErrorText().contains(QStringLiteral("orbtest_no_such_database")));
}

void TestConfigHandler::handlerCanBeCreatedAgain() {
    handler.reset();
    QVERIFY(!QSqlDatabase::contains(QLatin1String(QSqlDatabase::defaultConnection)));
    // a second handler after the first is gone: no "duplicate connection" warning
    MessageLog::lines().clear();
    {
        MessageLog log;
        handler = std::make_unique<ConfigHandler>();
        handler->setConnectionSettings(TestDb::settings());
        QCOMPARE(handler->connectToDatabase(), 0);
        QVERIFY(handler->checkDatabase());
        handler.reset();
    }
    QCOMPARE(MessageLog::lines(), QStringList());

    // a handler that outlives an older one keeps its connection
    auto older = std::make_unique<ConfigHandler>();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("duplicate connection name")));
    handler = std::make_unique<ConfigHandler>();
    handler->setConnectionSettings(TestDb::settings());
    QCOMPARE(handler->connectToDatabase(), 0);
    older.reset();
    QVERIFY(QSqlDatabase::contains(QLatin1String(QSqlDatabase::defaultConnection)));
    QVERIFY(handler->database().isOpen());
    QCOMPARE(handler->getUserId(QStringLiteral("root")), 1);
}

// ---------------------------------------------------------------- integrity check

void TestConfigHandler::checkDatabaseDefaultPassword() {
    QCOMPARE(handler->adminGroupId(), 1);
    UserInfo root = handler->getUser(1);
    QString error;
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
    const QByteArray empty = handler->hashPassword(QString());
    QCOMPARE(empty.size(), 64);
    QCOMPARE(empty, QCryptographicHash::hash(QByteArrayLiteral("Qw7rTz2Lp9"), QCryptographicHash::Sha3_512));
    QCOMPARE(handler->hashPassword(QStringLiteral("пароль")),
             handler->hashPassword(QStringLiteral("пароль")));
    QVERIFY(handler->hashPassword(QStringLiteral("a")) != handler->hashPassword(QStringLiteral("b")));
    // the digest never reaches the log
    MessageLog::lines().clear();
    {
        MessageLog log;
        handler->hashPassword(QStringLiteral("secret"));
    }
    QCOMPARE(MessageLog::lines(), QStringList());
}

// ---------------------------------------------------------------- hostile values

void TestConfigHandler::hostileUserLogin_data() {
    addHostileRows();
}

void TestConfigHandler::hostileUserLogin() {
    QFETCH(QString, value);
    QString error;
    UserInfo u;
    u.login = value;
    u.password = handler->hashPassword(value);
    QVERIFY(handler->addUser(u, error));
    QVERIFY(error.isEmpty());
    QCOMPARE(tableRows(TABLE_USERS), 2);

    const int id = handler->getUserId(value);
    QVERIFY(id > 1);
    QCOMPARE(handler->getUser(id).login, value);
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT user_login FROM users WHERE id=%1").arg(id)).toString(),
             value);

    // a second add of the same text is refused as a duplicate, not stored twice
    QVERIFY(!handler->addUser(u, error));
    QCOMPARE(error, QStringLiteral("Такой пользователь уже существует!"));

    u.id = id;
    u.login = value + QStringLiteral("_");
    error.clear();
    QVERIFY(handler->updateUser(u, error));
    const QVector<UserInfo> users = handler->getUsers();
    QCOMPARE(users.size(), 2);
    const auto it = std::find_if(users.begin(), users.end(), [id](const UserInfo& x) { return x.id == id; });
    QVERIFY(it != users.end());
    QCOMPARE(it->login, u.login);
    QCOMPARE(it->password, u.password);
}

void TestConfigHandler::hostileGroupName_data() {
    addHostileRows();
}

void TestConfigHandler::hostileGroupName() {
    QFETCH(QString, value);
    QString error;
    GroupInfo g;
    g.name = value;
    QVERIFY(handler->addGroup(g, error));
    QVERIFY(g.id > 1);
    QCOMPARE(handler->getGroupId(value), g.id);
    auto storedName = [this](int id) {
        const QVector<GroupInfo> groups = handler->getGroups();
        for (const GroupInfo& stored : groups) {
            if (stored.id == id)
                return stored.name;
        }
        return QStringLiteral("(missing)");
    };
    QCOMPARE(handler->getGroups().size(), 2);
    QCOMPARE(storedName(g.id), value);

    g.name = QStringLiteral("'") + value;
    QVERIFY(handler->updateGroup(g, error));
    QCOMPARE(storedName(g.id), g.name);
    QCOMPARE(tableRows(TABLE_USERS), 1);
}

void TestConfigHandler::hostileDeviceName_data() {
    addHostileRows();
}

void TestConfigHandler::hostileDeviceName() {
    QFETCH(QString, value);
    QString error;
    DeviceInfo d;
    d.imei = 356938035643809ULL;
    d.name = value;
    d.groups = {1};
    QVERIFY(handler->addDevice(d, error));
    QVector<DeviceInfo> devices = handler->getDevices();
    QCOMPARE(devices.size(), 1);
    QCOMPARE(devices.at(0).name, value);

    d.id = devices.at(0).id;
    d.name = value + value;
    d.name.truncate(255);
    QVERIFY(handler->updateDevice(d, error));
    QCOMPARE(handler->getDevices().at(0).name, d.name);

    const QVector<DeviceInfo> batch = {DeviceInfo{0, 1ULL, value, {}, false}};
    QCOMPARE(handler->addDevices(batch), 1);
    QCOMPARE(handler->getDevices().at(1).name, value);
}

void TestConfigHandler::imeiUnsignedLimit() {
    const quint64 max = 18446744073709551615ULL;
    const quint64 aboveSigned = 9223372036854775808ULL;
    QString error;
    DeviceInfo d;
    d.imei = max;
    QVERIFY(handler->addDevice(d, error));
    d.imei = aboveSigned;
    QVERIFY(handler->addDevice(d, error));
    QVERIFY(handler->getDeviceId(max) > 0);
    QVERIFY(handler->getDeviceId(aboveSigned) > 0);
    QVERIFY(handler->getDeviceId(max) != handler->getDeviceId(aboveSigned));
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT MAX(imei) FROM devices")).toULongLong(), max);

    const QVector<DeviceInfo> devices = handler->getDevices();
    QCOMPARE(devices.size(), 2);
    QCOMPARE(devices.at(0).imei, max);
    QCOMPARE(devices.at(1).imei, aboveSigned);

    d.imei = max;
    QVERIFY(!handler->addDevice(d, error));
    QCOMPARE(error, QStringLiteral("Такое устройство уже добавлено!"));
    QCOMPARE(handler->addDevices({d, DeviceInfo{0, max - 1, QString(), {}, false}}), 1);
    QVERIFY(handler->getDeviceId(max - 1) > 0);
}

void TestConfigHandler::idLookupsMissingRows() {
    QTest::ignoreMessage(QtDebugMsg, "Пользователь с именем \"nobody\" не найден!");
    QCOMPARE(handler->getUserId(QStringLiteral("nobody")), -1);
    QTest::ignoreMessage(QtDebugMsg, "Устройство с imei 18446744073709551615 не найдено!");
    QCOMPARE(handler->getDeviceId(18446744073709551615ULL), -1);
    QTest::ignoreMessage(QtDebugMsg, "Группа с названием \"Nobody\" не найдена!");
    QCOMPARE(handler->getGroupId(QStringLiteral("Nobody")), -1);
    QCOMPARE(handler->getUserId(QStringLiteral("root")), 1);
    QCOMPARE(handler->getGroupId(QStringLiteral("Admin")), 1);
}

// ---------------------------------------------------------------- duplicates

void TestConfigHandler::duplicatesOnAdd() {
    QString error;
    UserInfo u{0, QStringLiteral("root"), QByteArray(64, 'x'), {}};
    QVERIFY(!handler->addUser(u, error));
    QCOMPARE(error, QStringLiteral("Такой пользователь уже существует!"));
    QCOMPARE(tableRows(TABLE_USERS), 1);

    GroupInfo g{42, QStringLiteral("Admin")};
    error.clear();
    QVERIFY(!handler->addGroup(g, error));
    QCOMPARE(error, QStringLiteral("Такая группа уже существует!"));
    QCOMPARE(g.id, 42);

    DeviceInfo d{0, 123456789012345ULL, QStringLiteral("a"), {}, false};
    QVERIFY(handler->addDevice(d, error));
    error.clear();
    QVERIFY(!handler->addDevice(d, error));
    QCOMPARE(error, QStringLiteral("Такое устройство уже добавлено!"));
    QCOMPARE(tableRows(TABLE_DEVICES), 1);
}

void TestConfigHandler::duplicatesOnUpdate() {
    QString error;
    UserInfo a{0, QStringLiteral("alice"), QByteArray(64, 'a'), {}};
    UserInfo b{0, QStringLiteral("bob"), QByteArray(64, 'b'), {}};
    QVERIFY(handler->addUser(a, error) && handler->addUser(b, error));
    b.id = handler->getUserId(QStringLiteral("bob"));
    b.login = QStringLiteral("alice");
    QVERIFY(!handler->updateUser(b, error));
    QCOMPARE(error, QStringLiteral("Такой пользователь уже существует!"));
    QCOMPARE(handler->getUser(b.id).login, QStringLiteral("bob"));
    // keeping one's own login is no duplicate
    error.clear();
    b.login = QStringLiteral("bob");
    b.password = QByteArray(64, 'c');
    QVERIFY(handler->updateUser(b, error));
    QVERIFY(error.isEmpty());
    QCOMPARE(handler->getUser(b.id).password, b.password);

    GroupInfo g1{0, QStringLiteral("one")}, g2{0, QStringLiteral("two")};
    QVERIFY(handler->addGroup(g1, error) && handler->addGroup(g2, error));
    g2.name = QStringLiteral("one");
    QVERIFY(!handler->updateGroup(g2, error));
    QCOMPARE(error, QStringLiteral("Такая группа уже существует!"));
    g2.name = QStringLiteral("Admin");
    error.clear();
    QVERIFY(!handler->updateGroup(g2, error));
    QCOMPARE(error, QStringLiteral("Такая группа уже существует!"));
    g1.name = QStringLiteral("one");
    QVERIFY(handler->updateGroup(g1, error));

    DeviceInfo d1{0, 111111111111111ULL, QString(), {}, false};
    DeviceInfo d2{0, 222222222222222ULL, QString(), {}, false};
    QVERIFY(handler->addDevice(d1, error) && handler->addDevice(d2, error));
    d2.id = handler->getDeviceId(d2.imei);
    d2.imei = d1.imei;
    error.clear();
    QVERIFY(!handler->updateDevice(d2, error));
    QCOMPARE(error, QStringLiteral("Такое устройство уже добавлено!"));
    QCOMPARE(
        TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM devices WHERE imei=111111111111111")).toInt(), 1);
    d2.imei = 222222222222222ULL;
    d2.forAll = true;
    QVERIFY(handler->updateDevice(d2, error));
}

// ---------------------------------------------------------------- protections

void TestConfigHandler::rootProtections() {
    QString error;
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

    // new password stored; memberships stay even when the record asks otherwise
    GroupInfo g{0, QStringLiteral("other")};
    QVERIFY(handler->addGroup(g, error));
    root.login = QStringLiteral("root");
    root.password = handler->hashPassword(QStringLiteral("x"));
    root.groups = {g.id};
    QTest::ignoreMessage(QtDebugMsg, "нельзя удалить админа");
    QVERIFY(handler->updateUser(root, error));
    QCOMPARE(handler->getUser(1).password, root.password);
    QCOMPARE(handler->getUser(1).groups, QVector<int>{1});
    QCOMPARE(tableRows(TABLE_USERS), 1);
}

void TestConfigHandler::adminGroupProtections() {
    QString error;
    UserInfo u{0, QStringLiteral("u"), QByteArray(64, 'u'), {}};
    QVERIFY(handler->addUser(u, error));
    const int uid = handler->getUserId(u.login);

    QTest::ignoreMessage(QtDebugMsg, "нельзя удалить группу админа");
    QVERIFY(!handler->deleteGroup(1));

    // editing the admin group keeps its stored name and still succeeds
    GroupInfo admin{1, QStringLiteral("Администраторы")};
    QVERIFY(handler->updateGroup(admin, error));
    QVERIFY(error.isEmpty());
    QCOMPARE(handler->getGroups().at(0).name, QStringLiteral("Admin"));

    // root cannot be taken out of the admin group
    QVERIFY(handler->setGroupUsers(1, {uid}));
    QCOMPARE(handler->getGroupUsers(1), (QVector<int>{1, uid}));
    QVERIFY(handler->setGroupUsers(1, {}));
    QCOMPARE(handler->getGroupUsers(1), QVector<int>{1});
    QVERIFY(handler->removeGroupUsers(1));
    QCOMPARE(handler->getGroupUsers(1), QVector<int>{1});
    QVERIFY(handler->checkDatabase());
}

void TestConfigHandler::adminGroupProtectionsBeforeCheck() {
    handler.reset();
    handler = std::make_unique<ConfigHandler>();
    handler->setConnectionSettings(TestDb::settings());
    QCOMPARE(handler->connectToDatabase(), 0);
    QCOMPARE(handler->adminGroupId(), 0);
    QTest::ignoreMessage(QtDebugMsg, "нельзя удалить группу админа");
    QVERIFY(!handler->deleteGroup(0));
    QString error;
    GroupInfo g{0, QStringLiteral("g")};
    QVERIFY(handler->addGroup(g, error));
    QVERIFY(handler->deleteGroup(g.id));
}

// ---------------------------------------------------------------- memberships

void TestConfigHandler::membershipsInsertIgnore() {
    QString error;
    GroupInfo g{0, QStringLiteral("g")};
    QVERIFY(handler->addGroup(g, error));
    DeviceInfo d{0, 5ULL, QString(), {g.id}, false};
    QVERIFY(handler->addDevice(d, error));
    const int id = handler->getDeviceId(5);
    QVERIFY(handler->addDeviceGroups(id, {1, g.id, 1}));
    QCOMPARE(handler->getDeviceGroups(id), (QVector<int>{1, g.id}));
    QCOMPARE(tableRows(TABLE_DEVICE_GROUPS), 2);

    UserInfo u{0, QStringLiteral("u"), QByteArray(64, 'u'), {g.id}};
    QVERIFY(handler->addUser(u, error));
    const int uid = handler->getUserId(QStringLiteral("u"));
    QVERIFY(handler->addUserGroups(uid, {g.id, g.id}));
    QCOMPARE(handler->getUserGroups(uid), QVector<int>{g.id});
    QVERIFY(handler->addUserGroups(uid, {}));
}

void TestConfigHandler::membershipsReplacedOnChange() {
    QString error;
    DeviceInfo d{0, 7ULL, QStringLiteral("d"), {1, 2, 3}, false};
    QVERIFY(handler->addDevice(d, error));
    d.id = handler->getDeviceId(7);
    d.groups = {2, 4};
    QVERIFY(handler->updateDevice(d, error));
    QCOMPARE(handler->getDeviceGroups(d.id), (QVector<int>{2, 4}));
    d.groups = {};
    QVERIFY(handler->updateDevice(d, error));
    QVERIFY(handler->getDeviceGroups(d.id).isEmpty());

    UserInfo u{0, QStringLiteral("u"), QByteArray(64, 'u'), {1, 2}};
    QVERIFY(handler->addUser(u, error));
    u.id = handler->getUserId(u.login);
    u.groups = {3};
    QVERIFY(handler->updateUser(u, error));
    QCOMPARE(handler->getUserGroups(u.id), QVector<int>{3});
    QCOMPARE(handler->getUser(u.id).groups, QVector<int>{3});
}

void TestConfigHandler::membershipsOrder() {
    // the loaders keep the order in which the server returns the membership rows
    QString error;
    DeviceInfo d{0, 9ULL, QString(), {7, 3}, false};
    QVERIFY(handler->addDevice(d, error));
    const int id = handler->getDeviceId(9);
    QSqlQuery q(TestDb::admin());
    QVERIFY(q.exec(QStringLiteral("SELECT group_id FROM device_groups WHERE device_id=%1").arg(id)));
    QVector<int> serverOrder;
    while (q.next())
        serverOrder << q.value(0).toInt();
    QCOMPARE(serverOrder.size(), 2);
    QCOMPARE(handler->getDeviceGroups(id), serverOrder);
    QCOMPARE(handler->getDevices().at(0).groups, serverOrder);
}

void TestConfigHandler::deleteRemovesMemberships() {
    QString error;
    GroupInfo g{0, QStringLiteral("g")};
    QVERIFY(handler->addGroup(g, error));
    UserInfo u{0, QStringLiteral("u"), QByteArray(64, 'u'), {1, g.id}};
    QVERIFY(handler->addUser(u, error));
    DeviceInfo d{0, 11ULL, QString(), {1, g.id}, false};
    QVERIFY(handler->addDevice(d, error));

    QVERIFY(handler->deleteGroup(g.id));
    QCOMPARE(tableRows(TABLE_GROUPS), 1);
    QCOMPARE(tableRows(TABLE_DEVICE_GROUPS), 1);
    QCOMPARE(tableRows(TABLE_USER_GROUPS), 2);

    QVERIFY(handler->deleteUser(handler->getUserId(QStringLiteral("u"))));
    QCOMPARE(tableRows(TABLE_USERS), 1);
    QCOMPARE(tableRows(TABLE_USER_GROUPS), 1);

    QVERIFY(handler->deleteDevice(handler->getDeviceId(11)));
    QCOMPARE(tableRows(TABLE_DEVICES), 0);
    QCOMPARE(tableRows(TABLE_DEVICE_GROUPS), 0);
    QVERIFY(handler->deleteDevice(12345));
}

void TestConfigHandler::setGroupUsers() {
    QString error;
    GroupInfo g{0, QStringLiteral("g")};
    QVERIFY(handler->addGroup(g, error));
    QVector<int> ids;
    for (int i = 0; i < 3; ++i) {
        UserInfo u{0, QStringLiteral("u%1").arg(i), QByteArray(64, 'u'), {}};
        QVERIFY(handler->addUser(u, error));
        ids << handler->getUserId(u.login);
    }
    QVERIFY(handler->setGroupUsers(g.id, ids));
    QCOMPARE(handler->getGroupUsers(g.id), ids);
    QVERIFY(handler->setGroupUsers(g.id, {ids.at(1)}));
    QCOMPARE(handler->getGroupUsers(g.id), QVector<int>{ids.at(1)});
    QVERIFY(handler->setGroupUsers(g.id, {}));
    QVERIFY(handler->getGroupUsers(g.id).isEmpty());
    QCOMPARE(handler->getGroupUsers(1), QVector<int>{1});
}

// ---------------------------------------------------------------- loading

void TestConfigHandler::loadersReturnRecords() {
    QString error;
    DeviceInfo a{0, 100000000000001ULL, QString(), {}, true};
    DeviceInfo b{0, 100000000000002ULL, QStringLiteral("b"), {1}, false};
    QVERIFY(handler->addDevice(a, error) && handler->addDevice(b, error));
    const QVector<DeviceInfo> devices = handler->getDevices();
    QCOMPARE(devices.size(), 2);
    a.id = handler->getDeviceId(a.imei);
    b.id = handler->getDeviceId(b.imei);
    QCOMPARE(devices.at(0), a);
    QCOMPARE(devices.at(1), b);
    QVERIFY(devices.at(0).name.isEmpty());

    const QVector<UserInfo> users = handler->getUsers();
    QCOMPARE(users.size(), 1);
    QCOMPARE(users.at(0), handler->getUser(1));
    QCOMPARE(users.at(0).password, handler->hashPassword(QStringLiteral("vexo")));
}

void TestConfigHandler::getUserMissing() {
    const UserInfo u = handler->getUser(999);
    QCOMPARE(u.id, 0);
    QVERIFY(u.login.isEmpty());
    QVERIFY(u.password.isEmpty());
    QVERIFY(u.groups.isEmpty());
}

void TestConfigHandler::groupCounts() {
    QString error;
    GroupInfo g{0, QStringLiteral("g")};
    QVERIFY(handler->addGroup(g, error));
    QVERIFY(handler->addDevices({DeviceInfo{0, 1, QString(), {g.id}, false},
                                 DeviceInfo{0, 2, QString(), {g.id, 1}, false},
                                 DeviceInfo{0, 3, QString(), {}, false}}) == 3);
    UserInfo u{0, QStringLiteral("u"), QByteArray(64, 'u'), {g.id}};
    QVERIFY(handler->addUser(u, error));

    const QHash<int, int> users = handler->getGroupUsersCounts();
    const QHash<int, int> devices = handler->getGroupDevicesCounts();
    QCOMPARE(users.value(1), handler->getGroupUsers(1).size());
    QCOMPARE(users.value(g.id), 1);
    QCOMPARE(devices.value(g.id), handler->getGroupDevices(g.id).size());
    QCOMPARE(devices.value(g.id), 2);
    QCOMPARE(devices.value(1), 1);
    QCOMPARE(handler->getDevicesCount(), 3);
}

void TestConfigHandler::deleteDevices() {
    QVector<DeviceInfo> list;
    for (int i = 1; i <= 50; ++i)
        list << DeviceInfo{0, quint64(i), QString(), {1}, false};
    QCOMPARE(handler->addDevices(list), 50);
    QVector<int> ids;
    for (const DeviceInfo& d : handler->getDevices()) {
        if (d.imei % 2 == 0)
            ids << d.id;
    }
    ids << 999999;
    QCOMPARE(handler->deleteDevices(ids), 25);
    QCOMPARE(tableRows(TABLE_DEVICES), 25);
    QCOMPARE(tableRows(TABLE_DEVICE_GROUPS), 25);
    QCOMPARE(handler->deleteDevices({}), 0);
    QCOMPARE(handler->getDevicesCount(), 25);
}

QTEST_GUILESS_MAIN(TestConfigHandler)
#include "tst_confighandler.moc"
