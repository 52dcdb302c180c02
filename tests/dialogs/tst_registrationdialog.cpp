#include "dialogs/passwordedit.h"
#include "dialogs/registrationdialog.h"
#include "dialogtest.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QListView>

class TestRegistrationDialog : public QObject, public GroupsFixture {
    Q_OBJECT

private slots:
    void init() { QVERIFY(resetDatabase()); }
    void cleanup() { releaseDatabase(); }

    void addModeChecks_data();
    void addModeChecks();
    void editModePasswordOnlyWhenAsked();
    void groupsList();
    void passwordEdit_data();
    void passwordEdit();
};

void TestRegistrationDialog::addModeChecks_data() {
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("pw");
    QTest::addColumn<QString>("pw2");
    QTest::addColumn<QString>("error");
    const auto row = [](const char* name, const QString& login, const QString& pw, const QString& pw2,
                        const QString& error = QString()) {
        QTest::newRow(name) << login << pw << pw2 << error;
    };
    row("empty login", "", "a", "a", QStringLiteral("Введите логин!"));
    row("empty passwords", "ivan", "", "", QStringLiteral("Введите пароль!"));
    row("repetition differs in case", "ivan", "secret", "secreT", QStringLiteral("Пароли не совпадают!"));
    row("repetition empty", "ivan", "secret", "", QStringLiteral("Пароли не совпадают!"));
    row("accepted", "ivan", "secret", "secret");
    row("login of blanks", "   ", "p", "p");
    row("cyrillic", QStringLiteral("Иван"), QStringLiteral("пароль"), QStringLiteral("пароль"));
    row("password cut at 30", "ivan", QString(35, QLatin1Char('x')), QString(30, QLatin1Char('x')));
}

void TestRegistrationDialog::addModeChecks() {
    QFETCH(QString, login);
    QFETCH(QString, pw);
    QFETCH(QString, pw2);
    QFETCH(QString, error);
    RegistrationDialog dialog(nullptr, QStringLiteral("Новый пользователь"), handler.get(), UserInfo());
    QVERIFY(showDialog(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Регистрация пользователя"));
    QCOMPARE(child<QLabel>(&dialog, "header")->text(), QStringLiteral("Новый пользователь"));
    QVERIFY(!child<QCheckBox>(&dialog, "changePw")->isVisible());
    QVERIFY(!child<QGroupBox>(&dialog, "groupsGroup")->isVisible());
    typeText(child<QLineEdit>(&dialog, "loginEdit"), login);
    typeText(child<QLineEdit>(&dialog, "pwEdit"), pw);
    typeText(child<QLineEdit>(&dialog, "pwEdit2"), pw2);
    pressOk(&dialog, error);
    if (QTest::currentTestFailed())
        return;
    const UserInfo expected{0, login, handler->hashPassword(pw.left(30)), {}};
    QCOMPARE(dialog.getUserInfo(), error.isEmpty() ? expected : UserInfo());
}

void TestRegistrationDialog::editModePasswordOnlyWhenAsked() {
    // A stored login longer than the field's limit is not cut.
    const UserInfo user{
        5, QString(40, QLatin1Char('l')), handler->hashPassword(QStringLiteral("old")), {drivers, admin}};
    RegistrationDialog dialog(nullptr, QString(), handler.get(), user);
    QVERIFY(showDialog(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Редактирование пользователя"));
    QCOMPARE(child<QLineEdit>(&dialog, "loginEdit")->text(), user.login);
    auto* changePw = child<QCheckBox>(&dialog, "changePw");
    auto* pwEdit = child<QLineEdit>(&dialog, "pwEdit");
    QVERIFY(changePw->isVisible() && !changePw->isChecked() && !pwEdit->isVisible());
    // Unchanged, everything comes back; the groups in list order.
    pressOk(&dialog, QString());
    QCOMPARE(dialog.getUserInfo(), (UserInfo{5, user.login, user.password, {admin, drivers}}));

    QVERIFY(showDialog(&dialog));
    changePw->click();
    QVERIFY(pwEdit->isVisible() && child<QLineEdit>(&dialog, "pwEdit2")->isVisible());
    pressOk(&dialog, QStringLiteral("Введите пароль!"));
    typeText(pwEdit, QStringLiteral("new"));
    typeText(child<QLineEdit>(&dialog, "pwEdit2"), QStringLiteral("new"));
    pressOk(&dialog, QString());
    QCOMPARE(dialog.getUserInfo().password, handler->hashPassword(QStringLiteral("new")));

    // Unticked again, the fields are hidden and not read.
    QVERIFY(showDialog(&dialog));
    changePw->click();
    QVERIFY(!pwEdit->isVisible());
    child<QLineEdit>(&dialog, "pwEdit2")->setText(QStringLiteral("other"));
    pressOk(&dialog, QString());
    QCOMPARE(dialog.getUserInfo().password, handler->hashPassword(QStringLiteral("new")));
}

void TestRegistrationDialog::groupsList() {
    RegistrationDialog dialog(nullptr, QString(), handler.get(), UserInfo{7, QStringLiteral("bob"), "h", {}});
    QVERIFY(showDialog(&dialog));
    auto* box = child<QGroupBox>(&dialog, "groupsGroup");
    auto* showGroups = child<QCheckBox>(&dialog, "showGroups");
    showGroups->click();
    QVERIFY(box->isVisible());
    auto* view = child<QListView>(&dialog, "groupsView");
    // The administrators' group is an ordinary row here.
    const ListRows rows{{QStringLiteral("Администратор"), admin, false, true},
                        {QStringLiteral("Drivers"), drivers, false, true},
                        {QStringLiteral("Грузовики"), trucks, false, true}};
    QCOMPARE(listRows(view), rows);
    toggleRow(view, 0);
    pressOk(&dialog, QString());
    QCOMPARE(dialog.getUserInfo().groups, QVector<int>{admin});
    child(&dialog, "uncheckAll")->click();
    pressOk(&dialog, QString());
    QVERIFY(dialog.getUserInfo().groups.isEmpty());
    child(&dialog, "checkAll")->click();
    showGroups->click();
    QVERIFY(!box->isVisible());
    // Hidden, the list still decides the groups.
    pressOk(&dialog, QString());
    QCOMPARE(dialog.getUserInfo().groups, (QVector<int>{admin, drivers, trucks}));

    // "Добавить новую группу" rebuilds the list with the new group.
    const int id = addGroupByButton(&dialog, QStringLiteral("Операторы"));
    QCOMPARE(listRows(view), (ListRows(rows) << ListRow{QStringLiteral("Операторы"), id, false, true}));
}

void TestRegistrationDialog::passwordEdit_data() {
    QTest::addColumn<QString>("pw");
    QTest::addColumn<QString>("pw2");
    QTest::addColumn<QString>("error");
    QTest::newRow("empty") << QString() << QString() << QStringLiteral("Введите пароль!");
    QTest::newRow("only the first") << QStringLiteral("abc") << QString()
                                    << QStringLiteral("Пароли не совпадают!");
    QTest::newRow("case differs") << QStringLiteral("Abc") << QStringLiteral("abc")
                                  << QStringLiteral("Пароли не совпадают!");
    QTest::newRow("same") << QStringLiteral("новый") << QStringLiteral("новый") << QString();
    QTest::newRow("no length limit") << QString(100, QLatin1Char('p')) << QString(100, QLatin1Char('p'))
                                     << QString();
}

void TestRegistrationDialog::passwordEdit() {
    QFETCH(QString, pw);
    QFETCH(QString, pw2);
    QFETCH(QString, error);
    PasswordEdit dialog;
    dialog.setHeader(QStringLiteral("Изменение пароля пользователя:"));
    QVERIFY(showDialog(&dialog));
    QCOMPARE(child<QLabel>(&dialog, "headerLabel")->text(), QStringLiteral("Изменение пароля пользователя:"));
    typeText(child<QLineEdit>(&dialog, "pwEdit"), pw);
    typeText(child<QLineEdit>(&dialog, "pwEdit2"), pw2);
    // Its error boxes have no parent window.
    pressOk(&dialog, error, false);
    if (!QTest::currentTestFailed() && error.isEmpty())
        QCOMPARE(dialog.getPassword(), pw);
}

QTEST_MAIN(TestRegistrationDialog)
#include "tst_registrationdialog.moc"
