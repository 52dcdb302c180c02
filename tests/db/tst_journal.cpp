#include "db/confighandler.h"
#include "testdb.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QSysInfo>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include <memory>
#include <thread>

namespace {

const QString LIMITED = QStringLiteral("'orbjournal'@'127.0.0.1'");

// Every record and membership, in one text.
QString storedRecords() {
    return TestDb::scalar(
               QStringLiteral(
                   "SELECT CONCAT_WS(' ', (SELECT GROUP_CONCAT(id, imei, name, for_all) FROM devices), "
                   "(SELECT GROUP_CONCAT(id, user_login, user_password) FROM users), (SELECT "
                   "GROUP_CONCAT(device_id, group_id) FROM device_groups), (SELECT "
                   "GROUP_CONCAT(user_id, group_id) FROM user_groups))"))
        .toString();
}

int journalRows() {
    return TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM orb_admin_journal")).toInt();
}

// Journal rows made by hand: (object, object id) each, oldest first.
bool addRows(const QVector<QPair<QString, int>>& rows) {
    for (const auto& r : rows) {
        if (!TestDb::exec(
                QStringLiteral("INSERT INTO orb_admin_journal (at, db_user, os_user, workstation, "
                               "operation, action, object, object_id, details) VALUES "
                               "('2026-01-02 03:04:05.678', 'a@h', 'os', 'ws', 7, 'add', '%1', %2, '{}')")
                    .arg(r.first)
                    .arg(r.second)))
            return false;
    }
    return true;
}

// Until `count` transactions on this test's database wait for a row lock. INNODB_TRX is made anew
// only after 0.1 s without a read.
bool lockWaits(int count) {
    for (int i = 0; i < 100; ++i) {
        QTest::qWait(150);
        if (TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM information_schema.INNODB_TRX t JOIN "
                                          "information_schema.PROCESSLIST p ON p.ID = t.trx_mysql_thread_id "
                                          "WHERE t.trx_state = 'LOCK WAIT' AND p.DB = '%1'")
                               .arg(TestDb::defaultName()))
                .toInt() == count)
            return true;
    }
    return false;
}

} // namespace

// The change journal: its table, its state and its rows.
class TestJournal : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readsOnAConnectionOfItsOwn();
    void offWithoutTheTable();
    void preparedOncePerConnect();
    void everyChangeJournaled_data();
    void everyChangeJournaled();
    void refusedRowStoresNothing();
    void deletedGroupsMembersJournaled();
    void deleteBesideBulkChange();
    void deadlockedChangeStoresNothing_data();
    void deadlockedChangeStoresNothing();
    void accountWithoutSessionVariables();

private:
    // Groups 2 "Склад", 3 "Логистика"; device 1 (IMEI 5, "Truck 1", Admin and Склад); user 2 "u" in Склад.
    bool addRecords();
    QHash<QString, std::function<bool()>> changes();

    std::unique_ptr<ConfigHandler> handler;
    const DeviceInfo d{1, 5, QStringLiteral("Truck 1"), {1, 2}, false};
    const UserInfo u{2, QStringLiteral("u"), QByteArray(64, 'h'), {2}};
    QString error;
};

void TestJournal::init() {
    ORB_RESET_DB();
    handler = TestDb::handler();
    QVERIFY(handler);
    QVERIFY(handler->journalOn());
}

void TestJournal::cleanup() {
    handler.reset();
    TestDb::exec(QStringLiteral("DROP USER IF EXISTS %1").arg(LIMITED));
}

// The journal tab reads off the GUI thread, on a connection of its own, newest rows first.
void TestJournal::readsOnAConnectionOfItsOwn() {
    QVERIFY(addRows({{"device", 5}, {"user", 5}, {"device", 6}, {"device", 5}, {"group", 2}}));
    const quint64 newest =
        TestDb::scalar(QStringLiteral("SELECT MAX(id) FROM orb_admin_journal")).toULongLong();
    QVector<QVector<JournalEntry>> read(5);
    bool ok = false;
    std::thread reader([&] {
        ConfigHandler mine(nullptr, QStringLiteral("journal-reader"));
        mine.setConnectionSettings(TestDb::settings());
        if (mine.connectToDatabase() != 0)
            return;
        bool each[5] = {};
        read[0] = mine.journal({}, 100, &each[0]);
        read[1] = mine.journal({QStringLiteral("device"), {}, 0}, 100, &each[1]);
        read[2] = mine.journal({QStringLiteral("device"), {5, 9}, 0}, 100, &each[2]);
        read[3] = mine.journal({QString(), {}, newest - 1}, 2, &each[3]); // fetching more
        read[4] = mine.journal({QStringLiteral("user"), {6}, 0}, 100, &each[4]);
        ok = std::all_of(std::begin(each), std::end(each), [](bool b) { return b; });
    });
    reader.join();
    QVERIFY(ok);
    const auto ids = [&](const QVector<JournalEntry>& entries) {
        QVector<quint64> out;
        for (const JournalEntry& e : entries)
            out << newest - e.id;
        return out;
    };
    QCOMPARE(ids(read[0]), (QVector<quint64>{0, 1, 2, 3, 4}));
    QCOMPARE(ids(read[1]), (QVector<quint64>{1, 2, 4}));
    QCOMPARE(ids(read[2]), (QVector<quint64>{1, 4}));
    QCOMPARE(ids(read[3]), (QVector<quint64>{2, 3}));
    QVERIFY(read[4].isEmpty());
    const JournalEntry& e = read[0].constLast();
    QCOMPARE(e.at, QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 678), Qt::UTC));
    QCOMPARE(QStringList({e.dbUser, e.osUser, e.workstation, e.action, e.object, e.details}),
             QStringList({"a@h", "os", "ws", "add", "device", "{}"}));
    QCOMPARE(e.operation, 7ULL);
    QCOMPARE(e.objectId, 5);
}

// An account that may not create the table works on without a journal until it is made for it.
void TestJournal::offWithoutTheTable() {
    QVERIFY(TestDb::exec(QStringLiteral("DROP TABLE orb_admin_journal")));
    QVERIFY(TestDb::exec(QStringLiteral("CREATE USER %1 IDENTIFIED BY 'pw'").arg(LIMITED)));
    const QString db = TestDb::defaultName();
    for (const char* table : {"users", "devices", "groups_list", "device_groups", "user_groups"})
        QVERIFY(TestDb::exec(
            QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON `%1`.%2 TO %3").arg(db, table, LIMITED)));
    handler.reset();
    SqlConnectionSettings limited = TestDb::settings();
    limited.user = QStringLiteral("orbjournal");
    limited.password = QStringLiteral("pw");
    const auto connect = [&] {
        handler = std::make_unique<ConfigHandler>();
        handler->setConnectionSettings(limited);
        return handler->connectToDatabase() == 0 && handler->prepareJournal();
    };
    QVERIFY(connect());
    QVERIFY(!handler->journalOn());
    QVERIFY(!handler->journalOffReason().isEmpty());
    QString error;
    int id = 0;
    const DeviceInfo added{0, 5, QStringLiteral("d"), {}, false};
    QVERIFY2(handler->addDevice(added, error, id), qPrintable(error));
    // a rename's UPDATE, which would go with the journal's row, is sent without one
    DeviceInfo seen = added;
    seen.id = id;
    DeviceInfo renamed = seen;
    renamed.name = QStringLiteral("e");
    QVERIFY2(handler->updateDevice(seen, renamed, error), qPrintable(error));
    QCOMPARE(handler->getDevicesByIds({id}).value(0).name, renamed.name);
    // refused in the commit's message, it fails the change and leaves no transaction open
    QVERIFY(TestDb::exec(QStringLiteral("CREATE TRIGGER refuse_rename BEFORE UPDATE ON devices FOR EACH ROW "
                                        "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'no rename'")));
    DeviceInfo refused = renamed;
    refused.name = QStringLiteral("f");
    QVERIFY(!handler->updateDevice(renamed, refused, error));
    QCOMPARE(handler->lastError().serverText, QStringLiteral("no rename"));
    QSqlQuery open(handler->database());
    QVERIFY(open.exec(QStringLiteral("SELECT @@in_transaction")) && open.next());
    QCOMPARE(open.value(0).toInt(), 0);
    QCOMPARE(handler->getDevicesByIds({id}).value(0).name, renamed.name);
    QVERIFY(TestDb::exec(QStringLiteral("DROP TRIGGER refuse_rename")));
    bool ok = true;
    QVERIFY(handler->journal({}, 10, &ok).isEmpty());
    QVERIFY(!ok);

    // made by the database administrator, with the two rights the README gives
    handler.reset();
    QVERIFY(TestDb::exec(DbJournal::createStatement()));
    QVERIFY(TestDb::exec(
        QStringLiteral("GRANT SELECT, INSERT ON `%1`.orb_admin_journal TO %2").arg(db, LIMITED)));
    QVERIFY(connect());
    QVERIFY(handler->journalOn());
    QVERIFY(handler->journalOffReason().isEmpty());
    QCOMPARE(journalRows(), 0);
}

// Connecting asks nothing of the journal: the connect attempt looks once and hands what it found to
// the other connections, and one told nothing looks before its first change.
void TestJournal::preparedOncePerConnect() {
    const auto fresh = [](const QString& name) {
        auto h = std::make_unique<ConfigHandler>(nullptr, name);
        h->setConnectionSettings(TestDb::settings());
        return h->connectToDatabase() == 0 ? std::move(h) : nullptr;
    };
    const auto questions = [](ConfigHandler& h, quint64 imei) {
        const qint64 before = TestDb::sessionQuestions(h.database());
        QString error;
        return h.addDevice(DeviceInfo{0, imei, {}, {}, false}, error)
                   ? TestDb::sessionQuestions(h.database()) - before
                   : -1;
    };
    auto told = fresh(QStringLiteral("told"));
    QVERIFY(told);
    told->useJournal(handler->journalState());
    QCOMPARE(questions(*told, 11), questions(*handler, 12));

    QVERIFY(TestDb::exec(QStringLiteral("DROP TABLE orb_admin_journal")));
    auto untold = fresh(QStringLiteral("untold"));
    QVERIFY(untold);
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM information_schema.TABLES WHERE "
                                           "TABLE_SCHEMA = '%1' AND TABLE_NAME = 'orb_admin_journal'")
                                .arg(TestDb::defaultName()))
                 .toInt(),
             0);
    QVERIFY(questions(*untold, 13) > 0);
    QVERIFY(untold->journalOn());
    QCOMPARE(journalRows(), 1);
}

bool TestJournal::addRecords() {
    for (const char* sql :
         {"INSERT INTO groups_list (id, group_name) VALUES (2, 'Склад'), (3, 'Логистика')",
          "INSERT INTO devices (id, imei, name, for_all) VALUES (1, 5, 'Truck 1', 0)",
          "INSERT INTO device_groups VALUES (1, 1), (1, 2)",
          "INSERT INTO users (id, user_login, user_password) VALUES (2, 'u', REPEAT('h', 64))",
          "INSERT INTO user_groups VALUES (2, 2)"}) {
        if (!TestDb::exec(QString::fromUtf8(sql)))
            return false;
    }
    return true;
}

QHash<QString, std::function<bool()>> TestJournal::changes() {
    const auto with = [](DeviceInfo r, const std::function<void(DeviceInfo&)>& change) {
        change(r);
        return r;
    };
    return {{"add",
             [=] {
                 return handler->addDevice(DeviceInfo{0, 6, QStringLiteral("n"), {1, 3}, true}, error);
             }},
            {"rename",
             [=] {
                 return handler->updateDevice(
                     d, with(d, [](DeviceInfo& r) { r.name += QStringLiteral(" (резерв)"); }), error);
             }},
            {"groups",
             [=] {
                 return handler->updateDevice(d, with(d, [](DeviceInfo& r) { r.groups = {1, 3}; }), error);
             }},
            {"delete",
             [=] {
                 return handler->deleteDevice(d.id);
             }},
            {"deletes",
             [=] {
                 return handler->deleteDevices({77, d.id}) == 1;
             }},
            {"bulk",
             [=] {
                 return handler->changeDevicesGroups({d.id, 77}, {3}, {2});
             }},
            {"import",
             [=] {
                 return handler->addDevices({DeviceInfo{0, 7, {}, {3}, false},
                                             DeviceInfo{0, 5, {}, {}, false},
                                             DeviceInfo{0, 8, QStringLiteral("b"), {}, false}}) == 2;
             }},
            {"password",
             [=] {
                 UserInfo wanted = u;
                 wanted.password = QByteArray(64, 'p');
                 return handler->updateUser(u, wanted, error);
             }},
            {"members",
             [=] {
                 return handler->changeUsersGroups({u.id}, {3}, {});
             }},
            {"thousands of groups", [=] {
                 UserInfo wanted = u;
                 for (int g = 10; g < 3011; ++g)
                     wanted.groups << g;
                 return TestDb::exec(QStringLiteral("INSERT INTO groups_list (id, group_name) SELECT seq, "
                                                    "CONCAT('Группа номер ', seq) FROM seq_10_to_3010")) &&
                        handler->updateUser(u, wanted, error);
             }}};
}

void TestJournal::everyChangeJournaled_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("object");
    QTest::addColumn<QVector<int>>("ids");
    QTest::addColumn<QStringList>("details"); // of the rows in id order
    const auto json = [](const char* text) {
        return QString::fromUtf8(text);
    };
    const QString truck = json(R"("imei": "000000000000005", "name": "Truck 1", "for_all": false)");
    const QString before = json(R"("before": {%1, "groups": ["Admin", "Склад"]})").arg(truck);
    QTest::newRow("add") << "add"
                         << "add"
                         << "device" << QVector<int>{2}
                         << QStringList{json(R"({"after": {"imei": "000000000000006", "name": "n", )"
                                             R"("for_all": true, "groups": ["Admin", "Логистика"]}})")};
    QTest::newRow("rename") << "rename"
                            << "change"
                            << "device" << QVector<int>{1}
                            << QStringList{json(R"({%1, "after": {"imei": "000000000000005", )"
                                                R"j("name": "Truck 1 (резерв)", "for_all": false, )j"
                                                R"("groups": ["Admin", "Склад"]}})")
                                               .arg(before)};
    QTest::newRow("group change")
        << "groups"
        << "change"
        << "device" << QVector<int>{1}
        << QStringList{json(R"({%1, "after": {%2, "groups": ["Admin", "Логистика"]}})").arg(before, truck)};
    QTest::newRow("delete") << "delete"
                            << "delete"
                            << "device" << QVector<int>{1} << QStringList{QStringLiteral("{%1}").arg(before)};
    QTest::newRow("bulk delete") << "deletes"
                                 << "delete"
                                 << "device" << QVector<int>{1}
                                 << QStringList{QStringLiteral("{%1}").arg(before)};
    QTest::newRow("bulk") << "bulk"
                          << "change"
                          << "device" << QVector<int>{1}
                          << QStringList{
                                 json(R"({"groups_added": ["Логистика"], "groups_removed": ["Склад"]})")};
    QTest::newRow("import") << "import"
                            << "add"
                            << "device" << QVector<int>{2, 3}
                            << QStringList{json(R"({"after": {"imei": "000000000000007", "name": "", )"
                                                R"("for_all": false, "groups": ["Admin", "Логистика"]}})"),
                                           json(R"({"after": {"imei": "000000000000008", "name": "b", )"
                                                R"("for_all": false, "groups": ["Admin"]}})")};
    QTest::newRow("password") << "password"
                              << "change"
                              << "user" << QVector<int>{2}
                              << QStringList{json(R"({"before": {"login": "u", "groups": ["Склад"]}, )"
                                                  R"("after": {"login": "u", "groups": ["Склад"]}, )"
                                                  R"("password_changed": true})")};
    QTest::newRow("group's member") << "members"
                                    << "change"
                                    << "user" << QVector<int>{2}
                                    << QStringList{json(R"({"groups_added": ["Логистика"]})")};
    QTest::newRow("details longer than the column")
        << "thousands of groups"
        << "change"
        << "user" << QVector<int>{2}
        << QStringList{json(R"({"before": {"login": "u", "groups": ["Склад"]}, "after": {"login": "u", )"
                            R"("groups": {"count": 3002, "shortened": true}}})")};
}

// Each kind of change writes a row per record it changed, with what the record was and became.
void TestJournal::everyChangeJournaled() {
    QFETCH(QString, change);
    QVERIFY(addRecords());
    QVERIFY2(changes().value(change)(), qPrintable(error));
    bool ok = false;
    QVector<JournalEntry> entries = handler->journal({}, 100, &ok);
    QVERIFY(ok);
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.objectId < b.objectId; });
    QVector<int> ids;
    QStringList got;
    for (const JournalEntry& e : qAsConst(entries)) {
        QTEST(e.action, "action");
        QTEST(e.object, "object");
        QCOMPARE(e.operation, entries.first().operation);
        QCOMPARE(e.workstation, QSysInfo::machineHostName());
        QVERIFY(e.dbUser.startsWith(QStringLiteral("orb@")));
        QVERIFY(qAbs(e.at.secsTo(QDateTime::currentDateTimeUtc())) < 60);
        ids << e.objectId;
        got << QString::fromUtf8(QJsonDocument::fromJson(e.details.toUtf8()).toJson(QJsonDocument::Compact));
    }
    QTEST(ids, "ids");
    QFETCH(QStringList, details);
    for (QString& expected : details)
        expected =
            QString::fromUtf8(QJsonDocument::fromJson(expected.toUtf8()).toJson(QJsonDocument::Compact));
    QCOMPARE(got, details);
}

// While the journal is on, a row it cannot write fails the change and nothing of it stays.
void TestJournal::refusedRowStoresNothing() {
    QVERIFY(addRecords());
    QVERIFY(TestDb::exec(QStringLiteral("CREATE TRIGGER refuse_journal BEFORE INSERT ON orb_admin_journal "
                                        "FOR EACH ROW SIGNAL SQLSTATE '45000'")));
    const QString stored = storedRecords();
    QVERIFY(stored.contains(QStringLiteral("Truck 1")));
    const auto calls = changes();
    for (auto it = calls.cbegin(); it != calls.cend(); ++it) {
        QVERIFY2(!it.value()(), qPrintable(it.key()));
        QCOMPARE(storedRecords(), stored);
    }
    // the record's UPDATE refused, which goes to the server with the journal's row
    QVERIFY(TestDb::exec(QStringLiteral("DROP TRIGGER refuse_journal")));
    QVERIFY(TestDb::exec(QStringLiteral("CREATE TRIGGER refuse_rename BEFORE UPDATE ON devices FOR EACH ROW "
                                        "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'no rename'")));
    QVERIFY(!calls.value(QStringLiteral("rename"))());
    QCOMPARE(handler->lastError().serverText, QStringLiteral("no rename"));
    QCOMPARE(storedRecords(), stored);
    QCOMPARE(journalRows(), 0);
}

// Every device and user of a deleted group is journaled as leaving it, in the group's operation.
void TestJournal::deletedGroupsMembersJournaled() {
    QVERIFY(addRecords());
    QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO user_groups VALUES (1, 2)")));
    QVERIFY(handler->deleteGroup(2));
    bool ok = false;
    const QVector<JournalEntry> entries = handler->journal({}, 100, &ok);
    QVERIFY(ok);
    QStringList rows;
    for (const JournalEntry& e : entries) {
        QCOMPARE(e.operation, entries.first().operation);
        rows << QStringLiteral("%1 %2 %3 %4")
                    .arg(e.action, e.object)
                    .arg(e.objectId)
                    .arg(QString::fromUtf8(
                        QJsonDocument::fromJson(e.details.toUtf8()).toJson(QJsonDocument::Compact)));
    }
    rows.sort();
    QCOMPARE(rows, QStringList({QString::fromUtf8(R"(change device 1 {"groups_removed":["Склад"]})"),
                                QString::fromUtf8(R"(change user 1 {"groups_removed":["Склад"]})"),
                                QString::fromUtf8(R"(change user 2 {"groups_removed":["Склад"]})"),
                                QString::fromUtf8(R"(delete group 2 {"before":{"name":"Склад"}})")}));
}

// A delete and a bulk change of the same devices on connections of their own, both held up by a
// third: the delete locks each device before its memberships and the devices in the bulk change's
// order, so neither waits for the other in a circle and is rolled back, and the delete journals what
// the change left.
void TestJournal::deleteBesideBulkChange() {
    QVERIFY(TestDb::exec(
        QStringLiteral("INSERT INTO groups_list (id, group_name) VALUES (2, 'Склад'), (3, 'Логистика')")));
    QVERIFY(TestDb::exec(
        QStringLiteral("INSERT INTO devices (id, imei, name) SELECT seq, seq, 'T' FROM seq_1_to_200")));
    QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO device_groups SELECT seq, 2 FROM seq_1_to_200")));
    QVector<int> all;
    QVector<int> odd;
    for (int id = 1; id <= 200; ++id)
        (id % 2 ? odd : all) << id;
    all += odd;
    const auto onItsOwn = [](const QString& name, const std::function<bool(ConfigHandler&)>& change,
                             bool& done) {
        return std::thread([name, change, &done] {
            ConfigHandler mine(nullptr, name);
            mine.setConnectionSettings(TestDb::settings());
            done = mine.connectToDatabase() == 0 && mine.prepareJournal() && change(mine);
        });
    };
    QVERIFY(TestDb::exec(QStringLiteral("START TRANSACTION")));
    QVERIFY(TestDb::exec(QStringLiteral("SELECT id FROM devices WHERE id = 200 FOR UPDATE")));
    bool bulked = false;
    bool deleted = false;
    std::thread bulk = onItsOwn(
        QStringLiteral("bulk"), [&](ConfigHandler& h) { return h.changeDevicesGroups(all, {3}, {2}); },
        bulked);
    const bool bulkWaits = lockWaits(1);
    std::thread remove = onItsOwn(
        QStringLiteral("delete"), [&](ConfigHandler& h) { return h.deleteDevices(odd) == odd.size(); },
        deleted);
    const bool bothWait = bulkWaits && lockWaits(2);
    QVERIFY(TestDb::exec(QStringLiteral("ROLLBACK")));
    bulk.join();
    remove.join();
    QVERIFY(bothWait);
    QVERIFY(bulked);
    QVERIFY(deleted);
    QCOMPARE(
        TestDb::scalar(QStringLiteral("SELECT GROUP_CONCAT(action, ' ', details ORDER BY id) FROM "
                                      "orb_admin_journal WHERE object_id = 1"))
            .toString(),
        QString::fromUtf8(R"(change {"groups_added": ["Логистика"], "groups_removed": ["Склад"]},)"
                          R"(delete {"before": {"imei": "000000000000001", "name": "T", "for_all": false, )"
                          R"("groups": ["Логистика"]}})"));
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM orb_admin_journal")).toInt(), 300);
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT GROUP_CONCAT(DISTINCT group_id) FROM device_groups"))
                 .toString(),
             QStringLiteral("3"));
}

// A change that the server rolls back to break a deadlock stores nothing, neither its journal rows
// nor any of the change, and says why it failed: the rest would have run outside the transaction.
void TestJournal::deadlockedChangeStoresNothing_data() {
    QTest::addColumn<QString>("held"); // locked first by the other transaction
    QTest::addColumn<QString>("change");
    QTest::newRow("delete") << "devices WHERE id = 2"
                            << "delete";
    QTest::newRow("groups joined") << "groups_list WHERE id = 3"
                                   << "join";
}

void TestJournal::deadlockedChangeStoresNothing() {
    QFETCH(QString, held);
    QFETCH(QString, change);
    QVERIFY(addRecords());
    QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO devices (id, imei, name) VALUES (2, 9, 'Truck 2')")));
    const QString stored = storedRecords();
    QVERIFY(TestDb::exec(QStringLiteral("START TRANSACTION")));
    // rows written make this transaction weigh more: the server rolls back the change, not it
    QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO user_groups SELECT seq, 3 FROM seq_100_to_200")));
    QVERIFY(TestDb::exec(QStringLiteral("SELECT id FROM %1 FOR UPDATE").arg(held)));
    bool changed = true;
    DbError failure;
    std::thread other([&] {
        ConfigHandler mine(nullptr, QStringLiteral("deadlocked"));
        mine.setConnectionSettings(TestDb::settings());
        if (mine.connectToDatabase() != 0 || !mine.prepareJournal())
            return;
        DeviceInfo wanted = d;
        wanted.groups << 3;
        QString message;
        changed =
            change == "delete" ? mine.deleteDevices({1, 2}) != 0 : mine.updateDevice(d, wanted, message);
        failure = mine.lastError();
    });
    const bool waits = lockWaits(1);
    // the device the change holds, while it waits for the other: a circle
    const bool circle = TestDb::exec(QStringLiteral("SELECT id FROM devices WHERE id = 1 FOR UPDATE"));
    QVERIFY(TestDb::exec(QStringLiteral("ROLLBACK")));
    other.join();
    QVERIFY(waits);
    QVERIFY(circle);
    QVERIFY(!changed);
    QCOMPARE(failure.kind, DbError::Kind::Refused);
    QCOMPARE(journalRows(), 0);
    QCOMPARE(storedRecords(), stored);
}

// A service or sudo may leave the session's variables unset: the account the program runs as is named.
void TestJournal::accountWithoutSessionVariables() {
    const char* const names[] = {"USER", "USERNAME", "LOGNAME"};
    QByteArray kept[3];
    for (int i = 0; i < 3; ++i) {
        kept[i] = qgetenv(names[i]);
        qunsetenv(names[i]);
    }
    handler = TestDb::handler();
    for (int i = 0; i < 3; ++i) {
        if (!kept[i].isEmpty())
            qputenv(names[i], kept[i]);
    }
    QVERIFY(handler);
    QVERIFY2(handler->addDevice({0, 7, QStringLiteral("T"), {1}, false}, error), qPrintable(error));
    const passwd* account = getpwuid(geteuid());
    QVERIFY(account);
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT os_user FROM orb_admin_journal")).toString(),
             QString::fromLocal8Bit(account->pw_name));
}

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
