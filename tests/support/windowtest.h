#pragma once

// The main window end to end, shared by its tests: the real window against the test database and
// the server simulator, every dialog answered by ModalAnswerer.

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

inline const QString defaultRootHash =
    QStringLiteral("d4e918dff88104ed14e12a4648f0814fac9c85e261f74e55b647d37d4d363"
                   "1bb4c64e626866909c50628c8a24e95ba24dcc75d0e0f9e32b5bec47"
                   "2f6def9d071");
inline const int simDeviceCount = 40;
inline const QString rootHashQuery = QStringLiteral("SELECT LOWER(HEX(user_password)) FROM users WHERE id=1");

inline QString hashHex(const QString& password) {
    return QString::fromLatin1(
        QCryptographicHash::hash((PASSWORD_SALT + password).toUtf8(), QCryptographicHash::Sha3_512).toHex());
}

inline QString simImei(int i) {
    return QStringLiteral("3569380356430%1").arg(i, 2, 10, QLatin1Char('0'));
}

inline QString scalar(const QString& sql) {
    return TestDb::scalar(sql).toString();
}

// Types "object=value" into each named line edit, ticks the pick list rows whose text is
// listed, and presses OK.
inline ModalAnswerer::Action fillAndOk(const QStringList& fields, const QStringList& ticks = {}) {
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

inline ModalAnswerer::Action newPassword(const QString& pw) {
    return fillAndOk({"pwEdit=" + pw, "pwEdit2=" + pw});
}

// The first row with a cell showing text, or -1.
inline int rowShowing(const QTableView* view, const QString& text) {
    const QAbstractItemModel* m = view->model();
    for (int r = 0; r < m->rowCount(); ++r) {
        for (int c = 0; c < m->columnCount(); ++c) {
            if (m->index(r, c).data().toString() == text)
                return r;
        }
    }
    return -1;
}

inline void selectRows(QTableView* view, const QStringList& texts) {
    view->clearSelection();
    for (const QString& text : texts)
        view->selectionModel()->select(view->model()->index(rowShowing(view, text), 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

// Runs program with the test database's password at hand and waits for it to succeed.
inline bool run(const QString& program, const QStringList& args, QString* out) {
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

inline bool mariadbScript(const QString& command, const QString& dir, QString* out,
                          const QString& port = {}) {
    QStringList args{QStringLiteral(ORB_MARIADB_SCRIPT), command, dir};
    if (!port.isEmpty())
        args << port;
    return run(QStringLiteral("bash"), args, out);
}

// Each window test derives from this and forwards its fixture slots to it.
class WindowTest : public QObject {
protected:
    void initCase() {
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
    void cleanup() {
        delete window;
        window = nullptr;
    }

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
