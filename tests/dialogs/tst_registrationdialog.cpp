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

    void passwords_data();
    void passwords();
    void editMode();
};

// Each case in both dialogs (PasswordEdit: no length limit, boxes without parent). A new user
// reopened as returned is still new: his password is asked again.
void TestRegistrationDialog::passwords_data() {
    QTest::addColumn<bool>("passwordOnly");
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("pw");
    QTest::addColumn<QString>("pw2");
    QTest::addColumn<QString>("error");
    const auto row = [](const char* name, const QString& login, const QString& pw, const QString& pw2,
                        const QString& error = QString()) {
        QTest::addRow("user: %s", name) << false << login << pw << pw2 << error;
        QTest::addRow("password: %s", name)
            << true << login << pw << pw2 << (login.trimmed().isEmpty() ? QString() : error);
    };
    row("blank login", " ", "a", "a", QStringLiteral("Введите логин!"));
    row("empty passwords", "ivan", "", "", noPassword);
    row("repetition differs in case", "ivan", "secret", "secreT", mismatch);
    row("cyrillic, login trimmed", QStringLiteral(" Иван "), QStringLiteral("пароль"),
        QStringLiteral("пароль"));
    row("35 characters", "ivan", QString(35, QLatin1Char('x')), QString(35, QLatin1Char('x')));
    // root must not get the default password back; other users may have it
    QTest::newRow("user: default password") << false << "ivan"
                                            << "vexo"
                                            << "vexo" << QString();
    QTest::newRow("password: default password")
        << true << QString() << "vexo"
        << "vexo" << QStringLiteral("Это пароль по умолчанию, он известен всем: введите другой!");
}

void TestRegistrationDialog::passwords() {
    QFETCH(bool, passwordOnly);
    QFETCH(QString, login);
    QFETCH(QString, pw);
    QFETCH(QString, pw2);
    QFETCH(QString, error);
    std::unique_ptr<QDialog> dialog;
    if (passwordOnly)
        dialog.reset(new PasswordEdit);
    else
        dialog.reset(new RegistrationDialog(nullptr, QStringLiteral("Новый пользователь"), handler.get(),
                                            UserInfo(), stored()));
    QVERIFY(showDialog(dialog.get()));
    if (!passwordOnly)
        typeText(child<QLineEdit>(dialog.get(), "loginEdit"), login);
    typeText(child<QLineEdit>(dialog.get(), "pwEdit"), pw);
    typeText(child<QLineEdit>(dialog.get(), "pwEdit2"), pw2);
    pressOk(dialog.get(), error, !passwordOnly);
    if (QTest::currentTestFailed())
        return;
    if (passwordOnly) {
        if (error.isEmpty())
            QCOMPARE(static_cast<PasswordEdit*>(dialog.get())->getPassword(), pw);
        return;
    }
    UserInfo user = static_cast<RegistrationDialog*>(dialog.get())->getUserInfo();
    QCOMPARE(user, (error.isEmpty() ? UserInfo{0, login.trimmed(), handler->hashPassword(pw.left(30)), {}}
                                    : UserInfo()));
    if (!error.isEmpty())
        return;
    // Run again after a refusal, it still holds the passwords.
    QVERIFY(showDialog(dialog.get()));
    pressOk(dialog.get(), QString());
    QCOMPARE(static_cast<RegistrationDialog*>(dialog.get())->getUserInfo(), user);
    user.groups = {drivers};
    RegistrationDialog again(nullptr, QString(), handler.get(), user, stored());
    QVERIFY(showDialog(&again));
    pressOk(&again, noPassword);
    setText(&again, "pwEdit", pw);
    setText(&again, "pwEdit2", pw);
    pressOk(&again, QString());
    QCOMPARE(again.getUserInfo(), user);
}

// The password is changed only when asked; the groups come in list order, and the list,
// hidden or not, decides them.
void TestRegistrationDialog::editMode() {
    // A stored login longer than the field's limit is not cut.
    const UserInfo user{
        5, QString(40, QLatin1Char('l')), handler->hashPassword(QStringLiteral("old")), {drivers, admin}};
    RegistrationDialog dialog(nullptr, QString(), handler.get(), user, stored());
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
    QCOMPARE(dialog.getUserInfo(), (UserInfo{5, user.login, user.password, {drivers}}));
    // Run again, the groups stay shown.
    QVERIFY(showDialog(&dialog));
    QVERIFY(child<QGroupBox>(&dialog, "groupsGroup")->isVisible());
    child(&dialog, "checkAll")->click();
    showGroups->click();
    QVERIFY(!child<QGroupBox>(&dialog, "groupsGroup")->isVisible());
    pressOk(&dialog, QString());
    QCOMPARE(dialog.getUserInfo().groups, (QVector<int>{admin, drivers, trucks}));
}

QTEST_MAIN(TestRegistrationDialog)
#include "tst_registrationdialog.moc"
