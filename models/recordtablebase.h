#pragma once

#include "core/aside.h"
#include "core/records.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include <algorithm>
#include <utility>
#include <vector>

class ConfigHandler;

// Compares texts as people read them: case-insensitively, and runs of digits by their
// value ("Boat 49" before "Boat 388"). Ties fall back to the plain text.
int naturalCompare(const QString& a, const QString& b);
// Positions of texts in that order, equal texts by position.
QVector<int> naturalOrder(const QVector<QString>& texts);

// What the three read-only record tables share: fixed column titles, rows numbered from 1,
// nothing editable, the whole record of a row under RecordRole, and a filter and a sort of
// their own. Each column's order is kept as a permutation of the stored rows, built when the
// rows are set, so that a header click or a filter keystroke is one pass over the rows even
// at a million of them.
class RecordTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // Rebuilds the rows from the database, on the handler's connection, with the read and the
    // preparation of a complete refresh.
    virtual void reload() = 0;
    // Empties the model (one reset).
    void clear();

    // Shows only the rows whose shown texts contain text, case-insensitively; empty shows all.
    void setFilterText(const QString& text);
    // The same as the filter field asks it: past asideFrom stored rows, they are matched on other
    // threads from copies of them and shown when that is done, unless a newer text came
    // meanwhile; rows changed meanwhile are matched again.
    void filterAside(const QString& text);
    static constexpr int asideFrom = 20000;
    // The text the shown rows match.
    QString filterText() const { return filter; }
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int sortColumn() const { return sortedColumn; }
    Qt::SortOrder sortOrder() const { return sortedOrder; }
    // What the shown rows are made by: the case-folded filter text and the sort.
    struct ShownBy {
        QString needle;
        int column = -1;
        Qt::SortOrder order = Qt::AscendingOrder;
        bool operator==(const ShownBy& o) const {
            return needle == o.needle && column == o.column && order == o.order;
        }
    };
    ShownBy shownBy() const { return {foldedFilter, sortedColumn, sortedOrder}; }

    // The shown row of a record id, or -1; the record id of a shown row.
    int rowOfId(int id) const;
    int idAt(int row) const;
    // Rows stored, shown or not.
    int storedCount() const { return storedSize(); }
    // The text of a shown row's cell as the table shows it now, from copies of the rows, so that
    // it may be called on any thread, also after the model has changed.
    using CellTexts = std::function<QString(int row, int column)>;
    virtual CellTexts cellTexts() const = 0;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    // Around the reset that shows the rows of a new filter text.
    void filterChanging();
    void filterChanged();

protected:
    RecordTableModel(QObject* parent, const QStringList& titles);

    // The three tables read as a complete refresh reads them; empty when the read fails.
    static TablesSnapshot readTables(ConfigHandler& handler);

    // Stored rows are kept in id order; `index` below is a stored row's position.
    virtual int storedSize() const = 0;
    virtual int storedId(int index) const = 0;
    virtual QVariant record(int index) const = 0;
    virtual QVariant cell(int index, int column) const = 0;
    // needle is case-folded; prepareMatching(needle) has run on the owning thread, so that
    // matches may run on several threads at once.
    virtual void prepareMatching(const QString& needle) const = 0;
    virtual bool matches(int index, const QString& needle) const = 0;
    // Whether a stored row matches the case-folded needle, from copies of the rows as they are
    // now, on any thread.
    using Matcher = std::function<bool(int index)>;
    virtual Matcher matcherFor(const QString& needle) const = 0;
    // The candidates (stored rows) that match the filter, in their order.
    QVector<int> matching(const QVector<int>& candidates) const;
    // The candidates that match, in their order, on several threads for many.
    static QVector<int> matchingOf(const QVector<int>& candidates, const Matcher& matches);
    // Rows 0..size-1 in ascending order, or in the reverse of it; in id order without one.
    static QVector<int> inOrder(int size, const QVector<int>* ascending, Qt::SortOrder order);
    // Stored rows in ascending order of column.
    virtual const QVector<int>& ascending(int column) const = 0;
    virtual void clearRecords() = 0;

    // Recomputes the shown rows from the stored ones; call inside a reset.
    void rebuildShown();
    // Where stored row `index` goes among the shown ones, by the current order (binary search).
    int shownPosition(int index) const;
    // a < b in the current order, between stored rows
    virtual bool lessAt(int column, int a, int b) const = 0;

    QVector<int> shown; // stored rows in display order
    QString filter;
    QString foldedFilter;
    int sortedColumn = -1;
    Qt::SortOrder sortedOrder = Qt::AscendingOrder;
    // Counts changes of the stored rows, their orders and the sort: a filter matched aside
    // from older ones is matched again.
    int rowsVersion = 0;

private:
    // The stored rows unfiltered, in the order shown.
    QVector<int> unfiltered() const;
    void filterLater(const QString& text, const QString& needle);
    void showFiltered(const QString& text, const QString& needle, QVector<int> rows);

    const QStringList titles;
    // The newest filter text asked for; a scan aside for an older one stops.
    const std::shared_ptr<std::atomic<int>> filterSerial = std::make_shared<std::atomic<int>>(0);
};
