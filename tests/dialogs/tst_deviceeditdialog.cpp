#include "dialogs/deviceeditdialog.h"
#include "dialogtest.h"

#include <QCheckBox>
#include <QCompleter>
#include <QListView>

class TestDeviceEditDialog : public QObject, public GroupsFixture {
    Q_OBJECT

private slots:
    void init() { QVERIFY(resetDatabase()); }
    void cleanup() { releaseDatabase(); }

    void imeiInput_data();
    void imeiInput();
    void addMode();
    void editMode();
    void storedValuesLongerThanTheFieldsStayWhole();
    void addNewGroup_data();
    void addNewGroup();
    void completerOffersTheGivenImeis();

private:
    ListRows defaultRows() const {
        return {{QStringLiteral("Администратор"), admin, true, false},
                {QStringLiteral("Drivers"), drivers, false, true},
                {QStringLiteral("Грузовики"), trucks, false, true}};
    }
};

void TestDeviceEditDialog::imeiInput_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("ok");
    const auto row = [](const char* name, const char* typed, const char* shown, bool ok) {
        QTest::newRow(name) << QString::fromLatin1(typed) << QString::fromLatin1(shown) << ok;
    };
    row("15 digits", "100000000000001", "100000000000001", true);
    row("14 digits", "10000000000000", "10000000000000", false);
    row("a 16th digit cannot be typed", "1000000000000012", "100000000000001", true);
    row("letters cannot be typed", "12ab34-5 6", "123456", false);
    row("empty", "", "", false);
}

void TestDeviceEditDialog::imeiInput() {
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(bool, ok);
    DeviceEditDialog dialog(nullptr, handler.get(), DeviceInfo());
    QVERIFY(showDialog(&dialog));
    auto* imei = child<QLineEdit>(&dialog, "imeiEdit");
    typeText(imei, typed);
    QCOMPARE(imei->text(), shown);
    pressOk(&dialog, ok ? QString() : QStringLiteral("Введите IMEI устройства (15 цифр)!"));
    if (!QTest::currentTestFailed())
        QCOMPARE(dialog.getDeviceInfo().imei, ok ? shown.toULongLong() : 0);
}

// Defaults, the for-all box greying the list without clearing it, and the groups collected.
void TestDeviceEditDialog::addMode() {
    DeviceEditDialog dialog(nullptr, handler.get(), DeviceInfo());
    QVERIFY(showDialog(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Добавление устройства"));
    QVERIFY(child<QLineEdit>(&dialog, "nameEdit")->text().isEmpty());
    auto* view = child<QListView>(&dialog, "groupsView");
    QCOMPARE(listRows(view), defaultRows());
    typeText(child<QLineEdit>(&dialog, "imeiEdit"), QStringLiteral("354000000000017"));
    toggleRow(view, 2);
    auto* forAll = child<QCheckBox>(&dialog, "forAllCheck");
    QVERIFY(!forAll->isChecked());
    forAll->click();
    QVERIFY(!view->isEnabled());
    QVERIFY(child(&dialog, "checkAll")->isEnabled());
    pressOk(&dialog, QString());
    // The administrators' group comes first and only once.
    QCOMPARE(dialog.getDeviceInfo(), (DeviceInfo{0, 354000000000017ULL, QString(), {admin, trucks}, true}));
    forAll->click();
    QVERIFY(view->isEnabled());
}

void TestDeviceEditDialog::editMode() {
    const DeviceInfo device{42, 1, QStringLiteral("Фура 7"), {trucks}, true};
    DeviceEditDialog dialog(nullptr, handler.get(), device);
    QVERIFY(showDialog(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Редактирование устройства"));
    QCOMPARE(child<QLineEdit>(&dialog, "imeiEdit")->text(), QStringLiteral("000000000000001"));
    QCOMPARE(child<QLineEdit>(&dialog, "nameEdit")->text(), device.name);
    QVERIFY(child<QCheckBox>(&dialog, "forAllCheck")->isChecked());
    auto* view = child<QListView>(&dialog, "groupsView");
    QVERIFY(!view->isEnabled());
    ListRows rows = defaultRows();
    rows[0].checked = false;
    rows[2].checked = true;
    QCOMPARE(listRows(view), rows);
    // Unchanged, the device comes back as it was, plus the administrators' group.
    pressOk(&dialog, QString());
    QCOMPARE(dialog.getDeviceInfo(), (DeviceInfo{42, 1, device.name, {admin, trucks}, true}));

    // Only "Выбрать все" checks the fixed row; "Убрать все" leaves it checked.
    child(&dialog, "checkAll")->click();
    child(&dialog, "uncheckAll")->click();
    QCOMPARE(listRows(view), defaultRows());
    pressOk(&dialog, QString());
    QCOMPARE(dialog.getDeviceInfo().groups, QVector<int>{admin});
}

void TestDeviceEditDialog::storedValuesLongerThanTheFieldsStayWhole() {
    const DeviceInfo device{7, 9223372036854775807ULL, QString(255, QChar(0x0416)), {admin}, false};
    DeviceEditDialog dialog(nullptr, handler.get(), device);
    QVERIFY(showDialog(&dialog));
    auto* imei = child<QLineEdit>(&dialog, "imeiEdit");
    QCOMPARE(imei->text(), QStringLiteral("9223372036854775807"));
    pressOk(&dialog, QString());
    QCOMPARE(dialog.getDeviceInfo(), device);

    // Typed anew, the IMEI must have 15 digits.
    QVERIFY(showDialog(&dialog));
    imei->end(false);
    QTest::keyClick(imei, Qt::Key_Backspace);
    pressOk(&dialog, QStringLiteral("Введите IMEI устройства (15 цифр)!"));
}

void TestDeviceEditDialog::addNewGroup_data() {
    QTest::addColumn<QStringList>("typedNames"); // one per OK press; none: Cancel
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("added");
    QTest::newRow("cancel") << QStringList() << QStringList() << false;
    QTest::newRow("new name") << QStringList{QStringLiteral("Курьеры")} << QStringList() << true;
    QTest::newRow("empty name, then a new one") << QStringList{QString(), QStringLiteral("Курьеры")}
                                                << QStringList{QStringLiteral("Введите имя группы!")} << true;
    QTest::newRow("existing name") << QStringList{QStringLiteral("Drivers")}
                                   << QStringList{QStringLiteral("Такая группа уже существует!")} << false;
}

// The flow is shared by every dialog with a group list; the other dialogs' tests only check
// that their button runs it.
void TestDeviceEditDialog::addNewGroup() {
    QFETCH(QStringList, typedNames);
    QFETCH(QStringList, messages);
    QFETCH(bool, added);
    DeviceEditDialog dialog(nullptr, handler.get(), DeviceInfo());
    QVERIFY(showDialog(&dialog));
    auto* view = child<QListView>(&dialog, "groupsView");
    toggleRow(view, 1);
    const ListRows before = listRows(view);

    ModalAnswerer answers;
    answers.expect("GroupEditDialog", [&](QWidget* w) {
        QCOMPARE(w->parentWidget(), &dialog);
        QCOMPARE(w->windowTitle(), QStringLiteral("Добавление новой группы"));
        for (const QString& typed : qAsConst(typedNames)) {
            setText(w, "groupNameEdit", typed);
            clickOk(w);
        }
    });
    for (int i = 0; i < messages.size(); ++i)
        answers.expect("QMessageBox");
    child(&dialog, "addNewGroup")->click();
    VERIFY_ANSWERED(answers);
    QStringList shown;
    for (const ModalAnswerer::Seen& s : qAsConst(answers.seen)) {
        if (s.className == QLatin1String("QMessageBox"))
            shown << s.text;
    }
    QCOMPARE(shown, messages);

    const int newId =
        TestDb::scalar(QStringLiteral("SELECT id FROM groups_list WHERE group_name='Курьеры'")).toInt();
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM groups_list")).toInt(), added ? 4 : 3);
    // Rebuilt from the database: the new group unchecked, the marks set so far back to the defaults.
    ListRows expected = before;
    if (added)
        expected = defaultRows() << ListRow{QStringLiteral("Курьеры"), newId, false, true};
    QCOMPARE(listRows(view), expected);
}

void TestDeviceEditDialog::completerOffersTheGivenImeis() {
    DeviceEditDialog dialog(nullptr, handler.get(), DeviceInfo());
    QVERIFY(showDialog(&dialog));
    dialog.setCompleterList({QStringLiteral("100000000000001"), QStringLiteral("100000000000002"),
                             QStringLiteral("200000000000003")});
    auto* imei = child<QLineEdit>(&dialog, "imeiEdit");
    typeText(imei, QStringLiteral("1"));
    QCOMPARE(imei->completer()->completionCount(), 2);
    dialog.setCompleterList({QStringLiteral("100000000000009")});
    imei->clear();
    typeText(imei, QStringLiteral("10"));
    QCOMPARE(imei->completer()->completionCount(), 1);
    QCOMPARE(imei->completer()->currentCompletion(), QStringLiteral("100000000000009"));
}

QTEST_MAIN(TestDeviceEditDialog)
#include "tst_deviceeditdialog.moc"
