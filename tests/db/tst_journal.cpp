#include "db/confighandler.h"
#include "testdb.h"

#include <QSqlQuery>
#include <QtTest>

#include <memory>
#include <thread>

namespace {

const QString LIMITED = QStringLiteral("'orbjournal'@'127.0.0.1'");

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

} // namespace

// The change journal: its table, its state and its rows.
class TestJournal : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readsOnAConnectionOfItsOwn();
    void offWithoutTheTable();

private:
    std::unique_ptr<ConfigHandler> handler;
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
        return handler->connectToDatabase() == 0;
    };
    QVERIFY(connect());
    QVERIFY(!handler->journalOn());
    QVERIFY(!handler->journalOffReason().isEmpty());
    QString error;
    QVERIFY2(handler->addDevice(DeviceInfo{0, 5, QStringLiteral("d"), {}, false}, error), qPrintable(error));
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

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
