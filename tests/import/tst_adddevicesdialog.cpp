#include "dialogtest.h"
#include "import/adddevicesdialog.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QLabel>
#include <QListView>
#include <QTableView>

static const QVector<DeviceInfo> devices{
    DeviceInfo{0, 100000000000001, QStringLiteral("Car 1"), {}, false},
    DeviceInfo{9, 100000000000123, QStringLiteral("Фура"), {77}, true},
    DeviceInfo{0, 100000000000002, QStringLiteral("car 123"), {}, false},
    DeviceInfo{0, 45000000000003, QString(), {}, false},
    DeviceInfo{0, 100000000000123, QStringLiteral("again"), {}, false},
    DeviceInfo{0, 0, QStringLiteral("zero"), {}, false},
    DeviceInfo{0, 1000000000000000, QStringLiteral("16 digits"), {}, false},
    DeviceInfo{0, 100000000000007, QStringLiteral("14 digits in the file"), {}, false},
    DeviceInfo{0, 100000000000008, QStringLiteral("Stored"), {}, false},
};
enum { storedRow1 = 0, storedRow2 = 8 };

class TestAddDevicesDialog : public QObject, public GroupsFixture {
    Q_OBJECT

private slots:
    void init() {
        QVERIFY(resetDatabase());
        const QString sql = QStringLiteral("INSERT INTO devices (imei, name) VALUES (?, ?)");
        stored1 = insertRow(sql, {devices[storedRow1].imei, QStringLiteral("Car 1 (old)")});
        stored2 = insertRow(sql, {devices[storedRow2].imei, devices[storedRow2].name});
        insertRow(sql, {quint64(100000000000999), QStringLiteral("not listed")});
        dialog.reset(new AddDevicesDialog(nullptr, handler.get()));
        dialog->setDevices(devices, {7});
        QVERIFY(showDialog(dialog.get()));
        table = child<QTableView>(dialog.get(), "deviceList");
        filter = child<QLineEdit>(dialog.get(), "deviceFilter");
        tester.reset(new QAbstractItemModelTester(table->model(),
                                                  QAbstractItemModelTester::FailureReportingMode::QtTest));
    }
    void cleanup() {
        tester.reset();
        dialog.reset();
        releaseDatabase();
    }

    void states();
    void filterAndChecks_data();
    void filterAndChecks();
    void result();

private:
    QStringList checked() const {
        QStringList imeis;
        for (const DeviceInfo& d : dialog->selectedDevices())
            imeis << imeiText(d.imei);
        return imeis;
    }
    QString counter() const { return child<QLabel>(dialog.get(), "counterLabel")->text(); }

    std::unique_ptr<AddDevicesDialog> dialog;
    std::unique_ptr<QAbstractItemModelTester> tester;
    QTableView* table = nullptr;
    QLineEdit* filter = nullptr;
    int stored1 = 0, stored2 = 0;
};

// Each row's state against the database and the list, told by text and colour; only new rows
// take a tick.
void TestAddDevicesDialog::states() {
    QAbstractItemModel* model = table->model();
    QStringList states, tips;
    QSet<QString> colours;
    for (int r = 0; r < model->rowCount(); ++r) {
        states << model->index(r, 1).data().toString();
        tips << model->index(r, 1).data(Qt::ToolTipRole).toString();
        colours << model->index(r, 3).data(Qt::BackgroundRole).value<QBrush>().color().name() + states.last();
        QCOMPARE(model->index(r, 2).data().toString(), imeiText(devices[r].imei));
        QCOMPARE(model->flags(model->index(r, 0)).testFlag(Qt::ItemIsUserCheckable),
                 states.last() == "новое");
    }
    QCOMPARE(states, (QStringList{"уже в базе", "новое", "новое", "новое", "повтор в списке", "неверный IMEI",
                                  "неверный IMEI", "неверный IMEI", "уже в базе"}));
    QCOMPARE(tips.first(), QStringLiteral("Имя в базе: Car 1 (old)"));
    QCOMPARE(tips.count(QString()), tips.size() - 1); // the other stored row has the same name
    QCOMPARE(colours.size(), 4);
    QCOMPARE(counter(), QStringLiteral("Новых: 3, уже в базе: 2, с ошибкой: 4, отмечено: 0"));

    for (int r = 0; r < model->rowCount(); ++r)
        QCOMPARE(model->setData(model->index(r, 0), Qt::Checked, Qt::CheckStateRole), states[r] == "новое");
    QCOMPARE(checked(), (QStringList{"100000000000123", "100000000000002", "045000000000003"}));
    QCOMPARE(counter(), QStringLiteral("Новых: 3, уже в базе: 2, с ошибкой: 4, отмечено: 3"));
    QCOMPARE(dialog->storedCount(), 2);
}

void TestAddDevicesDialog::filterAndChecks_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("ticked");
    QTest::newRow("in IMEI or name") << "123"
                                     << QStringList{"100000000000123", "100000000000002", "100000000000123"}
                                     << QStringList{"100000000000123", "100000000000002"};
    QTest::newRow("case-sensitive") << "Car" << QStringList{"100000000000001"} << QStringList{};
    QTest::newRow("regex characters are plain text") << ".*" << QStringList{} << QStringList{};
    QTest::newRow("leading zeros kept")
        << "04" << QStringList{"045000000000003"} << QStringList{"045000000000003"};
    QTest::newRow("in the state") << "нов"
                                  << QStringList{"100000000000123", "100000000000002", "045000000000003"}
                                  << QStringList{"100000000000123", "100000000000002", "045000000000003"};
}

// With a filter text the all/none buttons reach only the new rows it shows, without one every
// new row.
void TestAddDevicesDialog::filterAndChecks() {
    QFETCH(QString, text);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, ticked);
    const auto setFilter = [this](const QString& t) {
        filter->selectAll();
        QTest::keyClick(filter, Qt::Key_Delete);
        typeText(filter, t);
    };
    typeText(filter, text);
    QStringList imeis;
    for (int r = 0; r < table->model()->rowCount(); ++r)
        imeis << table->model()->index(r, 2).data().toString();
    QCOMPARE(imeis, shown);
    child(dialog.get(), "checkAllDevs")->click();
    setFilter(QString());
    QCOMPARE(table->model()->rowCount(), devices.size());
    QCOMPARE(checked(), ticked);

    child(dialog.get(), "checkAllDevs")->click();
    setFilter(text);
    child(dialog.get(), "uncheckAllDevs")->click();
    QCOMPARE(checked().size(), 3 - ticked.size());
}

// Checked new devices with the checked groups and the for-all flag; with the option on, the
// checked stored rows too, unticked when it is off again.
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
    QCOMPARE(dialog->selectedGroups(), (QVector<int>{admin, trucks}));

    auto* forStored = child<QCheckBox>(dialog.get(), "groupsForStoredCheck");
    QVERIFY(!forStored->isChecked());
    forStored->click();
    child(dialog.get(), "checkAllDevs")->click();
    QCOMPARE(dialog->selectedStoredIds(), (QVector<int>{stored1, stored2}));
    toggleRow(table, storedRow2);
    QCOMPARE(dialog->selectedStoredIds(), QVector<int>{stored1});
    QCOMPARE(counter(), QStringLiteral("Новых: 3, уже в базе: 2, с ошибкой: 4, отмечено: 4"));
    forStored->click();
    QCOMPARE(counter(), QStringLiteral("Новых: 3, уже в базе: 2, с ошибкой: 4, отмечено: 3"));
    forStored->click();
    QCOMPARE(dialog->selectedStoredIds(), QVector<int>{});
    QCOMPARE(dialog->selectedDevices().size(), 3);
    clickOk(dialog.get());
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
}

QTEST_MAIN(TestAddDevicesDialog)
#include "tst_adddevicesdialog.moc"
