#include "core/qtcompat.h"
#include "dialogtest.h"
#include "import/adddevicesdialog.h"
#include "import/devicesfileparser.h"
#include "import/devicesimport.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>

static const QVector<DeviceInfo> devices{
    DeviceInfo{0, 100000000000001, QStringLiteral("Car 1"), {}, false},
    DeviceInfo{9, 100000000000123, QStringLiteral("Фура"), {77}, true}, // check digit fails
    DeviceInfo{0, 100000000000009, QStringLiteral("car 123"), {}, false},
    DeviceInfo{0, 45000000000007, QString(), {}, false},
    DeviceInfo{0, 100000000000123, QStringLiteral("again"), {}, false},
    DeviceInfo{0, 0, QStringLiteral("zero"), {}, false},
    DeviceInfo{0, 1000000000000000, QStringLiteral("16 digits"), {}, false},
    DeviceInfo{0, 100000000000008, QStringLiteral("Stored"), {}, false},
};
enum { storedRow1 = 0, storedRow2 = 7 };
// The rows as shown: new ones first, those to check after the plain ones, then by state.
static const QVector<int> shownOrder{2, 3, 1, 0, 7, 4, 5, 6};

class TestAddDevicesDialog : public QObject, public GroupsFixture {
    Q_OBJECT

    // looked up as the window does, on a connection of its own
    DevicesImport::StoredDevices storedAmong(const QVector<DeviceInfo>& list) const {
        QVector<quint64> imeis;
        for (const DeviceInfo& device : list)
            imeis << device.imei;
        return DevicesImport::lookUpStoredNow(handler->connectionSettings(), imeis);
    }

private slots:
    void init() {
        QVERIFY(resetDatabase());
        const QString sql = QStringLiteral("INSERT INTO devices (imei, name) VALUES (?, ?)");
        stored1 = insertRow(sql, {devices[storedRow1].imei, QStringLiteral("Car 1 (old)")});
        stored2 = insertRow(sql, {devices[storedRow2].imei, devices[storedRow2].name});
        insertRow(sql, {quint64(100000000000999), QStringLiteral("not listed")});
        dialog.reset(new AddDevicesDialog(nullptr, handler.get(), stored()));
        dialog->setRows(DevicesToAddTableModel::makeRows(devices, storedAmong(devices)));
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
    void fromFile();
    void importStops();

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
// take a tick; a header click sorts.
void TestAddDevicesDialog::states() {
    QAbstractItemModel* model = table->model();
    QStringList states, tips;
    QSet<QString> colours;
    for (int r = 0; r < model->rowCount(); ++r) {
        states << model->index(r, 1).data().toString();
        tips << model->index(r, 1).data(Qt::ToolTipRole).toString();
        colours << model->index(r, 3).data(Qt::BackgroundRole).value<QBrush>().color().name() + states.last();
        QCOMPARE(model->index(r, 2).data().toString(), imeiText(devices[shownOrder[r]].imei));
        QCOMPARE(model->flags(model->index(r, 0)).testFlag(Qt::ItemIsUserCheckable),
                 states.last() == "новое" || states.last() == "проверьте IMEI");
    }
    QCOMPARE(states, (QStringList{"новое", "новое", "проверьте IMEI", "уже в базе", "уже в базе",
                                  "повтор в списке", "неверный IMEI", "неверный IMEI"}));
    QCOMPARE(tips.at(2), QStringLiteral("Контрольная цифра IMEI не сходится."));
    QCOMPARE(tips.at(3), QStringLiteral("Имя в базе: Car 1 (old)"));
    QCOMPARE(tips.count(QString()), tips.size() - 2); // the other stored row has the same name
    QCOMPARE(colours.size(), 5);
    QCOMPARE(counter(), QStringLiteral("Новых: 3, уже в базе: 2, с ошибкой: 3, отмечено: 0"));

    for (int r = 0; r < model->rowCount(); ++r)
        QCOMPARE(model->setData(model->index(r, 0), Qt::Checked, Qt::CheckStateRole), r < 3);
    QCOMPARE(checked(), (QStringList{"100000000000123", "100000000000009", "045000000000007"}));
    QCOMPARE(counter(), QStringLiteral("Новых: 3, уже в базе: 2, с ошибкой: 3, отмечено: 3"));
    QCOMPARE(dialog->storedCount(), 2);

    table->horizontalHeader()->setSortIndicator(2, Qt::DescendingOrder);
    QCOMPARE(model->index(0, 2).data().toString(), QStringLiteral("1000000000000000"));
    QCOMPARE(model->index(7, 2).data().toString(), QStringLiteral("000000000000000"));
    // the order by state made with the rows, and the one sorted here, agree
    for (const Qt::SortOrder order : {Qt::DescendingOrder, Qt::AscendingOrder}) {
        table->horizontalHeader()->setSortIndicator(1, order);
        QStringList again;
        for (int r = 0; r < model->rowCount(); ++r)
            again << model->index(r, 1).data().toString();
        if (order == Qt::DescendingOrder)
            std::reverse(again.begin(), again.end());
        QCOMPARE(again, states);
    }
}

void TestAddDevicesDialog::filterAndChecks_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("ticked");
    QTest::newRow("in IMEI or name") << "123"
                                     << QStringList{"100000000000009", "100000000000123", "100000000000123"}
                                     << QStringList{"100000000000123", "100000000000009"};
    QTest::newRow("case-sensitive") << "Car" << QStringList{"100000000000001"} << QStringList{};
    QTest::newRow("regex characters are plain text") << ".*" << QStringList{} << QStringList{};
    QTest::newRow("leading zeros kept")
        << "04" << QStringList{"045000000000007"} << QStringList{"045000000000007"};
    QTest::newRow("in the state") << "нов" << QStringList{"100000000000009", "045000000000007"}
                                  << QStringList{"100000000000009", "045000000000007"};
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
    toggleRow(table, 1);
    toggleRow(table, 2);
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
    toggleRow(table, shownOrder.indexOf(storedRow2));
    QCOMPARE(dialog->selectedStoredIds(), QVector<int>{stored1});
    QCOMPARE(counter(), QStringLiteral("Новых: 3, уже в базе: 2, с ошибкой: 3, отмечено: 4"));
    forStored->click();
    QCOMPARE(counter(), QStringLiteral("Новых: 3, уже в базе: 2, с ошибкой: 3, отмечено: 3"));
    forStored->click();
    QCOMPARE(dialog->selectedStoredIds(), QVector<int>{});
    QCOMPARE(dialog->selectedDevices().size(), 3);
    clickOk(dialog.get());
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
}

// A spreadsheet's file: what was read and skipped is said, IMEIs stand as written, the file's
// groups go to the new devices once the missing one is created on request.
void TestAddDevicesDialog::fromFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("list.csv"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QtCompat::encode(QStringLiteral("IMEI;Имя;Группы;Для всех\r\n"
                                               "356938035643809;Фура;\"Грузовики; Юг\";да\r\n"
                                               "12345;Короткий;;нет\r\nабв;строка\r\n356938035643007;") +
                                    QString(300, QChar(0x0416)) + QStringLiteral(";;\r\n"),
                                "Windows-1251"));
    file.close();
    DevicesFileParser parser;
    QVERIFY(parser.parseFile(path));
    dialog.reset(new AddDevicesDialog(nullptr, handler.get(), stored()));
    dialog->setFile(path, parser,
                    DevicesToAddTableModel::makeRows(parser.devices(), storedAmong(parser.devices()),
                                                     parser.wrongLengthImeis(), parser.cutNameRows(),
                                                     parser.lineNumbers()));
    QVERIFY(showDialog(dialog.get()));
    table = child<QTableView>(dialog.get(), "deviceList");
    QCOMPARE(child<QLabel>(dialog.get(), "label")->text(), QStringLiteral("Устройства: list.csv"));
    QCOMPARE(
        child<QLabel>(dialog.get(), "fileNotesLabel")->text(),
        QStringLiteral("Файл прочитан в кодировке Windows-1251.\nСтроки, которые не начинаются с IMEI, не "
                       "прочитаны, пропущено строк: 1.\n   строка 4: абв;строка"));
    QStringList rows;
    for (int r = 0; r < table->model()->rowCount(); ++r)
        rows << table->model()->headerData(r, Qt::Vertical).toString() + ' ' +
                    table->model()->index(r, 1).data().toString() + ' ' +
                    table->model()->index(r, 2).data().toString();
    // rows numbered by the file's lines, as the notes are
    QCOMPARE(rows, (QStringList{"2 новое 356938035643809", "5 имя обрезано 356938035643007",
                                "3 неверный IMEI 12345"}));

    auto* groups = child<QListView>(dialog.get(), "groupsList");
    QVERIFY(!groups->isEnabled());
    QVERIFY(child<QCheckBox>(dialog.get(), "fileGroupsCheck")->isChecked());
    QCOMPARE(child<QLabel>(dialog.get(), "missingGroupsLabel")->text(),
             QStringLiteral("Нет в базе групп из файла (1): Юг"));
    child(dialog.get(), "createGroupsButton")->click();
    QVERIFY(!child<QWidget>(dialog.get(), "createGroupsButton")->isVisible());
    const int south = handler->getGroupId(QStringLiteral("Юг"));
    QVERIFY(south > 0);
    child(dialog.get(), "checkAllDevs")->click();
    const QVector<DeviceInfo> picked = dialog->selectedDevices();
    QCOMPARE(picked.size(), 2);
    QCOMPARE(picked[0].groups, (QVector<int>{admin, trucks, south}));
    QVERIFY(picked[0].forAll);
    QCOMPARE(picked[1].groups, QVector<int>{admin});
    QVERIFY(!picked[1].forAll);
    QCOMPARE(dialog->skippedLines(), 1);
}

// The picked devices go in aside, on a connection of their own; stopped, the import ends after
// its batch and tells how far it got.
void TestAddDevicesDialog::importStops() {
    QVector<DeviceInfo> picked;
    for (int i = 0; i < 2500; ++i)
        picked << DeviceInfo{0, 200000000000000ULL + quint64(i), QStringLiteral("d%1").arg(i), {}, false};
    DevicesImport import;
    QSignalSpy finished(&import, &DevicesImport::finished);
    QVERIFY(import.start(TestDb::settings(), {}, picked));
    QVERIFY(!import.start(TestDb::settings(), {}, picked));
    import.cancel();
    QVERIFY(finished.wait(30000));
    const DevicesImport::Outcome& outcome = import.outcome();
    QVERIFY(outcome.handled > 0 && outcome.handled < picked.size());
    QCOMPARE(outcome.result.added, outcome.handled);
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM devices d JOIN device_groups m ON "
                                           "m.device_id = d.id AND m.group_id = %1 WHERE d.imei >= "
                                           "200000000000000")
                                .arg(admin))
                 .toInt(),
             outcome.handled);
}

QTEST_MAIN(TestAddDevicesDialog)
#include "tst_adddevicesdialog.moc"
