// The main window end to end: filter, sort, counts, keys, copy and the journal tab.

#include "windowtest.h"

class TstMainWindowTables : public WindowTest {
    Q_OBJECT

private slots:
    void initTestCase() { initCase(); }
    void init() { ORB_RESET_DB(); }
    void cleanup() { WindowTest::cleanup(); }
    void cleanupTestCase() { sim.stop(); }

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
        // every shown row selected, then a longer filter: those it still shows stay selected
        view->selectAll();
        typeText(edit, filter.right(1));
        QTRY_VERIFY(line->text().startsWith(QStringLiteral("Показано %1 ").arg(view->model()->rowCount())));
        QCOMPARE(view->selectionModel()->selectedRows().size(), view->model()->rowCount());
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
};

QTEST_MAIN(TstMainWindowTables)
#include "tst_mainwindowtables.moc"
