#include "db/confighandler.h"
#include "logcapture.h"
#include "models/devicestablemodel.h"
#include "models/grouptablemodel.h"
#include "models/usertablemodel.h"
#include "testdb.h"

#include <QAbstractItemModelTester>
#include <QtTest>

#include <memory>

class TestTableModels : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void cells_data();
    void cells();
    void naturalOrder_data();
    void naturalOrder();
    void modelTester();
    void inPlaceChangesMatchFreshLoad();
    void filterAsideShowsNewest();
    void statementsPerReloadConstant();

private:
    enum Kind { Devices, Users, Groups };
    std::unique_ptr<RecordTableModel> model(int kind) const;
    void seed();
    std::unique_ptr<ConfigHandler> handler;
};

std::unique_ptr<RecordTableModel> TestTableModels::model(int kind) const {
    if (kind == Devices)
        return std::make_unique<DevicesTableModel>(nullptr, handler.get());
    if (kind == Users)
        return std::make_unique<UserTableModel>(nullptr, handler.get());
    return std::make_unique<GroupTableModel>(nullptr, handler.get());
}

void TestTableModels::init() {
    ORB_RESET_DB();
    handler = TestDb::handler();
    QVERIFY(handler);
}

void TestTableModels::cleanup() {
    handler.reset();
}

// Groups "Admin" (1), "Склад" (2) and one deleted afterwards whose memberships stay behind;
// devices and a user in them.
void TestTableModels::seed() {
    QString error;
    GroupInfo stock{0, QStringLiteral("Склад")}, gone{0, QStringLiteral("gone")};
    QVERIFY(handler->addGroup(stock, error) && handler->addGroup(gone, error));
    QCOMPARE(stock.id, 2);
    const int deletedGroup = gone.id;
    const QVector<DeviceInfo> devices = {
        {0, 100000000000001ULL, QStringLiteral("мульти"), {1, 2, deletedGroup}, false},
        {0, 100000000000002ULL, QString(), {2}, true},
        {0, 100000000000003ULL, QStringLiteral("admin only"), {1}, false},
        {0, 18446744073709551615ULL, QStringLiteral("max"), {}, false},
        {0, 12345678901237ULL, QStringLiteral("zero"), {}, false},
    };
    QCOMPARE(handler->addDevices(devices), devices.size());
    UserInfo u{0, QStringLiteral("оператор"), QByteArray(64, 'p'), {1, 2, deletedGroup}};
    QVERIFY(handler->addUser(u, error));
    QVERIFY(TestDb::exec(QStringLiteral("DELETE FROM groups_list WHERE id=%1").arg(deletedGroup)));
}

void TestTableModels::cells_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("key"); // the text in column 0 of the row
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("expected");
    QTest::newRow("device groups: admin left out, missing one named")
        << int(Devices) << "100000000000001" << 2 << "Склад, Неизвестная группа";
    QTest::newRow("device for all") << int(Devices) << "100000000000002" << 2 << "для всех";
    QTest::newRow("device unsigned IMEI") << int(Devices) << "18446744073709551615" << 1 << "max";
    QTest::newRow("device IMEI with its leading zero") << int(Devices) << "012345678901237" << 1 << "zero";
    QTest::newRow("user groups in membership order")
        << int(Users) << "оператор" << 1 << "Администратор, Склад, Неизвестная группа";
    // the administrators see every device
    QTest::newRow("admin group users") << int(Groups) << "Администраторы" << 1 << "2";
    QTest::newRow("admin group devices: all of them") << int(Groups) << "Администраторы" << 2 << "5";
    QTest::newRow("group devices") << int(Groups) << "Склад" << 2 << "2";
}

void TestTableModels::cells() {
    QFETCH(int, kind);
    QFETCH(QString, key);
    QFETCH(int, column);
    QFETCH(QString, expected);
    seed();
    const auto m = model(kind);
    LogCapture log;
    m->reload();
    int row = 0;
    while (row < m->rowCount() && m->data(m->index(row, 0)).toString() != key)
        ++row;
    QVERIFY2(row < m->rowCount(), qPrintable(key));
    QCOMPARE(m->data(m->index(row, column)).toString(), expected);
    // the database keeps the stored name of the admin group
    QCOMPARE(handler->getGroupId(QStringLiteral("Admin")), 1);
}

void TestTableModels::naturalOrder_data() {
    QTest::addColumn<QStringList>("ascending");
    QTest::newRow("digits by value, case folded, ties by the plain text")
        << QStringList{"Truck 2", "Truck 10", "truck 10", "TRUCK 10a", "Truck 100"};
    QTest::newRow("leading zeros, a digit against other units")
        << QStringList{"x", "x 1", "x0", "x00", "x01", "x1", "x001a", "xa"};
    const QString nines = QString(5, QLatin1Char('9'));
    const QString ones = QString(40000, QLatin1Char('1'));
    QTest::newRow("long runs") << QStringList{"n" + nines,
                                              "n100000",
                                              "n123456789",
                                              "n123456799",
                                              "n" + ones,
                                              "n" + ones + "2",
                                              "n" + QString(70000, '5'),
                                              "n" + ones + "1" + ones};
    QTest::newRow("a shared start ending in digits")
        << QStringList{"Boat 12", "Boat 120", "Boat 123", "Boat 1200"};
    QTest::newRow("non-Latin letters, emoji, NUL")
        << QStringList{QStringLiteral("a"),    QStringLiteral("a") + QChar(0),
                       QStringLiteral("Σ1"),   QStringLiteral("ς1"),
                       QStringLiteral("σ1"),   QStringLiteral("я"),
                       QStringLiteral("ёж 2"), QStringLiteral("Ёж 10"),
                       QStringLiteral("🚚 2"),  QStringLiteral("🚚 10"),
                       QStringLiteral("Ａ")};
}

// The order a sort computes at once for a whole column is that of row by row comparisons.
void TestTableModels::naturalOrder() {
    QFETCH(QStringList, ascending);
    for (int i = 1; i < ascending.size(); ++i) {
        QVERIFY2(naturalCompare(ascending.at(i - 1), ascending.at(i)) < 0,
                 qPrintable(ascending.at(i).left(20)));
        QVERIFY(naturalCompare(ascending.at(i), ascending.at(i - 1)) > 0);
    }
    QVector<QString> reversed(ascending.crbegin(), ascending.crend());
    QStringList sorted;
    for (const int i : ::naturalOrder(reversed))
        sorted << reversed.at(i);
    QCOMPARE(sorted, ascending);
    QCOMPARE(::naturalOrder({"b", "a", "B", "b"}), (QVector<int>{1, 2, 0, 3}));
}

// Each model stays consistent through reload, a deleted row and clear; a row's record is the stored one.
void TestTableModels::modelTester() {
    seed();
    LogCapture log;
    for (const int kind : {Devices, Users, Groups}) {
        const auto m = model(kind);
        QAbstractItemModelTester tester(m.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        m->reload();
        if (kind == Devices) {
            const QVector<DeviceInfo> stored = handler->getDevices();
            QCOMPARE(m->rowCount(), stored.size());
            for (int r = 0; r < m->rowCount(); ++r)
                QCOMPARE(qvariant_cast<DeviceInfo>(m->data(m->index(r, 1), RecordRole)), stored.at(r));
        } else if (kind == Groups) {
            QCOMPARE(qvariant_cast<GroupInfo>(m->data(m->index(1, 0), RecordRole)),
                     (GroupInfo{2, QStringLiteral("Склад")}));
        }
        QVERIFY(handler->deleteDevices({handler->getDeviceId(100000000000001ULL + quint64(kind))}) == 1);
        m->reload();
        QSignalSpy resets(m.get(), &QAbstractItemModel::modelReset);
        m->clear();
        QCOMPARE(m->rowCount(), 0);
        QCOMPARE(resets.count(), 1);
    }
}

// Sorted and filtered (on several threads past 20,000 rows), rows changed, added and removed in
// place: the model stays consistent and shows what a fresh load shows.
void TestTableModels::inPlaceChangesMatchFreshLoad() {
    QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO devices (imei, name) SELECT 356938000000000 + seq, "
                                        "CONCAT(IF(seq % 2, 'Boat ', 'boat '), seq) FROM seq_1_to_30000")));
    const auto contents = [](const RecordTableModel& m) {
        QStringList rows;
        for (int r = 0; r < m.rowCount(); ++r)
            rows << m.index(r, 0).data().toString() + QLatin1Char('|') + m.index(r, 1).data().toString();
        return rows;
    };
    DevicesTableModel shown(nullptr, handler.get());
    QAbstractItemModelTester tester(&shown, QAbstractItemModelTester::FailureReportingMode::QtTest);
    shown.reload();
    shown.sort(1, Qt::DescendingOrder);
    shown.setFilterText(QStringLiteral("BOAT 12"));
    shown.setFilterText(QStringLiteral("BOAT 129"));
    QCOMPARE(shown.rowCount(), 111); // 129, 1290..1299, 12900..12999
    QCOMPARE(shown.index(0, 1).data().toString(), QStringLiteral("Boat 12999"));

    QString error;
    DeviceInfo renamed = *shown.rowOf(100);
    renamed.name = QStringLiteral("boat 129000");
    QVERIFY(handler->updateDevice(renamed, error));
    QVERIFY(handler->addDevice({0, 356938000099999ULL, QStringLiteral("Boat 1295"), {1}, false}, error));
    QVERIFY(handler->deleteDevices({129, 12950}) == 2);
    shown.upsert(handler->getDevicesByIds({100, handler->getDeviceId(356938000099999ULL)}));
    shown.removeIds({129, 12950});

    DevicesTableModel fresh(nullptr, handler.get());
    fresh.reload();
    fresh.sort(1, Qt::DescendingOrder);
    fresh.setFilterText(QStringLiteral("boat 129"));
    QCOMPARE(contents(shown), contents(fresh));
    // sorted again with the filter set: the same rows in the new order
    shown.sort(0, Qt::DescendingOrder);
    DevicesTableModel resorted(nullptr, handler.get());
    resorted.reload();
    resorted.sort(0, Qt::DescendingOrder);
    resorted.setFilterText(QStringLiteral("boat 129"));
    QCOMPARE(contents(shown), contents(resorted));

    // many at once are put in place aside, with one reset
    QVERIFY(TestDb::exec(QStringLiteral("UPDATE devices SET name = CONCAT(name, '9') WHERE id <= 1300")));
    QVector<int> changed, gone;
    for (int id = 1; id <= 1300; ++id)
        changed << id;
    for (int id = 12900; id < 12920; ++id)
        gone << id;
    QCOMPARE(handler->deleteDevices(gone), gone.size());
    int kept = 0;
    shown.upsertAside(handler->getDevicesByIds(changed), gone, [&](const std::function<void()>& replace) {
        ++kept;
        replace();
    });
    QTRY_COMPARE(kept, 1);
    resorted.reload();
    QCOMPARE(contents(shown), contents(resorted));
}

// Past 20,000 rows the filter field's text is matched aside: only the newest text's rows are
// shown, once, and rows changed meanwhile are matched too.
void TestTableModels::filterAsideShowsNewest() {
    QVector<DeviceInfo> rows;
    for (int id = 1; id <= 30000; ++id)
        rows << DeviceInfo{
            id, 356938000000000ULL + quint64(id), QStringLiteral("Boat %1").arg(id), {}, false};
    const auto contents = [](const RecordTableModel& m) {
        QStringList texts;
        for (int r = 0; r < m.rowCount(); ++r)
            texts << m.index(r, 1).data().toString();
        return texts;
    };
    DevicesTableModel shown(nullptr, handler.get());
    QAbstractItemModelTester tester(&shown, QAbstractItemModelTester::FailureReportingMode::QtTest);
    shown.setPrepared(DevicesTableModel::prepare(rows, GroupNames()));
    QSignalSpy applied(&shown, &RecordTableModel::filterChanged);
    shown.filterAside(QStringLiteral("boat 12"));
    shown.filterAside(QStringLiteral("BOAT 129"));
    QCOMPARE(shown.rowCount(), 30000);
    rows[99].name = QStringLiteral("boat 129000");
    shown.upsert({rows[99]});
    shown.removeIds({129});
    rows.removeAt(128);
    QTRY_COMPARE(applied.count(), 1);
    QCOMPARE(shown.filterText(), QStringLiteral("BOAT 129"));

    DevicesTableModel fresh(nullptr, handler.get());
    fresh.setPrepared(DevicesTableModel::prepare(rows, GroupNames()));
    fresh.setFilterText(QStringLiteral("boat 129"));
    QCOMPARE(fresh.rowCount(), 111);
    QCOMPARE(contents(shown), contents(fresh));
    QCOMPARE(applied.count(), 1);

    // a refresh's rows matched ahead are shown only for the filter and sort they were matched for
    rows[5].name = QStringLiteral("boat 1290 new");
    fresh.setPrepared(DevicesTableModel::prepare(rows, GroupNames()));
    for (const RecordTableModel::ShownBy& ahead :
         {shown.shownBy(), RecordTableModel::ShownBy{QStringLiteral("boat 12"), -1, Qt::AscendingOrder},
          RecordTableModel::ShownBy{QStringLiteral("boat 129"), 1, Qt::DescendingOrder}}) {
        DevicesTableModel::Prepared prepared = DevicesTableModel::prepare(rows, GroupNames());
        DevicesTableModel::matchAhead(prepared, ahead);
        shown.setPrepared(std::move(prepared));
        QCOMPARE(contents(shown), contents(fresh));
    }
}

// A full reload of the three models costs the same few statements whatever the table sizes: each
// model's reload reads the three tables in at most 10 statements.
void TestTableModels::statementsPerReloadConstant() {
    std::unique_ptr<RecordTableModel> models[] = {model(Devices), model(Users), model(Groups)};
    QString error;
    QVector<qint64> statements;
    for (const int size : {30, 300}) {
        QVector<DeviceInfo> list;
        GroupInfo g;
        for (int i = 0; i < size; ++i) {
            if (i % 10 == 0) {
                g = GroupInfo{0, QStringLiteral("g%1_%2").arg(size).arg(i)};
                QVERIFY(handler->addGroup(g, error));
                UserInfo u{0, g.name, QByteArray(64, 'x'), {g.id}};
                QVERIFY(handler->addUser(u, error));
            }
            list << DeviceInfo{0, quint64(size) * 1000 + quint64(i), QString(), {1, g.id}, false};
        }
        QCOMPARE(handler->addDevices(list), size);
        const qint64 before = TestDb::sessionQuestions(handler->database());
        for (const auto& m : models)
            m->reload();
        statements << TestDb::sessionQuestions(handler->database()) - before - 1;
    }
    QVERIFY2(statements[0] > 0 && statements[0] <= 3 * 10, qPrintable(QString::number(statements[0])));
    QCOMPARE(statements[1], statements[0]);
    QCOMPARE(models[0]->rowCount(), 330);
}

QTEST_GUILESS_MAIN(TestTableModels)
#include "tst_tablemodels.moc"
