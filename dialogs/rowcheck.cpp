#include "dialogs/rowcheck.h"

#include <QAbstractItemView>
#include <QListView>
#include <QMouseEvent>
#include <QStyledItemDelegate>

namespace {

// The view hands a click to the delegate of the row under it; the row's box then toggles as
// if the click was on the box: the next state, a tristate row's included, and a double click
// eaten like one on the box.
class RowCheckDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override {
        const QEvent::Type type = event->type();
        const Qt::ItemFlags flags = model->flags(index);
        const QVariant value = index.data(Qt::CheckStateRole);
        if ((type != QEvent::MouseButtonRelease && type != QEvent::MouseButtonDblClick) ||
            static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton ||
            !flags.testFlag(Qt::ItemIsUserCheckable) || !flags.testFlag(Qt::ItemIsEnabled) ||
            !option.state.testFlag(QStyle::State_Enabled) || !value.isValid())
            return QStyledItemDelegate::editorEvent(event, model, option, index);
        if (type == QEvent::MouseButtonDblClick)
            return true;
        const auto state = static_cast<Qt::CheckState>(value.toInt());
        const int next = flags.testFlag(Qt::ItemIsUserTristate) ? (state + 1) % 3
                         : state == Qt::Checked                 ? Qt::Unchecked
                                                                : Qt::Checked;
        return model->setData(index, next, Qt::CheckStateRole);
    }
};

} // namespace

void showCheckableList(QListView* view, QAbstractItemModel* model) {
    view->setModel(model);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setItemDelegate(new RowCheckDelegate(view));
}
