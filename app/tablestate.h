#pragma once

#include <QVector>

class QTableView;

// What a person picked and sees in a record table, kept by record id across a reset of the
// table's model (a new filter, fresh rows from the database).
struct TableState {
    QVector<int> selectedIds;
    int currentId = -1;
    int topId = -1;

    static TableState of(const QTableView* view);
    // Selects the rows of the kept ids that are still shown and scrolls the top row back.
    void restore(QTableView* view) const;
};
