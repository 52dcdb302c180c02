#include "dialogs/deviceeditdialog.h"
#include "dialogtest.h"
#include "import/adddevicesdialog.h"

#include <QCheckBox>
#include <QCompleter>
#include <QListView>

static const QString imeiError = QStringLiteral("Введите IMEI устройства (15 цифр)!");

class TestDeviceEditDialog : public QObject, public GroupsFixture {
    Q_OBJECT

private slots:
    void init() { QVERIFY(resetDatabase()); }
    void cleanup() {
        dialog.reset();
        releaseDatabase();
    }

    void imeiInput_data();
    void imeiInput();
    void addMode();
    void editMode();
    void clickOnName();
    void addNewGroup_data();
    void addNewGroup();

private:
    std::unique_ptr<DeviceEditDialog> dialog;
    QListView* view = nullptr;
    QLineEdit* imei = nullptr;

    bool open(const DeviceInfo& device = DeviceInfo()) {
        dialog.reset(new DeviceEditDialog(nullptr, handler.get(), device, stored()));
        view = child<QListView>(dialog.get(), "groupsView");
        imei = child<QLineEdit>(dialog.get(), "imeiEdit");
        return showDialog(dialog.get());
    }
    ListRows defaultRows() const {
        return {{QStringLiteral("Администратор"), admin, true, false},
                {QStringLiteral("Drivers"), drivers, false, true},
                {QStringLiteral("Грузовики"), trucks, false, true}};
    }
};

void TestDeviceEditDialog::imeiInput_data() {
    QTest::addColumn<bool>("typed"); // or put in whole, as the completer does
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("shown");
    const auto row = [](const char* name, bool typed, const char* input, const char* shown) {
        QTest::newRow(name) << typed << QString::fromLatin1(input) << QString::fromLatin1(shown);
    };
    row("14 digits", true, "10000000000000", "10000000000000");
    row("a 16th digit cannot be typed", true, "1000000000000091", "100000000000009");
    row("letters cannot be typed", true, "12ab34-5 6", "123456");
    row("a letter put in", false, "35693803564300X", "35693803564300X");
    row("all zeros", true, "000000000000000", "000000000000000");
}

void TestDeviceEditDialog::imeiInput() {
    QFETCH(bool, typed);
    QFETCH(QString, input);
    QFETCH(QString, shown);
    QVERIFY(open());
    if (typed)
        typeText(imei, input);
    else
        imei->setText(input);
    QCOMPARE(imei->text(), shown);
    const bool ok = shown.size() == 15 && shown.toULongLong() != 0;
    pressOk(dialog.get(), ok ? QString() : imeiError);
    if (!QTest::currentTestFailed())
        QCOMPARE(dialog->getDeviceInfo().imei, ok ? shown.toULongLong() : 0);
}

// The for-all box greys the list without clearing it; the administrators' group comes first
// and only once. What the dialog returned reopens it in add mode as it was entered.
void TestDeviceEditDialog::addMode() {
    QVERIFY(open());
    QCOMPARE(listRows(view), defaultRows());
    typeText(imei, QStringLiteral("354000000000010"));
    typeText(child<QLineEdit>(dialog.get(), "nameEdit"), QStringLiteral(" Van 1 "));
    toggleRow(view, 2);
    auto* forAll = child<QCheckBox>(dialog.get(), "forAllCheck");
    forAll->click();
    QVERIFY(!view->isEnabled());
    pressOk(dialog.get(), QString());
    const DeviceInfo entered{0, 354000000000010ULL, QStringLiteral("Van 1"), {admin, trucks}, true};
    QCOMPARE(dialog->getDeviceInfo(), entered);
    forAll->click();
    QVERIFY(view->isEnabled());

    // The completer offers the given IMEIs of 15 digits; one of them is taken whatever its check
    // digit.
    dialog->setCompleterList({QStringLiteral("354000000000017"), QStringLiteral("200000000000003"),
                              QStringLiteral("100000000000009"), QStringLiteral("1000000000000091"),
                              QStringLiteral("10000000000009X")});
    imei->clear();
    typeText(imei, QStringLiteral("10"));
    QCOMPARE(imei->completer()->completionCount(), 1);
    imei->setText(QStringLiteral("354000000000017"));
    pressOk(dialog.get(), QString());
    QCOMPARE(dialog->getDeviceInfo().imei, 354000000000017ULL);

    QVERIFY(open(entered));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Добавление устройства"));
    pressOk(dialog.get(), QString());
    QCOMPARE(dialog->getDeviceInfo(), entered);
}

void TestDeviceEditDialog::editMode() {
    const DeviceInfo device{42, 1, QStringLiteral("Фура 7"), {trucks}, true};
    QVERIFY(open(device));
    QCOMPARE(imei->text(), QStringLiteral("000000000000001"));
    QVERIFY(!view->isEnabled());
    ListRows rows = defaultRows();
    rows[0].checked = false;
    rows[2].checked = true;
    QCOMPARE(listRows(view), rows);
    // Unchanged, the device comes back as it was, plus the administrators' group.
    pressOk(dialog.get(), QString());
    QCOMPARE(dialog->getDeviceInfo(), (DeviceInfo{42, 1, device.name, {admin, trucks}, true}));

    // Only "Выбрать все" checks the fixed row; "Убрать все" leaves it checked.
    child(dialog.get(), "checkAll")->click();
    child(dialog.get(), "uncheckAll")->click();
    QCOMPARE(listRows(view), defaultRows());

    // A stored name longer than its field stays whole; a stored IMEI must have 15 digits too.
    DeviceInfo longer{7, 9223372036854775807ULL, QString(255, QChar(0x0416)), {admin}, false};
    QVERIFY(open(longer));
    pressOk(dialog.get(), imeiError);
    // a check digit that fails is warned about once
    imei->setText(QStringLiteral("354000000000017"));
    ModalAnswerer warning;
    warning.expectBox(QStringLiteral("Последняя цифра IMEI 354000000000017 не совпадает с контрольной"));
    clickOk(dialog.get());
    VERIFY_ANSWERED(warning);
    QVERIFY(dialog->isVisible());
    pressOk(dialog.get(), QString());
    longer.imei = 354000000000017ULL;
    QCOMPARE(dialog->getDeviceInfo(), longer);
}

// A click on a group's name ticks it like a click on its box; the fixed row stays as it is.
void TestDeviceEditDialog::clickOnName() {
    QVERIFY(open());
    for (const int row : {1, 2, 2, 0})
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(view->model()->index(row, 0)).center());
    ListRows rows = defaultRows();
    rows[1].checked = true;
    QCOMPARE(listRows(view), rows);
}

void TestDeviceEditDialog::addNewGroup_data() {
    QTest::addColumn<bool>("addDevices");        // or the device dialog
    QTest::addColumn<QStringList>("typedNames"); // one per OK press
    QTest::addColumn<QStringList>("messages");
    const QString couriers = QStringLiteral("Курьеры");
    QTest::newRow("device: empty name, then a new one")
        << false << QStringList{QString(), couriers} << QStringList{QStringLiteral("Введите имя группы!")};
    QTest::newRow("device: existing name") << false << QStringList{QStringLiteral("Drivers")}
                                           << QStringList{QStringLiteral("Такая группа уже существует!")};
    QTest::newRow("add devices") << true << QStringList{couriers} << QStringList{};
}

// The flow of every dialog with a group list (the user dialog shares the device dialog's): the
// list is rebuilt from the database, the marks set so far kept and the new group unchecked.
void TestDeviceEditDialog::addNewGroup() {
    QFETCH(bool, addDevices);
    QFETCH(QStringList, typedNames);
    QFETCH(QStringList, messages);
    std::unique_ptr<QDialog> d(
        addDevices ? static_cast<QDialog*>(new AddDevicesDialog(nullptr, handler.get(), stored()))
                   : new DeviceEditDialog(nullptr, handler.get(), DeviceInfo(), stored()));
    QVERIFY(showDialog(d.get()));
    auto* list = d->findChild<QListView*>();
    list->model()->setData(list->model()->index(1, 0), Qt::Checked, Qt::CheckStateRole);
    const ListRows before = listRows(list);
    ModalAnswerer answers;
    answers.expect("GroupEditDialog", [&](QWidget* w) {
        for (const QString& typed : qAsConst(typedNames)) {
            setText(w, "groupNameEdit", typed);
            clickOk(w);
        }
    });
    for (const QString& message : qAsConst(messages))
        answers.expectBox(message);
    const bool added = typedNames.contains(QStringLiteral("Курьеры"));
    // refused by the database: asked again as it was filled
    if (!added)
        answers.expect("GroupEditDialog", [&](QWidget* w) {
            QCOMPARE(child<QLineEdit>(w, "groupNameEdit")->text(), typedNames.constLast());
        });
    child(d.get(), "addNewGroup")->click();
    VERIFY_ANSWERED(answers);

    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM groups_list")).toInt(), added ? 4 : 3);
    const int newId =
        TestDb::scalar(QStringLiteral("SELECT id FROM groups_list WHERE group_name='Курьеры'")).toInt();
    QCOMPARE(listRows(list),
             (added ? ListRows(before) << ListRow{QStringLiteral("Курьеры"), newId, false, true} : before));
    d->reject();
    QCOMPARE(addDevices ? static_cast<AddDevicesDialog*>(d.get())->groupAdded()
                        : static_cast<GroupPickDialog*>(d.get())->groupAdded(),
             added);
}

QTEST_MAIN(TestDeviceEditDialog)
#include "tst_deviceeditdialog.moc"
