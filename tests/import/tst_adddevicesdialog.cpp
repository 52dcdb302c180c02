#include "dialogs/dialogtest.h"
#include "import/adddevicesdialog.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QTableView>

namespace {

QVector<DeviceInfo> sampleDevices() {
    return {
        DeviceInfo{0, 100000000000001, QStringLiteral("Car 1"), {}, false},
        DeviceInfo{0, 100000000000123, QStringLiteral("Фура"), {}, false},
        DeviceInfo{0, 100000000000002, QStringLiteral("car 123"), {}, false},
        DeviceInfo{0, 100000000000003, QString(), {}, false},
    };
}

// Visible rows of the table: the IMEI column as text.
QStringList shownImeis(QTableView* view) {
    QStringList list;
    for (int r = 0; r < view->model()->rowCount(); ++r)
        list << view->model()->index(r, 1).data().toString();
    return list;
}

} // namespace

class TestAddDevicesDialog : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() {
        handler.reset();
        flushDeferredDeletes();
    }

    void startsUncheckedWithTheFixedAdminRow();
    void filter_data();
    void filter();
    void checkAllReachesFilteredRows();
    void checkedRowSurvivesTheFilter();
    void resultCarriesGroupsAndForAll();
    void nothingCheckedGivesNothing();
    void addNewGroup_data();
    void addNewGroup();

private:
    std::unique_ptr<ConfigHandler> handler;
    int admin = 0, drivers = 0, trucks = 0;
};

void TestAddDevicesDialog::init() {
    ORB_RESET_DB();
    drivers = insertGroup(QStringLiteral("Drivers"));
    trucks = insertGroup(QStringLiteral("Trucks"));
    handler = connectedHandler();
    admin = handler->adminGroupId();
    QVERIFY(admin > 0);
}

void TestAddDevicesDialog::startsUncheckedWithTheFixedAdminRow() {
    // Whatever its stored name, the administrators' group reads "Администратор".
    QVERIFY(
        TestDb::exec(QStringLiteral("UPDATE groups_list SET group_name='Админы' WHERE id=%1").arg(admin)));
    AddDevicesDialog dialog(nullptr, handler.get());
    dialog.setDevices(sampleDevices().mid(0, 3));
    QVERIFY(showDialog(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Добавление списка устройств"));
    auto* table = child<QTableView>(&dialog, "deviceList");
    QCOMPARE(table->model()->rowCount(), 3);
    for (int r = 0; r < 3; ++r) {
        QCOMPARE(table->model()->index(r, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        QCOMPARE(table->model()->headerData(r, Qt::Vertical).toInt(), r + 1);
    }
    QCOMPARE(table->columnWidth(0), 20);
    // Rows come in the order the database lists the groups.
    QVector<ListRow> expected;
    const QVector<GroupInfo> stored = handler->getGroups();
    for (const GroupInfo& g : stored) {
        const bool isAdmin = g.id == admin;
        expected << ListRow{isAdmin ? QStringLiteral("Администратор") : g.name, g.id, isAdmin, !isAdmin};
    }
    QCOMPARE(expected.size(), 3);
    QCOMPARE(listRows(child<QListView>(&dialog, "groupsList")), expected);
}

void TestAddDevicesDialog::filter_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("in IMEI or name") << "123" << QStringList{"100000000000123", "100000000000002"};
    QTest::newRow("case-sensitive") << "Car" << QStringList{"100000000000001"};
    QTest::newRow("cyrillic") << "Фу" << QStringList{"100000000000123"};
    QTest::newRow("no match") << "zzz" << QStringList{};
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
    QCOMPARE(shownImeis(table), shown);
    filter->selectAll();
    QTest::keyClick(filter, Qt::Key_Delete);
    QCOMPARE(table->model()->rowCount(), 4);
}

void TestAddDevicesDialog::checkAllReachesFilteredRows() {
    AddDevicesDialog dialog(nullptr, handler.get());
    dialog.setDevices(sampleDevices());
    QVERIFY(showDialog(&dialog));
    typeText(child<QLineEdit>(&dialog, "deviceFilter"), QStringLiteral("Фура"));
    child(&dialog, "checkAllDevs")->click();
    QCOMPARE(dialog.selectedDevices().size(), 4);
    child(&dialog, "uncheckAllDevs")->click();
    QVERIFY(dialog.selectedDevices().isEmpty());
}

void TestAddDevicesDialog::checkedRowSurvivesTheFilter() {
    AddDevicesDialog dialog(nullptr, handler.get());
    dialog.setDevices(sampleDevices());
    QVERIFY(showDialog(&dialog));
    auto* filter = child<QLineEdit>(&dialog, "deviceFilter");
    auto* table = child<QTableView>(&dialog, "deviceList");
    typeText(filter, QStringLiteral("123"));
    toggleRow(table, 1); // "car 123"
    filter->selectAll();
    QTest::keyClick(filter, Qt::Key_Backspace);
    QCOMPARE(table->model()->rowCount(), 4);
    QStringList checked;
    for (int r = 0; r < 4; ++r) {
        if (table->model()->index(r, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked)
            checked << table->model()->index(r, 2).data().toString();
    }
    QCOMPARE(checked, QStringList{QStringLiteral("car 123")});
}

void TestAddDevicesDialog::resultCarriesGroupsAndForAll() {
    AddDevicesDialog dialog(nullptr, handler.get());
    QVector<DeviceInfo> devices = sampleDevices();
    devices[1].id = 9;
    devices[1].groups = {77};
    devices[1].forAll = true;
    dialog.setDevices(devices);
    QVERIFY(showDialog(&dialog));
    auto* table = child<QTableView>(&dialog, "deviceList");
    toggleRow(table, 3);
    toggleRow(table, 1);
    auto* groups = child<QListView>(&dialog, "groupsList");
    toggleRow(groups, 2);
    auto* forAll = child<QCheckBox>(&dialog, "forAllCheck");
    forAll->click();
    QVERIFY(!groups->isEnabled());
    QVector<DeviceInfo> expected{devices[1], devices[3]};
    for (DeviceInfo& d : expected) {
        d.groups = {admin, trucks};
        d.forAll = true;
    }
    QCOMPARE(dialog.selectedDevices(), expected);
    forAll->click();
    QVERIFY(groups->isEnabled());
    for (DeviceInfo& d : expected)
        d.forAll = false;
    QCOMPARE(dialog.selectedDevices(), expected);
}

void TestAddDevicesDialog::nothingCheckedGivesNothing() {
    AddDevicesDialog dialog(nullptr, handler.get());
    dialog.setDevices(sampleDevices());
    QVERIFY(showDialog(&dialog));
    okButton(&dialog)->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(dialog.selectedDevices().isEmpty());
}

void TestAddDevicesDialog::addNewGroup_data() {
    QTest::addColumn<QString>("name"); // empty: Cancel
    QTest::addColumn<QString>("message");
    QTest::newRow("new group") << "Курьеры"
                               << "";
    QTest::newRow("existing name") << "Trucks"
                                   << "Такая группа уже существует!";
    QTest::newRow("cancel") << ""
                            << "";
}

void TestAddDevicesDialog::addNewGroup() {
    QFETCH(QString, name);
    QFETCH(QString, message);
    AddDevicesDialog dialog(nullptr, handler.get());
    QVERIFY(showDialog(&dialog));
    auto* groups = child<QListView>(&dialog, "groupsList");
    toggleRow(groups, 1);
    toggleRow(groups, 2);
    const QVector<ListRow> ticked = listRows(groups);
    ModalAnswerer answers;
    answers.expect("GroupEditDialog", [&name](QWidget* w) {
        if (name.isEmpty()) {
            child<QDialogButtonBox>(w, "buttonBox")->button(QDialogButtonBox::Cancel)->click();
            return;
        }
        typeText(child<QLineEdit>(w, "groupNameEdit"), name);
        okButton(w)->click();
    });
    if (!message.isEmpty())
        answers.expectMessage();
    child(&dialog, "addNewGroup")->click();
    QVERIFY(answers.allAnswered());
    QVERIFY(answers.unexpected.isEmpty());
    const int count = TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM groups_list")).toInt();
    if (!message.isEmpty() || name.isEmpty()) {
        if (!message.isEmpty())
            QCOMPARE(answers.seen.last().text, message);
        QCOMPARE(count, 3);
        QCOMPARE(listRows(groups), ticked);
        return;
    }
    QCOMPARE(count, 4);
    const int id =
        TestDb::scalar(QStringLiteral("SELECT id FROM groups_list WHERE group_name='Курьеры'")).toInt();
    QCOMPARE(listRows(groups), (QVector<ListRow>{{QStringLiteral("Администратор"), admin, true, false},
                                                 {QStringLiteral("Drivers"), drivers, false, true},
                                                 {QStringLiteral("Trucks"), trucks, false, true},
                                                 {name, id, false, true}}));
}

QTEST_MAIN(TestAddDevicesDialog)
#include "tst_adddevicesdialog.moc"
