#include "dialogs/groupeditdialog.h"
#include "dialogtest.h"

#include <QListView>

class TestGroupEditDialog : public QObject, public GroupsFixture {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void names_data();
    void names();
    void members_data();
    void members();
    void adminGroupKeepsItsNameAndRoot();

private:
    int anna = 0, boris = 0, vera = 0;
    qint64 rowsBefore = 0;
    static qint64 writtenRows() {
        return TestDb::scalar(QStringLiteral("SELECT (SELECT COUNT(*) FROM groups_list) * 1000 + "
                                             "(SELECT COUNT(*) FROM user_groups)"))
            .toLongLong();
    }
    int insertUser(const QString& login, const QVector<int>& groups = {}) {
        const int id = insertRow(
            QStringLiteral("INSERT INTO users (user_login, user_password) VALUES (?, UNHEX(SHA2(?, 512)))"),
            {login, login});
        for (int g : groups)
            insertRow(QStringLiteral("INSERT INTO user_groups (user_id, group_id) VALUES (?, ?)"), {id, g});
        return id;
    }
};

void TestGroupEditDialog::init() {
    QVERIFY(resetDatabase());
    anna = insertUser(QStringLiteral("anna"), {drivers});
    boris = insertUser(QStringLiteral("boris"));
    vera = insertUser(QStringLiteral("vera"), {drivers});
    rowsBefore = writtenRows();
}

// The dialog itself never writes.
void TestGroupEditDialog::cleanup() {
    releaseDatabase();
    if (!QTest::currentTestFailed())
        QCOMPARE(writtenRows(), rowsBefore);
}

void TestGroupEditDialog::names_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("name");
    QTest::newRow("empty") << QString() << QStringLiteral("Введите имя группы!") << QString();
    QTest::newRow("blanks are kept") << QStringLiteral("  ") << QString() << QStringLiteral("  ");
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
    if (!QTest::currentTestFailed())
        QCOMPARE(dialog.getGroupInfo(), (error.isEmpty() ? GroupInfo{0, name} : GroupInfo()));
}

void TestGroupEditDialog::members_data() {
    QTest::addColumn<bool>("edit");
    QTest::addColumn<QString>("action"); // rows toggled by number, or a button
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, bool edit, const char* action, const char* expected) {
        QTest::newRow(name) << edit << QString::fromUtf8(action) << QString::fromLatin1(expected);
    };
    // The expected selection as logins, in list order.
    row("add: none checked, one toggled twice", false, "323", "boris");
    row("edit: members checked, one unchecked", true, "1", "vera");
    row("edit: Снять все", true, "uncheckAll", "");
    row("edit: Выбрать все", true, "checkAll", "root,anna,boris,vera");
}

void TestGroupEditDialog::members() {
    QFETCH(bool, edit);
    QFETCH(QString, action);
    QFETCH(QString, expected);
    GroupEditDialog dialog(nullptr, handler.get(),
                           edit ? GroupInfo{drivers, QStringLiteral("Drivers")} : GroupInfo());
    QVERIFY(showDialog(&dialog));
    auto* view = child<QListView>(&dialog, "usersView");
    QCOMPARE(listRows(view), (ListRows{{QStringLiteral("root"), 1, false, true},
                                       {QStringLiteral("anna"), anna, edit, true},
                                       {QStringLiteral("boris"), boris, false, true},
                                       {QStringLiteral("vera"), vera, edit, true}}));
    if (action.at(0).isDigit()) {
        for (const QChar row : action)
            toggleRow(view, row.digitValue());
    } else {
        child(&dialog, qPrintable(action))->click();
    }
    auto* name = child<QLineEdit>(&dialog, "groupNameEdit");
    name->selectAll();
    typeText(name, QStringLiteral("Водители"));
    pressOk(&dialog, QString());
    QCOMPARE(dialog.getGroupInfo(), (GroupInfo{edit ? drivers : 0, QStringLiteral("Водители")}));
    QStringList logins;
    for (int id : dialog.getSelectedUsers())
        logins << handler->getUser(id).login;
    QCOMPARE(logins.join(QLatin1Char(',')), expected);
}

// Its name cannot be edited and root's row stays checked and disabled.
void TestGroupEditDialog::adminGroupKeepsItsNameAndRoot() {
    insertRow(QStringLiteral("INSERT INTO user_groups (user_id, group_id) VALUES (?, ?)"), {boris, admin});
    rowsBefore = writtenRows();
    GroupEditDialog dialog(nullptr, handler.get(), GroupInfo{admin, QStringLiteral("Admin")});
    QVERIFY(showDialog(&dialog));
    typeText(child<QLineEdit>(&dialog, "groupNameEdit"), QStringLiteral("x"));
    child(&dialog, "uncheckAll")->click();
    QCOMPARE(listRows(child<QListView>(&dialog, "usersView")),
             (ListRows{{QStringLiteral("root"), 1, true, false},
                       {QStringLiteral("anna"), anna, false, true},
                       {QStringLiteral("boris"), boris, false, true},
                       {QStringLiteral("vera"), vera, false, true}}));
    pressOk(&dialog, QString());
    QCOMPARE(dialog.getGroupInfo(), (GroupInfo{admin, QStringLiteral("Admin")}));
    QCOMPARE(dialog.getSelectedUsers(), QVector<int>{1});
}

QTEST_MAIN(TestGroupEditDialog)
#include "tst_groupeditdialog.moc"
