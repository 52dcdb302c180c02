#include "dialogtest.h"
#include "import/adddevicesdialog.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QListView>
#include <QTableView>

static const QVector<DeviceInfo> devices{
    DeviceInfo{0, 100000000000001, QStringLiteral("Car 1"), {}, false},
    DeviceInfo{9, 100000000000123, QStringLiteral("Фура"), {77}, true},
    DeviceInfo{0, 100000000000002, QStringLiteral("car 123"), {}, false},
    DeviceInfo{0, 45000000000003, QString(), {}, false},
};

class TestAddDevicesDialog : public QObject, public GroupsFixture {
    Q_OBJECT

private slots:
    void init() {
        QVERIFY(resetDatabase());
        dialog.reset(new AddDevicesDialog(nullptr, handler.get()));
        dialog->setDevices(devices);
        QVERIFY(showDialog(dialog.get()));
        table = child<QTableView>(dialog.get(), "deviceList");
        filter = child<QLineEdit>(dialog.get(), "deviceFilter");
    }
    void cleanup() {
        dialog.reset();
        releaseDatabase();
    }

    void filterAndChecks_data();
    void filterAndChecks();
    void result();

private:
    std::unique_ptr<AddDevicesDialog> dialog;
    QTableView* table = nullptr;
    QLineEdit* filter = nullptr;
};

void TestAddDevicesDialog::filterAndChecks_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("in IMEI or name") << "123" << QStringList{"100000000000123", "100000000000002"};
    QTest::newRow("case-sensitive") << "Car" << QStringList{"100000000000001"};
    QTest::newRow("regex characters are plain text") << ".*" << QStringList{};
    QTest::newRow("leading zeros kept") << "04" << QStringList{"045000000000003"};
}

// With a filter text the all/none buttons reach only the rows it shows, without one every row.
void TestAddDevicesDialog::filterAndChecks() {
    QFETCH(QString, text);
    QFETCH(QStringList, shown);
    QAbstractItemModelTester tester(table->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    const auto setFilter = [this](const QString& t) {
        filter->selectAll();
        QTest::keyClick(filter, Qt::Key_Delete);
        typeText(filter, t);
    };
    const auto checked = [this] {
        QStringList imeis;
        for (const DeviceInfo& d : dialog->selectedDevices())
            imeis << imeiText(d.imei);
        return imeis;
    };
    typeText(filter, text);
    QStringList imeis;
    for (int r = 0; r < table->model()->rowCount(); ++r)
        imeis << table->model()->index(r, 1).data().toString();
    QCOMPARE(imeis, shown);
    child(dialog.get(), "checkAllDevs")->click();
    setFilter(QString());
    QCOMPARE(table->model()->rowCount(), devices.size());
    QCOMPARE(checked(), shown);

    child(dialog.get(), "checkAllDevs")->click();
    setFilter(text);
    child(dialog.get(), "uncheckAllDevs")->click();
    QCOMPARE(checked().size(), devices.size() - shown.size());
}

// The checked devices as they came, with the checked groups (the administrators' fixed row
// included) and the for-all flag, also while the group list is greyed out.
void TestAddDevicesDialog::result() {
    toggleRow(table, 3);
    toggleRow(table, 1);
    auto* groups = child<QListView>(dialog.get(), "groupsList");
    QCOMPARE(listRows(groups).first(), (ListRow{QStringLiteral("Администратор"), admin, true, false}));
    toggleRow(groups, 2);
    for (const bool flag : {true, false}) {
        child<QCheckBox>(dialog.get(), "forAllCheck")->click();
        QCOMPARE(groups->isEnabled(), !flag);
        QVector<DeviceInfo> expected{devices[1], devices[3]};
        for (DeviceInfo& d : expected)
            d.groups = {admin, trucks}, d.forAll = flag;
        QCOMPARE(dialog->selectedDevices(), expected);
    }
    child(dialog.get(), "uncheckAllDevs")->click();
    clickOk(dialog.get());
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
}

QTEST_MAIN(TestAddDevicesDialog)
#include "tst_adddevicesdialog.moc"
