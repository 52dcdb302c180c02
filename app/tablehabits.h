#pragma once

#include <QItemSelection>
#include <QList>
#include <QObject>
#include <QPair>
#include <QVector>

class QAbstractButton;
class QAction;
class QLabel;
class QPoint;
class QTableView;

// What a record table of the window does besides showing rows: the counts line under it,
// Ctrl+C as tab-separated text, add/change/delete from the keyboard and from a context menu
// (through the tab's buttons, so that a disabled button is a disabled action), the whole
// text of a cut cell in its tooltip.
class TableHabits : public QObject {
    Q_OBJECT

public:
    struct Buttons {
        QAbstractButton* add;
        QAbstractButton* change;
        QAbstractButton* remove;
    };
    // windowActions: actions of the whole window that the context menu offers after the table's.
    TableHabits(QTableView* view, QLabel* counts, const Buttons& buttons,
                const QList<QAction*>& windowActions);

    // Puts the selected rows on the clipboard once their text is made, aside: the header first,
    // one tab-separated line each, the columns and texts as the table shows them.
    void copy();
    // Shown, stored and selected rows; the counts line follows them by itself, but rows
    // stored while a filter hides them change no row of the view.
    void updateCounts();

    // An action on the selected records, offered in the context menu after copying; it is
    // enabled while rows are selected.
    void addRecordAction(QAction* action) { recordActions.append(action); }

    // For a table whose change acts on every selected row: a double click on one of several
    // selected rows keeps them all selected (its first click would narrow the selection).
    void setDoubleClickKeepsSelection(bool keep) { doubleClickKeepsSelection = keep; }

    // Shown rows of a selection as sorted, disjoint [first, last] spans.
    static QVector<QPair<int, int>> rowSpans(const QItemSelection& selection);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void scheduleCounts();
    void showMenu(const QPoint& pos);
    void keepSelectionOnDoubleClick(QEvent* event);
    bool showCutText(QEvent* event);

    QTableView* const view;
    QLabel* const counts;
    const Buttons buttons;
    QList<QAction*> tableActions; // add, change, delete, copy
    QList<QAction*> recordActions;
    const QList<QAction*> windowActions;
    bool countsPending = false;
    bool doubleClickKeepsSelection = false;
    int copies = 0;
    QItemSelection pressed; // the selection a double click may begin on
};
