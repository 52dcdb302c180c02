#include "dialogs/groupeditdialog.h"
#include "dialogtest.h"

#include <QLineEdit>
#include <QListView>

class TestGroupEditDialog : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void names_data();
    void names();
    void addModeStartsWithNoMembers();
    void editModeStartsWithTheMembers();
    void checkAllAndUncheckAll();
    void adminGroupKeepsItsNameAndRoot();

private:
    std::unique_ptr<ConfigHandler> handler;
    int anna = 0, boris = 0, vera = 0, drivers = 0;
    qint64 rowsBefore = 0;
    static qint64 writtenRows() {
        return TestDb::scalar(QStringLiteral("SELECT (SELECT COUNT(*) FROM groups_list) * 1000 + "
                                             "(SELECT COUNT(*) FROM user_groups)"))
            .toLongLong();
    }
};

void TestGroupEditDialog::init() {
    ORB_RESET_DB();
    drivers = insertGroup(QStringLiteral("Drivers"));
    anna = insertUser(QStringLiteral("anna"), {drivers});
    boris = insertUser(QStringLiteral("boris"));
    vera = insertUser(QStringLiteral("vera"), {drivers});
    handler = connectedHandler();
    rowsBefore = writtenRows();
}

void TestGroupEditDialog::cleanup() {
    handler.reset();
    flushDeferredDeletes();
    // The dialog itself never writes.
    if (!QTest::currentTestFailed())
        QCOMPARE(writtenRows(), rowsBefore);
}

void TestGroupEditDialog::names_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("name");
    QTest::newRow("empty") << QString() << QStringLiteral("Введите имя группы!") << QString();
    QTest::newRow("blanks are kept") << QStringLiteral("  ") << QString() << QStringLiteral("  ");
    QTest::newRow("cyrillic") << QStringLiteral("Водители") << QString() << QStringLiteral("Водители");
    QTest::newRow("cut at 254") << QString(300, QLatin1Char('g')) << QString()
                                << QString(254, QLatin1Char('g'));
}

void TestGroupEditDialog::names() {
    QFETCH(QString, typed);
    QFETCH(QString, error);
    QFETCH(QString, name);
    GroupEditDialog dialog(nullptr, handler.get(), GroupInfo());
    QVERIFY(showDialog(&dialog));
    typeText(child<QLineEdit>(&dialog, "groupNameEdit"), typed);
    pressOk(&dialog, error);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(dialog.getGroupInfo(), (error.isEmpty() ? GroupInfo{0, name} : GroupInfo()));
}

void TestGroupEditDialog::addModeStartsWithNoMembers() {
    GroupEditDialog dialog(nullptr, handler.get(), GroupInfo());
    QVERIFY(showDialog(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Добавление новой группы"));
    auto* view = child<QListView>(&dialog, "usersView");
    QCOMPARE(listRows(view), (QVector<ListRow>{{QStringLiteral("root"), 1, false, true},
                                               {QStringLiteral("anna"), anna, false, true},
                                               {QStringLiteral("boris"), boris, false, true},
                                               {QStringLiteral("vera"), vera, false, true}}));
    typeText(child<QLineEdit>(&dialog, "groupNameEdit"), QStringLiteral("Night shift"));
    toggleRow(view, 3);
    toggleRow(view, 2);
    toggleRow(view, 3); // checked and unchecked again
    okButton(&dialog)->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.getSelectedUsers(), QVector<int>{boris});
}

void TestGroupEditDialog::editModeStartsWithTheMembers() {
    GroupEditDialog dialog(nullptr, handler.get(), GroupInfo{drivers, QStringLiteral("Drivers")});
    QVERIFY(showDialog(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Редактирование группы"));
    auto* name = child<QLineEdit>(&dialog, "groupNameEdit");
    QCOMPARE(name->text(), QStringLiteral("Drivers"));
    QVERIFY(!name->isReadOnly());
    auto* view = child<QListView>(&dialog, "usersView");
    QCOMPARE(listRows(view), (QVector<ListRow>{{QStringLiteral("root"), 1, false, true},
                                               {QStringLiteral("anna"), anna, true, true},
                                               {QStringLiteral("boris"), boris, false, true},
                                               {QStringLiteral("vera"), vera, true, true}}));
    toggleRow(view, 1);
    name->selectAll();
    typeText(name, QStringLiteral("Водители"));
    okButton(&dialog)->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.getGroupInfo(), (GroupInfo{drivers, QStringLiteral("Водители")}));
    QCOMPARE(dialog.getSelectedUsers(), QVector<int>{vera});
}

void TestGroupEditDialog::checkAllAndUncheckAll() {
    GroupEditDialog dialog(nullptr, handler.get(), GroupInfo{drivers, QStringLiteral("Drivers")});
    QVERIFY(showDialog(&dialog));
    child(&dialog, "uncheckAll")->click();
    okButton(&dialog)->click();
    QVERIFY(dialog.getSelectedUsers().isEmpty());
    child(&dialog, "checkAll")->click();
    okButton(&dialog)->click();
    QCOMPARE(dialog.getSelectedUsers(), (QVector<int>{1, anna, boris, vera}));
}

void TestGroupEditDialog::adminGroupKeepsItsNameAndRoot() {
    const int admin = handler->adminGroupId();
    QVERIFY(admin > 0);
    TestDb::exec(
        QStringLiteral("INSERT INTO user_groups (user_id, group_id) VALUES (%1, %2)").arg(boris).arg(admin));
    rowsBefore = writtenRows();
    GroupEditDialog dialog(nullptr, handler.get(), GroupInfo{admin, QStringLiteral("Admin")});
    QVERIFY(showDialog(&dialog));
    auto* name = child<QLineEdit>(&dialog, "groupNameEdit");
    QVERIFY(name->isReadOnly());
    typeText(name, QStringLiteral("x"));
    QCOMPARE(name->text(), QStringLiteral("Admin"));
    auto* view = child<QListView>(&dialog, "usersView");
    QCOMPARE(listRows(view).at(0), (ListRow{QStringLiteral("root"), 1, true, false}));
    child(&dialog, "uncheckAll")->click();
    QCOMPARE(listRows(view), (QVector<ListRow>{{QStringLiteral("root"), 1, true, false},
                                               {QStringLiteral("anna"), anna, false, true},
                                               {QStringLiteral("boris"), boris, false, true},
                                               {QStringLiteral("vera"), vera, false, true}}));
    okButton(&dialog)->click();
    QCOMPARE(dialog.getGroupInfo(), (GroupInfo{admin, QStringLiteral("Admin")}));
    QCOMPARE(dialog.getSelectedUsers(), QVector<int>{1});
}

QTEST_MAIN(TestGroupEditDialog)
#include "tst_groupeditdialog.moc"
