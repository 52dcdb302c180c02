#include "windowrun.h"

#include "benchserver.h"

#include "app/mainwindow.h"
#include "core/records.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QSpinBox>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableView>
#include <QTcpServer>
#include <QTimer>

namespace windowbench {

WindowRun::WindowRun(int devices, const DelayRelay* relay, int timeoutMs, Closing closing)
    : devices(devices)
    , closing(closing)
    , measure(answerer, counters, relay, timeoutMs) {}

WindowRun::~WindowRun() = default;

void WindowRun::run(QSqlDatabase& stats) {
    const QString addImei = freeImei(stats);
    if (!startUp())
        return;
    if (closing == Closing::InRefresh) {
        closeDuringRefresh();
        return;
    }
    if (closing == Closing::InChange) {
        closeDuringChange(stats);
        return;
    }
    if (serverDevices > 0 && !serverListStep())
        return;
    if (tableSteps(stats) && changeSteps(addImei) && bulkSteps(stats))
        journalSteps(stats);
}

// "Добавить с сервера" once the server's whole list is in: the look-up, the dialog's rows and the
// dialog on screen, then closed.
bool WindowRun::serverListStep() {
    const auto listed = [this] {
        const QList<QLabel*> labels = window->findChildren<QLabel*>(QStringLiteral("extTextLabel"));
        for (const QLabel* label : labels) {
            if (label->text().contains(QStringLiteral("видимых устройств"))) {
                QString digits = label->text();
                digits.remove(QRegularExpression(QStringLiteral("[^0-9]")));
                return digits.toInt();
            }
        }
        return 0;
    };
    const qint64 end = nowNs() + 600 * 1000000000LL;
    while (listed() < serverDevices && nowNs() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    auto* fromServer = window->findChild<QAbstractButton*>(QStringLiteral("serverDevices"));
    if (listed() < serverDevices || !fromServer) {
        measure.fail(QStringLiteral("the server's list"), QStringLiteral("not received"));
        return false;
    }
    int rows = 0;
    measure.begin(QStringLiteral("\"Добавить с сервера\", %1 listed").arg(serverDevices));
    answerer.expect("AddDevicesDialog", [this, &rows](QWidget* d) {
        measure.commit();
        rows = d->findChild<QTableView*>(QStringLiteral("deviceList"))->model()->rowCount();
        static_cast<QDialog*>(d)->reject();
    });
    fromServer->click();
    return measure.finish([&] { return answerer.idle() && rows == serverDevices; });
}

void WindowRun::close() {
    window.reset();
}

bool WindowRun::startUp() {
    window.reset(new MainWindow);
    window->show();
    QCoreApplication::processEvents();
    table = window->findChild<QTableView*>(QStringLiteral("tableView"));
    filter = window->findChild<QLineEdit*>(QStringLiteral("filterEdit"));
    tabs = window->findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    if (!table || !filter || !tabs) {
        measure.fail(QStringLiteral("the window"),
                     QStringLiteral("tableView, filterEdit or tabWidget missing"));
        return false;
    }

    measure.describe = [this] {
        const QHeaderView* header = table->horizontalHeader();
        const QAbstractItemModel* model = table->model();
        return QStringLiteral(
                   "%1 rows, filter \"%2\", sorted by column %3 %4, row 0 %5 %6, row %7 at the top")
            .arg(model->rowCount())
            .arg(filter->text())
            .arg(header->sortIndicatorSection())
            .arg(header->sortIndicatorOrder() == Qt::AscendingOrder ? "ascending" : "descending")
            .arg(model->index(0, 0).data().toString(), model->index(0, 1).data().toString())
            .arg(table->rowAt(0));
    };
    // First a host that accepts the connection and never answers, given up after a second
    // with "Отмена": the result is how long Cancel took until the settings dialog was back.
    QTcpServer silent;
    int dbPort = 0;
    if (closing == Closing::Never && silent.listen(QHostAddress::LocalHost)) {
        answerer.expect("ConnectionSettingsDialog", [this, &silent, &dbPort](QWidget* d) {
            auto* port = d->findChild<QSpinBox*>(QStringLiteral("portEdit"));
            dbPort = port->value();
            port->setValue(silent.serverPort());
            measure.begin(QStringLiteral("host never answers, \"Отмена\" after 1 s"));
            QTimer::singleShot(1000, &silent, [this] {
                auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
                measure.commit();
                if (progress)
                    progress->cancel();
            });
            clickOk(d);
        });
        answerer.expect("ConnectionSettingsDialog", [this, &dbPort](QWidget* d) {
            measure.finish([] { return true; });
            d->findChild<QSpinBox*>(QStringLiteral("portEdit"))->setValue(dbPort);
            measure.begin(QStringLiteral("start-up, OK in \"Подключение\""));
            measure.commit();
            clickOk(d);
        });
    }
    // start-up: the connection dialog comes filled from settings.conf
    if (!silent.isListening())
        answerer.expect("ConnectionSettingsDialog", [this](QWidget* d) {
            measure.begin(QStringLiteral("start-up, OK in \"Подключение\""));
            measure.commit();
            clickOk(d);
        });
    window->loadDatabase();
    if (!measure.finish([&] { return table->model()->rowCount() == devices; }))
        return false;
    startupRssKiB = bench::peakRssKiB();
    return true;
}

// F5, and the window closed half a second into the read, as the person would close it.
void WindowRun::closeDuringRefresh() {
    triggerShortcut(window.get(), QKeySequence(Qt::Key_F5));
    const auto spin = [](int ms, const std::function<bool()>& until) {
        const qint64 end = nowNs() + ms * 1000000LL;
        while (nowNs() < end && !until())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    };
    spin(10000, [this] { return counters.read().busy > 0; });
    spin(500, [] { return false; });
    auto* refreshing = window->findChild<QWidget*>(QStringLiteral("refreshIndicator"));
    closedWhileBusy = refreshing && refreshing->isVisible();
    closedAtNs = steadyNs();
    window->close();
    window.reset();
    closingMs = double(steadyNs() - closedAtNs) / 1e6;
}

// A device renamed while another connection holds its row locked, so that the change waits on
// the server, and the window closed half a second into that wait, inside the application's own
// event loop as the person's session runs: closing the last window ends it.
void WindowRun::closeDuringChange(QSqlDatabase& stats) {
    const QModelIndex top = table->model()->index(table->rowAt(0), 0);
    click(table->viewport(), table->visualRect(top).center());
    QCoreApplication::processEvents();
    const int id = top.data(RecordRole).value<DeviceInfo>().id;
    QSqlQuery lock(stats);
    if (id <= 0 || !lock.exec(QStringLiteral("START TRANSACTION")) ||
        !lock.exec(
            QStringLiteral("SELECT id FROM %1.devices WHERE id = %2 FOR UPDATE").arg(WINDOW_DB).arg(id))) {
        measure.fail(QStringLiteral("close during a change"), QStringLiteral("the row could not be locked"));
        return;
    }
    answerer.expect("DeviceEditDialog", [](QWidget* d) {
        d->findChild<QLineEdit*>(QStringLiteral("nameEdit"))->setText(QStringLiteral("Boat locked"));
        clickOk(d);
    });
    auto* change = window->findChild<QAbstractButton*>(QStringLiteral("changeDeviceButton"));
    auto* saving = window->findChild<QWidget*>(QStringLiteral("changeIndicator"));
    qint64 waitingSince = 0;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        if (waitingSince == 0) {
            if (saving && saving->isVisible() && counters.read().busy > 0)
                waitingSince = nowNs();
            return;
        }
        if (nowNs() - waitingSince < 500000000LL)
            return;
        poll.stop();
        closedWhileBusy = saving->isVisible();
        closedAtNs = steadyNs();
        window->close();
    });
    QTimer::singleShot(0, change, &QAbstractButton::click);
    poll.start();
    QApplication::setQuitOnLastWindowClosed(true);
    QApplication::exec();
    sessionEndMs = double(steadyNs() - closedAtNs) / 1e6;
    window.reset();
    closingMs = double(steadyNs() - closedAtNs) / 1e6;
}

} // namespace windowbench
