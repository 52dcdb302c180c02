#include "app/tablestate.h"

#include "models/recordtablemodel.h"

#include <QItemSelectionModel>
#include <QSet>
#include <QTableView>

#include <algorithm>
#include <vector>

TableState TableState::of(const QTableView* view) {
    TableState state;
    const auto* model = qobject_cast<const RecordTableModel*>(view->model());
    if (!model)
        return state;
    // by ranges: a million selected rows are one range, but a million indexes one by one
    const QItemSelection selection = view->selectionModel()->selection();
    for (const QItemSelectionRange& range : selection) {
        if (range.left() > 0)
            continue; // rows are selected whole; a range of other columns repeats one of column 0
        for (int row = range.top(); row <= range.bottom(); ++row)
            state.selectedIds.append(model->idAt(row));
    }
    state.currentId = model->idAt(view->currentIndex().row());
    state.topId = model->idAt(view->rowAt(0));
    return state;
}

void TableState::restore(QTableView* view) const {
    const auto* model = qobject_cast<const RecordTableModel*>(view->model());
    if (!model)
        return;
    QVector<int> rows;
    if (selectedIds.size() <= 16) {
        for (const int id : selectedIds) {
            const int row = model->rowOfId(id);
            if (row >= 0)
                rows.append(row);
        }
        std::sort(rows.begin(), rows.end());
    } else {
        // a bit per record id where ids are dense enough, as they are after AUTO_INCREMENT
        const qint64 maxId = *std::max_element(selectedIds.cbegin(), selectedIds.cend());
        const bool dense = maxId <= std::max<qint64>(1 << 22, 64 * qint64(selectedIds.size()));
        std::vector<bool> bits(dense ? size_t(std::max<qint64>(maxId, 0)) + 1 : 0, false);
        QSet<int> ids;
        for (const int id : selectedIds) {
            if (dense && id >= 0)
                bits[size_t(id)] = true;
            else if (!dense)
                ids.insert(id);
        }
        for (int row = 0; row < model->rowCount(); ++row) {
            const int id = model->idAt(row);
            if (dense ? id >= 0 && id <= maxId && bits[size_t(id)] : ids.contains(id))
                rows.append(row);
        }
    }
    QItemSelection selection;
    const int lastColumn = model->columnCount() - 1;
    for (int i = 0; i < rows.size();) {
        int j = i;
        while (j + 1 < rows.size() && rows.at(j + 1) == rows.at(j) + 1)
            ++j;
        selection.select(model->index(rows.at(i), 0), model->index(rows.at(j), lastColumn));
        i = j + 1;
    }
    QItemSelectionModel* selectionModel = view->selectionModel();
    if (!selection.isEmpty())
        selectionModel->select(selection, QItemSelectionModel::ClearAndSelect);
    const int current = currentId >= 0 ? model->rowOfId(currentId) : -1;
    if (current >= 0)
        selectionModel->setCurrentIndex(model->index(current, 0), QItemSelectionModel::NoUpdate);
    const int top = topId >= 0 ? model->rowOfId(topId) : -1;
    if (top >= 0)
        view->scrollTo(model->index(top, 0), QAbstractItemView::PositionAtTop);
}
