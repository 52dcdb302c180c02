#include "windowrun.h"

#include "benchserver.h"

#include "app/mainwindow.h"

#include <QLineEdit>
#include <QSqlError>
#include <QSqlQuery>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>

namespace windowbench {

// The journal tab over a million rows written by others: opened, scrolled to the end of the
// rows read (the next page comes in), filtered and the filter cleared.
void WindowRun::journalSteps(QSqlDatabase& stats) {
    QSqlQuery seedJournal(stats);
    if (!bench::exec(
            seedJournal,
            QStringLiteral(
                "INSERT INTO orb_admin_journal (at, db_user, os_user, workstation, operation, action, "
                "object, object_id, details) SELECT NOW(3) - INTERVAL (%1 - seq) SECOND, "
                "'orbadmin@%', CONCAT('admin', seq MOD 3), 'ws-7', seq, 'change', 'device', "
                "1 + seq MOD %2, CONCAT('{\"before\":{\"imei\":\"', LPAD(seq, 15, '0'), "
                "'\",\"name\":\"Boat ', seq, '\",\"groups\":[\"Fleet 1\"]},\"after\":{\"imei\":\"', "
                "LPAD(seq, 15, '0'), '\",\"name\":\"Boat ', seq, ' (резерв)\",\"groups\":"
                "[\"Fleet 2\"]}}') FROM seq_1_to_%1")
                .arg(JOURNAL_ROWS)
                .arg(devices))) {
        measure.fail(QStringLiteral("journal rows"), seedJournal.lastError().text());
        return;
    }
    auto* journal = window->findChild<QTableView*>(QStringLiteral("journalView"));
    auto* journalFilter = window->findChild<QLineEdit*>(QStringLiteral("journalFilterEdit"));
    QWidget* tab = journal ? journal->parentWidget() : nullptr;
    while (tab && tabs->indexOf(tab) < 0)
        tab = tab->parentWidget();
    if (!tab || !journalFilter) {
        measure.fail(QStringLiteral("the journal"),
                     QStringLiteral("journalView or journalFilterEdit missing"));
        return;
    }
    const QAbstractItemModel* model = journal->model();
    constexpr int page = 10000;
    auto* bar = tabs->findChild<QTabBar*>();
    int paints = 0;
    PaintCounter counter(journal->viewport(), &paints);
    measure.begin(QStringLiteral("\"Журнал\" tab opened, 1,000,000 rows"));
    click(bar, bar->tabRect(tabs->indexOf(tab)).center());
    if (!measure.finish([&] { return model->rowCount() == page && paints > 0; }))
        return;
    measure.begin(QStringLiteral("journal: scrolled to the end"));
    journal->scrollToBottom();
    if (!measure.finish([&] { return model->rowCount() == 2 * page; }))
        return;
    // the rows read so far that show a typed text
    const QString typed = QStringLiteral("boat 99");
    int expected = 0;
    for (int r = 0; r < model->rowCount(); ++r) {
        for (int c = 0; c < model->columnCount(); ++c) {
            if (model->index(r, c).data().toString().contains(typed, Qt::CaseInsensitive)) {
                ++expected;
                break;
            }
        }
    }
    measure.begin(QStringLiteral("journal: filter \"boat 99\" pasted"));
    journalFilter->setFocus();
    journalFilter->setText(typed);
    emit journalFilter->textEdited(typed);
    if (!measure.finish([&] { return model->rowCount() == expected; }))
        return;
    measure.begin(QStringLiteral("journal: filter cleared"));
    sendKey(journalFilter, Qt::Key_A, Qt::ControlModifier, QString());
    sendKey(journalFilter, Qt::Key_Backspace, Qt::NoModifier, QString());
    measure.finish([&] { return model->rowCount() == 2 * page; });
}

} // namespace windowbench
