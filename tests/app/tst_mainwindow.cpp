// The main window end to end: the real window against the test database and the
// server simulator, every dialog answered by ModalAnswerer.

#include "app/connectionsettingsdialog.h"
#include "app/connectionstatewidget.h"
#include "app/csettings.h"
#include "app/mainwindow.h"
#include "core/qtcompat.h"
#include "core/schema.h"
#include "modalanswerer.h"
#include "models/devicestablemodel.h"
#include "models/grouptablemodel.h"
#include "models/usertablemodel.h"
#include "simprocess.h"
#include "testdb.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCryptographicHash>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QProcess>
#include <QProgressDialog>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QSqlQuery>
#include <QTableView>
#include <QTcpServer>
#include <QTemporaryDir>

#include <memory>

namespace {

const QString defaultRootHash = QStringLiteral("d4e918dff88104ed14e12a4648f0814fac9c85e261f74e55b647d37d4d363"
                                               "1bb4c64e626866909c50628c8a24e95ba24dcc75d0e0f9e32b5bec47"
                                               "2f6def9d071");
const int simDeviceCount = 40;
const QString rootHashQuery = QStringLiteral("SELECT LOWER(HEX(user_password)) FROM users WHERE id=1");

QString hashHex(const QString& password) {
    return QString::fromLatin1(
        QCryptographicHash::hash((PASSWORD_SALT + password).toUtf8(), QCryptographicHash::Sha3_512).toHex());
}

QString simImei(int i) {
    return QStringLiteral("3569380356430%1").arg(i, 2, 10, QLatin1Char('0'));
}

QString scalar(const QString& sql) {
    return TestDb::scalar(sql).toString();
}

// Types "object=value" into each named line edit, ticks the pick list rows whose text is
// listed, and presses OK.
ModalAnswerer::Action fillAndOk(const QStringList& fields, const QStringList& ticks = {}) {
    return [fields, ticks](QWidget* d) {
        for (const QString& field : fields)
            setText(d, qPrintable(field.section(QLatin1Char('='), 0, 0)), field.section(QLatin1Char('='), 1));
        if (auto* list = d->findChild<QListView*>()) { // the groups or users to tick
            QAbstractItemModel* model = list->model();
            for (int row = 0; row < model->rowCount(); ++row) {
                if (ticks.contains(model->index(row, 0).data().toString()))
                    model->setData(model->index(row, 0), Qt::Checked, Qt::CheckStateRole);
            }
        }
        clickOk(d);
    };
}

ModalAnswerer::Action newPassword(const QString& pw) {
    return fillAndOk({"pwEdit=" + pw, "pwEdit2=" + pw});
}

// The first row with a cell showing text, or -1.
int rowShowing(const QTableView* view, const QString& text) {
    const QAbstractItemModel* m = view->model();
    for (int r = 0; r < m->rowCount(); ++r) {
        for (int c = 0; c < m->columnCount(); ++c) {
            if (m->index(r, c).data().toString() == text)
                return r;
        }
    }
    return -1;
}

void selectRows(QTableView* view, const QStringList& texts) {
    view->clearSelection();
    for (const QString& text : texts)
        view->selectionModel()->select(view->model()->index(rowShowing(view, text), 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

// Runs program with the test database's password at hand and waits for it to succeed.
bool run(const QString& program, const QStringList& args, QString* out) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MYSQL_PWD"), TestDb::settings().password);
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(120000))
        return false;
    *out = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool mariadbScript(const QString& command, const QString& dir, QString* out, const QString& port = {}) {
    QStringList args{QStringLiteral(ORB_MARIADB_SCRIPT), command, dir};
    if (!port.isEmpty())
        args << port;
    return run(QStringLiteral("bash"), args, out);
}

} // namespace

class TstMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        QVERIFY(QDir::setCurrent(dir.path()));
        QVERIFY(CSettings::getInstance(dir.filePath(CSettings::defaultFileName())));
        simFile = dir.filePath(QStringLiteral("sim-devices.csv"));
        QFile file(simFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (int i = 1; i <= simDeviceCount; ++i)
            file.write(QStringLiteral("%1,Машина %2\n").arg(simImei(i)).arg(i).toUtf8());
        file.close();
        QVERIFY2(sim.start({QStringLiteral("--file"), simFile}), qPrintable(sim.log()));
        simPort = sim.port();
    }
    void init() { ORB_RESET_DB(); }
    void cleanup() {
        delete window;
        window = nullptr;
    }
    void cleanupTestCase() { sim.stop(); }

    // ---- start-up
    void startupLoad_data() {
        QTest::addColumn<QString>("setup");     // SQL run before
        QTest::addColumn<QString>("typed");     // the database password typed in the dialog, or "cancel"
        QTest::addColumn<QString>("box");       // the message box that follows
        QTest::addColumn<QString>("newRootPw"); // in the root password prompt: "decline"; none: no prompt
        QTest::addColumn<int>("users");         // shown; 0: the tabs are disabled and empty
        QTest::addColumn<QString>("rootHash");
        const auto row = [](const char* name, const QString& setup, const QString& typed, const QString& box,
                            const QString& newRootPw, int users, const QString& rootHash) {
            QTest::newRow(name) << setup << typed << box << newRootPw << users << rootHash;
        };
        const QString pw = TestDb::settings().password;
        row("root password replaced", "", pw, "", "n3w", 1, hashHex("n3w"));
        row("root prompt declined", "", pw, "", "decline", 1, defaultRootHash);
        row("root password already changed",
            "UPDATE users SET user_password=UNHEX('" + hashHex("x") + "') WHERE id=1", pw, "", "", 1,
            hashHex("x"));
        row("connection dialog cancelled", "", "cancel", "", "", 0, defaultRootHash);
        // The server's own text under the program's; then the dialog again, here cancelled.
        row("wrong database password", "", "wrong", ".\n\nAccess denied for user 'orb'", "", 0,
            defaultRootHash);
        row("root not in the administrators' group", "DELETE FROM user_groups WHERE user_id=1", pw,
            "Произошла ошибка при загрузке БД.\nuser root not found\nПроверьте правильность", "", 0,
            defaultRootHash);
    }
    void startupLoad() {
        QFETCH(QString, setup);
        QFETCH(QString, typed);
        QFETCH(QString, box);
        QFETCH(QString, newRootPw);
        QFETCH(int, users);
        QFETCH(QString, rootHash);
        QVERIFY(setup.isEmpty() || TestDb::exec(setup));
        const SqlConnectionSettings sql = TestDb::settings();
        makeWindow();
        ModalAnswerer a;
        a.expect("ConnectionSettingsDialog",
                 typed == "cancel" ? ModalAnswerer::Action() : fillAndOk({"pwEdit=" + typed}));
        if (!box.isEmpty())
            a.expectBox(box);
        if (typed == QLatin1String("wrong"))
            a.expect("ConnectionSettingsDialog");
        if (!newRootPw.isEmpty())
            a.expect("PasswordEdit",
                     newRootPw == "decline" ? ModalAnswerer::Action() : newPassword(newRootPw));
        window->loadDatabase();
        VERIFY_ANSWERED(a);
        waitForRefresh();

        QCOMPARE(get<QWidget>("centralwidget")->isEnabled(), users != 0);
        QCOMPARE(scalar(rootHashQuery), rootHash);
        QCOMPARE(get<QTableView>("usersView")->model()->rowCount(), users);
        if (users)
            QCOMPARE(stateText(true, "textLabel"), QStringLiteral("SQL %1:%2").arg(sql.ip).arg(sql.port));
        QCOMPARE(stateText(true, "extTextLabel"), QString());
        QCOMPARE(stateText(false, "textLabel"), QStringLiteral("Orb 127.0.0.1:%1").arg(simPort));
    }
    // ---- add and change through the dialogs
    void changesThroughDialogs_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("select"); // a cell of the row to select; empty: none
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QStringList>("ticks");
        QTest::addColumn<QString>("error"); // shown in "Ошибка"
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("shown"); // a cell the table shows afterwards

        const QString deviceNames = QStringLiteral("SELECT GROUP_CONCAT(name ORDER BY id) FROM devices");
        const QString groupNames =
            QStringLiteral("SELECT GROUP_CONCAT(group_name ORDER BY id) FROM groups_list");
        const QString groupTaken = QStringLiteral("Такая группа уже существует!");
        const QStringList password{QStringLiteral("pwEdit=секрет"), QStringLiteral("pwEdit2=секрет")};
        const auto row = [](const char* name, const char* button, const QString& select, const char* dialog,
                            const QStringList& fields, const QStringList& ticks, const QString& error,
                            const QString& query, const QString& expected, const QString& shown) {
            QTest::newRow(name) << button << select << dialog << fields << ticks << error << query << expected
                                << shown;
        };

        row("add device", "addDeviceButton", "", "DeviceEditDialog",
            {"imeiEdit=356938035643809", "nameEdit=Новое 'имя'"}, {"Такси"}, "",
            "SELECT GROUP_CONCAT(g.group_id ORDER BY g.group_id) FROM device_groups g JOIN devices d ON "
            "d.id=g.device_id WHERE d.imei=356938035643809",
            "1,2", "Новое 'имя'");
        row("change device", "changeDeviceButton", "Первое", "DeviceEditDialog", {"nameEdit=Переименовано"},
            {}, "", deviceNames, "Переименовано,Второе", "Переименовано");
        row("change device, IMEI of another", "changeDeviceButton", "Первое", "DeviceEditDialog",
            {"imeiEdit=" + simImei(2), "nameEdit=Переименовано"}, {}, "Такое устройство уже добавлено!",
            deviceNames, "Первое,Второе", "Первое");
        row("add user", "addUserButton", "", "RegistrationDialog", QStringList{"loginEdit=ivanov"} + password,
            {"Такси"}, "",
            "SELECT CONCAT(LOWER(HEX(user_password)), ':', (SELECT GROUP_CONCAT(group_id) FROM user_groups "
            "WHERE user_id=u.id)) FROM users u WHERE user_login='ivanov'",
            hashHex("секрет") + ":2", "ivanov");
        row("change user, login taken", "changeUserButton", "petrov", "RegistrationDialog",
            {"loginEdit=root"}, {}, "Такой пользователь уже существует!",
            "SELECT GROUP_CONCAT(user_login ORDER BY id) FROM users", "root,petrov", "petrov");
        // root: only the password dialog; his login and groups stay.
        row("change root", "changeUserButton", "root", "PasswordEdit", password, {}, "",
            "SELECT CONCAT(user_login, ':', LOWER(HEX(user_password)), ':', "
            "(SELECT COUNT(*) FROM user_groups WHERE user_id=1)) FROM users WHERE id=1",
            "root:" + hashHex("секрет") + ":1", "root");
        row("add group", "addGroupButton", "", "GroupEditDialog", {"groupNameEdit=Логистика"}, {"petrov"}, "",
            "SELECT GROUP_CONCAT(u.user_id) FROM user_groups u JOIN groups_list g ON g.id=u.group_id WHERE "
            "g.group_name='Логистика'",
            "2", "Логистика");
        row("change group", "changeGroupButton", "Такси", "GroupEditDialog", {"groupNameEdit=Маршрутки"}, {},
            "", groupNames, "Admin,Маршрутки,Склад", "Маршрутки");
        row("change group, name taken", "changeGroupButton", "Такси", "GroupEditDialog",
            {"groupNameEdit=Склад"}, {"petrov"}, groupTaken, groupNames, "Admin,Такси,Склад", "Такси");
        row("add group, name taken", "addGroupButton", "", "GroupEditDialog", {"groupNameEdit=Такси"},
            {"petrov"}, groupTaken, groupNames, "Admin,Такси,Склад", "Такси");
    }
    // A change goes through its dialog to the database and shows in the tables; a refused one
    // shows its reason in "Ошибка", changes nothing and opens the dialog again as it was filled.
    void changesThroughDialogs() {
        QFETCH(QString, button);
        QFETCH(QString, select);
        QFETCH(QString, dialog);
        QFETCH(QStringList, fields);
        QFETCH(QStringList, ticks);
        QFETCH(QString, error);
        QFETCH(QString, query);
        QFETCH(QString, expected);
        QFETCH(QString, shown);
        QVERIFY(TestDb::exec(
            QStringLiteral("INSERT INTO groups_list (id, group_name) VALUES (2, 'Такси'), (3, 'Склад')")));
        QVERIFY(TestDb::exec(
            QStringLiteral("INSERT INTO users (id, user_login, user_password) VALUES (2, 'petrov', 'x')")));
        addDevices({QStringLiteral("Первое"), QStringLiteral("Второе")});
        makeWindow();
        loadConnected();

        const char* view = button.contains("Device") ? "tableView"
                           : button.contains("User") ? "usersView"
                                                     : "groupsView";
        auto* table = get<QTableView>(view);
        table->sortByColumn(1, Qt::DescendingOrder); // a change finds its place in a sorted table
        if (!select.isEmpty())
            selectRows(table, {select});
        ModalAnswerer a;
        a.expect(qPrintable(dialog), fillAndOk(fields, ticks));
        if (!error.isEmpty()) {
            a.expectBox(error).expect(qPrintable(dialog), [fields, ticks](QWidget* d) {
                for (const QString& field : fields) {
                    if (!field.startsWith(QLatin1String("pw"))) // passwords are asked again
                        QCOMPARE(child<QLineEdit>(d, qPrintable(field.section('=', 0, 0)))->text(),
                                 field.section('=', 1));
                }
                if (auto* list = d->findChild<QListView*>()) {
                    for (int row = 0; row < list->model()->rowCount(); ++row) {
                        const QModelIndex i = list->model()->index(row, 0);
                        if (ticks.contains(i.data().toString()))
                            QCOMPARE(i.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
                    }
                }
            });
        }
        get(qPrintable(button))->click();
        VERIFY_ANSWERED(a);
        if (!error.isEmpty())
            QCOMPARE(a.seen.value(1).title, QStringLiteral("Ошибка"));

        QCOMPARE(scalar(query), expected);
        QVERIFY2(rowShowing(table, shown) >= 0, qPrintable(shown));
        const QString tables[][2] = {
            {"tableView", "devices"}, {"usersView", "users"}, {"groupsView", "groups_list"}};
        for (const auto& t : tables)
            QCOMPARE(get<QTableView>(qPrintable(t[0]))->model()->rowCount(),
                     TestDb::scalar("SELECT COUNT(*) FROM " + t[1]).toInt());
        const char* const buttons[][2] = {{"tableView", "changeDeviceButton"},
                                          {"usersView", "changeUserButton"},
                                          {"groupsView", "changeGroupButton"}};
        for (const auto& b : buttons)
            QCOMPARE(get(b[1])->isEnabled(), get<QTableView>(b[0])->selectionModel()->hasSelection());
        compareWithFreshLoad();
    }
    // ---- another administrator changed the record meanwhile
    void editAfterChangeElsewhere_data() {
        QTest::addColumn<QString>("elsewhere");
        QTest::addColumn<QString>("box");    // a part of its text
        QTest::addColumn<QString>("answer"); // the button clicked; empty: OK
        QTest::addColumn<QString>("stored"); // device names afterwards
        QTest::newRow("conflict, mine written") << "UPDATE devices SET name='Чужое' WHERE name='Первое'"
                                                << "сейчас сохранено «Чужое», вы ввели «Моё»"
                                                << "Записать мои значения"
                                                << "Моё,Второе";
        QTest::newRow("conflict, stored taken") << "UPDATE devices SET name='Чужое' WHERE name='Первое'"
                                                << "сейчас сохранено «Чужое», вы ввели «Моё»"
                                                << "Взять сохранённые"
                                                << "Чужое,Второе";
        QTest::newRow("deleted") << "DELETE FROM devices WHERE name='Первое'"
                                 << "Устройство удалил другой администратор"
                                 << ""
                                 << "Второе";
    }
    void editAfterChangeElsewhere() {
        QFETCH(QString, elsewhere);
        QFETCH(QString, box);
        QFETCH(QString, answer);
        addDevices({QStringLiteral("Первое"), QStringLiteral("Второе")});
        makeWindow();
        loadConnected();
        QVERIFY(TestDb::exec(elsewhere));
        auto* table = get<QTableView>("tableView");
        selectRows(table, {QStringLiteral("Первое")});
        ModalAnswerer a;
        a.expect("DeviceEditDialog", fillAndOk({"nameEdit=Моё"}));
        if (answer.isEmpty()) {
            a.expectBox(box);
        } else {
            a.expect("QMessageBox", [box, answer](QWidget* w) {
                auto* b = static_cast<QMessageBox*>(w);
                QVERIFY2(b->text().contains(box), qPrintable(b->text()));
                for (QAbstractButton* button : b->buttons()) {
                    if (button->text() == answer)
                        button->click();
                }
            });
        }
        // the stored record comes back in the dialog, here left with Cancel
        if (answer == QStringLiteral("Взять сохранённые"))
            a.expect("DeviceEditDialog", [](QWidget* d) {
                QCOMPARE(child<QLineEdit>(d, "nameEdit")->text(), QStringLiteral("Чужое"));
            });
        get("changeDeviceButton")->click();
        VERIFY_ANSWERED(a);
        QTEST(scalar("SELECT GROUP_CONCAT(name ORDER BY id) FROM devices"), "stored");
        QCOMPARE(rowShowing(table, QStringLiteral("Первое")), -1);
        compareWithFreshLoad();
    }
    // ---- deletions
    void deletions_data() {
        QTest::addColumn<QString>("view");
        QTest::addColumn<QStringList>("select");
        QTest::addColumn<QString>("how");  // button, OK; Delete key, OK; don't ask again, Cancel
        QTest::addColumn<QString>("text"); // of the question; empty: none, the button is disabled
        QTest::addColumn<QString>("kept"); // a part of the box that names the rows kept
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("left");

        const char* devices = "SELECT GROUP_CONCAT(name ORDER BY name) FROM devices";
        const QString deviceText =
            QStringLiteral("Вы действительно хотить удалить из базы выбранные устройства (3 шт.)?");
        const QStringList three{"d1", "d3", "d5"};
        const char* users = "SELECT GROUP_CONCAT(user_login ORDER BY id) FROM users";
        const char* groups = "SELECT GROUP_CONCAT(group_name) FROM groups_list";
        QTest::newRow("devices, OK") << "tableView" << three << "ok" << deviceText << "" << devices
                                     << "d2,d4";
        // sorted by name, descending: another administrator's "d9" comes in on top meanwhile
        QTest::newRow("devices, a refresh while the question is open")
            << "tableView" << three << "refresh" << deviceText << "" << devices << "d2,d4,d9";
        QTest::newRow("devices, \"больше не спрашивать\" and Cancel")
            << "tableView" << three << "don't ask" << deviceText << "" << devices << "d1,d2,d3,d4,d5";
        QTest::newRow("users, root stays")
            << "usersView" << QStringList{"root", "a"} << "ok"
            << "Вы действительно хотить удалить из базы выбранныx пользователей (1 шт.)?"
            << "root не удалён" << users << "root,b";
        QTest::newRow("users, only root") << "usersView" << QStringList{"root"} << "key"
                                          << ""
                                          << "" << users << "root,a,b";
        QTest::newRow("groups, Admin stays, Delete key")
            << "groupsView" << QStringList{"Администраторы", "Такси"} << "key"
            << "Вы действительно хотить удалить из базы выбранные группы (1 шт.)?"
            << "Группа администраторов не удалена" << groups << "Admin";
        QTest::newRow("groups, only Admin") << "groupsView" << QStringList{"Администраторы"} << "key"
                                            << ""
                                            << "" << groups << "Admin,Такси";
    }
    void deletions() {
        QFETCH(QString, view);
        QFETCH(QStringList, select);
        QFETCH(QString, how);
        QFETCH(QString, text);
        QFETCH(QString, kept);
        QFETCH(QString, query);
        QFETCH(QString, left);
        addDevices({"d1", "d2", "d3", "d4", "d5"});
        QVERIFY(TestDb::exec(QStringLiteral(
            "INSERT INTO users (id, user_login, user_password) VALUES (2, 'a', 'x'), (3, 'b', 'x')")));
        QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO groups_list (id, group_name) VALUES (5, 'Такси')")));
        makeWindow();
        loadConnected();

        auto* table = get<QTableView>(qPrintable(view));
        if (how == QLatin1String("refresh"))
            table->sortByColumn(1, Qt::DescendingOrder);
        selectRows(table, select);
        const char* button = view == QLatin1String("tableView")   ? "deleteDeviceButton"
                             : view == QLatin1String("usersView") ? "removeUserButton"
                                                                  : "removeGroupButton";
        QCOMPARE(get(button)->isEnabled(), !text.isEmpty());
        ModalAnswerer a;
        if (!text.isEmpty())
            a.expect("QMessageBox", [&](QWidget* w) {
                auto* box = static_cast<QMessageBox*>(w);
                QCOMPARE(box->text(), text);
                QCOMPARE(box->defaultButton(), box->button(QMessageBox::Ok));
                QCOMPARE(box->checkBox() != nullptr, view == QLatin1String("tableView"));
                if (how == QLatin1String("don't ask"))
                    box->checkBox()->setChecked(true);
                if (how == QLatin1String("refresh"))
                    waitForRefresh(); // the refresh started below lands while the question is open
                box->button(how == QLatin1String("don't ask") ? QMessageBox::Cancel : QMessageBox::Ok)
                    ->click();
            });
        if (!kept.isEmpty())
            a.expectBox(kept);
        if (how == QLatin1String("refresh")) {
            QVERIFY(TestDb::exec(
                QStringLiteral("INSERT INTO devices (imei, name) VALUES (356938035643099, 'd9')")));
            QApplication::setActiveWindow(window);
            QTest::keySequence(window, QKeySequence::Refresh);
        }
        if (how == QLatin1String("key"))
            pressKeys(table, QKeySequence::Delete);
        else
            get(button)->click();
        VERIFY_ANSWERED(a);
        QCOMPARE(scalar(query), left);
        QCOMPARE(table->model()->rowCount(), left.count(QLatin1Char(',')) + 1);
        compareWithFreshLoad();
        if (how != QLatin1String("don't ask"))
            return;
        // Cancelled this time; the next deletions run without a box (one would be reported).
        ModalAnswerer none;
        get("deleteDeviceButton")->click();     // the three still selected
        pressKeys(table, QKeySequence::Delete); // the reload cleared the selection: nothing happens
        selectRows(table, {"d4"});
        pressKeys(table, QKeySequence::Delete);
        QCOMPARE(scalar(query), QStringLiteral("d2"));
        VERIFY_ANSWERED(none);
    }
    void filterSortAndDoubleClick() {
        // Stored out of IMEI order: the table keeps the database's order until a header is clicked.
        addDevices({"Bus 35", "bus 7"}, 3);
        addDevices({"Van"}, 1);
        QVERIFY(TestDb::exec(
            QStringLiteral("INSERT INTO devices (imei, name) VALUES (12345678901237, 'Фургон 2')")));
        makeWindow();
        loadConnected();
        auto* view = get<QTableView>("tableView");
        QAbstractItemModel* model = view->model();
        const auto names = [model] {
            QStringList texts;
            for (int r = 0; r < model->rowCount(); ++r)
                texts << model->index(r, 1).data().toString();
            return texts.join(QLatin1Char(','));
        };
        const auto clickHeader = [view](int column) {
            QTest::mouseClick(view->horizontalHeader()->viewport(), Qt::LeftButton, {},
                              QPoint(view->horizontalHeader()->sectionViewportPosition(column) + 5, 5));
        };
        QCOMPARE(names(), QStringLiteral("Bus 35,bus 7,Van,Фургон 2"));
        clickHeader(0); // by number, the leading zero kept
        QCOMPARE(names(), QStringLiteral("Фургон 2,Van,Bus 35,bus 7"));
        QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("012345678901237"));
        clickHeader(1); // natural order, case-insensitive
        QCOMPARE(names(), QStringLiteral("bus 7,Bus 35,Van,Фургон 2"));

        // Case-insensitive filters, Cyrillic too, on the shown texts; the selection stays.
        selectRows(view, {"Bus 35"});
        auto* filter = get<QLineEdit>("filterEdit");
        QTest::keyClicks(filter, QStringLiteral("BUS"));
        QCOMPARE(names(), QStringLiteral("bus 7,Bus 35"));
        QCOMPARE(view->selectionModel()->selectedRows(1).value(0).data().toString(),
                 QStringLiteral("Bus 35"));
        // Another administrator's device comes in with F5; filter, sort and selection stay.
        QVERIFY(TestDb::exec(
            QStringLiteral("INSERT INTO devices (imei, name) VALUES (356938035643999, 'bus 10')")));
        updateModelsNow();
        QCOMPARE(names(), QStringLiteral("bus 7,bus 10,Bus 35"));
        QCOMPARE(view->selectionModel()->selectedRows(1).value(0).data().toString(),
                 QStringLiteral("Bus 35"));
        for (const auto& [text, shown] :
             {std::pair<QString, QString>{"0123", "Фургон 2"}, {"фУр", "Фургон 2"}}) {
            filter->clear();
            typeText(filter, text);
            QCOMPARE(names(), shown);
        }

        // Double-clicking a row opens its edit dialog.
        ModalAnswerer a;
        a.expect("DeviceEditDialog", [](QWidget* d) {
            QCOMPARE(child<QLineEdit>(d, "nameEdit")->text(), QStringLiteral("Фургон 2"));
        });
        const QRect cell = view->visualRect(model->index(0, 1));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
        VERIFY_ANSWERED(a);
    }
    // ---- table habits
    // The line under each table follows the filter, the selection and a refresh.
    void counts_data() {
        QTest::addColumn<QString>("filterEdit");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("select");
        QTest::addColumn<QString>("insert"); // by another administrator, hidden by the filter
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after"); // F5
        // the thousands as Russian writes them, with a no-break space
        QTest::newRow("devices") << "filterEdit"
                                 << "d11" << QStringList{"d11", "d110"}
                                 << "INSERT INTO devices (imei, name) VALUES (356938035649999, 'new')"
                                 << QStringLiteral("Показано 111 из 1\u00a0200, выбрано 2")
                                 << QStringLiteral("Показано 111 из 1\u00a0201, выбрано 2");
        QTest::newRow("users") << "usersFilterEdit"
                               << "ov" << QStringList{"petrov"}
                               << "INSERT INTO users (user_login, user_password) VALUES ('smith', 'x')"
                               << "Показано 3 из 4, выбрано 1"
                               << "Показано 3 из 5, выбрано 1";
        QTest::newRow("groups") << "groupsFilterEdit"
                                << "такси" << QStringList{}
                                << "INSERT INTO groups_list (group_name) VALUES ('Склад')"
                                << "Показано 1 из 2, выбрано 0"
                                << "Показано 1 из 3, выбрано 0";
    }
    void counts() {
        QFETCH(QString, filterEdit);
        QFETCH(QString, filter);
        QFETCH(QStringList, select);
        QFETCH(QString, insert);
        QFETCH(QString, before);
        QFETCH(QString, after);
        QString devices = QStringLiteral("INSERT INTO devices (imei, name) VALUES ");
        for (int i = 1; i <= 1200; ++i)
            devices += QStringLiteral("%1(%2, 'd%3')").arg(i > 1 ? "," : "").arg(356938035640000 + i).arg(i);
        QVERIFY(TestDb::exec(devices));
        QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO users (user_login, user_password) VALUES "
                                            "('ivanov', 'x'), ('petrov', 'x'), ('sidorov', 'x')")));
        QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO groups_list (group_name) VALUES ('Такси')")));
        makeWindow();
        loadConnected();
        auto* edit = get<QLineEdit>(qPrintable(filterEdit));
        showTabOf(edit);
        auto* view = edit->parentWidget()->findChild<QTableView*>();
        auto* line = edit->parentWidget()->findChildren<QLabel*>(QRegularExpression("CountLabel$")).value(0);
        typeText(edit, filter);
        selectRows(view, select);
        QTRY_COMPARE(line->text(), before);
        QVERIFY(TestDb::exec(insert));
        updateModelsNow();
        QTRY_COMPARE(line->text(), after);
    }
    // "Изменить" and "Удалить" only with a shown row selected: a filter that hides the
    // selection clears it without a selection signal.
    void buttonsFollowSelection_data() {
        QTest::addColumn<QString>("filterEdit");
        QTest::addColumn<QString>("select");
        QTest::addColumn<QString>("keeps"); // a filter that shows the selected row
        QTest::addColumn<QString>("hides"); // one that shows other rows only
        QTest::addColumn<QStringList>("buttons");
        QTest::newRow("devices") << "filterEdit"
                                 << "d1"
                                 << "1"
                                 << "2" << QStringList{"changeDeviceButton", "deleteDeviceButton"};
        QTest::newRow("users") << "usersFilterEdit"
                               << "ivanov"
                               << "iv"
                               << "pet" << QStringList{"changeUserButton", "removeUserButton"};
        QTest::newRow("groups") << "groupsFilterEdit"
                                << "Такси"
                                << "такси"
                                << "склад" << QStringList{"changeGroupButton", "removeGroupButton"};
    }
    void buttonsFollowSelection() {
        QFETCH(QString, filterEdit);
        QFETCH(QString, select);
        QFETCH(QString, keeps);
        QFETCH(QString, hides);
        QFETCH(QStringList, buttons);
        addDevices({"d1", "d2"});
        QVERIFY(TestDb::exec(QStringLiteral(
            "INSERT INTO users (user_login, user_password) VALUES ('ivanov', 'x'), ('petrov', 'x')")));
        QVERIFY(
            TestDb::exec(QStringLiteral("INSERT INTO groups_list (group_name) VALUES ('Такси'), ('Склад')")));
        makeWindow();
        loadConnected();
        auto* edit = get<QLineEdit>(qPrintable(filterEdit));
        showTabOf(edit);
        auto* view = edit->parentWidget()->findChild<QTableView*>();
        const auto enabled = [this, &buttons] {
            QString states;
            for (const QString& button : buttons)
                states += get(qPrintable(button))->isEnabled() ? QLatin1Char('+') : QLatin1Char('-');
            return states;
        };
        QCOMPARE(enabled(), QStringLiteral("--"));
        selectRows(view, {select});
        QCOMPARE(enabled(), QStringLiteral("++"));
        typeText(edit, keeps);
        QCOMPARE(view->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(enabled(), QStringLiteral("++"));
        edit->clear();
        typeText(edit, hides);
        QVERIFY(view->model()->rowCount() > 0);
        QCOMPARE(enabled(), QStringLiteral("--"));
    }
    // Ctrl+C: the selected rows in the order shown under the header, the columns as the header
    // shows them, as a spreadsheet pastes them.
    void copySelectedRows() {
        addDevices({QStringLiteral("Бус\t7"), QStringLiteral("Van"), QStringLiteral("Фургон")});
        QVERIFY(TestDb::exec(QStringLiteral("UPDATE devices SET for_all=1 WHERE name='Van'")));
        makeWindow();
        loadConnected();
        auto* view = get<QTableView>("tableView");
        view->horizontalHeader()->moveSection(2, 0);
        view->sortByColumn(1, Qt::DescendingOrder);
        selectRows(view, {QStringLiteral("Van"), QStringLiteral("Фургон"), QStringLiteral("Бус\t7")});
        pressKeys(view, QKeySequence::Copy);
        QTRY_COMPARE(QGuiApplication::clipboard()->text(),
                     QStringLiteral("Доступно для групп\tIMEI устройства\tИмя устройства\n"
                                    "\t%1\tФургон\n\t%2\tБус 7\nдля всех\t%3\tVan\n")
                         .arg(simImei(3), simImei(1), simImei(2)));
    }
    // The keys act where the focus is: in a table on its rows, in a filter field on its text.
    void shortcuts_data() {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QString>("select"); // a row, or the text of a filter field
        QTest::addColumn<QString>("keys");   // "menu": the context menu's "Удалить"
        QTest::addColumn<QString>("opens");
        QTest::addColumn<QString>("after"); // the focused field and its text
        const auto row = [](const char* name, const char* focus, const QString& select, const char* keys,
                            const char* opens, const char* after) {
            QTest::newRow(name) << focus << select << keys << opens << after;
        };
        row("Insert adds a device", "tableView", "", "Ins", "DeviceEditDialog", "");
        row("Ctrl+N adds a user", "usersView", "", "Ctrl+N", "RegistrationDialog", "");
        row("Enter changes a group", "groupsView", "Такси", "Return", "GroupEditDialog", "");
        row("F2 changes a device", "tableView", "d1", "F2", "DeviceEditDialog", "");
        row("Delete deletes a user", "usersView", "a", "Del", "QMessageBox", "");
        row("Delete in a filter field deletes a character", "filterEdit", "d1", "Del", "", "filterEdit=1");
        row("Ctrl+F goes to the tab's filter", "groupsView", "", "Ctrl+F", "", "groupsFilterEdit=");
        row("the context menu", "tableView", "d1", "menu", "QMessageBox", "");
    }
    void shortcuts() {
        QFETCH(QString, focus);
        QFETCH(QString, select);
        QFETCH(QString, keys);
        QFETCH(QString, opens);
        QFETCH(QString, after);
        addDevices({"d1"});
        QVERIFY(
            TestDb::exec(QStringLiteral("INSERT INTO users (user_login, user_password) VALUES ('a', 'x')")));
        QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO groups_list (group_name) VALUES ('Такси')")));
        makeWindow();
        loadConnected();
        auto* target = get<QWidget>(qPrintable(focus));
        showTabOf(target);
        if (auto* edit = qobject_cast<QLineEdit*>(target)) {
            edit->setText(select);
            edit->setCursorPosition(0);
        } else if (!select.isEmpty()) {
            selectRows(static_cast<QTableView*>(target), {select});
        }
        ModalAnswerer a; // answered with Cancel: nothing changes
        if (!opens.isEmpty())
            a.expect(qPrintable(opens), [](QWidget* w) {
                if (auto* box = qobject_cast<QMessageBox*>(w))
                    box->button(QMessageBox::Cancel)->click();
            });
        if (keys == QLatin1String("menu")) {
            auto* view = static_cast<QTableView*>(target);
            QStringList items;
            QTimer::singleShot(0, this, [&items] {
                auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                QVERIFY(menu);
                QAction* remove = nullptr;
                for (QAction* action : menu->actions()) {
                    if (!action->isSeparator())
                        items << action->text() + QLatin1Char(' ') + action->shortcut().toString();
                    if (action->text() == QStringLiteral("Удалить"))
                        remove = action;
                }
                menu->close();
                remove->trigger();
            });
            const QPoint at = view->visualRect(view->model()->index(0, 1)).center();
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
            QApplication::sendEvent(view->viewport(), &event);
            QCOMPARE(items, QStringList({"Добавить Ins", "Изменить Enter", "Удалить Del", "Копировать Ctrl+C",
                                         "История ", "Фильтр Ctrl+F", "Обновить F5"}));
        } else {
            pressKeys(target, QKeySequence(keys));
        }
        VERIFY_ANSWERED(a);
        if (!after.isEmpty()) {
            auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget());
            QVERIFY(edit);
            QCOMPARE(edit->objectName() + QLatin1Char('=') + edit->text(), after);
        }
    }
    // ---- bulk changes of two or more selected rows: applied whole, or refused whole
    void bulkChange_data() {
        QTest::addColumn<QString>("view");
        QTest::addColumn<QStringList>("select");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("expected");
        const QString devices =
            QStringLiteral("SELECT GROUP_CONCAT(d.name, ':', d.for_all, ':', (SELECT GROUP_CONCAT(group_id "
                           "ORDER BY group_id) FROM device_groups WHERE device_id = d.id) ORDER BY d.name "
                           "SEPARATOR ' ') FROM devices d");
        const QString users = QStringLiteral(
            "SELECT GROUP_CONCAT(u.user_login, ':', IFNULL((SELECT GROUP_CONCAT(group_id ORDER BY "
            "group_id) FROM user_groups WHERE user_id = u.id), '') ORDER BY u.id SEPARATOR ' ') "
            "FROM users u");
        QTest::newRow("devices: a group and for all")
            << "tableView" << QStringList{"d1", "d3", "d4"} << QString() << QString() << devices
            << "d1:1:1,2 d2:0:1 d3:1:1,2 d4:1:1,2";
        QTest::newRow("devices: for all refused, the group neither")
            << "tableView" << QStringList{"d1", "d3"}
            << "CREATE TRIGGER refuse BEFORE UPDATE ON devices FOR EACH ROW SIGNAL SQLSTATE '45000'"
            << "Не удалось сохранить изменения!" << devices << "d1:0:1 d2:0:1 d3:0:1 d4:0:1";
        QTest::newRow("devices: the group deleted meanwhile")
            << "tableView" << QStringList{"d1", "d3"} << "meanwhile:DELETE FROM groups_list WHERE id = 2"
            << "Группу «Такси» удалил другой администратор" << devices << "d1:0:1 d2:0:1 d3:0:1 d4:0:1";
        QTest::newRow("users, root among them, double click")
            << "usersView" << QStringList{"root", "a"} << QString() << QString() << users
            << "root:1,2 a:2 b:";
    }
    void bulkChange() {
        QFETCH(QString, view);
        QFETCH(QStringList, select);
        QFETCH(QString, setup);
        QFETCH(QString, error);
        addDevices({"d1", "d2", "d3", "d4"});
        QVERIFY(TestDb::exec(QStringLiteral(
            "INSERT INTO users (id, user_login, user_password) VALUES (2, 'a', 'x'), (3, 'b', 'x')")));
        QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO groups_list (id, group_name) VALUES (2, 'Такси')")));
        const QString meanwhile = setup.startsWith("meanwhile:") ? setup.section(':', 1) : QString();
        QVERIFY(setup.isEmpty() || !meanwhile.isEmpty() || TestDb::exec(setup));
        makeWindow();
        loadConnected();
        auto* table = get<QTableView>(qPrintable(view));
        showTabOf(table);
        table->sortByColumn(1, Qt::DescendingOrder);
        selectRows(table, select);
        const bool devices = view == QLatin1String("tableView");
        ModalAnswerer a;
        a.expect(devices ? "DevicesBulkEditDialog" : "UsersBulkEditDialog", [&](QWidget* d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("Изменение %1 (%2)")
                                           .arg(devices ? "устройств" : "пользователей")
                                           .arg(select.size()));
            auto* list = child<QListView>(d, "groupsView");
            list->setFocus();
            list->setCurrentIndex(list->model()->index(1, 0)); // Такси
            QTest::keyClick(list, Qt::Key_Space);
            if (devices)
                child<QCheckBox>(d, "forAllCheck")->click();
            QVERIFY(meanwhile.isEmpty() || TestDb::exec(meanwhile));
            clickOk(d);
        });
        if (!error.isEmpty())
            a.expectBox(error);
        if (devices) {
            get("changeDeviceButton")->click();
        } else { // a double click on one of the selected rows
            const QRect cell = table->visualRect(table->model()->index(rowShowing(table, select.last()), 0));
            QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
            QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        }
        VERIFY_ANSWERED(a);
        QFETCH(QString, query);
        QTEST(scalar(query), "expected");
        compareWithFreshLoad();
        waitForRefresh();
        compareWithFreshLoad();
    }
    // ---- bulk import: devices already stored are counted, not added again, given groups on demand;
    // a file without devices opens no dialog
    void bulkImport_data() {
        QTest::addColumn<QByteArray>("file"); // empty: from the server list
        QTest::addColumn<bool>("forStored");  // tick "Такси" and give it to the stored devices too
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("names");
        const QByteArray list(
            "imei,name\n356938035643001,Old\n356938035643011,Новый\n356938035643011,Снова\n");
        const QString names = QStringLiteral("d1,d2,d3,d4,d5,d6,d7,d8,d9,d10");
        QTest::newRow("server list") << QByteArray() << false
                                     << "Добавлено устройств: 30.\nУже есть в базе: 10."
                                     << names + QStringLiteral(",Машина 11");
        QTest::newRow("file") << list << false << "Добавлено устройств: 1.\nУже есть в базе: 1."
                              << names + QStringLiteral(",Новый");
        QTest::newRow("file, groups for the stored")
            << list << true << "Добавлено устройств: 1.\nНазначены группы устройствам, которые уже в базе: 1."
            << names + QStringLiteral(",Новый");
        QTest::newRow("no device") << QByteArray("\nIMEI;Имя\n12 34\n") << false
                                   << "В файле не найдено ни одного устройства.\nПрочитано строк: 3.\n"
                                      "Первая пропущенная строка: IMEI;Имя"
                                   << names;
        QTest::newRow("not text") << QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR\0", 17) << false
                                  << "Файл не похож на список устройств" << names;
    }
    void bulkImport() {
        QFETCH(QByteArray, file);
        QFETCH(bool, forStored);
        QFETCH(QString, message);
        QFETCH(QString, names);
        addDevices({"d1", "d2", "d3", "d4", "d5", "d6", "d7", "d8", "d9", "d10"});
        if (forStored)
            QVERIFY(
                TestDb::exec(QStringLiteral("INSERT INTO groups_list (id, group_name) VALUES (2, 'Такси')")));
        const QString path = dir.filePath(QStringLiteral("import.csv"));
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
        out.close();
        makeWindow();
        loadConnected();
        ModalAnswerer a;
        if (file.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(stateText(false, "extTextLabel"),
                                      QStringLiteral("видимых устройств: %1").arg(simDeviceCount), 15000);
        } else {
            a.expect("QFileDialog", [&](QWidget* dialog) {
                // the typed absolute path, not selectFile(): that one depends on the file model's loading
                setText(dialog, "fileNameEdit", path);
                static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
            });
        }
        if (!message.startsWith(QStringLiteral("В файле")) && !message.startsWith(QStringLiteral("Файл")))
            a.expect("AddDevicesDialog", [forStored](QWidget* d) {
                if (forStored)
                    child(d, "groupsForStoredCheck")->click();
                child(d, "checkAllDevs")->click();
                fillAndOk({}, {QStringLiteral("Такси")})(d); // ticks the group, then OK
            });
        a.expectBox(message);
        get(file.isEmpty() ? "serverDevices" : "importFromFile")->click();
        VERIFY_ANSWERED(a);
        QCOMPARE(scalar("SELECT GROUP_CONCAT(name ORDER BY imei) FROM devices").left(names.size()), names);
        QCOMPARE(scalar("SELECT COUNT(*) FROM device_groups WHERE group_id=2"), forStored ? "2" : "0");
        waitForRefresh();
        compareWithFreshLoad();
    }

    // ---- connections
    // After a cancelled start-up the database button connects and asks for root's new password
    // again; the integrity check's error shows as at start-up.
    void reconnectAfterCancelledStart() {
        makeWindow();
        ModalAnswerer cancel;
        cancel.expect("ConnectionSettingsDialog");
        window->loadDatabase();
        VERIFY_ANSWERED(cancel);

        ModalAnswerer a;
        a.expect("ConnectionSettingsDialog", clickOk)
            .expect("PasswordEdit", newPassword(QStringLiteral("later")));
        stateButton(true)->click();
        VERIFY_ANSWERED(a);
        QVERIFY(get<QWidget>("centralwidget")->isEnabled());
        QCOMPARE(scalar(rootHashQuery), hashHex(QStringLiteral("later")));

        QVERIFY(TestDb::exec(QStringLiteral("DELETE FROM user_groups WHERE user_id=1")));
        ModalAnswerer broken;
        broken.expect("ConnectionSettingsDialog", clickOk)
            .expectBox(QStringLiteral("Произошла ошибка при загрузке БД.\nuser root not found\nПроверьте"));
        stateButton(true)->click();
        VERIFY_ANSWERED(broken);
        QVERIFY(!get<QWidget>("centralwidget")->isEnabled());
        for (const char* view : {"tableView", "usersView", "groupsView"})
            QCOMPARE(get<QTableView>(view)->model()->rowCount(), 0);
    }
    // A host that accepts the connection and never answers: "Отмена" gives up waiting and the
    // settings dialog comes back.
    void cancelOnSilentHost() {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        QSignalSpy accepted(&silent, &QTcpServer::newConnection);
        SqlConnectionSettings sql = TestDb::settings();
        sql.port = silent.serverPort();
        makeWindow(sql);
        ModalAnswerer a;
        a.expect("ConnectionSettingsDialog", clickOk).expect("ConnectionSettingsDialog");
        // the answerer leaves progress dialogs alone
        QTimer cancel;
        connect(&cancel, &QTimer::timeout, this, [&] {
            auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
            if (!progress || !progress->isVisible() || accepted.isEmpty())
                return;
            for (QPushButton* button : progress->findChildren<QPushButton*>()) {
                if (button->text() == QStringLiteral("Отмена"))
                    button->click();
            }
        });
        cancel.start(10);
        window->loadDatabase();
        cancel.stop();
        VERIFY_ANSWERED(a);
        QCOMPARE(accepted.size(), 1);
        QVERIFY(!get<QWidget>("centralwidget")->isEnabled());
    }
    // A group made inside a dialog that is then cancelled shows in the groups tab.
    void groupMadeInCancelledDialog() {
        makeWindow();
        loadConnected();
        ModalAnswerer a;
        a.expect("DeviceEditDialog", [](QWidget* d) {
             child(d, "addNewGroup")->click();
         }).expect("GroupEditDialog", fillAndOk({QStringLiteral("groupNameEdit=Склад")}));
        get("addDeviceButton")->click();
        VERIFY_ANSWERED(a);
        QVERIFY(rowShowing(get<QTableView>("groupsView"), QStringLiteral("Склад")) >= 0);
        compareWithFreshLoad();
    }
    void settingsWrittenAtExit_data() {
        QTest::addColumn<bool>("remember");
        QTest::addColumn<bool>("tls");
        QTest::newRow("password kept") << true << false;
        QTest::newRow("password not kept, TLS chosen") << false << true;
    }
    // Written when the window goes, and read back at the next start: the password only if it is to
    // be kept, and one not to be kept leaves the file as soon as that is said. A TLS check that
    // fails (here: no CA file) is shown and brings the dialog back.
    void settingsWrittenAtExit() {
        QFETCH(bool, remember);
        QFETCH(bool, tls);
        const QString ca = dir.filePath(QStringLiteral("no-such-ca.pem"));
        makeWindow();
        loadConnected();
        ModalAnswerer a;
        a.expect("ConnectionSettingsDialog", [](QWidget* d) {
            setText(d, "orbIpEdit", QStringLiteral("fe80::1%2"));
            child<QSpinBox>(d, "orbPortEdit")->setValue(4321);
            clickOk(d);
        });
        a.expect("ConnectionSettingsDialog", [=](QWidget* d) {
            child<QCheckBox>(d, "rememberPasswordCheck")->setChecked(remember);
            child<QCheckBox>(d, "tlsCheck")->setChecked(tls);
            setText(d, "tlsCaEdit", ca);
            clickOk(d);
        });
        if (tls)
            a.expectBox(QStringLiteral("Не удалось прочитать сертификат CA из файла ") + ca)
                .expect("ConnectionSettingsDialog");
        stateButton(false)->click();
        stateButton(true)->click();
        VERIFY_ANSWERED(a);
        QCOMPARE(stateText(false, "textLabel"), QStringLiteral("Orb fe80::1%2:4321"));
        // a password not to be kept is gone from the file at once
        QCOMPARE(settingsFile()->value(QStringLiteral("sql/password")).toString(),
                 remember ? TestDb::settings().password : QString());
        // overwritten when the window goes
        CSettings::setOrb({QStringLiteral("127.0.0.1"), 1});
        SqlConnectionSettings old = TestDb::settings();
        old.password = QStringLiteral("old");
        CSettings::setSql(old);
        cleanup();

        QSettings file(dir.filePath(CSettings::defaultFileName()), QSettings::IniFormat);
        QCOMPARE(file.value(QStringLiteral("orb/port")).toInt(), 4321);
        const QString password = remember ? TestDb::settings().password : QString();
        QCOMPARE(file.value(QStringLiteral("sql/password")).toString(), password);
        window = new MainWindow;
        SqlConnectionSettings shown;
        ModalAnswerer again;
        again.expect("ConnectionSettingsDialog", [&shown](QWidget* d) {
            shown = static_cast<ConnectionSettingsDialog*>(d)->getDbSettings();
        });
        window->loadDatabase();
        VERIFY_ANSWERED(again);
        QCOMPARE(shown.password, password);
        QCOMPARE(shown.rememberPassword, remember);
        // settings that did not connect were not taken: those in use are written
        QCOMPARE(shown.tls, false);
        QCOMPARE(shown.tlsCaFile, tls ? QString() : ca);
    }
    // Size, tab, column widths and sort come back from their own section of settings.conf; a
    // damaged section gives the defaults.
    void rememberedWindow_data() {
        QTest::addColumn<bool>("damaged");
        QTest::newRow("kept") << false;
        QTest::newRow("damaged") << true;
    }
    void rememberedWindow() {
        QFETCH(bool, damaged);
        makeWindow();
        const auto state = [this] {
            QStringList s{QStringLiteral("%1x%2 tab %3")
                              .arg(window->width())
                              .arg(window->height())
                              .arg(get<QTabWidget>("tabWidget")->currentIndex())};
            for (const char* name : {"usersView", "groupsView", "tableView"}) {
                const auto* view = get<QTableView>(name);
                const auto* model = static_cast<RecordTableModel*>(view->model());
                const QHeaderView* header = view->horizontalHeader();
                QString widths;
                for (int c = 0; c < header->count(); ++c) {
                    // a stretched column takes what the window's width leaves
                    const bool stretched = header->sectionResizeMode(c) == QHeaderView::Stretch ||
                                           (header->stretchLastSection() && c == header->count() - 1);
                    widths += (stretched ? QStringLiteral("*") : QString::number(header->sectionSize(c))) +
                              QLatin1Char(' ');
                }
                s << QStringLiteral("%1: %2sorted %3/%4, rows %5/%6")
                         .arg(name, widths)
                         .arg(header->sortIndicatorSection())
                         .arg(header->sortIndicatorOrder())
                         .arg(model->sortColumn())
                         .arg(model->sortOrder());
            }
            return s;
        };
        const QStringList defaults = state();
        window->resize(window->minimumSizeHint().expandedTo(QSize(700, 500)));
        get<QTabWidget>("tabWidget")->setCurrentIndex(2);
        get<QTableView>("tableView")->setColumnWidth(1, 333);
        get<QTableView>("usersView")->sortByColumn(0, Qt::DescendingOrder);
        const QStringList changed = state();
        QVERIFY(changed != defaults);
        cleanup();
        if (damaged) {
            std::unique_ptr<QSettings> file = settingsFile();
            for (const char* key : {"geometry", "tab", "users_header", "groups_header", "devices_header"})
                file->setValue(QStringLiteral("window/") + key, QStringLiteral("\x01garbage"));
        }
        makeWindow(TestDb::settings(), 0, true);
        QCOMPARE(state(), damaged ? defaults : changed);
        QSettings file(dir.filePath(CSettings::defaultFileName()), QSettings::IniFormat);
        QCOMPARE(file.childGroups(), QStringList({"orb", "sql", "window"}));
        QCOMPARE(file.value(QStringLiteral("sql/port")).toInt(), TestDb::settings().port);
    }
    // A geometry that reads well but is larger than the screen (a damaged file) is not kept.
    void geometryLargerThanTheScreen() {
        QWidget huge;
        huge.setGeometry(0, 0, 40000, 30000);
        settingsFile()->setValue(QStringLiteral("window/geometry"), huge.saveGeometry());
        makeWindow(TestDb::settings(), 0, true);
        const QRect screen = window->screen()->availableGeometry();
        QVERIFY(window->width() <= screen.width() && window->height() <= screen.height());
        QVERIFY(screen.intersects(window->geometry()));
    }
    // What other administrators changed comes in with a refresh, the selection and sort kept:
    // a few devices are put in place, many (or renamed groups) replace every row.
    void refreshBringsInChangesElsewhere_data() {
        QTest::addColumn<QStringList>("elsewhere");
        QTest::newRow("one renamed, one deleted")
            << QStringList{"UPDATE devices SET name='Dev 7 renamed' WHERE name='Dev 7'",
                           "DELETE FROM devices WHERE name='Dev 30'"};
        QTest::newRow("twenty added")
            << QStringList{"INSERT INTO devices (imei, name) SELECT 200000000000000 + seq, CONCAT('New ', "
                           "seq) FROM seq_1_to_20"};
        QTest::newRow("a group renamed")
            << QStringList{"UPDATE groups_list SET group_name='Такси 2' WHERE id=2"};
    }
    void refreshBringsInChangesElsewhere() {
        QFETCH(QStringList, elsewhere);
        QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO groups_list (id, group_name) VALUES (2, 'Такси')")));
        QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO devices (imei, name) SELECT 100000000000000 + seq, "
                                            "CONCAT('Dev ', seq) FROM seq_1_to_30")));
        QVERIFY(TestDb::exec(
            QStringLiteral("INSERT INTO device_groups (device_id, group_id) SELECT id, 2 FROM devices")));
        makeWindow(TestDb::settings(), simPort);
        loadConnected();
        auto* table = get<QTableView>("tableView");
        table->sortByColumn(1, Qt::DescendingOrder);
        table->selectRow(rowShowing(table, QStringLiteral("Dev 12")));
        for (const QString& sql : elsewhere)
            QVERIFY(TestDb::exec(sql));
        updateModelsNow();
        compareWithFreshLoad();
        const QModelIndexList selected = table->selectionModel()->selectedRows(1);
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.first().data().toString(), QStringLiteral("Dev 12"));
    }
    void simulatorRestarted() {
        SimProcess own(QStringLiteral(ORB_SIM_PATH));
        const QStringList args{QStringLiteral("--file"), simFile};
        QVERIFY2(own.start(args), qPrintable(own.log()));
        const quint16 port = own.port();
        makeWindow(TestDb::settings(), port);
        loadConnected();
        const QString listed = QStringLiteral("видимых устройств: %1").arg(simDeviceCount);
        QTRY_COMPARE_WITH_TIMEOUT(stateText(false, "extTextLabel"), listed, 15000);

        own.stop();
        QTRY_COMPARE_WITH_TIMEOUT(stateText(false, "extTextLabel"), QStringLiteral(" "), 15000);

        QVERIFY2(own.start(args, port), qPrintable(own.log()));
        QTRY_COMPARE_WITH_TIMEOUT(stateText(false, "extTextLabel"), listed, 20000); // reconnects every 5 s
    }
    // A server of its own, so that stopping it does not disturb the tests that share the fixture.
    void databaseStoppedMidSession() {
        QTemporaryDir serverDir;
        QVERIFY(serverDir.isValid());
        QString out;
        QVERIFY2(mariadbScript(QStringLiteral("start"), serverDir.path(), &out), qPrintable(out));
        const int port = out.trimmed().split(QLatin1Char('\n')).last().toInt();
        QVERIFY(port > 0);
        struct Stop {
            QString dir;
            ~Stop() {
                QString ignored;
                mariadbScript(QStringLiteral("stop"), dir, &ignored);
            }
        } stop{serverDir.path()};

        SqlConnectionSettings sql = TestDb::settings();
        sql.port = port;
        sql.db = QStringLiteral("orb_fault");
        QVERIFY2(
            run(QStringLiteral("mariadb"),
                {"--no-defaults", "--protocol=TCP", "-h", sql.ip, "-P", QString::number(port), "-u", sql.user,
                 "-e",
                 "CREATE DATABASE orb_fault CHARACTER SET utf8mb4; USE orb_fault; SOURCE " ORB_SCHEMA_PATH
                 "; INSERT INTO devices (imei, name) VALUES (356938035643001, 'Первое');"},
                &out),
            qPrintable(out));

        makeWindow(sql);
        loadConnected();
        auto* devices = get<QTableView>("tableView");
        QCOMPARE(devices->model()->rowCount(), 1);

        QVERIFY2(mariadbScript(QStringLiteral("stop"), serverDir.path(), &out), qPrintable(out));

        // A refresh (F5) while the server is gone: the rows stay, the state says offline, and the
        // message covers neither connection.
        updateModelsNow();
        QCOMPARE(devices->model()->rowCount(), 1);
        QVERIFY(get<QStatusBar>("statusbar")->currentMessage().startsWith("Не удалось обновить таблицы"));
        QVERIFY(stateButton(true)->isVisible() && stateButton(false)->isVisible());
        QCOMPARE(stateIcon(), QStringLiteral("Нет связи"));

        // A change while the server is gone is refused before its dialog; the tables keep their rows.
        ModalAnswerer a;
        a.expectBox(QStringLiteral("Нет связи с сервером БД"));
        get("addDeviceButton")->click();
        VERIFY_ANSWERED(a);
        QCOMPARE(devices->model()->rowCount(), 1);
        QCOMPARE(get<QTableView>("usersView")->model()->rowCount(), 1);

        // Back on the same port: F5 connects again with the same settings, without the dialog.
        QVERIFY2(mariadbScript(QStringLiteral("start"), serverDir.path(), &out, QString::number(port)),
                 qPrintable(out));
        ModalAnswerer none;
        updateModelsNow();
        VERIFY_ANSWERED(none);
        QCOMPARE(get<QStatusBar>("statusbar")->currentMessage(), QStringLiteral("Связь с БД восстановлена"));
        QCOMPARE(stateIcon(), QStringLiteral("Подключено"));
        QCOMPARE(devices->model()->index(0, 1).data().toString(), QStringLiteral("Первое"));
        ModalAnswerer up;
        up.expect("DeviceEditDialog", fillAndOk({QStringLiteral("imeiEdit=356938035643007")}));
        get("addDeviceButton")->click();
        VERIFY_ANSWERED(up);
        QCOMPARE(devices->model()->rowCount(), 2);
    }
    // The window's own connection is cut while the server stays: a change that meets it without
    // reading first (a deletion) is not stored, not repeated, and says so; the next change
    // connects anew by itself.
    void connectionCutMidSession() {
        QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO groups_list (id, group_name) VALUES (2, 'Склад')")));
        makeWindow();
        loadConnected();
        QSqlQuery q(QSqlDatabase::database());
        QVERIFY(q.exec(QStringLiteral("SELECT CONNECTION_ID()")) && q.next());
        QVERIFY(TestDb::exec(QStringLiteral("KILL CONNECTION %1").arg(q.value(0).toLongLong())));
        auto* groups = get<QTableView>("groupsView");
        selectRows(groups, {QStringLiteral("Склад")});
        const QString question = QStringLiteral("удалить из базы выбранные группы");
        ModalAnswerer a;
        a.expectBox(question).expectBox(QStringLiteral("Нет связи с сервером БД"));
        get("removeGroupButton")->click();
        VERIFY_ANSWERED(a);
        QCOMPARE(stateIcon(), QStringLiteral("Нет связи"));
        QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM groups_list")), QStringLiteral("2"));
        ModalAnswerer b;
        b.expectBox(question);
        selectRows(groups, {QStringLiteral("Склад")});
        get("removeGroupButton")->click();
        VERIFY_ANSWERED(b);
        QCOMPARE(stateIcon(), QStringLiteral("Подключено"));
        QCOMPARE(rowShowing(groups, QStringLiteral("Склад")), -1);
    }
    // The server closed the window's connections while it sat idle (wait_timeout, KILL
    // CONNECTION): the next read connects anew by itself and goes on, without a word.
    void connectionsClosedWhileIdle_data() {
        QTest::addColumn<bool>("refresh");
        QTest::newRow("change dialog") << false;
        QTest::newRow("F5") << true;
    }
    void connectionsClosedWhileIdle() {
        QFETCH(bool, refresh);
        QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO groups_list (id, group_name) VALUES (2, 'Такси')")));
        addDevices({QStringLiteral("Первое")});
        QVERIFY(
            TestDb::exec(QStringLiteral("INSERT INTO device_groups (device_id, group_id) VALUES (1, 2)")));
        makeWindow();
        loadConnected();
        QVector<qint64> ids;
        QSqlQuery q(TestDb::admin());
        QVERIFY(q.exec(QStringLiteral("SELECT id FROM information_schema.processlist WHERE db=DATABASE() AND "
                                      "id<>CONNECTION_ID()")));
        while (q.next())
            ids << q.value(0).toLongLong();
        QVERIFY(ids.size() >= 2); // the window's and the refresh's
        for (const qint64 id : ids)
            QVERIFY(TestDb::exec(QStringLiteral("KILL CONNECTION %1").arg(id)));

        auto* devices = get<QTableView>("tableView");
        if (refresh) {
            QVERIFY(TestDb::exec(QStringLiteral("UPDATE devices SET name='Снова'")));
            ModalAnswerer none;
            updateModelsNow();
            VERIFY_ANSWERED(none);
        } else {
            // the dialog shows the device's groups as stored, so OK keeps them
            selectRows(devices, {QStringLiteral("Первое")});
            ModalAnswerer a;
            a.expect("DeviceEditDialog", fillAndOk({QStringLiteral("nameEdit=Снова")}));
            get("changeDeviceButton")->click();
            VERIFY_ANSWERED(a);
            QCOMPARE(
                scalar(QStringLiteral("SELECT GROUP_CONCAT(group_id ORDER BY group_id) FROM device_groups")),
                QStringLiteral("1,2"));
        }
        QVERIFY(rowShowing(devices, QStringLiteral("Снова")) >= 0);
        QCOMPARE(stateIcon(), QStringLiteral("Подключено"));
    }
    // An import whose connection is cut says what it stored, not that nothing was.
    void importCutOff() {
        const QString path = dir.filePath(QStringLiteral("cut.csv"));
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write("356938035643007;А\n356938035643015;Б\n") > 0);
        out.close();
        makeWindow();
        loadConnected();
        ModalAnswerer a;
        a.expect("QFileDialog", [&](QWidget* dialog) {
             setText(dialog, "fileNameEdit", path);
             static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
         }).expect("AddDevicesDialog", [&](QWidget* d) {
            // the import's first batch waits for the table, and its connection is cut meanwhile
            QVERIFY(TestDb::exec(QStringLiteral("LOCK TABLES devices WRITE")));
            child(d, "checkAllDevs")->click();
            fillAndOk({}, {})(d);
        });
        a.expectBox(
            QStringLiteral("Связь с сервером БД прервалась, добавление остановлено: сохранено 0 из 2."));
        get("importFromFile")->click();
        const QString waiting =
            QStringLiteral("SELECT COALESCE(MAX(ID), 0) FROM information_schema.PROCESSLIST WHERE STATE LIKE "
                           "'Waiting for table%' AND INFO LIKE '%UNION ALL%'");
        QTRY_VERIFY_WITH_TIMEOUT(TestDb::scalar(waiting).toLongLong() > 0, 10000);
        QVERIFY(TestDb::exec(QStringLiteral("KILL CONNECTION %1").arg(TestDb::scalar(waiting).toLongLong())));
        QVERIFY(TestDb::exec(QStringLiteral("UNLOCK TABLES")));
        VERIFY_ANSWERED(a);
        QCOMPARE(scalar("SELECT COUNT(*) FROM devices"), QStringLiteral("0"));
        QTRY_COMPARE(stateIcon(), QStringLiteral("Подключено"));
    }
    // New settings that fail, then Cancel: the connection in use stays, and so do its tables.
    void failedNewSettingsKeepConnection_data() {
        QTest::addColumn<bool>("tls");
        QTest::newRow("port nobody listens on") << false;
        QTest::newRow("missing CA file") << true;
    }
    void failedNewSettingsKeepConnection() {
        QFETCH(bool, tls);
        addDevices({QStringLiteral("Первое"), QStringLiteral("Второе")});
        makeWindow();
        loadConnected();
        const QString endpoint = stateText(true, "textLabel");
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 deadPort = closed.serverPort();
        closed.close();
        const QString missingCa = dir.filePath(QStringLiteral("none.pem"));
        ModalAnswerer a;
        a.expect("ConnectionSettingsDialog",
                 [&](QWidget* d) {
                     if (tls) {
                         child<QCheckBox>(d, "tlsCheck")->setChecked(true);
                         setText(d, "tlsCaEdit", missingCa);
                     } else {
                         child<QSpinBox>(d, "portEdit")->setValue(deadPort);
                     }
                     clickOk(d);
                 })
            .expectBox(QStringLiteral("Не удалось подключиться к серверу БД"))
            .expect("ConnectionSettingsDialog"); // Cancel
        stateButton(true)->click();
        VERIFY_ANSWERED(a);
        QVERIFY(get<QWidget>("centralwidget")->isEnabled());
        QCOMPARE(get<QTableView>("tableView")->model()->rowCount(), 2);
        QCOMPARE(stateText(true, "textLabel"), endpoint);
        ModalAnswerer b;
        b.expect("GroupEditDialog", fillAndOk({QStringLiteral("groupNameEdit=Склад")}));
        get("addGroupButton")->click();
        VERIFY_ANSWERED(b);
        QVERIFY(rowShowing(get<QTableView>("groupsView"), QStringLiteral("Склад")) >= 0);
    }

    // ---- the journal
    // Changes made in the window show in the journal tab; "История" narrows it to the selected
    // record, and "Весь журнал" goes back.
    void journal() {
        addDevices({QStringLiteral("Первое"), QStringLiteral("Второе")});
        makeWindow();
        loadConnected();
        auto* devices = get<QTableView>("tableView");
        const std::pair<QString, QString> renames[] = {{"Первое", "Переименовано"}, {"Второе", "Другое"}};
        for (const auto& [from, to] : renames) {
            selectRows(devices, {from});
            ModalAnswerer a;
            a.expect("DeviceEditDialog", fillAndOk({QStringLiteral("nameEdit=") + to}));
            get("changeDeviceButton")->click();
            VERIFY_ANSWERED(a);
        }
        auto* journal = get<QTableView>("journalView");
        const auto column = [journal](int c) {
            QStringList texts;
            for (int r = 0; r < journal->model()->rowCount(); ++r)
                texts << journal->model()->index(r, c).data().toString();
            return texts;
        };
        showTabOf(journal);
        QTRY_COMPARE(column(4), QStringList({"имя: «Второе» → «Другое»", "имя: «Первое» → «Переименовано»",
                                             "пароль изменён"}));

        showTabOf(devices);
        selectRows(devices, {QStringLiteral("Переименовано")});
        QAction* history = nullptr;
        for (QAction* action : devices->findChildren<QAction*>()) {
            if (action->text() == QStringLiteral("История"))
                history = action;
        }
        QVERIFY(history);
        history->trigger();
        QVERIFY(get<QTabWidget>("tabWidget")->currentWidget()->isAncestorOf(journal));
        QTRY_COMPARE(column(3), QStringList({simImei(1)}));
        QVERIFY(get<QWidget>("journalScopeBar")->isVisible());
        get("journalAllButton")->click();
        QTRY_COMPARE(column(4).size(), 3);
        QVERIFY(!get<QWidget>("journalScopeBar")->isVisible());
    }

private:
    // The window section is emptied unless kept: a test starts from the default window.
    void makeWindow(const SqlConnectionSettings& sql = TestDb::settings(), int orbPort = 0,
                    bool keepWindowSection = false) {
        delete window;
        window = nullptr;
        {
            std::unique_ptr<QSettings> file = settingsFile();
            if (!keepWindowSection)
                file->remove(QStringLiteral("window"));
            // a settings file as older versions wrote it
            for (const char* key : {"tls", "tls_ca", "remember_password"})
                file->remove(QStringLiteral("sql/") + key);
            const std::pair<const char*, QVariant> values[] = {{"sql/ip", sql.ip},
                                                               {"sql/port", sql.port},
                                                               {"sql/db", sql.db},
                                                               {"sql/user", sql.user},
                                                               {"sql/password", sql.password},
                                                               {"orb/ip", "127.0.0.1"},
                                                               {"orb/port", orbPort ? orbPort : simPort}};
            for (const auto& [key, value] : values)
                file->setValue(QLatin1String(key), value);
        }
        window = new MainWindow;
        window->show();
    }
    // settings.conf as another program sees it; what it writes is read by the window's settings
    // once it is gone.
    std::unique_ptr<QSettings> settingsFile() const {
        auto file =
            std::make_unique<QSettings>(dir.filePath(CSettings::defaultFileName()), QSettings::IniFormat);
        QtCompat::useUtf8(*file);
        return file;
    }
    // Start-up with the settings as written, the default root password replaced.
    void loadConnected() {
        ModalAnswerer a;
        a.expect("ConnectionSettingsDialog", clickOk)
            .expect("PasswordEdit", newPassword(QStringLiteral("n3w")));
        window->loadDatabase();
        VERIFY_ANSWERED(a);
        QVERIFY(get<QWidget>("centralwidget")->isEnabled());
        waitForRefresh();
    }
    // F5, and the refresh it starts has landed.
    void updateModelsNow() {
        QApplication::setActiveWindow(window);
        QTest::keySequence(window, QKeySequence::Refresh);
        waitForRefresh();
    }
    // Keys pressed with the focus in widget, its tab shown, the window active.
    void pressKeys(QWidget* widget, const QKeySequence& keys) {
        showTabOf(widget);
        QApplication::setActiveWindow(window);
        widget->setFocus();
        QTest::keySequence(widget, keys);
    }
    void showTabOf(QWidget* widget) {
        auto* tabs = get<QTabWidget>("tabWidget");
        for (int i = 0; i < tabs->count(); ++i) {
            if (tabs->widget(i)->isAncestorOf(widget))
                tabs->setCurrentIndex(i);
        }
    }
    // The tables are filled off the GUI thread.
    void waitForRefresh() { QTRY_VERIFY_WITH_TIMEOUT(get<QWidget>("refreshIndicator")->isHidden(), 15000); }
    // Devices named as given, with the simulator's IMEIs from firstSimImei on, in the admin group.
    void addDevices(const QStringList& names, int firstSimImei = 1) {
        for (const QString& name : names) {
            const QString imei = simImei(firstSimImei++);
            QVERIFY(TestDb::exec(
                QStringLiteral("INSERT INTO devices (imei, name) VALUES (%1, '%2')").arg(imei, name)));
            QVERIFY(TestDb::exec(
                QStringLiteral(
                    "INSERT INTO device_groups (device_id, group_id) SELECT id, 1 FROM devices WHERE imei=%1")
                    .arg(imei)));
        }
    }
    QString stateText(bool sql, const char* label) const {
        // in the status bar: the database first, the server link second
        return window->findChildren<ConnectionStateWidget*>()
            .value(sql ? 0 : 1)
            ->findChild<QLabel*>(label)
            ->text();
    }
    // The database's online or offline picture, by its tooltip.
    QString stateIcon() const {
        return window->findChildren<ConnectionStateWidget*>()
            .value(0)
            ->findChild<QLabel*>("iconLabel")
            ->toolTip();
    }
    QPushButton* stateButton(bool sql) const {
        return window->findChildren<ConnectionStateWidget*>().value(sql ? 0 : 1)->connectionButton();
    }
    // Every table of the window shows what a fresh load in the same order shows.
    void compareWithFreshLoad() {
        ConfigHandler fresh(nullptr, QStringLiteral("fresh"));
        fresh.setConnectionSettings(TestDb::settings());
        QCOMPARE(fresh.connectToDatabase(), 0);
        fresh.checkDatabase();
        DevicesTableModel devices(nullptr, &fresh);
        UserTableModel users(nullptr, &fresh);
        GroupTableModel groups(nullptr, &fresh);
        const std::pair<const char*, RecordTableModel*> tables[] = {
            {"tableView", &devices}, {"usersView", &users}, {"groupsView", &groups}};
        for (const auto& [view, model] : tables) {
            const auto* shown = static_cast<RecordTableModel*>(get<QTableView>(view)->model());
            model->reload();
            model->sort(shown->sortColumn(), shown->sortOrder());
            model->setFilterText(shown->filterText());
            const auto contents = [](const QAbstractItemModel* m) {
                QStringList rows;
                for (int r = 0; r < m->rowCount(); ++r) {
                    QStringList cells;
                    for (int c = 0; c < m->columnCount(); ++c)
                        cells << m->index(r, c).data().toString();
                    rows << cells.join(QLatin1Char('|'));
                }
                return rows;
            };
            QCOMPARE(contents(shown), contents(model));
        }
    }
    template <typename T = QPushButton>
    T* get(const char* name) const {
        return child<T>(window, name);
    }

    QTemporaryDir dir;
    QString simFile;
    SimProcess sim{QStringLiteral(ORB_SIM_PATH)};
    int simPort = 0;
    MainWindow* window = nullptr;
};

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
