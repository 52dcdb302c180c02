#include "dialogtest.h"
#include "import/adddevicesdialog.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QListView>
#include <QTableView>

namespace {

QVector<DeviceInfo> sampleDevices() {
    return {
        DeviceInfo{0, 100000000000001, QStringLiteral("Car 1"), {}, false},
        DeviceInfo{9, 100000000000123, QStringLiteral("Фура"), {77}, true},
        DeviceInfo{0, 100000000000002, QStringLiteral("car 123"), {}, false},
        DeviceInfo{0, 100000000000003, QString(), {}, false},
    };
}

// A column of the rows the table shows, as text.
QStringList shownColumn(QTableView* view, int column, int role = Qt::DisplayRole) {
    QStringList list;
    for (int r = 0; r < view->model()->rowCount(); ++r)
        list << view->model()->index(r, column).data(role).toString();
    return list;
}

} // namespace

class TestAddDevicesDialog : public QObject, public GroupsFixture {
    Q_OBJECT

private slots:
    void init() { QVERIFY(resetDatabase()); }
    void cleanup() { releaseDatabase(); }

    void groupsList();
    void filter_data();
    void filter();
    void checksAndTheFilter();
    void result();
};

// The administrators' row is fixed whatever its stored name; "Создать новую группу" adds a
// group and rebuilds the list, which clears the ticks.
void TestAddDevicesDialog::groupsList() {
    QVERIFY(
        TestDb::exec(QStringLiteral("UPDATE groups_list SET group_name='Админы' WHERE id=%1").arg(admin)));
    AddDevicesDialog dialog(nullptr, handler.get());
    QVERIFY(showDialog(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Добавление списка устройств"));
    auto* groups = child<QListView>(&dialog, "groupsList");
    ListRows rows; // in the order the database lists the groups
    for (const GroupInfo& g : handler->getGroups()) {
        const bool isAdmin = g.id == admin;
        rows << ListRow{isAdmin ? QStringLiteral("Администратор") : g.name, g.id, isAdmin, !isAdmin};
    }
    QCOMPARE(rows.size(), 3);
    QCOMPARE(listRows(groups), rows);
    toggleRow(groups, rows.at(0).enabled ? 0 : 1);
    const int id = addGroupByButton(&dialog, QStringLiteral("Курьеры"));
    QCOMPARE(listRows(groups), (ListRows(rows) << ListRow{QStringLiteral("Курьеры"), id, false, true}));
}

void TestAddDevicesDialog::filter_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("in IMEI or name") << "123" << QStringList{"100000000000123", "100000000000002"};
    QTest::newRow("case-sensitive") << "Car" << QStringList{"100000000000001"};
    QTest::newRow("cyrillic") << "Фу" << QStringList{"100000000000123"};
    QTest::newRow("regex characters are plain text") << ".*" << QStringList{};
}

void TestAddDevicesDialog::filter() {
    QFETCH(QString, text);
    QFETCH(QStringList, shown);
    AddDevicesDialog dialog(nullptr, handler.get());
    dialog.setDevices(sampleDevices());
    QVERIFY(showDialog(&dialog));
    auto* filter = child<QLineEdit>(&dialog, "deviceFilter");
    auto* table = child<QTableView>(&dialog, "deviceList");
    QAbstractItemModelTester tester(table->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    typeText(filter, text);
    QCOMPARE(shownColumn(table, 1), shown);
    filter->selectAll();
    QTest::keyClick(filter, Qt::Key_Delete);
    QCOMPARE(table->model()->rowCount(), 4);
}

// A row checked while filtered stays the only checked one; the all/none buttons reach the
// rows that the filter hides.
void TestAddDevicesDialog::checksAndTheFilter() {
    AddDevicesDialog dialog(nullptr, handler.get());
    dialog.setDevices(sampleDevices());
    QVERIFY(showDialog(&dialog));
    auto* filter = child<QLineEdit>(&dialog, "deviceFilter");
    auto* table = child<QTableView>(&dialog, "deviceList");
    const QString unchecked = QString::number(Qt::Unchecked), checked = QString::number(Qt::Checked);
    QCOMPARE(shownColumn(table, 0, Qt::CheckStateRole),
             (QStringList{unchecked, unchecked, unchecked, unchecked}));
    typeText(filter, QStringLiteral("123"));
    toggleRow(table, 1); // "car 123"
    filter->selectAll();
    QTest::keyClick(filter, Qt::Key_Backspace);
    QCOMPARE(shownColumn(table, 0, Qt::CheckStateRole),
             (QStringList{unchecked, unchecked, checked, unchecked}));

    typeText(filter, QStringLiteral("Фура"));
    child(&dialog, "checkAllDevs")->click();
    QCOMPARE(dialog.selectedDevices().size(), 4);
    child(&dialog, "uncheckAllDevs")->click();
    QVERIFY(dialog.selectedDevices().isEmpty());
}

// The checked devices as they came, with the checked groups (the administrators' included)
// and the for-all flag, also while the group list is greyed out.
void TestAddDevicesDialog::result() {
    AddDevicesDialog dialog(nullptr, handler.get());
    const QVector<DeviceInfo> devices = sampleDevices();
    dialog.setDevices(devices);
    QVERIFY(showDialog(&dialog));
    auto* table = child<QTableView>(&dialog, "deviceList");
    toggleRow(table, 3);
    toggleRow(table, 1);
    auto* groups = child<QListView>(&dialog, "groupsList");
    toggleRow(groups, 2);
    auto* forAll = child<QCheckBox>(&dialog, "forAllCheck");
    for (const bool flag : {true, false}) {
        forAll->click();
        QCOMPARE(groups->isEnabled(), !flag);
        QVector<DeviceInfo> expected{devices[1], devices[3]};
        for (DeviceInfo& d : expected) {
            d.groups = {admin, trucks};
            d.forAll = flag;
        }
        QCOMPARE(dialog.selectedDevices(), expected);
    }
    child(&dialog, "uncheckAllDevs")->click();
    clickOk(&dialog);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(dialog.selectedDevices().isEmpty());
}

QTEST_MAIN(TestAddDevicesDialog)
#include "tst_adddevicesdialog.moc"
