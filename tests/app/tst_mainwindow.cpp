// The main window end to end: the real window against the test database and the
// server simulator, every dialog answered by ModalAnswerer.

#include "app/connectionstatewidget.h"
#include "app/constants.h"
#include "app/csettings.h"
#include "app/mainwindow.h"
#include "modalanswerer.h"
#include "testdb.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProcess>
#include <QSettings>
#include <QSpinBox>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString defaultRootHash = QStringLiteral("d4e918dff88104ed14e12a4648f0814fac9c85e261f74e55b647d37d4d363"
                                               "1bb4c64e626866909c50628c8a24e95ba24dcc75d0e0f9e32b5bec47"
                                               "2f6def9d071");
const int simDeviceCount = 40;

QString hashHex(const QString& password) {
    return QString::fromLatin1(
        QCryptographicHash::hash((PASSWORD_SALT + password).toUtf8(), QCryptographicHash::Sha3_512).toHex());
}

QString simImei(int i) {
    return QStringLiteral("3569380356430%1").arg(i, 2, 10, QLatin1Char('0'));
}

// Ticks the rows of a checkable list whose text is in names.
void tick(QWidget* dialog, const char* viewName, const QStringList& names) {
    QAbstractItemModel* model = dialog->findChild<QListView*>(QLatin1String(viewName))->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row, 0);
        if (names.contains(index.data().toString()))
            model->setData(index, Qt::Checked, Qt::CheckStateRole);
    }
}

void setText(QWidget* dialog, const char* name, const QString& text) {
    dialog->findChild<QLineEdit*>(QLatin1String(name))->setText(text);
}

ModalAnswerer::Action answerPassword(const QString& password) {
    return [password](QWidget* d) {
        setText(d, "pwEdit", password);
        setText(d, "pwEdit2", password);
        ModalAnswerer::clickOk(d);
    };
}

void reject(QWidget* d) {
    static_cast<QDialog*>(d)->reject();
}

} // namespace

#define VERIFY_ANSWERED(a)                                                                                   \
    do {                                                                                                     \
        QTRY_VERIFY2((a).done(), qPrintable((a).pending()));                                                 \
        QVERIFY2((a).problems.isEmpty(), qPrintable((a).problems.join(QLatin1Char('\n'))));                  \
    } while (false)

class TstMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void startupLoad_data();
    void startupLoad();
    void noPromptOnceRootPasswordChanged();
    void serverLinkStatus_data();
    void serverLinkStatus();

    void addDevice_data();
    void addDevice();
    void changeDevice_data();
    void changeDevice();
    void deleteDevices_data();
    void deleteDevices();
    void dontAskAgain();
    void filterSortAndDoubleClick();

    void addUser_data();
    void addUser();
    void changeUser_data();
    void changeUser();
    void removeUsers();

    void addGroup_data();
    void addGroup();
    void changeGroup_data();
    void changeGroup();
    void removeGroups();

    void importFromServer();
    void importFromFile_data();
    void importFromFile();

    void brokenDatabaseReported_data();
    void brokenDatabaseReported();
    void reconnectAfterCancelledStart();
    void settingsWrittenAtExit();
    void simulatorRestarted();
    void databaseStoppedMidSession();

private:
    bool startSim(QProcess& process, int port, int* actualPort);
    void makeWindow(const SqlConnectionSettings& sql, int orbPort);
    void loadConnected(const QString& newRootPassword = QStringLiteral("n3w-root"));
    void addDeviceRow(const QString& imei, const QString& name, const QVector<int>& groups = {1});
    void selectRows(QTableView* view, const QVector<int>& rows);
    QString stateText(bool sql, const char* label) const;
    QPushButton* stateButton(bool sql) const;
    template <typename T>
    T* child(const char* name) const {
        T* found = window->findChild<T*>(QLatin1String(name));
        if (!found)
            qFatal("no child %s", name);
        return found;
    }

    QTemporaryDir dir;
    QString simFile;
    QProcess sim;
    int simPort = 0;
    MainWindow* window = nullptr;
};

bool TstMainWindow::startSim(QProcess& process, int port, int* actualPort) {
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(QStringLiteral(ORB_SIM_PATH),
                  {QStringLiteral("--port"), QString::number(port), QStringLiteral("--file"), simFile});
    if (!process.waitForStarted(5000))
        return false;
    while (!process.canReadLine())
        if (!process.waitForReadyRead(10000))
            return false;
    const QString line = QString::fromLatin1(process.readLine()).trimmed();
    *actualPort = line.section(QLatin1Char(':'), -1).toInt();
    return line.startsWith(QLatin1String("listening on")) && *actualPort > 0;
}

void TstMainWindow::initTestCase() {
    QVERIFY(dir.isValid());
    QVERIFY(QDir::setCurrent(dir.path()));
    QVERIFY(CSettings::getInstance(dir.filePath(SETTINGS_FILE_NAME)));
    simFile = dir.filePath(QStringLiteral("sim-devices.csv"));
    QFile file(simFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (int i = 1; i <= simDeviceCount; ++i)
        file.write(QStringLiteral("%1,Машина %2\n").arg(simImei(i)).arg(i).toUtf8());
    file.close();
    QVERIFY(startSim(sim, 0, &simPort));
}

void TstMainWindow::init() {
    ORB_RESET_DB();
}

void TstMainWindow::cleanup() {
    delete window;
    window = nullptr;
}

void TstMainWindow::cleanupTestCase() {
    sim.kill();
    sim.waitForFinished();
}

void TstMainWindow::makeWindow(const SqlConnectionSettings& sql, int orbPort) {
    CSettings::writeValue(SQL_GROUP + KEY_IP, sql.ip);
    CSettings::writeValue(SQL_GROUP + KEY_PORT, sql.port);
    CSettings::writeValue(SQL_GROUP + KEY_DB, sql.db);
    CSettings::writeValue(SQL_GROUP + KEY_USER, sql.user);
    CSettings::writeValue(SQL_GROUP + KEY_PASSWORD, sql.password);
    CSettings::writeValue(ORB_GROUP + KEY_IP, QStringLiteral("127.0.0.1"));
    CSettings::writeValue(ORB_GROUP + KEY_PORT, orbPort);
    delete window;
    window = new MainWindow;
    window->show();
}

// Start-up with the settings as written, the default root password replaced.
void TstMainWindow::loadConnected(const QString& newRootPassword) {
    ModalAnswerer a;
    a.expect("ConnectionSettingsDialog", ModalAnswerer::clickOk)
        .expect("PasswordEdit", answerPassword(newRootPassword));
    window->loadDatabase();
    VERIFY_ANSWERED(a);
    QVERIFY(child<QWidget>("centralwidget")->isEnabled());
}

void TstMainWindow::addDeviceRow(const QString& imei, const QString& name, const QVector<int>& groups) {
    QVERIFY(TestDb::exec(
        QStringLiteral("INSERT INTO devices (imei, name, for_all) VALUES (%1, '%2', 0)").arg(imei, name)));
    for (int g : groups)
        QVERIFY(TestDb::exec(
            QStringLiteral(
                "INSERT INTO device_groups (device_id, group_id) SELECT id, %1 FROM devices WHERE imei=%2")
                .arg(g)
                .arg(imei)));
}

void TstMainWindow::selectRows(QTableView* view, const QVector<int>& rows) {
    view->clearSelection();
    for (int row : rows)
        view->selectionModel()->select(view->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

QString TstMainWindow::stateText(bool sql, const char* label) const {
    // in the status bar: the database first, the server link second
    const QList<ConnectionStateWidget*> widgets = window->findChildren<ConnectionStateWidget*>();
    return widgets.value(sql ? 0 : 1)->findChild<QLabel*>(QLatin1String(label))->text();
}

QPushButton* TstMainWindow::stateButton(bool sql) const {
    return window->findChildren<ConnectionStateWidget*>().value(sql ? 0 : 1)->connectionButton();
}

// ---- start-up

void TstMainWindow::startupLoad_data() {
    QTest::addColumn<bool>("acceptSettings");
    QTest::addColumn<QString>("dbPassword");
    QTest::addColumn<bool>("changeRoot");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("rootHash");

    const QString good = TestDb::settings().password;
    QTest::newRow("accepted, root password replaced") << true << good << true << true << hashHex("n3w-root");
    QTest::newRow("accepted, root prompt declined") << true << good << false << true << defaultRootHash;
    QTest::newRow("connection dialog cancelled") << false << good << false << false << defaultRootHash;
    QTest::newRow("wrong database password") << true << "wrong" << false << false << defaultRootHash;
}

void TstMainWindow::startupLoad() {
    QFETCH(bool, acceptSettings);
    QFETCH(QString, dbPassword);
    QFETCH(bool, changeRoot);
    QFETCH(bool, enabled);
    QFETCH(QString, rootHash);

    const SqlConnectionSettings sql = TestDb::settings();
    makeWindow(sql, simPort);
    ModalAnswerer a;
    if (!acceptSettings) {
        a.expect("ConnectionSettingsDialog", reject);
    } else {
        a.expect("ConnectionSettingsDialog", [&](QWidget* d) {
            setText(d, "pwEdit", dbPassword);
            ModalAnswerer::clickOk(d);
        });
        if (dbPassword != sql.password)
            a.expectBox(QStringLiteral("Не удалось подключиться к серверу: "), QMessageBox::Yes);
        else if (changeRoot)
            a.expect("PasswordEdit", answerPassword(QStringLiteral("n3w-root")));
        else
            a.expect("PasswordEdit", reject);
    }
    window->loadDatabase();
    VERIFY_ANSWERED(a);

    QCOMPARE(child<QWidget>("centralwidget")->isEnabled(), enabled);
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT HEX(user_password) FROM users WHERE id=1"))
                 .toString()
                 .toLower(),
             rootHash);
    QCOMPARE(child<QTableView>("usersView")->model()->rowCount(), enabled ? 1 : 0);
    QCOMPARE(child<QTableView>("groupsView")->model()->rowCount(), enabled ? 1 : 0);
    if (enabled)
        QCOMPARE(stateText(true, "textLabel"), QStringLiteral("SQL %1:%2").arg(sql.ip).arg(sql.port));
    if (!acceptSettings) // the database handle was never configured
        QCOMPARE(stateText(true, "textLabel"), QStringLiteral("SQL :-1"));
    QCOMPARE(stateText(true, "extTextLabel"), QString());
    QCOMPARE(stateText(false, "textLabel"), QStringLiteral("Orb 127.0.0.1:%1").arg(simPort));
    for (auto* state : window->findChildren<ConnectionStateWidget*>())
        QVERIFY(!state->findChild<QLabel*>(QStringLiteral("iconLabel"))->pixmap(Qt::ReturnByValue).isNull());
}

void TstMainWindow::noPromptOnceRootPasswordChanged() {
    QVERIFY(TestDb::exec(
        QStringLiteral("UPDATE users SET user_password=UNHEX('%1') WHERE id=1").arg(hashHex("x"))));
    makeWindow(TestDb::settings(), simPort);
    ModalAnswerer a;
    a.expect("ConnectionSettingsDialog", ModalAnswerer::clickOk);
    window->loadDatabase();
    VERIFY_ANSWERED(a);
    QCOMPARE(child<QTableView>("usersView")->model()->rowCount(), 1);
    QVERIFY(a.boxTexts.isEmpty());
}

void TstMainWindow::serverLinkStatus_data() {
    QTest::addColumn<bool>("serverUp");
    QTest::newRow("server answering") << true;
    QTest::newRow("nothing listening") << false;
}

void TstMainWindow::serverLinkStatus() {
    QFETCH(bool, serverUp);
    int port = simPort;
    if (!serverUp) {
        QTcpServer probe; // a port that is free now and stays closed
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    makeWindow(TestDb::settings(), port);
    loadConnected();
    if (serverUp) {
        QTRY_COMPARE_WITH_TIMEOUT(stateText(false, "extTextLabel"),
                                  QStringLiteral("видимых устройств: %1").arg(simDeviceCount), 15000);
    } else {
        QCOMPARE(stateText(false, "extTextLabel"), QStringLiteral(" "));
    }
    QCOMPARE(stateText(false, "textLabel"), QStringLiteral("Orb 127.0.0.1:%1").arg(port));
}

// ---- devices

void TstMainWindow::addDevice_data() {
    QTest::addColumn<QString>("imei");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("rows");
    QTest::newRow("new device") << "356938035643809" << QString() << 2;
    QTest::newRow("IMEI already stored") << "356938035643001"
                                         << "Такое устройство уже добавлено!" << 1;
}

void TstMainWindow::addDevice() {
    QFETCH(QString, imei);
    QFETCH(QString, error);
    QFETCH(int, rows);
    QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO groups_list (group_name) VALUES ('Такси')")));
    addDeviceRow(QStringLiteral("356938035643001"), QStringLiteral("Старое"));
    makeWindow(TestDb::settings(), simPort);
    loadConnected();

    ModalAnswerer a;
    a.expect("DeviceEditDialog", [&](QWidget* d) {
        setText(d, "imeiEdit", imei);
        setText(d, "nameEdit", QStringLiteral("Новое 'имя'"));
        tick(d, "groupsView", {QStringLiteral("Такси")});
        ModalAnswerer::clickOk(d);
    });
    if (!error.isEmpty())
        a.expectBox(error);
    child<QPushButton>("addDeviceButton")->click();
    VERIFY_ANSWERED(a);

    QCOMPARE(child<QTableView>("tableView")->model()->rowCount(), rows);
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM devices")).toInt(), rows);
    if (error.isEmpty()) {
        QCOMPARE(
            TestDb::scalar(QStringLiteral("SELECT name FROM devices WHERE imei=%1").arg(imei)).toString(),
            QStringLiteral("Новое 'имя'"));
        QCOMPARE(TestDb::scalar(
                     QStringLiteral("SELECT COUNT(*) FROM device_groups g JOIN devices d ON d.id=g.device_id "
                                    "WHERE d.imei=%1")
                         .arg(imei))
                     .toInt(),
                 2); // administrators and the ticked group
    }
}

void TstMainWindow::changeDevice_data() {
    QTest::addColumn<QString>("imei");
    QTest::addColumn<QString>("error");
    QTest::newRow("renamed") << "356938035643001" << QString();
    QTest::newRow("IMEI of another device") << "356938035643002"
                                            << "Такое устройство уже добавлено!";
}

void TstMainWindow::changeDevice() {
    QFETCH(QString, imei);
    QFETCH(QString, error);
    addDeviceRow(QStringLiteral("356938035643001"), QStringLiteral("Первое"));
    addDeviceRow(QStringLiteral("356938035643002"), QStringLiteral("Второе"));
    makeWindow(TestDb::settings(), simPort);
    loadConnected();

    auto* view = child<QTableView>("tableView");
    selectRows(view, {0});
    QVERIFY(child<QPushButton>("changeDeviceButton")->isEnabled());
    ModalAnswerer a;
    a.expect("DeviceEditDialog", [&](QWidget* d) {
        QCOMPARE(d->findChild<QLineEdit*>(QStringLiteral("imeiEdit"))->text(),
                 QStringLiteral("356938035643001"));
        setText(d, "imeiEdit", imei);
        setText(d, "nameEdit", QStringLiteral("Переименовано"));
        ModalAnswerer::clickOk(d);
    });
    if (!error.isEmpty())
        a.expectBox(error);
    child<QPushButton>("changeDeviceButton")->click();
    VERIFY_ANSWERED(a);

    const QString expected = error.isEmpty() ? QStringLiteral("Переименовано") : QStringLiteral("Первое");
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT name FROM devices WHERE imei=356938035643001")).toString(),
             expected);
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT name FROM devices WHERE imei=356938035643002")).toString(),
             QStringLiteral("Второе"));
    QCOMPARE(view->model()->index(0, 1).data().toString(), expected);
}

void TstMainWindow::deleteDevices_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("left");
    QTest::newRow("button, OK") << "ok" << 2;
    QTest::newRow("button, Cancel") << "cancel" << 5;
    QTest::newRow("Delete key, OK") << "key" << 2;
}

void TstMainWindow::deleteDevices() {
    QFETCH(QString, how);
    QFETCH(int, left);
    for (int i = 1; i <= 5; ++i)
        addDeviceRow(simImei(i), QStringLiteral("d%1").arg(i));
    makeWindow(TestDb::settings(), simPort);
    loadConnected();

    auto* view = child<QTableView>("tableView");
    selectRows(view, {0, 2, 4});
    ModalAnswerer a;
    a.expect("QMessageBox", [&](QWidget* w) {
        auto* box = static_cast<QMessageBox*>(w);
        QCOMPARE(box->windowTitle(), QStringLiteral("Удаление устройств"));
        QCOMPARE(box->text(),
                 QStringLiteral("Вы действительно хотить удалить из базы выбранные устройства (3 шт.)?"));
        QCOMPARE(box->checkBox()->text(), QStringLiteral("больше не спрашивать"));
        QCOMPARE(box->defaultButton(), box->button(QMessageBox::Ok));
        box->button(how == QLatin1String("cancel") ? QMessageBox::Cancel : QMessageBox::Ok)->click();
    });
    if (how == QLatin1String("key"))
        QTest::keyClick(view, Qt::Key_Delete);
    else
        child<QPushButton>("deleteDeviceButton")->click();
    VERIFY_ANSWERED(a);

    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM devices")).toInt(), left);
    QCOMPARE(view->model()->rowCount(), left);
    if (left == 2) {
        QCOMPARE(
            TestDb::scalar(QStringLiteral("SELECT GROUP_CONCAT(name ORDER BY name) FROM devices")).toString(),
            QStringLiteral("d2,d4"));
        QCOMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM device_groups")).toInt(), 2);
    }
}

void TstMainWindow::dontAskAgain() {
    for (int i = 1; i <= 4; ++i)
        addDeviceRow(simImei(i), QStringLiteral("d%1").arg(i));
    makeWindow(TestDb::settings(), simPort);
    loadConnected();
    auto* view = child<QTableView>("tableView");

    // Ticking the box and then cancelling deletes nothing this time...
    selectRows(view, {0});
    ModalAnswerer a;
    a.expect("QMessageBox", [](QWidget* w) {
        auto* box = static_cast<QMessageBox*>(w);
        box->checkBox()->setChecked(true);
        box->button(QMessageBox::Cancel)->click();
    });
    child<QPushButton>("deleteDeviceButton")->click();
    VERIFY_ANSWERED(a);
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM devices")).toInt(), 4);

    // ...and the next deletions run without a box (an unexpected box would be reported).
    ModalAnswerer none;
    selectRows(view, {0, 1});
    child<QPushButton>("deleteDeviceButton")->click();
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM devices")).toInt(), 2);
    selectRows(view, {0});
    QTest::keyClick(view, Qt::Key_Delete);
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM devices")).toInt(), 1);
    VERIFY_ANSWERED(none);
}

void TstMainWindow::filterSortAndDoubleClick() {
    // Stored out of IMEI order: the table keeps the database's order until a header is clicked.
    addDeviceRow(QStringLiteral("356938035643003"), QStringLiteral("Bus 35"));
    addDeviceRow(QStringLiteral("356938035643001"), QStringLiteral("bus 7"));
    addDeviceRow(QStringLiteral("111111111111111"), QStringLiteral("Van"));
    makeWindow(TestDb::settings(), simPort);
    loadConnected();
    auto* view = child<QTableView>("tableView");
    QAbstractItemModel* model = view->model();
    auto column = [model](int c) {
        QStringList texts;
        for (int r = 0; r < model->rowCount(); ++r)
            texts << model->index(r, c).data().toString();
        return texts;
    };
    QCOMPARE(column(1), (QStringList{"Bus 35", "bus 7", "Van"}));

    QTest::mouseClick(view->horizontalHeader()->viewport(), Qt::LeftButton, {},
                      QPoint(view->horizontalHeader()->sectionViewportPosition(0) + 5, 5));
    QCOMPARE(column(1), (QStringList{"Van", "bus 7", "Bus 35"}));

    auto* filter = child<QLineEdit>("filterEdit");
    QTest::keyClicks(filter, QStringLiteral("35"));
    QCOMPARE(column(1), (QStringList{"bus 7", "Bus 35"})); // "35" is in every IMEI of these two
    filter->clear();
    QTest::keyClicks(filter, QStringLiteral("Bus"));
    QCOMPARE(column(1), (QStringList{"Bus 35"}));
    QTest::keyClick(filter, Qt::Key_Backspace);
    QTest::keyClick(filter, Qt::Key_Backspace);
    QTest::keyClick(filter, Qt::Key_Backspace);
    QCOMPARE(model->rowCount(), 3);

    // Double-clicking a row opens its edit dialog.
    ModalAnswerer a;
    a.expect("DeviceEditDialog", [](QWidget* d) {
        QCOMPARE(d->findChild<QLineEdit*>(QStringLiteral("nameEdit"))->text(), QStringLiteral("bus 7"));
        reject(d);
    });
    const QRect cell = view->visualRect(model->index(1, 1));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    VERIFY_ANSWERED(a);
}

// ---- users

void TstMainWindow::addUser_data() {
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("error");
    QTest::newRow("new user in a group") << "ivanov" << QString();
    QTest::newRow("login already taken") << "petrov"
                                         << "Такой пользователь уже существует!";
}

void TstMainWindow::addUser() {
    QFETCH(QString, login);
    QFETCH(QString, error);
    QVERIFY(
        TestDb::exec(QStringLiteral("INSERT INTO groups_list (id, group_name) VALUES (7, 'Диспетчеры')")));
    QVERIFY(
        TestDb::exec(QStringLiteral("INSERT INTO users (user_login, user_password) VALUES ('petrov', 'x')")));
    makeWindow(TestDb::settings(), simPort);
    loadConnected();

    ModalAnswerer a;
    a.expect("RegistrationDialog", [&](QWidget* d) {
        setText(d, "loginEdit", login);
        setText(d, "pwEdit", QStringLiteral("секрет"));
        setText(d, "pwEdit2", QStringLiteral("секрет"));
        d->findChild<QCheckBox*>(QStringLiteral("showGroups"))->setChecked(true);
        tick(d, "groupsView", {QStringLiteral("Диспетчеры")});
        ModalAnswerer::clickOk(d);
    });
    if (!error.isEmpty())
        a.expectBox(error);
    child<QPushButton>("addUserButton")->click();
    VERIFY_ANSWERED(a);

    QCOMPARE(child<QTableView>("usersView")->model()->rowCount(), error.isEmpty() ? 3 : 2);
    if (error.isEmpty()) {
        QCOMPARE(TestDb::scalar(
                     QStringLiteral("SELECT LOWER(HEX(user_password)) FROM users WHERE user_login='ivanov'"))
                     .toString(),
                 hashHex(QStringLiteral("секрет")));
        QCOMPARE(TestDb::scalar(
                     QStringLiteral("SELECT g.group_id FROM user_groups g JOIN users u ON u.id=g.user_id "
                                    "WHERE u.user_login='ivanov'"))
                     .toInt(),
                 7);
    }
}

void TstMainWindow::changeUser_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("error");
    QTest::newRow("renamed") << 1 << "sidorov" << QString();
    QTest::newRow("login of another user") << 1 << "root"
                                           << "Такой пользователь уже существует!";
    QTest::newRow("root: password only") << 0 << "root" << QString();
}

void TstMainWindow::changeUser() {
    QFETCH(int, row);
    QFETCH(QString, login);
    QFETCH(QString, error);
    QVERIFY(TestDb::exec(
        QStringLiteral("INSERT INTO users (id, user_login, user_password) VALUES (2, 'petrov', 'x')")));
    makeWindow(TestDb::settings(), simPort);
    loadConnected();
    auto* view = child<QTableView>("usersView");
    QCOMPARE(view->model()->index(row, 0).data().toString(),
             row == 0 ? QStringLiteral("root") : QStringLiteral("petrov"));
    selectRows(view, {row});

    ModalAnswerer a;
    if (row == 0) {
        a.expect("PasswordEdit", answerPassword(QStringLiteral("другой")));
    } else {
        a.expect("RegistrationDialog", [&](QWidget* d) {
            setText(d, "loginEdit", login);
            ModalAnswerer::clickOk(d);
        });
        if (!error.isEmpty())
            a.expectBox(error);
    }
    child<QPushButton>("changeUserButton")->click();
    VERIFY_ANSWERED(a);

    if (row == 0) {
        QCOMPARE(TestDb::scalar(QStringLiteral("SELECT LOWER(HEX(user_password)) FROM users WHERE id=1"))
                     .toString(),
                 hashHex(QStringLiteral("другой")));
        QCOMPARE(TestDb::scalar(QStringLiteral("SELECT user_login FROM users WHERE id=1")).toString(),
                 QStringLiteral("root"));
        QCOMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM user_groups WHERE user_id=1")).toInt(),
                 1);
    } else {
        QCOMPARE(TestDb::scalar(QStringLiteral("SELECT user_login FROM users WHERE id=2")).toString(),
                 error.isEmpty() ? login : QStringLiteral("petrov"));
    }
}

void TstMainWindow::removeUsers() {
    QVERIFY(TestDb::exec(
        QStringLiteral("INSERT INTO users (id, user_login, user_password) VALUES (2, 'a', 'x'), (3, "
                       "'b', 'x')")));
    QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO user_groups VALUES (2, 1)")));
    makeWindow(TestDb::settings(), simPort);
    loadConnected();
    auto* view = child<QTableView>("usersView");
    selectRows(view, {0, 1});
    QVERIFY(child<QPushButton>("removeUserButton")->isEnabled());
    ModalAnswerer a;
    a.expect("QMessageBox", [](QWidget* w) {
        auto* box = static_cast<QMessageBox*>(w);
        QCOMPARE(box->windowTitle(), QStringLiteral("Удаление пользователей"));
        QCOMPARE(box->text(),
                 QStringLiteral("Вы действительно хотить удалить из базы выбранныx пользователей (2 шт.)?"));
        QVERIFY(!box->checkBox());
        box->button(QMessageBox::Ok)->click();
    });
    child<QPushButton>("removeUserButton")->click();
    VERIFY_ANSWERED(a);
    // root stays, the other selected user is gone with his memberships
    QCOMPARE(
        TestDb::scalar(QStringLiteral("SELECT GROUP_CONCAT(user_login ORDER BY id) FROM users")).toString(),
        QStringLiteral("root,b"));
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM user_groups WHERE user_id=2")).toInt(), 0);
    QCOMPARE(view->model()->rowCount(), 2);
}

// ---- groups

void TstMainWindow::addGroup_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("error");
    QTest::newRow("new group with a user") << "Логистика" << QString();
    QTest::newRow("name already taken") << "Такси"
                                        << "Такая группа уже существует!";
}

void TstMainWindow::addGroup() {
    QFETCH(QString, name);
    QFETCH(QString, error);
    QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO groups_list (group_name) VALUES ('Такси')")));
    QVERIFY(TestDb::exec(
        QStringLiteral("INSERT INTO users (id, user_login, user_password) VALUES (2, 'petrov', 'x')")));
    makeWindow(TestDb::settings(), simPort);
    loadConnected();

    ModalAnswerer a;
    a.expect("GroupEditDialog", [&](QWidget* d) {
        setText(d, "groupNameEdit", name);
        tick(d, "usersView", {QStringLiteral("petrov")});
        ModalAnswerer::clickOk(d);
    });
    if (!error.isEmpty())
        a.expectBox(error);
    child<QPushButton>("addGroupButton")->click();
    VERIFY_ANSWERED(a);

    QCOMPARE(child<QTableView>("groupsView")->model()->rowCount(), error.isEmpty() ? 3 : 2);
    if (error.isEmpty())
        QCOMPARE(TestDb::scalar(QStringLiteral("SELECT u.user_id FROM user_groups u JOIN groups_list g ON "
                                               "g.id=u.group_id WHERE g.group_name='%1'")
                                    .arg(name))
                     .toInt(),
                 2);
}

void TstMainWindow::changeGroup_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("error");
    QTest::newRow("renamed") << "Маршрутки" << QString();
    QTest::newRow("name of another group") << "Admin"
                                           << "Такая группа уже существует!";
}

void TstMainWindow::changeGroup() {
    QFETCH(QString, name);
    QFETCH(QString, error);
    QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO groups_list (id, group_name) VALUES (5, 'Такси')")));
    makeWindow(TestDb::settings(), simPort);
    loadConnected();
    auto* view = child<QTableView>("groupsView");
    int row = 0;
    while (view->model()->index(row, 0).data().toString() != QStringLiteral("Такси"))
        QVERIFY2(++row < view->model()->rowCount(), qPrintable(view->model()->index(0, 0).data().toString()));
    selectRows(view, {row});

    ModalAnswerer a;
    a.expect("GroupEditDialog", [&](QWidget* d) {
        setText(d, "groupNameEdit", name);
        ModalAnswerer::clickOk(d);
    });
    if (!error.isEmpty())
        a.expectBox(error);
    child<QPushButton>("changeGroupButton")->click();
    VERIFY_ANSWERED(a);
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT group_name FROM groups_list WHERE id=5")).toString(),
             error.isEmpty() ? name : QStringLiteral("Такси"));
}

void TstMainWindow::removeGroups() {
    QVERIFY(TestDb::exec(QStringLiteral("INSERT INTO groups_list (id, group_name) VALUES (5, 'Такси')")));
    addDeviceRow(simImei(1), QStringLiteral("d"), {1, 5});
    makeWindow(TestDb::settings(), simPort);
    loadConnected();
    auto* view = child<QTableView>("groupsView");
    selectRows(view, {0, 1});
    ModalAnswerer a;
    a.expect("QMessageBox", [](QWidget* w) {
        auto* box = static_cast<QMessageBox*>(w);
        QCOMPARE(box->windowTitle(), QStringLiteral("Удаление групп"));
        QCOMPARE(box->text(),
                 QStringLiteral("Вы действительно хотить удалить из базы выбранные группы (2 шт.)?"));
        box->button(QMessageBox::Ok)->click();
    });
    child<QPushButton>("removeGroupButton")->click();
    VERIFY_ANSWERED(a);
    // the administrators' group cannot be deleted
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT GROUP_CONCAT(group_name) FROM groups_list")).toString(),
             QStringLiteral("Admin"));
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM device_groups WHERE group_id=5")).toInt(),
             0);
    QCOMPARE(view->model()->rowCount(), 1);
}

// ---- bulk import

void TstMainWindow::importFromServer() {
    for (int i = 1; i <= 10; ++i)
        addDeviceRow(simImei(i), QStringLiteral("уже есть %1").arg(i));
    makeWindow(TestDb::settings(), simPort);
    loadConnected();
    QTRY_COMPARE_WITH_TIMEOUT(stateText(false, "extTextLabel"),
                              QStringLiteral("видимых устройств: %1").arg(simDeviceCount), 15000);

    ModalAnswerer a;
    a.expect("AddDevicesDialog", [](QWidget* d) {
        d->findChild<QPushButton*>(QStringLiteral("checkAllDevs"))->click();
        ModalAnswerer::clickOk(d);
    });
    a.expect("QMessageBox", [](QWidget* w) {
        auto* box = static_cast<QMessageBox*>(w);
        QVERIFY2(box->text().startsWith(QStringLiteral("Добавлено устройств: 30 из 40 выбранных.")),
                 qPrintable(box->text()));
        box->button(QMessageBox::Ok)->click();
    });
    child<QPushButton>("serverDevices")->click();
    VERIFY_ANSWERED(a);
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM devices")).toInt(), simDeviceCount);
    QCOMPARE(
        TestDb::scalar(QStringLiteral("SELECT name FROM devices WHERE imei=%1").arg(simImei(40))).toString(),
        QStringLiteral("Машина 40"));
    QCOMPARE(child<QTableView>("tableView")->model()->rowCount(), simDeviceCount);
}

void TstMainWindow::importFromFile_data() {
    QTest::addColumn<bool>("fileExists");
    QTest::newRow("device list file") << true;
    QTest::newRow("file that cannot be opened") << false;
}

void TstMainWindow::importFromFile() {
    QFETCH(bool, fileExists);
    addDeviceRow(QStringLiteral("356938035643001"), QStringLiteral("есть"));
    const QString path = dir.filePath(QStringLiteral("import.csv"));
    QFile::remove(path);
    if (fileExists) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("imei,name\n356938035643001,Old\n356938035643002,Новый\n356938035643003\n");
    }
    makeWindow(TestDb::settings(), simPort);
    loadConnected();

    ModalAnswerer a;
    a.expect("QFileDialog", [&](QWidget* w) {
        auto* dialog = static_cast<QFileDialog*>(w);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Выбрать файл с устройствами"));
        QCOMPARE(dialog->nameFilters(), QStringList{QStringLiteral("CSV text files (*.txt *.csv)")});
        // the typed absolute path, not selectFile(): that one depends on the file model's loading
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
        static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
    });
    if (fileExists) {
        a.expect("AddDevicesDialog", [](QWidget* d) {
            d->findChild<QPushButton*>(QStringLiteral("checkAllDevs"))->click();
            ModalAnswerer::clickOk(d);
        });
        a.expectBox(QStringLiteral("Добавлено устройств: 2 из 3 выбранных."));
    } else {
        a.expectBox(QStringLiteral(
            "Ошибка обработки файла, проверьте что выбранный файл существует и имеет правильный формат"));
    }
    child<QPushButton>("importFromFile")->click();
    VERIFY_ANSWERED(a);
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM devices")).toInt(), fileExists ? 3 : 1);
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT name FROM devices WHERE imei=356938035643001")).toString(),
             QStringLiteral("есть"));
}

// ---- connections

void TstMainWindow::brokenDatabaseReported_data() {
    QTest::addColumn<bool>("atStartup");
    QTest::newRow("start-up load") << true;
    QTest::newRow("reconnection") << false;
}

// The integrity check's error reaches the user in both places, with the same text.
void TstMainWindow::brokenDatabaseReported() {
    QFETCH(bool, atStartup);
    const QString expected =
        QStringLiteral("Произошла ошибка при загрузке БД.\nuser root not found\nПроверьте правильность");
    makeWindow(TestDb::settings(), simPort);
    if (atStartup) {
        QVERIFY(TestDb::exec(QStringLiteral("DELETE FROM user_groups WHERE user_id=1")));
        ModalAnswerer a;
        a.expect("ConnectionSettingsDialog", ModalAnswerer::clickOk).expectBox(expected);
        window->loadDatabase();
        VERIFY_ANSWERED(a);
        return;
    }
    loadConnected();
    QVERIFY(TestDb::exec(QStringLiteral("DELETE FROM user_groups WHERE user_id=1")));
    ModalAnswerer a;
    a.expect("ConnectionSettingsDialog", [](QWidget* d) {
        QVERIFY(!d->findChild<QWidget*>(QStringLiteral("orbGroup"))->isVisible());
        ModalAnswerer::clickOk(d);
    });
    a.expectBox(expected);
    stateButton(true)->click();
    VERIFY_ANSWERED(a);
}

// After a cancelled start-up the database button connects, enables the tabs and asks
// for root's new password again.
void TstMainWindow::reconnectAfterCancelledStart() {
    makeWindow(TestDb::settings(), simPort);
    ModalAnswerer cancel;
    cancel.expect("ConnectionSettingsDialog", reject);
    window->loadDatabase();
    VERIFY_ANSWERED(cancel);
    QVERIFY(!child<QWidget>("centralwidget")->isEnabled());

    ModalAnswerer a;
    a.expect("ConnectionSettingsDialog", ModalAnswerer::clickOk)
        .expect("PasswordEdit", answerPassword("later"));
    stateButton(true)->click();
    VERIFY_ANSWERED(a);
    QVERIFY(child<QWidget>("centralwidget")->isEnabled());
    QCOMPARE(child<QTableView>("usersView")->model()->rowCount(), 1);
    QCOMPARE(
        TestDb::scalar(QStringLiteral("SELECT LOWER(HEX(user_password)) FROM users WHERE id=1")).toString(),
        hashHex(QStringLiteral("later")));
    const SqlConnectionSettings sql = TestDb::settings();
    QCOMPARE(stateText(true, "textLabel"), QStringLiteral("SQL %1:%2").arg(sql.ip).arg(sql.port));
}

void TstMainWindow::settingsWrittenAtExit() {
    const SqlConnectionSettings sql = TestDb::settings();
    makeWindow(sql, simPort);
    loadConnected();
    ModalAnswerer a;
    a.expect("ConnectionSettingsDialog", [](QWidget* d) {
        QVERIFY(!d->findChild<QWidget*>(QStringLiteral("dbGroup"))->isVisible());
        d->findChild<QSpinBox*>(QStringLiteral("orbPortEdit"))->setValue(4321);
        ModalAnswerer::clickOk(d);
    });
    stateButton(false)->click();
    VERIFY_ANSWERED(a);
    QCOMPARE(stateText(false, "textLabel"), QStringLiteral("Orb 127.0.0.1:4321"));
    CSettings::writeValue(ORB_GROUP + KEY_PORT, 1); // overwritten when the window goes
    delete window;
    window = nullptr;

    QSettings file(dir.filePath(SETTINGS_FILE_NAME), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("orb/port")).toInt(), 4321);
    QCOMPARE(file.value(QStringLiteral("orb/ip")).toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(file.value(QStringLiteral("sql/port")).toInt(), sql.port);
    QCOMPARE(file.value(QStringLiteral("sql/db")).toString(), sql.db);
    QCOMPARE(file.value(QStringLiteral("sql/user")).toString(), sql.user);
    QCOMPARE(file.value(QStringLiteral("sql/password")).toString(), sql.password);
}

void TstMainWindow::simulatorRestarted() {
    QProcess own;
    int port = 0;
    QVERIFY(startSim(own, 0, &port));
    makeWindow(TestDb::settings(), port);
    loadConnected();
    const QString listed = QStringLiteral("видимых устройств: %1").arg(simDeviceCount);
    QTRY_COMPARE_WITH_TIMEOUT(stateText(false, "extTextLabel"), listed, 15000);

    own.kill();
    own.waitForFinished();
    QTRY_COMPARE_WITH_TIMEOUT(stateText(false, "extTextLabel"), QStringLiteral(" "), 15000);

    int again = 0;
    QVERIFY(startSim(own, port, &again));
    QCOMPARE(again, port);
    QTRY_COMPARE_WITH_TIMEOUT(stateText(false, "extTextLabel"), listed, 20000); // reconnects every 5 s
    own.kill();
    own.waitForFinished();
}

namespace {

bool runMariadbScript(const QStringList& args, QString* out) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("bash"), QStringList{QStringLiteral(ORB_MARIADB_SCRIPT)} + args);
    if (!p.waitForFinished(120000))
        return false;
    *out = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

// A server of its own, so that stopping it does not disturb the tests that share the fixture.
void TstMainWindow::databaseStoppedMidSession() {
    QTemporaryDir serverDir;
    QVERIFY(serverDir.isValid());
    QString out;
    QVERIFY2(runMariadbScript({QStringLiteral("start"), serverDir.path()}, &out), qPrintable(out));
    const int port = out.trimmed().split(QLatin1Char('\n')).last().toInt();
    QVERIFY(port > 0);
    struct Stop {
        QString dir;
        ~Stop() {
            QString ignored;
            runMariadbScript({QStringLiteral("stop"), dir}, &ignored);
        }
    } stop{serverDir.path()};

    SqlConnectionSettings sql = TestDb::settings();
    sql.port = port;
    sql.db = QStringLiteral("orb_fault");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), QStringLiteral("fault-setup"));
        db.setHostName(sql.ip);
        db.setPort(port);
        db.setUserName(sql.user);
        db.setPassword(sql.password);
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("CREATE DATABASE orb_fault CHARACTER SET utf8mb4")));
        QVERIFY(q.exec(QStringLiteral("USE orb_fault")));
        QFile schema(QStringLiteral(ORB_SCHEMA_PATH));
        QVERIFY(schema.open(QIODevice::ReadOnly));
        QString text;
        for (const QString& line : QString::fromUtf8(schema.readAll()).split(QLatin1Char('\n')))
            if (!line.startsWith(QLatin1String("--")))
                text += line + QLatin1Char('\n');
        for (const QString& statement : text.split(QLatin1Char(';')))
            if (!statement.trimmed().isEmpty())
                QVERIFY2(q.exec(statement), qPrintable(q.lastError().text()));
        QVERIFY(
            q.exec(QStringLiteral("INSERT INTO devices (imei, name) VALUES (356938035643001, 'Первое')")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fault-setup"));

    makeWindow(sql, simPort);
    loadConnected();
    auto* devices = child<QTableView>("tableView");
    QCOMPARE(devices->model()->rowCount(), 1);

    QVERIFY2(runMariadbScript({QStringLiteral("stop"), serverDir.path()}, &out), qPrintable(out));

    // A change while the server is gone: the error is shown, the tables keep their rows.
    ModalAnswerer a;
    a.expect("DeviceEditDialog", [](QWidget* d) {
        setText(d, "imeiEdit", QStringLiteral("356938035643002"));
        ModalAnswerer::clickOk(d);
    });
    a.expectBox(QStringLiteral("Нет связи с сервером БД"));
    child<QPushButton>("addDeviceButton")->click();
    VERIFY_ANSWERED(a);
    QCOMPARE(devices->model()->rowCount(), 1);
    QCOMPARE(child<QTableView>("usersView")->model()->rowCount(), 1);

    // Reconnecting while it is still down fails with the usual question.
    ModalAnswerer down;
    down.expect("ConnectionSettingsDialog", ModalAnswerer::clickOk)
        .expectBox(QStringLiteral("Не удалось подключиться к серверу: "), QMessageBox::Yes);
    stateButton(true)->click();
    VERIFY_ANSWERED(down);
    QVERIFY(!child<QWidget>("centralwidget")->isEnabled());

    // Back on the same port: reconnecting through the status widget works and nothing was lost.
    QVERIFY2(runMariadbScript({QStringLiteral("start"), serverDir.path(), QString::number(port)}, &out),
             qPrintable(out));
    ModalAnswerer up;
    up.expect("ConnectionSettingsDialog", ModalAnswerer::clickOk);
    stateButton(true)->click();
    VERIFY_ANSWERED(up);
    QVERIFY(child<QWidget>("centralwidget")->isEnabled());
    QCOMPARE(devices->model()->rowCount(), 1);
    QCOMPARE(devices->model()->index(0, 1).data().toString(), QStringLiteral("Первое"));

    ModalAnswerer add;
    add.expect("DeviceEditDialog", [](QWidget* d) {
        setText(d, "imeiEdit", QStringLiteral("356938035643002"));
        ModalAnswerer::clickOk(d);
    });
    child<QPushButton>("addDeviceButton")->click();
    VERIFY_ANSWERED(add);
    QCOMPARE(devices->model()->rowCount(), 2);
}

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
