#include "dialogs/groupeditdialog.h"
#include "dialogtest.h"

#include <QListView>

class TestGroupEditDialog : public QObject, public GroupsFixture {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

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
        QString error;
        return handler->addUser(UserInfo{0, login, QByteArray(64, 'p'), groups}, error)
                   ? handler->getUserId(login)
                   : 0;
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

void TestGroupEditDialog::members_data() {
    QTest::addColumn<bool>("edit");
    QTest::addColumn<QString>("action"); // rows toggled by number, or a button
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected"); // the selection as logins, in list order
    QTest::addColumn<QString>("error");
    const auto row = [](const char* name, bool edit, const char* action, const QString& typed,
                        const char* expected, const QString& error = QString()) {
        QTest::newRow(name) << edit << QString::fromUtf8(action) << typed << QString::fromLatin1(expected)
                            << error;
    };
    row("add: none checked, one toggled twice, name trimmed", false, "323", QStringLiteral(" Курьеры "),
        "boris");
    row("edit: members checked, one unchecked", true, "1", QStringLiteral("Водители"), "vera");
    row("edit: Снять все, name cut at 254", true, "uncheckAll", QString(300, QLatin1Char('g')), "");
    row("edit: Выбрать все", true, "checkAll", QStringLiteral("Водители"), "root,anna,boris,vera");
    row("edit: blank name", true, "1", QStringLiteral("  "), "", QStringLiteral("Введите имя группы!"));
    // named as the administrators' group is shown or stored
    for (const char* name : {"Администраторы", " администратор ", "ADMIN"}) {
        const QString typed = QString::fromUtf8(name);
        row(name, !typed.startsWith(QLatin1Char(' ')), "", typed, "",
            QStringLiteral("Имя «%1» носит группа администраторов, выберите другое!").arg(typed.trimmed()));
    }
}

void TestGroupEditDialog::members() {
    QFETCH(bool, edit);
    QFETCH(QString, action);
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    QFETCH(QString, error);
    GroupEditDialog dialog(nullptr, handler.get(),
                           edit ? GroupInfo{drivers, QStringLiteral("Drivers")} : GroupInfo(),
                           handler->getUsers());
    QVERIFY(showDialog(&dialog));
    auto* view = child<QListView>(&dialog, "usersView");
    QCOMPARE(listRows(view), (ListRows{{QStringLiteral("root"), 1, false, true},
                                       {QStringLiteral("anna"), anna, edit, true},
                                       {QStringLiteral("boris"), boris, false, true},
                                       {QStringLiteral("vera"), vera, edit, true}}));
    if (action.isEmpty()) {
    } else if (action.at(0).isDigit()) {
        for (const QChar row : action)
            toggleRow(view, row.digitValue());
    } else {
        child(&dialog, qPrintable(action))->click();
    }
    auto* name = child<QLineEdit>(&dialog, "groupNameEdit");
    name->selectAll();
    QTest::keyClick(name, Qt::Key_Delete);
    typeText(name, typed);
    pressOk(&dialog, error);
    if (QTest::currentTestFailed() || !error.isEmpty())
        return;
    QCOMPARE(dialog.getGroupInfo(), (GroupInfo{edit ? drivers : 0, typed.left(254).trimmed()}));
    QStringList logins;
    for (int id : dialog.getSelectedUsers())
        logins << handler->getUser(id).login;
    QCOMPARE(logins.join(QLatin1Char(',')), expected);

    // Reopened with what it returned, in the same mode, it shows the same.
    GroupEditDialog again(nullptr, handler.get(), dialog.getGroupInfo(), handler->getUsers());
    again.setSelectedUsers(dialog.getSelectedUsers());
    QCOMPARE(again.windowTitle(), dialog.windowTitle());
    QCOMPARE(child<QLineEdit>(&again, "groupNameEdit")->text(), dialog.getGroupInfo().name);
    QCOMPARE(listRows(child<QListView>(&again, "usersView")), listRows(view));
}

// Its name cannot be edited and root's row stays checked and disabled.
void TestGroupEditDialog::adminGroupKeepsItsNameAndRoot() {
    GroupEditDialog dialog(nullptr, handler.get(), GroupInfo{admin, QStringLiteral("Admin")},
                           handler->getUsers());
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
    dialog.setSelectedUsers({boris});
    QVERIFY(showDialog(&dialog));
    pressOk(&dialog, QString());
    QCOMPARE(dialog.getSelectedUsers(), (QVector<int>{1, boris}));
}

QTEST_MAIN(TestGroupEditDialog)
#include "tst_groupeditdialog.moc"
