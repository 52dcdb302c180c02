#include "windowrun.h"

#include "app/mainwindow.h"
#include "models/recordtablemodel.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QSqlError>
#include <QSqlQuery>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>

namespace windowbench {

namespace {

// What the unfiltered table shows, read once before the steps that depend on it.
struct Expected {
    QStringList filters;
    QVector<QVector<int>> counts; // per filter: rows with it in any column, in the IMEI or the name
    QString minText[2];
    QString maxText[2];
    QString maxNatural[2]; // longest first: "Boat 100000" after "Boat 99999"

    Expected(const QAbstractItemModel* model, const QStringList& filterTexts)
        : filters(filterTexts)
        , counts(filterTexts.size(), QVector<int>(2, 0)) {
        const int rows = model->rowCount();
        for (int r = 0; r < rows; ++r) {
            const QString cells[3] = {model->index(r, 0).data().toString(),
                                      model->index(r, 1).data().toString(),
                                      model->index(r, 2).data().toString()};
            for (int f = 0; f < filters.size(); ++f) {
                const bool inImeiOrName = cells[0].contains(filters[f]) || cells[1].contains(filters[f]);
                counts[f][0] += inImeiOrName || cells[2].contains(filters[f]);
                counts[f][1] += inImeiOrName;
            }
            for (int c = 0; c < 2; ++c) {
                const QString& t = cells[c];
                if (r == 0 || t < minText[c])
                    minText[c] = t;
                if (r == 0 || t > maxText[c])
                    maxText[c] = t;
                if (r == 0 || t.size() > maxNatural[c].size() ||
                    (t.size() == maxNatural[c].size() && t > maxNatural[c]))
                    maxNatural[c] = t;
            }
        }
    }
};

} // namespace

// The devices tab opened, filtered, sorted, refreshed, selected and copied.
bool WindowRun::tableSteps(QSqlDatabase& stats) {
    auto* bar = tabs->findChild<QTabBar*>();
    const int devicesTab = tabs->indexOf(window->findChild<QWidget*>(QStringLiteral("devicesTab")));
    int paints = 0;
    PaintCounter counter(table->viewport(), &paints);
    measure.begin(QStringLiteral("\"Устройства\" tab opened"));
    click(bar, bar->tabRect(devicesTab).center());
    if (!measure.finish([&] { return table->isVisible() && paints > 0; }))
        return false;

    const QStringList filters{QStringLiteral("0"), QStringLiteral("07")};
    const Expected expected(table->model(), filters);
    const auto filtered = [&](int f) {
        return [&, f] {
            const int n = table->model()->rowCount();
            return filter->text() == filters[f] && (n == expected.counts[f][0] || n == expected.counts[f][1]);
        };
    };
    measure.begin(QStringLiteral("filter: \"0\" typed"));
    sendKey(filter, Qt::Key_0, Qt::NoModifier, QStringLiteral("0"));
    if (!measure.finish(filtered(0)))
        return false;
    measure.begin(QStringLiteral("filter: \"7\" typed after it"));
    sendKey(filter, Qt::Key_7, Qt::NoModifier, QStringLiteral("7"));
    if (!measure.finish(filtered(1)))
        return false;
    measure.begin(QStringLiteral("filter cleared (Ctrl+A, Backspace)"));
    sendKey(filter, Qt::Key_A, Qt::ControlModifier, QString());
    sendKey(filter, Qt::Key_Backspace, Qt::NoModifier, QString());
    if (!measure.finish([&] { return table->model()->rowCount() == devices; }))
        return false;

    QHeaderView* header = table->horizontalHeader();
    const char* sortNames[] = {"sorted by IMEI (header click)", "sorted by name (header click)"};
    for (int column = 0; column < 2; ++column) {
        measure.begin(QString::fromUtf8(sortNames[column]));
        click(header->viewport(),
              QPoint(header->sectionViewportPosition(column) + 5, header->viewport()->height() / 2));
        const bool sorted = measure.finish([&, column] {
            if (header->sortIndicatorSection() != column)
                return false;
            const QString top = table->model()->index(0, column).data().toString();
            return header->sortIndicatorOrder() == Qt::AscendingOrder
                       ? top == expected.minText[column]
                       : top == expected.maxText[column] || top == expected.maxNatural[column];
        });
        if (!sorted)
            return false;
    }
    // A complete refresh by hand: the rows read anew on the refresher's connection, prepared off
    // the GUI thread and swapped in.
    auto* refreshing = window->findChild<QWidget*>(QStringLiteral("refreshIndicator"));
    measure.begin(QStringLiteral("refresh (F5), nothing new"));
    triggerShortcut(window.get(), QKeySequence(Qt::Key_F5));
    if (!measure.finish([&] { return refreshing && !refreshing->isVisible(); }))
        return false;
    // ... and after another administrator renamed a device: every row prepared anew.
    const QString renamedElsewhere = QStringLiteral("Renamed elsewhere");
    QSqlQuery rename(stats);
    if (!rename.exec(QStringLiteral("UPDATE devices SET name='%1' WHERE id=1").arg(renamedElsewhere))) {
        measure.fail(QStringLiteral("refresh (F5), a device renamed elsewhere"), rename.lastError().text());
        return false;
    }
    auto* devicesModel = qobject_cast<RecordTableModel*>(table->model());
    measure.begin(QStringLiteral("refresh (F5), a device renamed elsewhere"));
    triggerShortcut(window.get(), QKeySequence(Qt::Key_F5));
    if (!measure.finish([&] {
            const int row = devicesModel ? devicesModel->rowOfId(1) : -1;
            return refreshing && !refreshing->isVisible() && row >= 0 &&
                   devicesModel->index(row, 1).data().toString() == renamedElsewhere;
        }))
        return false;
    // Every row selected, then copied as a spreadsheet pastes it.
    auto* counts = window->findChild<QLabel*>(QStringLiteral("devicesCountLabel"));
    const QString allSelected =
        QStringLiteral("выбрано ") + QLocale(QLocale::Russian, QLocale::Russia).toString(devices);
    measure.begin(QStringLiteral("every row selected (Ctrl+A)"));
    sendKey(table, Qt::Key_A, Qt::ControlModifier, QString());
    if (!measure.finish([&] { return counts && counts->text().endsWith(allSelected); }))
        return false;
    measure.begin(QStringLiteral("every row copied (Ctrl+C)"));
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    bool copied = false;
    const QMetaObject::Connection watch =
        QObject::connect(clipboard, &QClipboard::dataChanged, [&] { copied = !clipboard->text().isEmpty(); });
    sendKey(table, Qt::Key_C, Qt::ControlModifier, QString());
    const bool done = measure.finish([&] { return copied; });
    QObject::disconnect(watch);
    if (!done)
        return false;
    // counted once the stall is measured: 100 MiB of text take a while to look through
    const int lines = int(clipboard->text().count(QLatin1Char('\n')));
    if (lines != devices + 1) {
        measure.rows.last().failure = QStringLiteral("%1 lines copied").arg(lines);
        return false;
    }
    // a million copied rows are some 100 MiB of text, not the window's
    QGuiApplication::clipboard()->clear();

    // With a filter set, sorted again and refreshed with every row prepared anew.
    measure.begin(QStringLiteral("filter: \"07\" typed again"));
    sendKey(filter, Qt::Key_0, Qt::NoModifier, QStringLiteral("0"));
    sendKey(filter, Qt::Key_7, Qt::NoModifier, QStringLiteral("7"));
    if (!measure.finish(filtered(1)))
        return false;
    measure.begin(QStringLiteral("sorted by IMEI, filter set (header click)"));
    click(header->viewport(),
          QPoint(header->sectionViewportPosition(0) + 5, header->viewport()->height() / 2));
    if (!measure.finish([&] { return header->sortIndicatorSection() == 0 && filtered(1)(); }))
        return false;
    QSqlQuery renameGroup(stats);
    if (!renameGroup.exec(QStringLiteral(
            "UPDATE groups_list SET group_name=CONCAT(group_name, ' *') ORDER BY id LIMIT 1"))) {
        measure.fail(QStringLiteral("refresh (F5), a group renamed elsewhere, filter set"),
                     renameGroup.lastError().text());
        return false;
    }
    measure.begin(QStringLiteral("refresh (F5), a group renamed elsewhere, filter set"));
    triggerShortcut(window.get(), QKeySequence(Qt::Key_F5));
    if (!measure.finish([&] { return refreshing && !refreshing->isVisible() && filtered(1)(); }))
        return false;
    // back to all rows by name, as the changes' steps expect them
    sendKey(filter, Qt::Key_A, Qt::ControlModifier, QString());
    sendKey(filter, Qt::Key_Backspace, Qt::NoModifier, QString());
    click(header->viewport(),
          QPoint(header->sectionViewportPosition(1) + 5, header->viewport()->height() / 2));
    const qint64 end = nowNs() + 60 * 1000000000LL;
    const auto back = [&] {
        return table->model()->rowCount() == devices && header->sortIndicatorSection() == 1 &&
               header->sortIndicatorOrder() == Qt::AscendingOrder;
    };
    while (!back() && nowNs() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!back())
        measure.fail(QStringLiteral("filter cleared, sorted by name"),
                     QStringLiteral("not on screen after 60 s"));
    return back();
}

} // namespace windowbench
