#include "dialogs/deviceeditdialog.h"
#include "dialogtest.h"

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
    void addNewGroup_data();
    void addNewGroup();

private:
    std::unique_ptr<DeviceEditDialog> dialog;
    QListView* view = nullptr;
    QLineEdit* imei = nullptr;

    bool open(const DeviceInfo& device = DeviceInfo()) {
        dialog.reset(new DeviceEditDialog(nullptr, handler.get(), device));
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
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    const auto row = [](const char* name, const char* typed, const char* shown) {
        QTest::newRow(name) << QString::fromLatin1(typed) << QString::fromLatin1(shown);
    };
    row("15 digits", "100000000000001", "100000000000001");
    row("14 digits", "10000000000000", "10000000000000");
    row("a 16th digit cannot be typed", "1000000000000012", "100000000000001");
    row("letters cannot be typed", "12ab34-5 6", "123456");
}

void TestDeviceEditDialog::imeiInput() {
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QVERIFY(open());
    typeText(imei, typed);
    QCOMPARE(imei->text(), shown);
    const bool ok = shown.size() == 15;
    pressOk(dialog.get(), ok ? QString() : imeiError);
    if (!QTest::currentTestFailed())
        QCOMPARE(dialog->getDeviceInfo().imei, ok ? shown.toULongLong() : 0);
}

// The for-all box greys the list without clearing it; the administrators' group comes first
// and only once.
void TestDeviceEditDialog::addMode() {
    QVERIFY(open());
    QCOMPARE(listRows(view), defaultRows());
    typeText(imei, QStringLiteral("354000000000017"));
    toggleRow(view, 2);
    auto* forAll = child<QCheckBox>(dialog.get(), "forAllCheck");
    forAll->click();
    QVERIFY(!view->isEnabled());
    pressOk(dialog.get(), QString());
    QCOMPARE(dialog->getDeviceInfo(), (DeviceInfo{0, 354000000000017ULL, QString(), {admin, trucks}, true}));
    forAll->click();
    QVERIFY(view->isEnabled());

    // The completer offers the given IMEIs.
    dialog->setCompleterList({QStringLiteral("100000000000009"), QStringLiteral("200000000000003")});
    imei->clear();
    typeText(imei, QStringLiteral("10"));
    QCOMPARE(imei->completer()->completionCount(), 1);
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
    pressOk(dialog.get(), QString());
    QCOMPARE(dialog->getDeviceInfo().groups, QVector<int>{admin});

    // Stored values longer than the fields stay whole; typed anew, the IMEI must have 15 digits.
    const DeviceInfo longer{7, 9223372036854775807ULL, QString(255, QChar(0x0416)), {admin}, false};
    QVERIFY(open(longer));
    pressOk(dialog.get(), QString());
    QCOMPARE(dialog->getDeviceInfo(), longer);
    QVERIFY(showDialog(dialog.get()));
    imei->end(false);
    QTest::keyClick(imei, Qt::Key_Backspace);
    pressOk(dialog.get(), imeiError);
}

void TestDeviceEditDialog::addNewGroup_data() {
    QTest::addColumn<QStringList>("typedNames"); // one per OK press
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("empty name, then a new one") << QStringList{QString(), QStringLiteral("Курьеры")}
                                                << QStringList{QStringLiteral("Введите имя группы!")};
    QTest::newRow("existing name") << QStringList{QStringLiteral("Drivers")}
                                   << QStringList{QStringLiteral("Такая группа уже существует!")};
}

// The flow is shared by every dialog with a group list: the list is rebuilt from the database,
// the new group unchecked and the marks set so far back to the defaults.
void TestDeviceEditDialog::addNewGroup() {
    QFETCH(QStringList, typedNames);
    QFETCH(QStringList, messages);
    QVERIFY(open());
    toggleRow(view, 1);
    const ListRows before = listRows(view);
    ModalAnswerer answers;
    answers.expect("GroupEditDialog", [&](QWidget* w) {
        for (const QString& typed : qAsConst(typedNames)) {
            setText(w, "groupNameEdit", typed);
            clickOk(w);
        }
    });
    for (const QString& message : qAsConst(messages))
        answers.expectBox(message);
    child(dialog.get(), "addNewGroup")->click();
    VERIFY_ANSWERED(answers);

    const bool added = typedNames.contains(QStringLiteral("Курьеры"));
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM groups_list")).toInt(), added ? 4 : 3);
    const int newId =
        TestDb::scalar(QStringLiteral("SELECT id FROM groups_list WHERE group_name='Курьеры'")).toInt();
    QCOMPARE(listRows(view),
             (added ? defaultRows() << ListRow{QStringLiteral("Курьеры"), newId, false, true} : before));
}

QTEST_MAIN(TestDeviceEditDialog)
#include "tst_deviceeditdialog.moc"
