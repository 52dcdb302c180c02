#include "db/confighandler.h"
#include "logcapture.h"
#include "testdb.h"

#include <QSqlQuery>
#include <QtTest>

#include <functional>
#include <memory>
#include <thread>

namespace {

DeviceInfo device(quint64 imei, const QString& name = QString(), const QVector<int>& groups = {}) {
    return DeviceInfo{0, imei, name, groups, false};
}

UserInfo user(const QString& login, const QVector<int>& groups = {}) {
    return UserInfo{0, login, QByteArray(64, 'h'), groups};
}

// Groups 2, 3, 4 and 99 besides the administrators' group.
bool addGroups() {
    return TestDb::exec(QStringLiteral(
        "INSERT INTO groups_list (id, group_name) VALUES (2, 'g2'), (3, 'g3'), (4, 'g4'), (99, 'g99')"));
}

int rows(const QString& tableAndCondition) {
    return TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM ") + tableAndCondition).toInt();
}

// The server refuses `event` (INSERT or DELETE) on both membership tables.
bool refuseMemberships(const QString& event) {
    for (const QString& table : {QStringLiteral("device_groups"), QStringLiteral("user_groups")}) {
        if (!TestDb::exec(QStringLiteral("CREATE TRIGGER refuse_%2_%1 BEFORE %2 ON %1 FOR EACH ROW "
                                         "SIGNAL SQLSTATE '45000'")
                              .arg(table, event)))
            return false;
    }
    return true;
}

} // namespace

// Changes that are whole or not at all, with other administrators and lost connections.
class TestConsistency : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void nothingForWhatIsGone_data();
    void nothingForWhatIsGone();
    void twoAdministrators_data();
    void twoAdministrators();
    void deletesAllOrNothing();
    void addDevicesCutOff_data();
    void addDevicesCutOff();
    void changeCutOff_data();
    void changeCutOff();

private:
    int addUser(const UserInfo& u) {
        QString e;
        return handler->addUser(u, e) ? handler->getUserId(u.login) : -1;
    }

    std::unique_ptr<ConfigHandler> handler;
    QString error;
};

void TestConsistency::init() {
    ORB_RESET_DB();
    handler.reset();
    handler = TestDb::handler();
    QVERIFY(handler);
    error.clear();
}

void TestConsistency::cleanup() {
    handler.reset();
}

// Every table, whole.
QString allTables() {
    return TestDb::scalar(
               QStringLiteral(
                   "SELECT CONCAT_WS(' ', (SELECT GROUP_CONCAT(id, imei, name, for_all) FROM devices), "
                   "(SELECT GROUP_CONCAT(id, user_login, HEX(user_password)) FROM users), "
                   "(SELECT GROUP_CONCAT(id, group_name) FROM groups_list), "
                   "(SELECT GROUP_CONCAT(device_id, ':', group_id) FROM device_groups), "
                   "(SELECT GROUP_CONCAT(user_id, ':', group_id) FROM user_groups))"))
        .toString();
}

void TestConsistency::nothingForWhatIsGone_data() {
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("id");     // of the record or group asked about; 77 is nobody's
    QTest::addColumn<int>("member"); // a group (or for setGroupUsers a user) asked for
    for (const char* call : {"addDevice", "addUser", "addDeviceGroups", "addUserGroups", "updateDevice",
                             "updateUser", "setGroupUsers"}) {
        QTest::addRow("%s, member gone", call) << call << 0 << 77;
        if (QByteArray(call).startsWith("add") && !QByteArray(call).endsWith("Groups"))
            continue;
        QTest::addRow("%s, record gone", call) << call << 77 << 2;
    }
    QTest::newRow("updateGroup, group gone") << "updateGroup" << 77 << 0;
}

// Old calls: a record or a group that is not stored gets no membership and nothing else is written.
void TestConsistency::nothingForWhatIsGone() {
    QFETCH(QString, call);
    QFETCH(int, id);
    QFETCH(int, member);
    QVERIFY(addGroups());
    DeviceInfo d = device(5, QStringLiteral("d"), {1, 2});
    UserInfo u = user(QStringLiteral("u"), {2});
    QVERIFY(handler->addDevice(d, error, d.id));
    u.id = addUser(u);
    const QString before = allTables();
    d = device(6, QStringLiteral("new"), {2, member});
    d.id = id ? id : d.id;
    u.login = QStringLiteral("new");
    u.groups = d.groups;
    u.id = id ? id : u.id;
    const QVector<int> groups{3, member};
    const QHash<QString, std::function<bool()>> calls{
        {"addDevice",
         [&] {
             return handler->addDevice(d, error);
         }},
        {"addUser",
         [&] {
             return handler->addUser(u, error);
         }},
        {"addDeviceGroups",
         [&] {
             return handler->addDeviceGroups(d.id, groups);
         }},
        {"addUserGroups",
         [&] {
             return handler->addUserGroups(u.id, groups);
         }},
        {"updateDevice",
         [&] {
             return handler->updateDevice(d, error);
         }},
        {"updateUser",
         [&] {
             return handler->updateUser(u, error);
         }},
        {"updateGroup",
         [&] {
             return handler->updateGroup(GroupInfo{id, QStringLiteral("new")}, error);
         }},
        {"setGroupUsers", [&] {
             return handler->setGroupUsers(id ? id : 3, {u.id, member ? member : 1});
         }}};
    QVERIFY(!calls.value(call)());
    QCOMPARE(allTables(), before);
}

void TestConsistency::twoAdministrators_data() {
    QTest::addColumn<QString>("elsewhere"); // what the other administrator stored first
    QTest::addColumn<QString>("here");      // then changed here, from the records read before
    QTest::addColumn<QString>("refusal");   // a part of the error; empty: accepted
    QTest::addColumn<QString>("after");     // device, user, group names; then rows pointing at nothing
    const QString start = "d|0|1,2 u|2 Admin,g2,g3,g4 0";
    QTest::newRow("device: other fields and groups stay") << "device b +g3"
                                                          << "device for all"
                                                          << ""
                                                          << "b|1|1,2,3 u|2 Admin,g2,g3,g4 0";
    QTest::newRow("device: a bulk change stays") << "bulk +g3"
                                                 << "device a"
                                                 << ""
                                                 << "a|0|1,2,3 u|2 Admin,g2,g3,g4 0";
    QTest::newRow("device: the same value on both sides") << "device a"
                                                          << "device a"
                                                          << ""
                                                          << "a|0|1,2 u|2 Admin,g2,g3,g4 0";
    QTest::newRow("device: conflict") << "device b"
                                      << "device a"
                                      << "поле «Имя»: сейчас сохранено «b», вы ввели «a»"
                                      << "b|0|1,2 u|2 Admin,g2,g3,g4 0";
    QTest::newRow("device: deleted") << "delete device"
                                     << "device a"
                                     << "Устройство удалил другой администратор"
                                     << " u|2 Admin,g2,g3,g4 0";
    QTest::newRow("device: ticked group deleted") << "delete g3"
                                                  << "device +g3"
                                                  << "Группу «g3» удалил"
                                                  << "d|0|1,2 u|2 Admin,g2,g4 0";
    QTest::newRow("device: IMEI taken meanwhile") << "add IMEI 6"
                                                  << "device IMEI 6"
                                                  << "Такое устройство уже добавлено!" << start;
    QTest::newRow("user: groups ticked on both sides") << "user +g3"
                                                       << "user +g4"
                                                       << ""
                                                       << "d|0|1,2 u|2,3,4 Admin,g2,g3,g4 0";
    QTest::newRow("user: unticked here, ticked elsewhere") << "user +g3"
                                                           << "user -g2"
                                                           << ""
                                                           << "d|0|1,2 u|3 Admin,g2,g3,g4 0";
    QTest::newRow("user: a new password elsewhere stays") << "user password"
                                                          << "user v"
                                                          << ""
                                                          << "d|0|1,2 v|2 Admin,g2,g3,g4 0";
    QTest::newRow("user: deleted") << "delete user"
                                   << "user +g4"
                                   << "Пользователя удалил другой администратор"
                                   << "d|0|1,2  Admin,g2,g3,g4 0";
    QTest::newRow("group: conflict") << "group g3b"
                                     << "group g3c"
                                     << "поле «Название»: сейчас сохранено «g3b», вы ввели «g3c»"
                                     << "d|0|1,2 u|2 Admin,g2,g3b,g4 0";
}

// Two administrators change the same records: what each changed stays, what both changed to
// different values is refused, and nothing points at a record or a group that is gone.
void TestConsistency::twoAdministrators() {
    QFETCH(QString, elsewhere);
    QFETCH(QString, here);
    QVERIFY(addGroups() && TestDb::exec(QStringLiteral("DELETE FROM groups_list WHERE id = 99")));
    DeviceInfo d = device(5, QStringLiteral("d"), {1, 2});
    QVERIFY(handler->addDevice(d, error, d.id));
    UserInfo u = user(QStringLiteral("u"), {2});
    u.id = addUser(u);
    const GroupInfo g{3, QStringLiteral("g3")};
    handler->getGroups(); // as a dialog's pick list reads them
    ConfigHandler other(nullptr, QStringLiteral("other"));
    other.setConnectionSettings(TestDb::settings());
    QCOMPARE(other.connectToDatabase(), 0);
    QVERIFY(other.checkDatabase()); // root's password is the default one
    d = handler->getDevicesByIds({d.id}).value(0);

    const auto changed = [](auto record, auto change) {
        change(record);
        return record;
    };
    const auto named = [](const QString& name) {
        return [name](DeviceInfo& r) {
            r.name = name;
        };
    };
    const auto joins = [](int group) {
        return [group](auto& r) {
            r.groups << group;
        };
    };
    QString otherError;
    const QHash<QString, std::function<bool()>> before{
        {"device b +g3",
         [&] {
             return other.updateDevice(d, changed(changed(d, named("b")), joins(3)), otherError);
         }},
        {"device a",
         [&] {
             return other.updateDevice(d, changed(d, named("a")), otherError);
         }},
        {"device b",
         [&] {
             return other.updateDevice(d, changed(d, named("b")), otherError);
         }},
        {"bulk +g3",
         [&] {
             return other.changeDevicesGroups({d.id}, {3}, {});
         }},
        {"delete device",
         [&] {
             return other.deleteDevice(d.id);
         }},
        {"delete g3",
         [&] {
             return other.deleteGroup(3);
         }},
        {"add IMEI 6",
         [&] {
             return other.addDevice(device(6), otherError);
         }},
        {"user +g3",
         [&] {
             return other.updateUser(u, changed(u, joins(3)), otherError);
         }},
        {"user password",
         [&] {
             return other.updateUser(u, changed(u, [](UserInfo& r) { r.password = QByteArray(64, 'p'); }),
                                     otherError);
         }},
        {"delete user",
         [&] {
             return other.deleteUser(u.id);
         }},
        {"group g3b", [&] {
             return other.updateGroup(g, GroupInfo{3, QStringLiteral("g3b")}, otherError);
         }}};
    const QHash<QString, std::function<bool()>> now{
        {"device for all",
         [&] {
             return handler->updateDevice(d, changed(d, [](DeviceInfo& r) { r.forAll = true; }), error);
         }},
        {"device a",
         [&] {
             return handler->updateDevice(d, changed(d, named("a")), error);
         }},
        {"device +g3",
         [&] {
             return handler->updateDevice(d, changed(d, joins(3)), error);
         }},
        {"device IMEI 6",
         [&] {
             return handler->updateDevice(d, changed(d, [](DeviceInfo& r) { r.imei = 6; }), error);
         }},
        {"user +g4",
         [&] {
             return handler->updateUser(u, changed(u, joins(4)), error);
         }},
        {"user -g2",
         [&] {
             return handler->updateUser(u, changed(u, [](UserInfo& r) { r.groups = {}; }), error);
         }},
        {"user v",
         [&] {
             return handler->updateUser(u, changed(u, [](UserInfo& r) { r.login = QStringLiteral("v"); }),
                                        error);
         }},
        {"group g3c", [&] {
             return handler->updateGroup(g, GroupInfo{3, QStringLiteral("g3c")}, error);
         }}};
    QVERIFY(before.value(elsewhere)());
    QFETCH(QString, refusal);
    const int journaled = rows(QStringLiteral("orb_admin_journal"));
    QCOMPARE(now.value(here)(), refusal.isEmpty());
    if (!refusal.isEmpty())
        QCOMPARE(rows(QStringLiteral("orb_admin_journal")), journaled);
    QVERIFY2(error.contains(refusal), qPrintable(error));
    QTEST(TestDb::scalar(
              QStringLiteral(
                  "SELECT CONCAT_WS(' ', IFNULL((SELECT CONCAT_WS('|', name, for_all, (SELECT "
                  "GROUP_CONCAT(group_id ORDER BY group_id) FROM device_groups WHERE device_id = "
                  "d.id)) FROM devices d WHERE imei = 5), ''), IFNULL((SELECT CONCAT_WS('|', "
                  "user_login, (SELECT GROUP_CONCAT(group_id ORDER BY group_id) FROM user_groups WHERE "
                  "user_id = u.id)) FROM users u WHERE id = 2), ''), (SELECT GROUP_CONCAT(group_name "
                  "ORDER BY id) FROM groups_list), (SELECT COUNT(*) FROM device_groups WHERE device_id "
                  "NOT IN (SELECT id FROM devices) OR group_id NOT IN (SELECT id FROM groups_list)) + "
                  "(SELECT COUNT(*) FROM user_groups WHERE user_id NOT IN (SELECT id FROM users) OR "
                  "group_id NOT IN (SELECT id FROM groups_list)))"))
              .toString(),
          "after");
}

void TestConsistency::deletesAllOrNothing() {
    GroupInfo g{0, QStringLiteral("g")};
    QVERIFY(handler->addGroup(g, error));
    QCOMPARE(handler->addDevices({device(5, QString(), {g.id}), device(6, QString(), {g.id})}), 2);
    const int u = addUser(user(QStringLiteral("u"), {g.id}));
    const QString tablesBefore = allTables();
    QVERIFY(refuseMemberships(QStringLiteral("DELETE")));

    {
        LogCapture log;
        QVERIFY(!handler->deleteDevice(handler->getDeviceId(5)));
        QCOMPARE(handler->deleteDevices({handler->getDeviceId(5), handler->getDeviceId(6)}), 0);
        QCOMPARE(allTables(), tablesBefore);
        QVERIFY(!handler->deleteUser(u));
        QCOMPARE(handler->getUser(u).groups, QVector<int>{g.id});
        QVERIFY(!handler->deleteGroup(g.id));
        QCOMPARE(handler->getGroupId(g.name), g.id);
        QCOMPARE(handler->getGroupDevices(g.id).size(), 2);
    }
    // once the server allows it, a deleted record takes its memberships along
    QVERIFY(TestDb::exec(QStringLiteral("DROP TRIGGER refuse_DELETE_device_groups")) &&
            TestDb::exec(QStringLiteral("DROP TRIGGER refuse_DELETE_user_groups")));
    QVERIFY(handler->deleteDevice(handler->getDeviceId(5)));
    QCOMPARE(rows(QStringLiteral("device_groups")), 2);
    QVERIFY(handler->deleteUser(u));
    QCOMPARE(rows(QStringLiteral("user_groups")), 1);
    QVERIFY(handler->deleteGroup(g.id));
    QCOMPARE(rows(QStringLiteral("device_groups")), 1);
}

// Kills connection `id` from a thread of its own once it runs a statement like `running`.
std::thread killWhenRunning(qint64 id, const QString& running) {
    return std::thread([id, running] {
        ConfigHandler killer(nullptr, QStringLiteral("killer"));
        killer.setConnectionSettings(TestDb::settings());
        if (killer.connectToDatabase() != 0)
            return;
        QSqlQuery q(killer.database());
        for (int i = 0; i < 100000; ++i) {
            // INNODB_TRX, read this often, would never be refreshed
            if (q.exec(QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = %1 "
                                      "AND INFO LIKE '%2'")
                           .arg(id)
                           .arg(running)) &&
                q.next() && q.value(0).toInt() > 0)
                break;
        }
        q.exec(QStringLiteral("KILL CONNECTION %1").arg(id));
    });
}

qint64 connectionId(ConfigHandler& handler) {
    QSqlQuery q(handler.database());
    return q.exec(QStringLiteral("SELECT CONNECTION_ID()")) && q.next() ? q.value(0).toLongLong() : -1;
}

void TestConsistency::addDevicesCutOff_data() {
    QTest::addColumn<int>("after");   // devices handled when the connection is killed
    QTest::addColumn<bool>("inside"); // inside the next batch, while it writes memberships
    QTest::newRow("between batches") << 2000 << false;
    QTest::newRow("inside the second batch") << 2000 << true;
    QTest::newRow("inside the last batch") << 6000 << true;
}

// However an import is cut off, it tells exactly what it stored and every stored device is in the
// administrators' group.
void TestConsistency::addDevicesCutOff() {
    QFETCH(int, after);
    QFETCH(bool, inside);
    QVERIFY(addGroups());
    QVector<DeviceInfo> list;
    for (int i = 0; i < 7000; ++i)
        list << device(800000000000000ULL + quint64(i), QString(), {2});
    const qint64 id = connectionId(*handler);
    QVERIFY(id > 0);
    QSqlQuery locker(TestDb::admin());
    std::thread killer;
    LogCapture log;
    AddDevicesResult result;
    const int added = handler->addDevices(
        list,
        [&](int done, int) {
            if (done != after)
                return true;
            if (!inside)
                return QSqlQuery(TestDb::admin()).exec(QStringLiteral("KILL CONNECTION %1").arg(id));
            // new memberships wait behind the gap lock at the end of the table
            if (locker.exec(QStringLiteral("START TRANSACTION")) &&
                locker.exec(QStringLiteral("SELECT * FROM %1.device_groups WHERE device_id >= 0 FOR UPDATE")
                                .arg(TestDb::defaultName())))
                killer = killWhenRunning(id, QStringLiteral("INSERT%device_groups%"));
            return true;
        },
        &result);
    if (killer.joinable())
        killer.join();
    QVERIFY(locker.exec(QStringLiteral("ROLLBACK")) || !inside);
    QCOMPARE(added, after);
    QCOMPARE(result.added, after);
    QCOMPARE(result.stoppedBy.kind, DbError::Kind::ConnectionLost);
    QCOMPARE(rows(QStringLiteral("devices")), after);
    QCOMPARE(rows(QStringLiteral(
                 "devices WHERE id NOT IN (SELECT device_id FROM device_groups WHERE group_id = 1)")),
             0);
    QCOMPARE(rows(QStringLiteral("device_groups")), 2 * after);
    // one journal row for each stored device, none for the others
    QCOMPARE(rows(QStringLiteral("orb_admin_journal")), after);
    QCOMPARE(rows(QStringLiteral("devices WHERE id NOT IN (SELECT object_id FROM orb_admin_journal)")), 0);
}

void TestConsistency::changeCutOff_data() {
    QTest::addColumn<QString>("record");
    QTest::addColumn<QString>("members");   // the membership table whose DELETE is cut off
    QTest::addColumn<int>("rowsWhenWhole"); // journal rows of the change made whole
    QTest::newRow("group, its device and user leaving it") << "group"
                                                           << "user_groups" << 3;
    QTest::newRow("user") << "user"
                          << "user_groups" << 1;
    QTest::newRow("bulk change of devices in a run") << "bulk"
                                                     << "device_groups" << 21;
}

// A delete or a bulk change cut off after some of its journal rows were written leaves neither the
// rows nor any of the change; made again, the change and all its rows are stored.
void TestConsistency::changeCutOff() {
    QFETCH(QString, record);
    QFETCH(QString, members);
    QFETCH(int, rowsWhenWhole);
    QVERIFY(addGroups());
    const int u = addUser(user(QStringLiteral("a"), {2, 3}));
    QVERIFY(u > 0);
    QVERIFY(handler->addDevice(device(5, QString(), {2}), error));
    // 20 more in the group, the ids of all 21 in one run
    QVERIFY(record != QLatin1String("bulk") ||
            (TestDb::exec(QStringLiteral("INSERT INTO devices (imei) SELECT 100 + seq FROM seq_1_to_20")) &&
             TestDb::exec(
                 QStringLiteral("INSERT INTO device_groups SELECT id, 2 FROM devices WHERE imei > 100"))));
    QVERIFY(TestDb::exec(QStringLiteral("DELETE FROM orb_admin_journal")));
    QVector<int> devices;
    QSqlQuery ids(TestDb::admin());
    QVERIFY(ids.exec(QStringLiteral("SELECT id FROM %1.devices").arg(TestDb::defaultName())));
    while (ids.next())
        devices << ids.value(0).toInt();
    const QString before = allTables();
    const qint64 id = connectionId(*handler);
    QVERIFY(id > 0);
    // the memberships share-locked: the journal reads them, their DELETE waits
    QSqlQuery locker(TestDb::admin());
    QVERIFY(locker.exec(QStringLiteral("START TRANSACTION")));
    QVERIFY(locker.exec(QStringLiteral("SELECT * FROM %1.%2 WHERE %3 >= 0 LOCK IN SHARE MODE")
                            .arg(TestDb::defaultName(), members,
                                 members == QLatin1String("user_groups") ? QStringLiteral("user_id")
                                                                         : QStringLiteral("device_id"))));
    std::thread killer = killWhenRunning(id, QStringLiteral("DELETE%%1%").arg(members));
    const auto change = [&] {
        if (record == QLatin1String("bulk"))
            return handler->changeDevicesGroups(devices, {3}, {2});
        return record == QLatin1String("group") ? handler->deleteGroup(2) : handler->deleteUser(u);
    };
    QVERIFY(!change());
    killer.join();
    QVERIFY(locker.exec(QStringLiteral("ROLLBACK")));
    QCOMPARE(allTables(), before);
    QCOMPARE(rows(QStringLiteral("orb_admin_journal")), 0);

    handler.reset();
    handler = TestDb::handler();
    QVERIFY(handler);
    QVERIFY(change());
    QVERIFY(allTables() != before);
    QCOMPARE(rows(QStringLiteral("orb_admin_journal")), rowsWhenWhole);
}

QTEST_GUILESS_MAIN(TestConsistency)
#include "tst_consistency.moc"
