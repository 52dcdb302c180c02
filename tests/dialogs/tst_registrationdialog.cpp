#include "dialogs/passwordedit.h"
#include "dialogs/registrationdialog.h"
#include "dialogtest.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QListView>

static const QString noPassword = QStringLiteral("Введите пароль!");
static const QString mismatch = QStringLiteral("Пароли не совпадают!");

class TestRegistrationDialog : public QObject, public GroupsFixture {
    Q_OBJECT

private slots:
    void init() { QVERIFY(resetDatabase()); }
    void cleanup() { releaseDatabase(); }

    void addMode_data();
    void addMode();
    void passwordEdit_data() { addMode_data(); }
    void passwordEdit();
    void editMode();
};

void TestRegistrationDialog::addMode_data() {
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("pw");
    QTest::addColumn<QString>("pw2");
    QTest::addColumn<QString>("error");
    const auto row = [](const char* name, const QString& login, const QString& pw, const QString& pw2,
                        const QString& error = QString()) {
        QTest::newRow(name) << login << pw << pw2 << error;
    };
    row("empty login", "", "a", "a", QStringLiteral("Введите логин!"));
    row("empty passwords", "ivan", "", "", noPassword);
    row("repetition differs in case", "ivan", "secret", "secreT", mismatch);
    row("repetition empty", "ivan", "secret", "", mismatch);
    row("cyrillic", QStringLiteral("Иван"), QStringLiteral("пароль"), QStringLiteral("пароль"));
    row("35 characters", "ivan", QString(35, QLatin1Char('x')), QString(35, QLatin1Char('x')));
}

// A new user's password is cut at 30 characters as typed.
void TestRegistrationDialog::addMode() {
    QFETCH(QString, login);
    QFETCH(QString, pw);
    QFETCH(QString, pw2);
    QFETCH(QString, error);
    RegistrationDialog dialog(nullptr, QStringLiteral("Новый пользователь"), handler.get(), UserInfo());
    QVERIFY(showDialog(&dialog));
    QVERIFY(!child<QGroupBox>(&dialog, "groupsGroup")->isVisible());
    typeText(child<QLineEdit>(&dialog, "loginEdit"), login);
    typeText(child<QLineEdit>(&dialog, "pwEdit"), pw);
    typeText(child<QLineEdit>(&dialog, "pwEdit2"), pw2);
    pressOk(&dialog, error);
    if (!QTest::currentTestFailed())
        QCOMPARE(dialog.getUserInfo(),
                 (error.isEmpty() ? UserInfo{0, login, handler->hashPassword(pw.left(30)), {}} : UserInfo()));
}

// No length limit here; its error boxes have no parent window.
void TestRegistrationDialog::passwordEdit() {
    QFETCH(QString, pw);
    QFETCH(QString, pw2);
    QFETCH(QString, error);
    PasswordEdit dialog;
    QVERIFY(showDialog(&dialog));
    typeText(child<QLineEdit>(&dialog, "pwEdit"), pw);
    typeText(child<QLineEdit>(&dialog, "pwEdit2"), pw2);
    if (error == QStringLiteral("Введите логин!"))
        error.clear();
    pressOk(&dialog, error, false);
    if (!QTest::currentTestFailed() && error.isEmpty())
        QCOMPARE(dialog.getPassword(), pw);
}

// The password is changed only when asked; the groups come in list order, and the list,
// hidden or not, decides them.
void TestRegistrationDialog::editMode() {
    // A stored login longer than the field's limit is not cut.
    const UserInfo user{
        5, QString(40, QLatin1Char('l')), handler->hashPassword(QStringLiteral("old")), {drivers, admin}};
    RegistrationDialog dialog(nullptr, QString(), handler.get(), user);
    QVERIFY(showDialog(&dialog));
    pressOk(&dialog, QString());
    QCOMPARE(dialog.getUserInfo(), (UserInfo{5, user.login, user.password, {admin, drivers}}));

    auto* changePw = child<QCheckBox>(&dialog, "changePw");
    auto* pwEdit = child<QLineEdit>(&dialog, "pwEdit");
    QVERIFY(showDialog(&dialog));
    changePw->click();
    pressOk(&dialog, noPassword);
    typeText(pwEdit, QStringLiteral("new"));
    typeText(child<QLineEdit>(&dialog, "pwEdit2"), QStringLiteral("new"));
    pressOk(&dialog, QString());
    QCOMPARE(dialog.getUserInfo().password, handler->hashPassword(QStringLiteral("new")));
    // Unticked again, the fields are hidden and not read.
    QVERIFY(showDialog(&dialog));
    changePw->click();
    QVERIFY(!pwEdit->isVisible());
    child<QLineEdit>(&dialog, "pwEdit2")->setText(QStringLiteral("other"));

    // The administrators' group is an ordinary row here.
    auto* showGroups = child<QCheckBox>(&dialog, "showGroups");
    showGroups->click();
    auto* view = child<QListView>(&dialog, "groupsView");
    QCOMPARE(listRows(view), (ListRows{{QStringLiteral("Администратор"), admin, true, true},
                                       {QStringLiteral("Drivers"), drivers, true, true},
                                       {QStringLiteral("Грузовики"), trucks, false, true}}));
    toggleRow(view, 0);
    pressOk(&dialog, QString());
    QCOMPARE(dialog.getUserInfo(),
             (UserInfo{5, user.login, handler->hashPassword(QStringLiteral("new")), {drivers}}));
    child(&dialog, "uncheckAll")->click();
    pressOk(&dialog, QString());
    QVERIFY(dialog.getUserInfo().groups.isEmpty());
    child(&dialog, "checkAll")->click();
    showGroups->click();
    QVERIFY(!child<QGroupBox>(&dialog, "groupsGroup")->isVisible());
    pressOk(&dialog, QString());
    QCOMPARE(dialog.getUserInfo().groups, (QVector<int>{admin, drivers, trucks}));
}

QTEST_MAIN(TestRegistrationDialog)
#include "tst_registrationdialog.moc"
