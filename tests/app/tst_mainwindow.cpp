// The main window end to end: start-up, connections and settings.

#include "windowtest.h"

class TstMainWindow : public WindowTest {
    Q_OBJECT

private slots:
    void initTestCase() { initCase(); }
    void init() { ORB_RESET_DB(); }
    void cleanup() { WindowTest::cleanup(); }
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
        // everything the window asks of the database goes aside: its own connection stays closed
        QVERIFY(!QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false).isOpen());
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
    // The status bar's indicators, shown together while a change and a refresh run, add no more
    // than their spacing to the window's least width: it would grow past a small screen.
    void indicatorsKeepTheWidth() {
        makeWindow();
        loadConnected();
        const int least = window->minimumSizeHint().width();
        for (const char* name : {"changeIndicator", "refreshIndicator"})
            get<QWidget>(name)->show();
        QApplication::processEvents();
        QVERIFY2(window->minimumSizeHint().width() <= least + 30,
                 qPrintable(QStringLiteral("%1 > %2").arg(window->minimumSizeHint().width()).arg(least)));
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
        // the window's connections: the refresh's and the one its changes go through
        killWindowConnections(2);
        if (QTest::currentTestFailed())
            return;
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
        // the refresh's, and the changes' once it has connected ahead
        killWindowConnections(2);
        if (QTest::currentTestFailed())
            return;

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

private:
    // Closes the window's connections from the server's side, once at least `count` are open.
    void killWindowConnections(int count) {
        QVector<qint64> ids;
        QSqlQuery q(TestDb::admin());
        QTRY_VERIFY([&] {
            ids.clear();
            q.exec(QStringLiteral("SELECT id FROM information_schema.processlist WHERE db=DATABASE() AND "
                                  "id<>CONNECTION_ID()"));
            while (q.next())
                ids << q.value(0).toLongLong();
            return ids.size() >= count;
        }());
        for (const qint64 id : qAsConst(ids))
            QVERIFY(TestDb::exec(QStringLiteral("KILL CONNECTION %1").arg(id)));
    }
};

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
