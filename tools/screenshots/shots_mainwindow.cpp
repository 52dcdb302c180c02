// The main window with sample data, its connection dialogs and the deletion question.

#include "screenshots.h"

#include "app/connectionstatewidget.h"
#include "app/csettings.h"
#include "app/mainwindow.h"
#include "db/confighandler.h"
#include "link/orbserverhandler.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

namespace {

template <class T = QWidget>
T* part(QWidget* parent, const char* name) {
    return parent->findChild<T*>(QString::fromLatin1(name));
}

void clickOk(QWidget* dialog) {
    part<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Ok)->click();
}

bool mainWindowShots(ScreenshotContext& c) {
    // The window reads its connection from settings.conf: point it at the sample database.
    QTemporaryDir dir;
    CSettings::getInstance(dir.filePath(CSettings::defaultFileName()));
    CSettings::setSql(c.settings);
    bool rootDefault = false;
    try {
        rootDefault = c.handler() && c.handler()->checkDatabase();
    } catch (const QString&) {
    }
    // The window makes its own handler on Qt's default connection.
    c.dropHandler();

    bool ok = true;
    MainWindow window;
    window.show();
    onNextModal([&](QWidget* dialog) {
        ok &= c.save(dialog, QStringLiteral("connection-settings"));
        if (rootDefault)
            onNextModal([&](QWidget* prompt) {
                ok &= c.save(prompt, QStringLiteral("root-password-prompt"));
                static_cast<QDialog*>(prompt)->reject();
            });
        clickOk(dialog);
    });
    window.loadDatabase();
    if (!part(&window, "centralwidget")->isEnabled())
        return false;

    auto* tabs = part<QTabWidget>(&window, "tabWidget");
    tabs->setCurrentIndex(0);
    part<QTableView>(&window, "usersView")->selectRow(1);
    ok &= c.save(&window, QStringLiteral("main-users"));
    tabs->setCurrentIndex(1);
    ok &= c.save(&window, QStringLiteral("main-groups"));

    tabs->setCurrentIndex(2);
    auto* devices = part<QTableView>(&window, "tableView");
    for (int row : {1, 3, 4})
        devices->selectionModel()->select(devices->model()->index(row, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ok &= c.save(&window, QStringLiteral("main-devices"));

    // The table's context menu, each action with its key.
    QTimer::singleShot(10, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            ok &= c.save(menu, QStringLiteral("main-devices-menu"));
            menu->close();
        }
    });
    const QPoint at = devices->visualRect(devices->model()->index(3, 1)).center();
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at, devices->viewport()->mapToGlobal(at));
    QApplication::sendEvent(devices->viewport(), &menuEvent);

    onNextModal([&](QWidget* box) {
        ok &= c.save(box, QStringLiteral("delete-devices-question"));
        static_cast<QMessageBox*>(box)->button(QMessageBox::Cancel)->click();
    });
    part<QPushButton>(&window, "deleteDeviceButton")->click();

    auto* filter = part<QLineEdit>(&window, "filterEdit");
    filter->setText(QStringLiteral("Диспетчеры"));
    emit filter->textEdited(filter->text());
    ok &= c.save(&window, QStringLiteral("main-devices-filtered"));

    // The server link's button: the dialog shows only the server's endpoint.
    onNextModal([&](QWidget* dialog) {
        ok &= c.save(dialog, QStringLiteral("connection-settings-orb"));
        static_cast<QDialog*>(dialog)->reject();
    });
    window.findChildren<ConnectionStateWidget*>().value(1)->connectionButton()->click();

    // The database's button, TLS chosen without a CA file: the dialog says what that leaves open.
    onNextModal([&](QWidget* dialog) {
        part<QCheckBox>(dialog, "tlsCheck")->setChecked(true);
        ok &= c.save(dialog, QStringLiteral("connection-settings-tls"));
        static_cast<QDialog*>(dialog)->reject();
    });
    window.findChildren<ConnectionStateWidget*>().value(0)->connectionButton()->click();
    return ok;
}

} // namespace

ORB_SCREENSHOT_SECTION("mainwindow", mainWindowShots);
