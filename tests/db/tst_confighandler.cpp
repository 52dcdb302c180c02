#include "db/confighandler.h"
#include "logcapture.h"
#include "testdb.h"

#include <QSqlQuery>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <numeric>

namespace {

const QString USER_TAKEN = QStringLiteral("Такой пользователь уже существует!");
const QString GROUP_TAKEN = QStringLiteral("Такая группа уже существует!");
const QString DEVICE_TAKEN = QStringLiteral("Такое устройство уже добавлено!");
const QString NO_IMEI = QStringLiteral("Введите IMEI устройства (15 цифр)!");

// Groups 2, 3, 4 and 99 besides the administrators' group.
bool addGroups() {
    return TestDb::exec(QStringLiteral(
        "INSERT INTO groups_list (id, group_name) VALUES (2, 'g2'), (3, 'g3'), (4, 'g4'), (99, 'g99')"));
}

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

using Outcome = QVector<int>; // added, already stored, repeated, invalid, failed

// The server refuses `event` (INSERT or DELETE) on both membership tables where `condition` holds.
bool refuseMemberships(const QString& event, const QString& condition = QStringLiteral("TRUE")) {
    for (const QString& table : {QStringLiteral("device_groups"), QStringLiteral("user_groups")}) {
        if (!TestDb::exec(QStringLiteral("CREATE TRIGGER refuse_%2_%1 BEFORE %2 ON %1 FOR EACH ROW "
                                         "IF %3 THEN SIGNAL SQLSTATE '45000'; END IF")
                              .arg(table, event, condition)))
            return false;
    }
    return true;
}

// Devices with their memberships as the inspection connection sees them, by IMEI.
QStringList deviceTable() {
    QSqlQuery q(TestDb::admin());
    if (!q.exec(
            QStringLiteral("SELECT CONCAT_WS('|', d.imei, HEX(d.name), d.for_all, "
                           "GROUP_CONCAT(g.group_id ORDER BY g.group_id)) FROM devices d "
                           "LEFT JOIN device_groups g ON g.device_id = d.id GROUP BY d.id ORDER BY d.imei")))
        return {QStringLiteral("query failed")};
    QStringList out;
    while (q.next())
        out << q.value(0).toString();
    return out;
}

// Round trips on one connection so far: text statements and executions (Questions), prepares
// and resets. Reading them is one more.
qint64 roundTrips(const QSqlDatabase& db) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SHOW SESSION STATUS WHERE Variable_name IN "
                               "('Questions', 'Com_stmt_prepare', 'Com_stmt_reset')")))
        return -1;
    qint64 count = 0;
    while (q.next())
        count += q.value(1).toLongLong();
    return count;
}

} // namespace

class TestConfigHandler : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void checkDatabase_data();
    void checkDatabase();

    void hostileTexts_data();
    void hostileTexts();
    void duplicatesRefused();
    void adminProtections();

    void memberships();

    void addDevicesAsOneByOne_data();
    void addDevicesAsOneByOne();
    void addDevicesStatementsAndProgress();
    void readBackAndSnapshotRoundTrips();
    void changeRoundTrips();

    void bulkChanges_data();
    void bulkChanges();
    void bulkChangeAllOrNothing();
    void bulkChangeStatements();

private:
    bool reconnect() {
        handler.reset();
        handler = TestDb::handler();
        return handler != nullptr;
    }
    int addUser(const UserInfo& u) {
        QString e;
        return handler->addUser(u, e) ? handler->getUserId(u.login) : -1;
    }
    QStringList addAll(const QVector<DeviceInfo>& prestored, const QVector<DeviceInfo>& list,
                       AddDevicesResult* batched);

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

void TestConfigHandler::checkDatabase_data() {
    QTest::addColumn<QString>("sabotage"); // statements separated by ';'
    QTest::addColumn<QString>("message");  // thrown; none: the default root password is recognised
    QTest::addColumn<int>("adminId");      // after the handler's first check found group 1
    QTest::newRow("admin group with another id")
        << "UPDATE groups_list SET id=5 WHERE id=1;UPDATE user_groups SET group_id=5 WHERE group_id=1"
        << "" << 5;
    QTest::newRow("no admin group") << "UPDATE groups_list SET group_name='admin' WHERE id=1"
                                    << "admin role not found" << 0;
    QTest::newRow("membership query fails") << "DROP TABLE user_groups"
                                            << "users with admin role not found" << 1;
    QTest::newRow("root not in admin group") << "DELETE FROM user_groups WHERE user_id=1"
                                             << "user root not found" << 1;
    QTest::newRow("user 1 missing") << "DELETE FROM users WHERE id=1"
                                    << "user root not found" << 1;
}

void TestConfigHandler::checkDatabase() {
    QFETCH(QString, sabotage);
    QFETCH(QString, message);
    for (const QString& sql : sabotage.split(QLatin1Char(';')))
        QVERIFY(TestDb::exec(sql));
    LogCapture log;
    QString thrown;
    try {
        QVERIFY(handler->checkDatabase());
        QCOMPARE(log.messages(), QStringList()); // the password digest never reaches the log
    } catch (const QString& e) {
        thrown = e;
    }
    QCOMPARE(thrown, message);
    QTEST(handler->adminGroupId(), "adminId");
}

void TestConfigHandler::hostileTexts_data() {
    QTest::addColumn<QString>("value");
    QTest::newRow("quotes, injection") << QStringLiteral("O'Brien \"x\" `y`'; DROP TABLE users; --");
    QTest::newRow("backslashes") << QStringLiteral("C:\\path\\'\\\\n");
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
    QCOMPARE(handler->getDevices().at(0).name, changed);
}

// Another row's login, group name or IMEI is refused, and so is IMEI 0; keeping one's own is no
// duplicate.
void TestConfigHandler::duplicatesRefused() {
    GroupInfo one{0, QStringLiteral("one")}, two{0, QStringLiteral("two")}, admin{0, QStringLiteral("Admin")};
    QVERIFY(handler->addGroup(one, error) && handler->addGroup(two, error) &&
            !handler->addGroup(admin, error));
    QCOMPARE(error, GROUP_TAKEN);
    addUser(user(QStringLiteral("alice")));
    UserInfo bob = user(QStringLiteral("alice"));
    bob.id = addUser(user(QStringLiteral("bob")));
    QCOMPARE(handler->addDevices({device(111), device(222)}), 2);
    DeviceInfo d = device(111);
    d.id = handler->getDeviceId(222);
    two.name = one.name;
    const auto refused = [this](bool done, const QString& expected) {
        return !done && error == expected;
    };
    QVERIFY(refused(handler->updateUser(bob, error), USER_TAKEN));
    QVERIFY(refused(handler->updateGroup(two, error), GROUP_TAKEN));
    QVERIFY(refused(handler->updateDevice(d, error), DEVICE_TAKEN));
    d.imei = 0;
    QVERIFY(refused(handler->updateDevice(d, error), NO_IMEI));
    bob.login = QStringLiteral("bob");
    d.imei = 222;
    QVERIFY(handler->updateUser(bob, error) && handler->updateGroup(one, error) &&
            handler->updateDevice(d, error));
}

// Root and the admin group: root cannot be locked out, the group keeps its stored name.
void TestConfigHandler::adminProtections() {
    LogCapture log;
    UserInfo root = handler->getUser(1);
    QVERIFY(!handler->deleteUser(1));
    QVERIFY(!handler->removeUserGroups(1));
    root.login = QStringLiteral("Root");
    QVERIFY(!handler->updateUser(root, error));
    QCOMPARE(handler->getUser(1).login, QStringLiteral("root"));

    // a new password is stored; the memberships stay even when the record asks otherwise
    root.login = QStringLiteral("root");
    root.password = handler->hashPassword(QStringLiteral("x"));
    root.groups = {2};
    QVERIFY(handler->updateUser(root, error));
    QCOMPARE(handler->getUser(1).password, root.password);
    QCOMPARE(handler->getUser(1).groups, QVector<int>{1});

    const int uid = addUser(user(QStringLiteral("u")));
    QVERIFY(!handler->deleteGroup(1));
    // editing the admin group keeps its stored name and still succeeds
    QVERIFY(handler->updateGroup(GroupInfo{1, QStringLiteral("Администраторы")}, error));
    QCOMPARE(handler->getGroupId(QStringLiteral("Admin")), 1);
    // root cannot be taken out of the admin group
    QVERIFY(handler->setGroupUsers(1, {uid}));
    QCOMPARE(handler->getGroupUsers(1), (QVector<int>{1, uid}));
    QVERIFY(!handler->checkDatabase()); // passes (no throw), root's password is no longer the default
}

void TestConfigHandler::memberships() {
    QVERIFY(addGroups());
    // a pair that is already stored is no error and no second row
    QVERIFY(handler->addDevice(device(5, QStringLiteral("d"), {2}), error));
    DeviceInfo d = handler->getDevices().first();
    QVERIFY(handler->addDeviceGroups(d.id, {1, 2, 1}));
    QCOMPARE(rows(QStringLiteral("device_groups")), 2);

    // a change replaces the list; an empty list removes every membership
    for (const QVector<int>& groups : {QVector<int>{2, 4}, QVector<int>{}, QVector<int>{2, 3}}) {
        d.groups = groups;
        QVERIFY(handler->updateDevice(d, error));
        QCOMPARE(handler->getDeviceGroups(d.id), groups);
    }

    // a refused change keeps the old record whole; a refused add leaves no row
    QVERIFY(refuseMemberships(QStringLiteral("INSERT"), QStringLiteral("NEW.group_id = 99")));
    UserInfo u = user(QStringLiteral("u"), {2, 3});
    u.id = addUser(u);
    LogCapture log;
    const DeviceInfo before = handler->getDevicesByIds({d.id}).value(0);
    d.groups = {4, 99};
    d.name = QStringLiteral("renamed");
    QVERIFY(!handler->updateDevice(d, error));
    QCOMPARE(error, QStringLiteral("Не удалось присвоить устройству группы!"));
    QCOMPARE(handler->getDevicesByIds({d.id}).value(0), before);
    QVERIFY(!handler->addDevice(device(6, QString(), {99}), error) &&
            !handler->addUser(user("v", {99}), error));
    QCOMPARE(rows(QStringLiteral("devices")) + rows(QStringLiteral("users")), 3);

    u.groups = {4, 99};
    u.login = QStringLiteral("renamed");
    error.clear();
    QVERIFY(!handler->updateUser(u, error));
    QCOMPARE(error, QStringLiteral("Не удалось присвоить пользователю группы!"));
    QCOMPARE(handler->getUser(u.id).login, QStringLiteral("u"));
    QCOMPARE(handler->getUserGroups(u.id), (QVector<int>{2, 3}));
    u.login = d.name = QStringLiteral("d");

    // the same groups in another order are no change: no membership is deleted
    QVERIFY(refuseMemberships(QStringLiteral("DELETE")));
    d.groups = u.groups = {3, 2, 3};
    QVERIFY(handler->updateDevice(d, error) && handler->updateUser(u, error));
}

// Count, refusal lines and rows after adding `list` where group 99 is refused; batched or not.
QStringList TestConfigHandler::addAll(const QVector<DeviceInfo>& prestored, const QVector<DeviceInfo>& list,
                                      AddDevicesResult* batched) {
    if (!TestDb::reset() || !reconnect() || !addGroups() ||
        !refuseMemberships(QStringLiteral("INSERT"), QStringLiteral("NEW.group_id = 99")))
        return {};
    for (const DeviceInfo& d : prestored)
        handler->addDevice(d, error);
    LogCapture log;
    int count = batched ? handler->addDevices(list, {}, batched) : 0;
    for (const DeviceInfo& d : batched ? QVector<DeviceInfo>() : list) {
        QString e;
        DeviceInfo withAdmin = d; // as the device dialog gives it
        if (!withAdmin.groups.contains(1))
            withAdmin.groups.prepend(1);
        count += handler->addDevice(withAdmin, e) ? 1 : 0;
        if (!e.isEmpty())
            qDebug() << e << d.id << d.groups;
    }
    return QStringList{QString::number(count)} +
           log.messages().filter(
               QRegularExpression(QStringLiteral("^(\"Такое|\"Не удалось|\"Введите|Устройство с imei)"))) +
           deviceTable();
}

void TestConfigHandler::addDevicesAsOneByOne_data() {
    QTest::addColumn<QVector<DeviceInfo>>("prestored");
    QTest::addColumn<QVector<DeviceInfo>>("list");
    QTest::addColumn<Outcome>("outcome");

    QTest::newRow("first of equal IMEIs wins, every refusal")
        << QVector<DeviceInfo>{device(2, QStringLiteral("old"), {1})}
        << QVector<DeviceInfo>{device(1, "a", {1, 2}),   device(2, "b", {2}),  device(3, {}, {}, true),
                               device(1, "second", {3}), device(0, "no IMEI"), device(4, {}, {99})}
        << Outcome{2, 1, 1, 1, 1};
    QTest::newRow("unsigned limit") << QVector<DeviceInfo>{device(18446744073709551615ULL,
                                                                  QStringLiteral("m"))}
                                    << QVector<DeviceInfo>{device(18446744073709551615ULL),
                                                           device(9223372036854775808ULL, QString(), {1})}
                                    << Outcome{1, 1, 0, 0, 0};
    // Across batch boundaries: duplicates of earlier batches, of the same batch and of the table.
    QVector<DeviceInfo> many;
    for (int i = 0; i < 4500; ++i)
        many << device(500000000000000ULL + quint64(i), QStringLiteral("d%1").arg(i), {1 + i % 3});
    many[2100].imei = many.at(5).imei;
    many[2200].imei = many.at(2150).imei;
    many[4499].imei = 42;
    QTest::newRow("several batches") << QVector<DeviceInfo>{device(42, QStringLiteral("stored"))} << many
                                     << Outcome{4497, 1, 2, 0, 0};

    // A record the server refuses makes its batch fail as a whole: that batch is stored one by
    // one, so the next record with the same IMEI gets in, as it would have one by one.
    QVector<DeviceInfo> failing = many.mid(0, 2500);
    failing[10].name = QString(300, QLatin1Char('x'));
    failing[11].imei = failing.at(10).imei;
    failing[12].imei = 0;
    failing[2300].name = QString(256, QChar(0x0416));
    QTest::newRow("batch failure falls back")
        << QVector<DeviceInfo>{failing.at(13)} << failing << Outcome{2494, 1, 2, 1, 2};
}

void TestConfigHandler::addDevicesAsOneByOne() {
    QFETCH(QVector<DeviceInfo>, prestored);
    QFETCH(QVector<DeviceInfo>, list);
    QFETCH(Outcome, outcome);
    const QStringList oneByOne = addAll(prestored, list, nullptr);
    QCOMPARE(oneByOne.value(0), QString::number(outcome.at(0)));
    AddDevicesResult r;
    QCOMPARE(addAll(prestored, list, &r), oneByOne);
    QCOMPARE((Outcome{r.added, r.alreadyStored, r.repeated, r.invalid, r.failed}), outcome);
}

void TestConfigHandler::addDevicesStatementsAndProgress() {
    QVERIFY(addGroups());
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
    // a few statements per batch (one of them the journal's), not a few per device
    const qint64 statements = TestDb::sessionQuestions(handler->database()) - before - 1;
    QVERIFY2(statements <= 24, qPrintable(QString::number(statements)));
    QCOMPARE(rows(QStringLiteral("device_groups")), 9000);
    QVERIFY(calls.size() > 1);
    QCOMPARE(calls.last(), qMakePair(4500, 4500));

    // stopping after the first batch keeps what that batch stored
    QVERIFY(TestDb::reset() && reconnect() && addGroups());
    QCOMPARE(handler->addDevices(list, [](int, int) { return false; }), calls.first().first);
    QCOMPARE(handler->getDevicesCount(), calls.first().first);
}

// Rows read back by id equal the loaders' rows; a failed read is told from ids that are gone.
void TestConfigHandler::readBackAndSnapshotRoundTrips() {
    QVERIFY(addGroups());
    QCOMPARE(handler->addDevices({device(5, "a", {2, 1}), device(6), device(7, "c", {3})}), 3);
    addUser(user(QStringLiteral("u"), {2}));
    const QVector<DeviceInfo> all = handler->getDevices();
    const QSqlDatabase db = handler->database();
    bool ok = false;
    qint64 before = roundTrips(db);
    QCOMPARE(handler->getDevicesByIds({all.at(2).id, 99, all.at(0).id, all.at(2).id}, &ok),
             (QVector<DeviceInfo>{all.at(0), all.at(2)}));
    QVERIFY(ok);
    QCOMPARE(roundTrips(db) - before - 1, 1);
    before = roundTrips(db);
    QCOMPARE(handler->getDevicesByIds({97, 98, all.at(1).id}), QVector<DeviceInfo>{all.at(1)});
    QCOMPARE(roundTrips(db) - before - 1, 1);
    QCOMPARE(handler->getUsersByIds({3, 2, 1}), handler->getUsers());
    // and by IMEI: one statement per 5,000 IMEIs
    QCOMPARE(handler->storedDevices({7, 8, 5, 7}, &ok),
             (QHash<quint64, QPair<int, QString>>{{5, {all.at(0).id, "a"}}, {7, {all.at(2).id, "c"}}}));
    QVERIFY(ok);
    QVector<quint64> imeis(10001);
    std::iota(imeis.begin(), imeis.end(), quint64(6));
    for (const int n : {3, 5000, 10001}) {
        const qint64 statements = TestDb::sessionQuestions(db);
        QCOMPARE(handler->storedDevices(imeis.mid(0, n)).size(), 2);
        QCOMPARE(TestDb::sessionQuestions(db) - statements - 1, n == 10001 ? 3 : 1);
    }
    // ten thousand ids in runs, one of them unknown instead: one statement
    QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO devices (imei) SELECT 1000 + seq FROM seq_1_to_10000")));
    QVector<int> many(10000);
    std::iota(many.begin(), many.end(),
              TestDb::scalar(QStringLiteral("SELECT MIN(id) FROM devices WHERE imei > 1000")).toInt());
    many.replace(5000, 2000000);
    before = roundTrips(db);
    const QVector<DeviceInfo> read = handler->getDevicesByIds(many);
    QCOMPARE(roundTrips(db) - before - 1, 1);
    QCOMPARE(read.size(), 9999);
    QVERIFY(TestDb::exec(QStringLiteral("DELETE FROM devices WHERE imei > 1000")));
    TablesSnapshot snapshot;
    before = roundTrips(db);
    QVERIFY(handler->loadTables(snapshot, error));
    const qint64 trips = roundTrips(db) - before - 1;
    QVERIFY2(trips <= 12, qPrintable(QString::number(trips)));
    QCOMPARE(snapshot.devices, all);
    handler->setLoadSliceForTesting(1); // slices end inside a device's memberships too
    QVERIFY(handler->loadTables(snapshot, error));
    QCOMPARE(snapshot.devices, all);

    LogCapture log;
    QVERIFY(TestDb::exec(QStringLiteral("DROP TABLE device_groups")));
    QVERIFY(handler->getDevicesByIds({all.at(0).id}, &ok).isEmpty());
    QVERIFY(!ok);
    QVERIFY(!handler->loadTables(snapshot, error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(snapshot.devices, all);
}

// A change and its read-back, as the window makes them, once their statements are prepared.
void TestConfigHandler::changeRoundTrips() {
    const QSqlDatabase db = handler->database();
    const auto trips = [&db](const std::function<bool()>& change) {
        const qint64 before = roundTrips(db);
        return change() ? roundTrips(db) - before - 1 : -1;
    };
    DeviceInfo d;
    UserInfo u = user(QStringLiteral("u"), {1});
    const auto add = [&](quint64 imei) {
        d = device(imei, QStringLiteral("n"), {1, 2});
        return handler->addDevice(d, error, d.id) && d.id > 0 && handler->getDevicesByIds({d.id}).size() == 1;
    };
    // as the dialogs make them: against the record shown, with the conflict check
    const auto rename = [&] {
        DeviceInfo renamed = d;
        renamed.name += QLatin1Char('x');
        UserInfo changed = u;
        changed.password = handler->hashPassword(QString::fromLatin1(u.password.toHex()));
        if (!handler->updateDevice(d, renamed, error) || !handler->updateUser(u, changed, error))
            return false;
        d = handler->getDevicesByIds({d.id}).value(0);
        u = handler->getUsersByIds({u.id}).value(0);
        return d == renamed && u == changed;
    };
    const auto remove = [&] {
        return handler->deleteDevices({d.id}) == 1 && handler->getDevicesByIds({d.id}).isEmpty();
    };
    u.id = addUser(u);
    QVERIFY(addGroups());
    QVERIFY(add(5) && rename() && remove());
    // each statement one round trip; each change's journal row is one statement more
    QCOMPARE(trips([&] { return add(6); }), 6);
    QCOMPARE(trips(rename), 12);
    QCOMPARE(trips(remove), 6);
    QCOMPARE(d.groups, (QVector<int>{1, 2}));
}

// Both membership tables and the for-all flags, whole.
QString bulkTables() {
    return TestDb::scalar(
               QStringLiteral("SELECT CONCAT_WS(' ', (SELECT GROUP_CONCAT(device_id, ':', group_id "
                              "ORDER BY device_id, group_id) FROM device_groups), (SELECT "
                              "GROUP_CONCAT(for_all ORDER BY id) FROM devices), (SELECT GROUP_CONCAT("
                              "user_id, ':', group_id ORDER BY user_id, group_id) FROM user_groups))"))
        .toString();
}

bool execAll(std::initializer_list<const char*> statements) {
    return std::all_of(statements.begin(), statements.end(),
                       [](const char* sql) { return TestDb::exec(QString::fromLatin1(sql)); });
}

void TestConfigHandler::bulkChanges_data() {
    QTest::addColumn<QString>("change"); // devices, for all, users
    QTest::addColumn<QVector<int>>("ids");
    QTest::addColumn<QVector<int>>("add");
    QTest::addColumn<QVector<int>>("remove");
    QTest::addColumn<QString>("tables"); // starting from "1:1,1:2,2:1,3:2,3:3 0,0,0 1:1,2:2,3:1,3:3"
    // 1 is the admin group, 98 and 99 ids nobody has
    QTest::newRow("devices: admin group stays, no pair twice, unknown ids")
        << "devices" << QVector<int>{3, 1, 99, 2, 1} << QVector<int>{3} << QVector<int>{1, 2, 98}
        << "1:1,1:3,2:1,2:3,3:3 0,0,0 1:1,2:2,3:1,3:3";
    QTest::newRow("devices: admin group added, a group in both lists added")
        << "devices" << QVector<int>{3} << QVector<int>{1, 2} << QVector<int>{2}
        << "1:1,1:2,2:1,3:1,3:2,3:3 0,0,0 1:1,2:2,3:1,3:3";
    QTest::newRow("devices in runs, one left out, unknown ids among them")
        << "devices" << QVector<int>{99, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}
        << QVector<int>{3} << QVector<int>{2} << "1:1,1:3,2:1,3:3 0,0,0 1:1,2:2,3:1,3:3";
    QTest::newRow("for all") << "for all" << QVector<int>{1, 3, 99} << QVector<int>{} << QVector<int>{}
                             << "1:1,1:2,2:1,3:2,3:3 1,0,1 1:1,2:2,3:1,3:3";
    QTest::newRow("for all, in runs, one left out")
        << "for all" << QVector<int>{1, 3, 4, 5, 6, 7, 8, 9, 10} << QVector<int>{} << QVector<int>{}
        << "1:1,1:2,2:1,3:2,3:3 1,0,1 1:1,2:2,3:1,3:3";
    QTest::newRow("users: root stays in the admin group, the others leave it")
        << "users" << QVector<int>{1, 2, 3, 99} << QVector<int>{4} << QVector<int>{1, 3}
        << "1:1,1:2,2:1,3:2,3:3 0,0,0 1:1,1:4,2:2,2:4,3:4";
}

void TestConfigHandler::bulkChanges() {
    QFETCH(QString, change);
    QFETCH(QVector<int>, ids);
    QFETCH(QVector<int>, add);
    QFETCH(QVector<int>, remove);
    QVERIFY(
        execAll({"INSERT INTO groups_list (id, group_name) VALUES (2, 'a'), (3, 'b'), (4, 'c')",
                 "INSERT INTO devices (id, imei) VALUES (1, 1), (2, 2), (3, 3)",
                 "INSERT INTO device_groups VALUES (1, 1), (1, 2), (2, 1), (3, 2), (3, 3)",
                 "INSERT INTO users (id, user_login, user_password) VALUES (2, 'u2', 'x'), (3, 'u3', 'x')",
                 "INSERT INTO user_groups VALUES (2, 2), (3, 1), (3, 3)"}));
    QVERIFY(change == "devices"   ? handler->changeDevicesGroups(ids, add, remove)
            : change == "for all" ? handler->setDevicesForAll(ids, true)
                                  : handler->changeUsersGroups(ids, add, remove));
    QTEST(bulkTables(), "tables");
}

// A refused row undoes the whole change, also what earlier statements and slices of ids did.
void TestConfigHandler::bulkChangeAllOrNothing() {
    QVERIFY(execAll({"INSERT INTO groups_list (id, group_name) VALUES (2, 'a'), (3, 'b')",
                     "INSERT INTO devices (id, imei) SELECT seq, seq FROM seq_1_to_20000",
                     "INSERT INTO device_groups SELECT id, 2 FROM devices",
                     "INSERT INTO user_groups VALUES (1, 2)",
                     "CREATE TRIGGER refuse_last BEFORE INSERT ON device_groups FOR EACH ROW "
                     "IF NEW.device_id = 20000 THEN SIGNAL SQLSTATE '45000'; END IF",
                     "CREATE TRIGGER refuse_3 BEFORE INSERT ON user_groups FOR EACH ROW "
                     "IF NEW.group_id = 3 THEN SIGNAL SQLSTATE '45000'; END IF"}));
    const QString before = bulkTables();
    QVector<int> ids(20000);
    std::iota(ids.begin(), ids.end(), 1);
    LogCapture log;
    QVERIFY(!handler->changeDevicesGroups(ids, {3}, {2}));
    QVERIFY(!handler->changeUsersGroups({1}, {3}, {2}));
    QCOMPARE(bulkTables(), before);
}

// Statements do not grow with the number of ids.
void TestConfigHandler::bulkChangeStatements() {
    QVERIFY(execAll(
        {"INSERT INTO groups_list (id, group_name) VALUES (2, 'a'), (3, 'b')",
         "INSERT INTO devices (id, imei) SELECT seq, seq FROM seq_1_to_3001",
         "INSERT INTO users (id, user_login, user_password) SELECT seq, seq, 'x' FROM seq_2_to_3001"}));
    QVector<qint64> trips;
    // the first call prepares the journal's statements, kept for every later length
    for (const int n : {5, 10, 3000}) {
        QVector<int> ids(n);
        std::iota(ids.begin(), ids.end(), 2);
        const qint64 before = roundTrips(handler->database());
        QVERIFY(handler->changeDevicesGroups(ids, {2}, {3}) && handler->setDevicesForAll(ids, true) &&
                handler->changeUsersGroups(ids, {3}, {1, 2}));
        trips << roundTrips(handler->database()) - before;
    }
    QCOMPARE(trips.at(1), trips.at(2));
    QCOMPARE(rows(QStringLiteral("device_groups WHERE group_id = 2")), 3000);
}

QTEST_GUILESS_MAIN(TestConfigHandler)
#include "tst_confighandler.moc"
