#include "windowrun.h"

#include "benchserver.h"

#include "app/mainwindow.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeySequence>
#include <QLineEdit>
#include <QProgressDialog>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTcpServer>
#include <QTimer>

namespace windowbench {

WindowRun::WindowRun(int devices, const DelayRelay* relay, int timeoutMs, bool closeInRefresh)
    : devices(devices)
    , closeInRefresh(closeInRefresh)
    , measure(answerer, counters, relay, timeoutMs) {}

WindowRun::~WindowRun() = default;

void WindowRun::run(QSqlDatabase& stats) {
    const QString addImei = freeImei(stats);
    if (!startUp())
        return;
    if (closeInRefresh) {
        closeDuringRefresh();
        return;
    }
    if (tableSteps(stats) && changeSteps(addImei))
        journalSteps(stats);
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
    if (!closeInRefresh && silent.listen(QHostAddress::LocalHost)) {
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
    closedWhileRefreshing = refreshing && refreshing->isVisible();
    closedAtNs = steadyNs();
    window->close();
    window.reset();
    closingMs = double(steadyNs() - closedAtNs) / 1e6;
}

} // namespace windowbench
