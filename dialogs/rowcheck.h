#pragma once

class QAbstractItemModel;
class QListView;

// Shows a checkable list in the view: a click anywhere on a row toggles its box, as a click on
// the box does; the texts cannot be edited.
void showCheckableList(QListView* view, QAbstractItemModel* model);
