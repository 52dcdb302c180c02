#include "dialogs/passwordedit.h"
#include "dialogs/registrationdialog.h"
#include "dialogtest.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>

class TestRegistrationDialog : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() {
        handler.reset();
        flushDeferredDeletes();
    }

    void addModeChecks_data();
    void addModeChecks();
    void addModeLayout();
    void editModeUnchangedKeepsEverything();
    void editModePasswordOnlyWhenAsked();
    void groupsList();
    void addNewGroupRefreshesTheList();
    void passwordEdit_data();
    void passwordEdit();

private:
    std::unique_ptr<ConfigHandler> handler;
    int admin = 0, drivers = 0;
};

void TestRegistrationDialog::init() {
    ORB_RESET_DB();
    drivers = insertGroup(QStringLiteral("Drivers"));
    handler = connectedHandler();
    admin = handler->adminGroupId();
}

void TestRegistrationDialog::addModeChecks_data() {
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("pw");
    QTest::addColumn<QString>("pw2");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("storedPw"); // the password whose hash comes back
    QTest::newRow("empty login") << ""
                                 << "a"
                                 << "a"
                                 << "Введите логин!"
                                 << "";
    QTest::newRow("empty passwords") << "ivan"
                                     << ""
                                     << ""
                                     << "Введите пароль!"
                                     << "";
    QTest::newRow("repetition differs") << "ivan"
                                        << "secret"
                                        << "secreT"
                                        << "Пароли не совпадают!"
                                        << "";
    QTest::newRow("repetition empty") << "ivan"
                                      << "secret"
                                      << ""
                                      << "Пароли не совпадают!"
                                      << "";
    QTest::newRow("accepted") << "ivan"
                              << "secret"
                              << "secret"
                              << ""
                              << "secret";
    QTest::newRow("login of blanks") << "   "
                                     << "p"
                                     << "p"
                                     << ""
                                     << "p";
    QTest::newRow("cyrillic") << "Иван"
                              << "пароль"
                              << "пароль"
                              << ""
                              << "пароль";
    QTest::newRow("password cut at 30")
        << "ivan" << QString(35, QLatin1Char('x')) << QString(30, QLatin1Char('x')) << ""
        << QString(30, QLatin1Char('x'));
}

void TestRegistrationDialog::addModeChecks() {
    QFETCH(QString, login);
    QFETCH(QString, pw);
    QFETCH(QString, pw2);
    QFETCH(QString, error);
    QFETCH(QString, storedPw);
    RegistrationDialog dialog(nullptr, QStringLiteral("Новый пользователь"), handler.get(), UserInfo());
    QVERIFY(showDialog(&dialog));
    typeText(child<QLineEdit>(&dialog, "loginEdit"), login);
    typeText(child<QLineEdit>(&dialog, "pwEdit"), pw);
    typeText(child<QLineEdit>(&dialog, "pwEdit2"), pw2);
    pressOk(&dialog, error);
    if (QTest::currentTestFailed())
        return;
    if (!error.isEmpty()) {
        QCOMPARE(dialog.getUserInfo(), UserInfo());
        return;
    }
    const UserInfo u = dialog.getUserInfo();
    QCOMPARE(u.id, 0);
    QCOMPARE(u.login, login);
    QCOMPARE(u.password, handler->hashPassword(storedPw));
    QCOMPARE(u.password.size(), 64);
    QVERIFY(u.groups.isEmpty());
}

void TestRegistrationDialog::addModeLayout() {
    RegistrationDialog dialog(nullptr, QStringLiteral("Новый пользователь"), handler.get(), UserInfo());
    QVERIFY(showDialog(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Регистрация пользователя"));
    QCOMPARE(child<QLabel>(&dialog, "header")->text(), QStringLiteral("Новый пользователь"));
    QVERIFY(!child<QCheckBox>(&dialog, "changePw")->isVisible());
    QVERIFY(child<QLineEdit>(&dialog, "pwEdit")->isVisible());
    QVERIFY(child<QLineEdit>(&dialog, "pwEdit2")->isVisible());
    QVERIFY(!child<QGroupBox>(&dialog, "groupsGroup")->isVisible());
}

void TestRegistrationDialog::editModeUnchangedKeepsEverything() {
    const UserInfo user{
        5, QStringLiteral("anna"), handler->hashPassword(QStringLiteral("old")), {drivers, admin}};
    RegistrationDialog dialog(nullptr, QString(), handler.get(), user);
    QVERIFY(showDialog(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Редактирование пользователя"));
    QCOMPARE(child<QLineEdit>(&dialog, "loginEdit")->text(), user.login);
    QVERIFY(child<QCheckBox>(&dialog, "changePw")->isVisible());
    QVERIFY(!child<QCheckBox>(&dialog, "changePw")->isChecked());
    QVERIFY(!child<QLineEdit>(&dialog, "pwEdit")->isVisible());
    okButton(&dialog)->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    // Groups come back in list order.
    QCOMPARE(dialog.getUserInfo(), (UserInfo{5, user.login, user.password, {admin, drivers}}));
}

void TestRegistrationDialog::editModePasswordOnlyWhenAsked() {
    const UserInfo user{5, QString(40, QLatin1Char('l')), handler->hashPassword(QStringLiteral("old")), {}};
    RegistrationDialog dialog(nullptr, QString(), handler.get(), user);
    QVERIFY(showDialog(&dialog));
    // A stored login longer than the field's limit is not cut.
    QCOMPARE(child<QLineEdit>(&dialog, "loginEdit")->text(), user.login);
    auto* changePw = child<QCheckBox>(&dialog, "changePw");
    changePw->click();
    QVERIFY(child<QLineEdit>(&dialog, "pwEdit")->isVisible());
    QVERIFY(child<QLineEdit>(&dialog, "pwEdit2")->isVisible());
    pressOk(&dialog, QStringLiteral("Введите пароль!"));

    changePw->click();
    QVERIFY(!child<QLineEdit>(&dialog, "pwEdit")->isVisible());
    okButton(&dialog)->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.getUserInfo().password, user.password);

    RegistrationDialog again(nullptr, QString(), handler.get(), user);
    QVERIFY(showDialog(&again));
    child<QCheckBox>(&again, "changePw")->click();
    typeText(child<QLineEdit>(&again, "pwEdit"), QStringLiteral("new"));
    typeText(child<QLineEdit>(&again, "pwEdit2"), QStringLiteral("new"));
    okButton(&again)->click();
    QCOMPARE(again.result(), int(QDialog::Accepted));
    QCOMPARE(again.getUserInfo().password, handler->hashPassword(QStringLiteral("new")));
}

void TestRegistrationDialog::groupsList() {
    RegistrationDialog dialog(nullptr, QString(), handler.get(), UserInfo{7, QStringLiteral("bob"), "h", {}});
    QVERIFY(showDialog(&dialog));
    auto* box = child<QGroupBox>(&dialog, "groupsGroup");
    auto* showGroups = child<QCheckBox>(&dialog, "showGroups");
    showGroups->click();
    QVERIFY(box->isVisible());
    auto* view = child<QListView>(&dialog, "groupsView");
    QCOMPARE(listRows(view), (QVector<ListRow>{{QStringLiteral("Администратор"), admin, false, true},
                                               {QStringLiteral("Drivers"), drivers, false, true}}));
    toggleRow(view, 0);
    okButton(&dialog)->click();
    QCOMPARE(dialog.getUserInfo().groups, QVector<int>{admin});
    child(&dialog, "uncheckAll")->click();
    okButton(&dialog)->click();
    QVERIFY(dialog.getUserInfo().groups.isEmpty());
    child(&dialog, "checkAll")->click();
    showGroups->click();
    QVERIFY(!box->isVisible());
    // Hidden, the list still decides the groups.
    okButton(&dialog)->click();
    QCOMPARE(dialog.getUserInfo().groups, (QVector<int>{admin, drivers}));
}

void TestRegistrationDialog::addNewGroupRefreshesTheList() {
    RegistrationDialog dialog(nullptr, QString(), handler.get(), UserInfo());
    QVERIFY(showDialog(&dialog));
    child<QCheckBox>(&dialog, "showGroups")->click();
    auto* view = child<QListView>(&dialog, "groupsView");
    toggleRow(view, 1);
    ModalAnswerer answers;
    answers.expect("GroupEditDialog", [](QWidget* w) {
        typeText(child<QLineEdit>(w, "groupNameEdit"), QStringLiteral("Операторы"));
        okButton(w)->click();
    });
    child(&dialog, "addNewGroup")->click();
    QVERIFY(answers.allAnswered());
    QVERIFY(answers.unexpected.isEmpty());
    const int id =
        TestDb::scalar(QStringLiteral("SELECT id FROM groups_list WHERE group_name='Операторы'")).toInt();
    QVERIFY(id > 0);
    QCOMPARE(listRows(view), (QVector<ListRow>{{QStringLiteral("Администратор"), admin, false, true},
                                               {QStringLiteral("Drivers"), drivers, false, true},
                                               {QStringLiteral("Операторы"), id, false, true}}));
}

void TestRegistrationDialog::passwordEdit_data() {
    QTest::addColumn<QString>("pw");
    QTest::addColumn<QString>("pw2");
    QTest::addColumn<QString>("error");
    QTest::newRow("empty") << ""
                           << ""
                           << "Введите пароль!";
    QTest::newRow("only the first") << "abc"
                                    << ""
                                    << "Пароли не совпадают!";
    QTest::newRow("letter case differs") << "Abc"
                                         << "abc"
                                         << "Пароли не совпадают!";
    QTest::newRow("same") << "новый"
                          << "новый"
                          << "";
    QTest::newRow("no length limit") << QString(100, QLatin1Char('p')) << QString(100, QLatin1Char('p'))
                                     << "";
}

void TestRegistrationDialog::passwordEdit() {
    QFETCH(QString, pw);
    QFETCH(QString, pw2);
    QFETCH(QString, error);
    PasswordEdit dialog;
    dialog.setHeader(QStringLiteral("Изменение пароля пользователя:"));
    QVERIFY(showDialog(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Смена пароля"));
    QCOMPARE(child<QLabel>(&dialog, "headerLabel")->text(), QStringLiteral("Изменение пароля пользователя:"));
    typeText(child<QLineEdit>(&dialog, "pwEdit"), pw);
    typeText(child<QLineEdit>(&dialog, "pwEdit2"), pw2);
    // Its error boxes have no parent window.
    pressOk(&dialog, error, false);
    if (QTest::currentTestFailed() || !error.isEmpty())
        return;
    QCOMPARE(dialog.getPassword(), pw);
}

QTEST_MAIN(TestRegistrationDialog)
#include "tst_registrationdialog.moc"
