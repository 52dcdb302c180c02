#include "db/tablerefresher.h"
#include "logcapture.h"
#include "testdb.h"

#include <QSignalSpy>
#include <QSqlDatabase>
#include <QTcpServer>
#include <QtTest>

#include <algorithm>
#include <memory>

class TestTableRefresher : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void deliversWhatIsStored();
    void reconnectsAndFails();
    void destroyedWhileRefreshing();

private:
    // Runs one refresh (or the ones asked for meanwhile) to its end; the spies see every outcome.
    bool refreshed() { return refreshing->wait(10000) && !refresher->isRefreshing(); }

    std::unique_ptr<TableRefresher> refresher;
    std::unique_ptr<QSignalSpy> done, failed, refreshing;
};

void TestTableRefresher::init() {
    ORB_RESET_DB();
    refresher = std::make_unique<TableRefresher>();
    refresher->setConnectionSettings(TestDb::settings());
    done = std::make_unique<QSignalSpy>(refresher.get(), &TableRefresher::refreshed);
    failed = std::make_unique<QSignalSpy>(refresher.get(), &TableRefresher::refreshFailed);
    refreshing = std::make_unique<QSignalSpy>(refresher.get(), &TableRefresher::refreshingChanged);
}

void TestTableRefresher::cleanup() {
    done.reset();
    failed.reset();
    refreshing.reset();
    refresher.reset();
}

// The snapshot is what the handler's loaders read; the admin group is found by its name, and a
// refresh asked for while one runs follows it once.
void TestTableRefresher::deliversWhatIsStored() {
    for (const char* sql :
         {"UPDATE groups_list SET id=5 WHERE id=1", "UPDATE user_groups SET group_id=5 WHERE group_id=1",
          "INSERT INTO groups_list (id, group_name) VALUES (2, 'Склад'), (3, 'x')",
          "INSERT INTO devices (id, imei, name, for_all) VALUES (4, 7, 'b', 1), (2, 350000000000001, 'a', 0)",
          "INSERT INTO device_groups VALUES (2, 3), (2, 2), (4, 5), (9, 2)",
          "INSERT INTO users (id, user_login, user_password) VALUES (3, 'u', 'p')",
          "INSERT INTO user_groups VALUES (3, 2)"})
        QVERIFY(TestDb::exec(QString::fromUtf8(sql)));
    refresher->refresh();
    refresher->refresh();
    QVERIFY(refresher->isRefreshing());
    QVERIFY(refreshed());
    QCOMPARE(done->count(), 2);
    QCOMPARE(*refreshing, (QList<QVariantList>{{true}, {false}}));

    const TablesSnapshot s = done->last().at(0).value<TablesSnapshot>();
    auto handler = TestDb::handler();
    QVERIFY(handler);
    QCOMPARE(s.devices, handler->getDevices());
    QCOMPARE(s.users, handler->getUsers());
    QVector<GroupInfo> groups = handler->getGroups(); // in the order of the name's index
    std::sort(groups.begin(), groups.end(),
              [](const GroupInfo& a, const GroupInfo& b) { return a.id < b.id; });
    QCOMPARE(s.groups, groups);
    QCOMPARE(s.groupUsers, handler->getGroupUsersCounts());
    QCOMPARE(s.groupDevices, handler->getGroupDevicesCounts());
    QCOMPARE(s.adminGroupId, 5);
    QCOMPARE(s.devices.at(0).groups, (QVector<int>{2, 3}));

    QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO devices (id, imei) VALUES (3, 8)")));
    refresher->refresh();
    QVERIFY(refreshed());
    QCOMPARE(done->last().at(0).value<TablesSnapshot>().devices.at(1).imei, quint64(8));
    QCOMPARE(failed->count(), 0);
}

// A dropped connection is opened anew; a server that is gone is reported.
void TestTableRefresher::reconnectsAndFails() {
    refresher->refresh();
    QVERIFY(refreshed());
    QVERIFY(TestDb::exec(
        QStringLiteral("KILL CONNECTION %1")
            .arg(TestDb::scalar(QStringLiteral("SELECT MAX(ID) FROM information_schema.PROCESSLIST "
                                               "WHERE DB = '%1' AND ID <> CONNECTION_ID()")
                                    .arg(TestDb::defaultName()))
                     .toInt())));
    LogCapture log;
    refresher->refresh();
    QVERIFY(refreshed());
    QCOMPARE(done->count(), 2);

    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    SqlConnectionSettings gone = TestDb::settings();
    gone.port = closed.serverPort();
    closed.close();
    refresher->setConnectionSettings(gone);
    refresher->refresh();
    QVERIFY(refreshed());
    QCOMPARE(failed->count(), 1);
    QVERIFY(!failed->first().at(0).toString().isEmpty());
    QCOMPARE(done->count(), 2);
}

// Destroying the refresher does not wait for a refresh that cannot end (its first read waits for
// a table lock); once it ends, its connection is closed on its own thread.
void TestTableRefresher::destroyedWhileRefreshing() {
    const QStringList connections = QSqlDatabase::connectionNames();
    QVERIFY(TestDb::exec(QStringLiteral("LOCK TABLES groups_list WRITE")));
    refresher->refresh();
    QTRY_COMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST "
                                               "WHERE STATE = 'Waiting for table metadata lock'"))
                     .toInt(),
                 1);
    cleanup();
    QVERIFY(TestDb::exec(QStringLiteral("UNLOCK TABLES")));
    QTRY_COMPARE(QSqlDatabase::connectionNames(), connections);
}

QTEST_GUILESS_MAIN(TestTableRefresher)
#include "tst_tablerefresher.moc"
