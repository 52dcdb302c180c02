// The main window end to end: adding, changing and deleting through the dialogs, bulk changes, imports.

#include "windowtest.h"

class TstMainWindowEdits : public WindowTest {
    Q_OBJECT

private slots:
    void initTestCase() { initCase(); }
    void init() { ORB_RESET_DB(); }
    void cleanup() { WindowTest::cleanup(); }
    void cleanupTestCase() { sim.stop(); }

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
    // A change waits on the database aside: meanwhile the window answers (its filter), the actions
    // that would change records wait, and the change lands once the database lets it through.
    void changeRunsAside() {
        addDevices({QStringLiteral("Первое"), QStringLiteral("Второе")});
        makeWindow();
        loadConnected();
        QSqlQuery lock(TestDb::admin());
        QVERIFY(lock.exec(QStringLiteral("START TRANSACTION")));
        QVERIFY(lock.exec(QStringLiteral("SELECT id FROM devices WHERE imei=%1 FOR UPDATE").arg(simImei(1))));
        auto* devices = get<QTableView>("tableView");
        selectRows(devices, {QStringLiteral("Первое")});
        ModalAnswerer a;
        a.expect("DeviceEditDialog", fillAndOk({QStringLiteral("nameEdit=Третье")}));
        QStringList meanwhile; // what was wrong while the change waited
        QTimer probe;
        connect(&probe, &QTimer::timeout, this, [&] {
            // the dialog has closed and its change waits for the row
            if (!a.done() || QApplication::activeModalWidget() ||
                !get<QWidget>("changeIndicator")->isVisible())
                return;
            probe.stop();
            for (const char* name :
                 {"addDeviceButton", "changeDeviceButton", "addUserButton", "serverDevices"}) {
                if (get(name)->isEnabled())
                    meanwhile << QString::fromLatin1(name);
            }
            typeText(get<QLineEdit>("filterEdit"), QStringLiteral("Втор"));
            if (devices->model()->rowCount() != 1)
                meanwhile << QStringLiteral("filter");
            if (!lock.exec(QStringLiteral("ROLLBACK")))
                meanwhile << QStringLiteral("rollback");
        });
        probe.start(10);
        get("changeDeviceButton")->click();
        VERIFY_ANSWERED(a);
        QVERIFY(!probe.isActive());
        QCOMPARE(meanwhile, QStringList());
        QCOMPARE(scalar(QStringLiteral("SELECT name FROM devices WHERE imei=%1").arg(simImei(1))),
                 QStringLiteral("Третье"));
        QVERIFY(!get<QWidget>("changeIndicator")->isVisible());
        QVERIFY(get("addDeviceButton")->isEnabled());
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
    // The devices written to a file aside, all in id order or the shown or selected rows in the
    // table's order; the window says so when it is done.
    void exportDevices_data() {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("names");
        QTest::newRow("all") << "allRadio"
                             << "Первое Второе Третье";
        QTest::newRow("shown, filtered") << "shownRadio"
                                         << "Первое Второе";
        QTest::newRow("selected") << "selectedRadio"
                                  << "Третье Первое";
    }
    void exportDevices() {
        QFETCH(QString, choice);
        QFETCH(QString, names);
        addDevices({QStringLiteral("Первое"), QStringLiteral("Второе"), QStringLiteral("Третье")});
        makeWindow();
        loadConnected();
        auto* table = get<QTableView>("tableView");
        table->sortByColumn(1, Qt::DescendingOrder);
        if (choice == QLatin1String("shownRadio"))
            static_cast<RecordTableModel*>(table->model())->setFilterText(QStringLiteral("о"));
        selectRows(table, {QStringLiteral("Третье"), QStringLiteral("Первое")});
        const QString path = dir.filePath(QStringLiteral("export.csv"));
        ModalAnswerer a;
        a.expect("ExportDevicesDialog",
                 [&](QWidget* d) {
                     child<QAbstractButton>(d, qPrintable(choice))->click();
                     clickOk(d);
                 })
            .expect("QFileDialog",
                    [&](QWidget* dialog) {
                        setText(dialog, "fileNameEdit", path);
                        static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
                    })
            .expectBox(QStringLiteral("Записано устройств: %1").arg(names.count(' ') + 1));
        get("exportButton")->click();
        VERIFY_ANSWERED(a);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines =
            QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QStringList written;
        for (const QString& line : lines.mid(1))
            written << line.section(',', 1, 1);
        QCOMPARE(written.join(' '), names);
        QVERIFY(lines.contains(simImei(1) + QStringLiteral(",Первое,,нет")));
    }
    // New settings that fail, then Cancel: the connection in use stays, and so do its tables.
};

QTEST_MAIN(TstMainWindowEdits)
#include "tst_mainwindowedits.moc"
