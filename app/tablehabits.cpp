#include "app/tablehabits.h"

#include "core/aside.h"
#include "models/recordtablemodel.h"

#include <QAbstractButton>
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

// A tab or a line break inside a cell would split it in a spreadsheet. Qt's own search is
// much faster than a loop here over every character of 100,000 rows.
void appendCell(QString& out, QString cell) {
    for (const char c : {'\t', '\n', '\r'}) {
        if (cell.contains(QLatin1Char(c)))
            cell.replace(QLatin1Char(c), QLatin1Char(' '));
    }
    out += cell;
}

QAction* tableAction(QTableView* view, const QString& text, const QList<QKeySequence>& keys) {
    auto* action = new QAction(text, view);
    action->setShortcuts(keys);
    // only while the table has the focus: Delete in a filter field deletes a character
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    view->addAction(action);
    return action;
}

} // namespace

TableHabits::TableHabits(QTableView* view, QLabel* counts, const Buttons& buttons,
                         const QList<QAction*>& windowActions)
    : QObject(view)
    , view(view)
    , counts(counts)
    , buttons(buttons)
    , windowActions(windowActions) {
    // Enter comes first, as the menu shows it; Return is the main key that keyboards label Enter
    const std::pair<QAbstractButton*, QAction*> forButtons[] = {
        {buttons.add, tableAction(view, tr("Добавить"), {Qt::Key_Insert, Qt::CTRL | Qt::Key_N})},
        {buttons.change, tableAction(view, tr("Изменить"), {Qt::Key_Enter, Qt::Key_Return, Qt::Key_F2})},
        {buttons.remove, tableAction(view, tr("Удалить"), {QKeySequence::Delete})},
    };
    for (const auto& [button, action] : forButtons) {
        connect(action, &QAction::triggered, button, &QAbstractButton::click);
        tableActions.append(action);
    }
    QAction* copyAction = tableAction(view, tr("Копировать"), {QKeySequence::Copy});
    connect(copyAction, &QAction::triggered, this, &TableHabits::copy);
    tableActions.append(copyAction);

    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this, &TableHabits::showMenu);
    view->viewport()->installEventFilter(this);
    view->installEventFilter(this);

    const QAbstractItemModel* model = view->model();
    connect(model, &QAbstractItemModel::modelReset, this, &TableHabits::scheduleCounts);
    connect(model, &QAbstractItemModel::layoutChanged, this, &TableHabits::scheduleCounts);
    connect(model, &QAbstractItemModel::rowsInserted, this, &TableHabits::scheduleCounts);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &TableHabits::scheduleCounts);
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TableHabits::scheduleCounts);
    updateCounts();
}

QVector<QPair<int, int>> TableHabits::rowSpans(const QItemSelection& selection) {
    QVector<QPair<int, int>> spans;
    spans.reserve(selection.size());
    for (const QItemSelectionRange& range : selection) {
        if (range.isValid())
            spans.append({range.top(), range.bottom()});
    }
    std::sort(spans.begin(), spans.end());
    // ranges of single cells may cover one row several times
    int out = 0;
    for (const auto& span : qAsConst(spans)) {
        if (out > 0 && span.first <= spans[out - 1].second + 1)
            spans[out - 1].second = std::max(spans[out - 1].second, span.second);
        else
            spans[out++] = span;
    }
    spans.resize(out);
    return spans;
}

void TableHabits::scheduleCounts() {
    // a reset, a restored selection and a few moved rows make one update
    if (countsPending)
        return;
    countsPending = true;
    QTimer::singleShot(0, this, &TableHabits::updateCounts);
}

void TableHabits::updateCounts() {
    countsPending = false;
    const QAbstractItemModel* model = view->model();
    const auto* records = qobject_cast<const RecordTableModel*>(model);
    int selected = 0;
    for (const auto& span : rowSpans(view->selectionModel()->selection()))
        selected += span.second - span.first + 1;
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    counts->setText(tr("Показано %1 из %2, выбрано %3")
                        .arg(russian.toString(model->rowCount()),
                             russian.toString(records ? records->storedCount() : model->rowCount()),
                             russian.toString(selected)));
}

namespace {

// What a copy needs, taken on the GUI thread; text() may run on any thread.
struct Selection {
    QVector<QPair<int, int>> spans;
    QVector<int> columns;
    QStringList titles;
    std::function<QString(int row, int column)> cell;

    QString text() const {
        QString out;
        const auto appendLine = [&](const auto& cellOf) {
            for (int i = 0; i < columns.size(); ++i) {
                if (i > 0)
                    out += QLatin1Char('\t');
                appendCell(out, cellOf(i));
            }
            out += QLatin1Char('\n');
        };
        appendLine([&](int i) { return titles.at(i); });
        for (const auto& span : spans) {
            for (int row = span.first; row <= span.second; ++row)
                appendLine([&](int i) { return cell(row, columns.at(i)); });
        }
        return out;
    }
};

Selection selectionOf(const QTableView* view) {
    Selection s;
    s.spans = TableHabits::rowSpans(view->selectionModel()->selection());
    if (s.spans.isEmpty())
        return s;
    const QAbstractItemModel* model = view->model();
    const QHeaderView* header = view->horizontalHeader();
    for (int visual = 0; visual < header->count(); ++visual) {
        const int column = header->logicalIndex(visual);
        if (header->isSectionHidden(column))
            continue;
        s.columns.append(column);
        s.titles.append(model->headerData(column, Qt::Horizontal).toString());
    }
    if (const auto* records = qobject_cast<const RecordTableModel*>(model))
        s.cell = records->cellTexts();
    else
        s.cell = [model](int row, int column) {
            return model->index(row, column).data().toString();
        };
    return s;
}

} // namespace

// A million rows take a while to write out: that is done aside, from copies of the rows, and
// only the newest copy reaches the clipboard.
void TableHabits::copy() {
    Selection s = selectionOf(view);
    if (s.spans.isEmpty())
        return;
    if (!qobject_cast<const RecordTableModel*>(view->model())) {
        QGuiApplication::clipboard()->setText(s.text());
        return;
    }
    const int serial = ++copies;
    auto text = std::make_shared<QString>();
    Aside::shared().run(
        this, [s = std::move(s), text] { *text = s.text(); },
        [this, serial, text] {
            if (serial == copies)
                QGuiApplication::clipboard()->setText(*text);
        });
}

void TableHabits::showMenu(const QPoint& pos) {
    QMenu menu(view);
    for (int i = 0; i < 3; ++i) {
        const QAbstractButton* button = i == 0 ? buttons.add : i == 1 ? buttons.change : buttons.remove;
        tableActions.at(i)->setEnabled(button->isEnabled());
        menu.addAction(tableActions.at(i));
    }
    menu.addSeparator();
    const bool selected = view->selectionModel()->hasSelection();
    tableActions.at(3)->setEnabled(selected);
    menu.addAction(tableActions.at(3));
    for (QAction* action : qAsConst(recordActions)) {
        action->setEnabled(selected);
        menu.addAction(action);
    }
    menu.addSeparator();
    menu.addActions(windowActions);
    menu.exec(view->viewport()->mapToGlobal(pos));
    // the keys go through the buttons, which know best
    for (QAction* action : qAsConst(tableActions))
        action->setEnabled(true);
}

bool TableHabits::eventFilter(QObject* watched, QEvent* event) {
    // The view takes Ctrl+C for itself (the current cell's text) before any shortcut sees it.
    if (watched == view && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        copy();
        return true;
    }
    if (watched != view->viewport())
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::ToolTip)
        return showCutText(event);
    if (doubleClickKeepsSelection)
        keepSelectionOnDoubleClick(event);
    return QObject::eventFilter(watched, event);
}

// The first click of a double click narrows the selection to its row: the rows selected when it
// began are put back.
void TableHabits::keepSelectionOnDoubleClick(QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick)
        return;
    const auto* mouse = static_cast<QMouseEvent*>(event);
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QModelIndex at = view->indexAt(mouse->position().toPoint());
#else
    const QModelIndex at = view->indexAt(mouse->pos());
#endif
    QItemSelectionModel* selection = view->selectionModel();
    if (type == QEvent::MouseButtonDblClick && pressed.contains(at))
        selection->select(pressed, QItemSelectionModel::ClearAndSelect);
    else if (mouse->modifiers() == Qt::NoModifier && selection->isSelected(at))
        pressed = selection->selection();
    else
        pressed.clear();
}

// A cell whose text the column cuts shows it whole in its tooltip; measured here, on demand,
// so that the model's data() stays as cheap as it is for a million rows.
bool TableHabits::showCutText(QEvent* event) {
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = view->indexAt(help->pos());
    const QString text = index.data().toString();
    const QRect cell = view->visualRect(index);
    const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    if (index.isValid() && view->fontMetrics().horizontalAdvance(text) + 2 * margin > cell.width())
        QToolTip::showText(help->globalPos(), text, view->viewport(), cell);
    else
        QToolTip::hideText();
    return true;
}
