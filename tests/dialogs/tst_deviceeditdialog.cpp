#include "dialogs/deviceeditdialog.h"
#include "dialogtest.h"

#include <QCheckBox>
#include <QCompleter>
#include <QLineEdit>
#include <QListView>

class TestDeviceEditDialog : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() {
        handler.reset();
        flushDeferredDeletes();
    }

    void imeiInput_data();
    void imeiInput();
    void addModeDefaults();
    void editModeShowsTheDevice();
    void storedValuesLongerThanTheFieldsStayWhole();
    void adminRowStaysCheckedOnUncheckAll();
    void forAllGreysTheListButKeepsTheGroups();
    void addNewGroup_data();
    void addNewGroup();
    void completerOffersTheGivenImeis();

private:
    DeviceInfo accepted(DeviceEditDialog& dialog);

    std::unique_ptr<ConfigHandler> handler;
    int admin = 0, drivers = 0, trucks = 0;
};

void TestDeviceEditDialog::init() {
    ORB_RESET_DB();
    drivers = insertGroup(QStringLiteral("Drivers"));
    trucks = insertGroup(QStringLiteral("Грузовики"));
    handler = connectedHandler();
    admin = handler->adminGroupId();
    QVERIFY(admin > 0);
}

DeviceInfo TestDeviceEditDialog::accepted(DeviceEditDialog& dialog) {
    ModalAnswerer answers;
    okButton(&dialog)->click();
    if (!answers.seen.isEmpty())
        qWarning("unexpected message: %s", qPrintable(answers.seen.at(0).text));
    return dialog.result() == QDialog::Accepted ? dialog.getDeviceInfo() : DeviceInfo();
}

void TestDeviceEditDialog::imeiInput_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("ok");
    QTest::newRow("15 digits") << "100000000000001"
                               << "100000000000001" << true;
    QTest::newRow("14 digits") << "10000000000000"
                               << "10000000000000" << false;
    QTest::newRow("a 16th digit cannot be typed") << "1000000000000012"
                                                  << "100000000000001" << true;
    QTest::newRow("letters cannot be typed") << "12ab34-5 6"
                                             << "123456" << false;
    QTest::newRow("empty") << ""
                           << "" << false;
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
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(dialog.getDeviceInfo().imei, ok ? shown.toULongLong() : 0);
}

void TestDeviceEditDialog::addModeDefaults() {
    DeviceEditDialog dialog(nullptr, handler.get(), DeviceInfo());
    QVERIFY(showDialog(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Добавление устройства"));
    QVERIFY(child<QLineEdit>(&dialog, "imeiEdit")->text().isEmpty());
    QVERIFY(child<QLineEdit>(&dialog, "nameEdit")->text().isEmpty());
    QVERIFY(!child<QCheckBox>(&dialog, "forAllCheck")->isChecked());
    auto* view = child<QListView>(&dialog, "groupsView");
    QCOMPARE(listRows(view), (QVector<ListRow>{{QStringLiteral("Администратор"), admin, true, false},
                                               {QStringLiteral("Drivers"), drivers, false, true},
                                               {QStringLiteral("Грузовики"), trucks, false, true}}));
    typeText(child<QLineEdit>(&dialog, "imeiEdit"), QStringLiteral("354000000000017"));
    toggleRow(view, 2);
    const DeviceInfo d = accepted(dialog);
    QCOMPARE(d.id, 0);
    QCOMPARE(d.imei, 354000000000017ULL);
    QCOMPARE(d.name, QString());
    QCOMPARE(d.forAll, false);
    // The administrators' group comes first and only once.
    QCOMPARE(d.groups, (QVector<int>{admin, trucks}));
}

void TestDeviceEditDialog::editModeShowsTheDevice() {
    const DeviceInfo device{42, 1, QStringLiteral("Фура 7"), {trucks}, true};
    DeviceEditDialog dialog(nullptr, handler.get(), device);
    QVERIFY(showDialog(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Редактирование устройства"));
    QCOMPARE(child<QLineEdit>(&dialog, "imeiEdit")->text(), QStringLiteral("000000000000001"));
    QCOMPARE(child<QLineEdit>(&dialog, "nameEdit")->text(), device.name);
    QVERIFY(child<QCheckBox>(&dialog, "forAllCheck")->isChecked());
    auto* view = child<QListView>(&dialog, "groupsView");
    QVERIFY(!view->isEnabled());
    QCOMPARE(listRows(view), (QVector<ListRow>{{QStringLiteral("Администратор"), admin, false, false},
                                               {QStringLiteral("Drivers"), drivers, false, true},
                                               {QStringLiteral("Грузовики"), trucks, true, true}}));
    // Unchanged, the device comes back as it was, plus the administrators' group.
    const DeviceInfo d = accepted(dialog);
    QCOMPARE(d, (DeviceInfo{42, 1, device.name, {admin, trucks}, true}));
}

void TestDeviceEditDialog::storedValuesLongerThanTheFieldsStayWhole() {
    const DeviceInfo device{7, 9223372036854775807ULL, QString(255, QChar(0x0416)), {admin}, false};
    DeviceEditDialog dialog(nullptr, handler.get(), device);
    QVERIFY(showDialog(&dialog));
    QCOMPARE(child<QLineEdit>(&dialog, "imeiEdit")->text(), QStringLiteral("9223372036854775807"));
    QCOMPARE(accepted(dialog), device);

    // Typed anew, the IMEI must have 15 digits.
    DeviceEditDialog again(nullptr, handler.get(), device);
    QVERIFY(showDialog(&again));
    auto* imei = child<QLineEdit>(&again, "imeiEdit");
    imei->end(false);
    QTest::keyClick(imei, Qt::Key_Backspace);
    pressOk(&again, QStringLiteral("Введите IMEI устройства (15 цифр)!"));
}

void TestDeviceEditDialog::adminRowStaysCheckedOnUncheckAll() {
    DeviceEditDialog dialog(nullptr, handler.get(),
                            DeviceInfo{3, 100000000000003, QString(), {drivers}, false});
    QVERIFY(showDialog(&dialog));
    auto* view = child<QListView>(&dialog, "groupsView");
    child(&dialog, "checkAll")->click();
    QCOMPARE(listRows(view).at(0), (ListRow{QStringLiteral("Администратор"), admin, true, false}));
    child(&dialog, "uncheckAll")->click();
    QCOMPARE(listRows(view), (QVector<ListRow>{{QStringLiteral("Администратор"), admin, true, false},
                                               {QStringLiteral("Drivers"), drivers, false, true},
                                               {QStringLiteral("Грузовики"), trucks, false, true}}));
    QCOMPARE(accepted(dialog).groups, QVector<int>{admin});
}

void TestDeviceEditDialog::forAllGreysTheListButKeepsTheGroups() {
    DeviceEditDialog dialog(nullptr, handler.get(), DeviceInfo());
    QVERIFY(showDialog(&dialog));
    typeText(child<QLineEdit>(&dialog, "imeiEdit"), QStringLiteral("100000000000001"));
    auto* view = child<QListView>(&dialog, "groupsView");
    toggleRow(view, 1);
    auto* forAll = child<QCheckBox>(&dialog, "forAllCheck");
    forAll->click();
    QVERIFY(!view->isEnabled());
    QVERIFY(child(&dialog, "checkAll")->isEnabled());
    QVERIFY(child(&dialog, "addNewGroup")->isEnabled());
    const DeviceInfo d = accepted(dialog);
    QCOMPARE(d.forAll, true);
    QCOMPARE(d.groups, (QVector<int>{admin, drivers}));
    forAll->click();
    QVERIFY(view->isEnabled());
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

void TestDeviceEditDialog::addNewGroup() {
    QFETCH(QStringList, typedNames);
    QFETCH(QStringList, messages);
    QFETCH(bool, added);
    DeviceEditDialog dialog(nullptr, handler.get(), DeviceInfo());
    QVERIFY(showDialog(&dialog));
    auto* view = child<QListView>(&dialog, "groupsView");
    toggleRow(view, 1);
    const QVector<ListRow> before = listRows(view);
    const int groupsBefore = TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM groups_list")).toInt();

    ModalAnswerer answers;
    answers.expect("GroupEditDialog", [&](QWidget* w) {
        QCOMPARE(w->parentWidget(), &dialog);
        QCOMPARE(w->windowTitle(), QStringLiteral("Добавление новой группы"));
        auto* name = child<QLineEdit>(w, "groupNameEdit");
        if (typedNames.isEmpty()) {
            child<QDialogButtonBox>(w, "buttonBox")->button(QDialogButtonBox::Cancel)->click();
            return;
        }
        for (const QString& typed : qAsConst(typedNames)) {
            name->clear();
            typeText(name, typed);
            okButton(w)->click();
        }
    });
    for (int i = 0; i < messages.size(); ++i)
        answers.expectMessage();
    child(&dialog, "addNewGroup")->click();
    QVERIFY(answers.allAnswered());
    QVERIFY2(answers.unexpected.isEmpty(), qPrintable(answers.unexpected.value(0).text));
    QStringList shown;
    for (const ModalAnswerer::Seen& s : qAsConst(answers.seen)) {
        if (s.className == QLatin1String("QMessageBox"))
            shown << s.text;
    }
    QCOMPARE(shown, messages);

    const int groupsAfter = TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM groups_list")).toInt();
    QCOMPARE(groupsAfter, groupsBefore + (added ? 1 : 0));
    if (!added) {
        QCOMPARE(listRows(view), before);
        return;
    }
    const int newId =
        TestDb::scalar(QStringLiteral("SELECT id FROM groups_list WHERE group_name='Курьеры'")).toInt();
    QVERIFY(newId > 0);
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM user_groups WHERE group_id=%1").arg(newId))
                 .toInt(),
             0);
    // Rebuilt from the database: the new group unchecked, the marks set so far back to the defaults.
    QCOMPARE(listRows(view), (QVector<ListRow>{{QStringLiteral("Администратор"), admin, true, false},
                                               {QStringLiteral("Drivers"), drivers, false, true},
                                               {QStringLiteral("Грузовики"), trucks, false, true},
                                               {QStringLiteral("Курьеры"), newId, false, true}}));
}

void TestDeviceEditDialog::completerOffersTheGivenImeis() {
    DeviceEditDialog dialog(nullptr, handler.get(), DeviceInfo());
    QVERIFY(showDialog(&dialog));
    dialog.setCompleterList({QStringLiteral("100000000000001"), QStringLiteral("100000000000002"),
                             QStringLiteral("200000000000003")});
    auto* imei = child<QLineEdit>(&dialog, "imeiEdit");
    QCompleter* completer = imei->completer();
    QVERIFY(completer);
    typeText(imei, QStringLiteral("1"));
    QCOMPARE(completer->completionCount(), 2);
    dialog.setCompleterList({QStringLiteral("100000000000009")});
    QCOMPARE(completer->model()->rowCount(), 1);
    imei->clear();
    typeText(imei, QStringLiteral("10"));
    QCOMPARE(completer->completionCount(), 1);
    QCOMPARE(completer->currentCompletion(), QStringLiteral("100000000000009"));
}

QTEST_MAIN(TestDeviceEditDialog)
#include "tst_deviceeditdialog.moc"
