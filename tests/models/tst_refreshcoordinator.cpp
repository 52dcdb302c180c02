#include "db/tablerefresher.h"
#include "models/devicestablemodel.h"
#include "models/grouptablemodel.h"
#include "models/refreshcoordinator.h"
#include "models/usertablemodel.h"
#include "testdb.h"

#include <QSignalSpy>
#include <QtTest>

class TestRefreshCoordinator : public QObject {
    Q_OBJECT

private slots:
    void init() { ORB_RESET_DB(); }
    void serialsAndOrder_data();
    void serialsAndOrder();
};

// Steps: r refresh, c a device added and the change shown, d deactivated, a activated, l the rest
// of the steps run as the next read lands (its rows are then being prepared).
void TestRefreshCoordinator::serialsAndOrder_data() {
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("reads");
    QTest::addColumn<int>("applied");
    QTest::addColumn<int>("rows");
    QTest::newRow("one refresh") << "r" << 1 << 1 << 2;
    QTest::newRow("asked again while reading: one more read, only its rows shown") << "rrr" << 2 << 1 << 2;
    QTest::newRow("a change shown while reading: the stale read is dropped") << "rc" << 2 << 1 << 3;
    QTest::newRow("asked while preparing: follows once") << "rlrr" << 2 << 2 << 2;
    QTest::newRow("a change shown while preparing: those rows dropped, the next read shown")
        << "rlc" << 2 << 1 << 3;
    QTest::newRow("deactivated while reading: nothing shown") << "rd" << 1 << 0 << 0;
    QTest::newRow("deactivated while preparing: nothing shown") << "rld" << 1 << 0 << 0;
    QTest::newRow("active again: only the read asked for since is shown") << "rdar" << 2 << 1 << 2;
}

void TestRefreshCoordinator::serialsAndOrder() {
    QFETCH(QString, steps);
    QFETCH(int, reads);
    QFETCH(int, applied);
    QFETCH(int, rows);
    QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO devices (imei, name) VALUES (1, 'a'), (2, 'b')")));
    TableRefresher refresher;
    refresher.setConnectionSettings(TestDb::settings());
    DevicesTableModel devices(nullptr, nullptr);
    UserTableModel users(nullptr, nullptr);
    GroupTableModel groups(nullptr, nullptr);
    RefreshCoordinator coordinator(&refresher, &devices, &users, &groups);
    QSignalSpy read(&refresher, &TableRefresher::refreshed);
    QSignalSpy shown(&coordinator, &RefreshCoordinator::applied);

    std::function<void(int)> run = [&](int from) {
        for (int i = from; i < steps.size(); ++i) {
            switch (steps.at(i).toLatin1()) {
            case 'r':
                coordinator.refresh();
                break;
            case 'c':
                QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO devices (imei) VALUES (3)")));
                coordinator.changeShown();
                break;
            case 'd':
                coordinator.setActive(false);
                break;
            case 'a':
                coordinator.setActive(true);
                break;
            case 'l': {
                auto once = std::make_shared<QMetaObject::Connection>();
                *once = connect(&refresher, &TableRefresher::refreshed, this, [&run, once, i] {
                    disconnect(*once);
                    run(i + 1);
                });
                return;
            }
            }
        }
    };
    run(0);
    QTRY_VERIFY_WITH_TIMEOUT(!coordinator.isBusy() && read.count() >= reads, 15000);
    QCOMPARE(read.count(), reads);
    QCOMPARE(shown.count(), applied);
    QCOMPARE(devices.rowCount(), rows);
}

QTEST_GUILESS_MAIN(TestRefreshCoordinator)
#include "tst_refreshcoordinator.moc"
