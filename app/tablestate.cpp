#include "app/tablestate.h"

#include "models/recordtablemodel.h"

#include <QItemSelectionModel>
#include <QSet>
#include <QTableView>

#include <algorithm>

TableState TableState::of(const QTableView* view) {
    TableState state;
    const auto* model = qobject_cast<const RecordTableModel*>(view->model());
    if (!model)
        return state;
    const QModelIndexList rows = view->selectionModel()->selectedRows(0);
    state.selectedIds.reserve(rows.size());
    for (const QModelIndex& row : rows)
        state.selectedIds.append(model->idAt(row.row()));
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
        const QSet<int> ids(selectedIds.cbegin(), selectedIds.cend());
        for (int row = 0; row < model->rowCount(); ++row) {
            if (ids.contains(model->idAt(row)))
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
