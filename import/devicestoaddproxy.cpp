#include "import/devicestoaddproxy.h"

#include "import/devicestoaddtablemodel.h"

#include <algorithm>
#include <numeric>

DevicesToAddProxy::DevicesToAddProxy(DevicesToAddTableModel* source, QObject* parent)
    : QAbstractProxyModel(parent)
    , rows(source) {
    QAbstractProxyModel::setSourceModel(source);
    connect(source, &QAbstractItemModel::modelAboutToBeReset, this, &DevicesToAddProxy::beginResetModel);
    connect(source, &QAbstractItemModel::modelReset, this, &DevicesToAddProxy::sourceReset);
    connect(source, &QAbstractItemModel::dataChanged, this, &DevicesToAddProxy::sourceDataChanged);
    sortRows();
    filterRows();
}

void DevicesToAddProxy::setFilterText(const QString& text) {
    if (text == filterText)
        return;
    beginResetModel();
    filterText = text;
    filterRows();
    endResetModel();
}

QModelIndex DevicesToAddProxy::index(int row, int column, const QModelIndex& parent) const {
    if (parent.isValid() || row < 0 || row >= shown.size() || column < 0 || column >= columnCount())
        return QModelIndex();
    return createIndex(row, column);
}

QModelIndex DevicesToAddProxy::parent(const QModelIndex& child) const {
    Q_UNUSED(child)
    return QModelIndex();
}

QModelIndex DevicesToAddProxy::sibling(int row, int column, const QModelIndex& idx) const {
    Q_UNUSED(idx)
    return index(row, column);
}

int DevicesToAddProxy::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown.size();
}

int DevicesToAddProxy::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows->columnCount();
}

bool DevicesToAddProxy::hasChildren(const QModelIndex& parent) const {
    return !parent.isValid() && !shown.isEmpty() && columnCount() > 0;
}

QModelIndex DevicesToAddProxy::mapToSource(const QModelIndex& proxyIndex) const {
    if (!proxyIndex.isValid() || proxyIndex.row() >= shown.size())
        return QModelIndex();
    return rows->index(shown.at(proxyIndex.row()), proxyIndex.column());
}

QModelIndex DevicesToAddProxy::mapFromSource(const QModelIndex& sourceIndex) const {
    if (!sourceIndex.isValid() || sourceIndex.row() >= position.size())
        return QModelIndex();
    return index(position.at(sourceIndex.row()), sourceIndex.column());
}

QVariant DevicesToAddProxy::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal)
        return rows->headerData(section, orientation, role);
    return section >= 0 && section < shown.size() ? rows->headerData(shown.at(section), orientation, role)
                                                  : QVariant();
}

void DevicesToAddProxy::sort(int column, Qt::SortOrder order) {
    if (column == sortColumn && order == sortOrder)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList sources;
    sources.reserve(before.size());
    for (const QModelIndex& index : before)
        sources.append(mapToSource(index));
    sortColumn = column;
    sortOrder = order;
    sortRows();
    filterRows();
    QModelIndexList after;
    after.reserve(sources.size());
    for (const QModelIndex& source : qAsConst(sources))
        after.append(mapFromSource(source));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void DevicesToAddProxy::sortRows() {
    // the rows of a long list come sorted by their state, as the dialog first shows them
    if (const QVector<int>* given = rows->sortedRows(sortColumn, sortOrder)) {
        sorted = *given;
        return;
    }
    sorted.resize(rows->rowCount());
    std::iota(sorted.begin(), sorted.end(), 0);
    if (sortColumn < 0)
        return;
    const int column = sortColumn;
    const DevicesToAddTableModel* const model = rows;
    if (sortOrder == Qt::AscendingOrder)
        std::stable_sort(sorted.begin(), sorted.end(),
                         [model, column](int a, int b) { return model->lessThan(column, a, b); });
    else
        std::stable_sort(sorted.begin(), sorted.end(),
                         [model, column](int a, int b) { return model->lessThan(column, b, a); });
}

void DevicesToAddProxy::filterRows() {
    position.fill(-1, sorted.size());
    if (filterText.isEmpty()) {
        shown = sorted;
    } else {
        shown.clear();
        for (const int row : qAsConst(sorted)) {
            if (rows->rowContains(row, filterText))
                shown.append(row);
        }
    }
    for (int i = 0; i < shown.size(); ++i)
        position[shown.at(i)] = i;
}

void DevicesToAddProxy::sourceReset() {
    sortRows();
    filterRows();
    endResetModel();
}

void DevicesToAddProxy::sourceDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                                          const QVector<int>& roles) {
    int first = shown.size(), last = -1;
    for (int row = topLeft.row(); row <= bottomRight.row() && row < position.size(); ++row) {
        const int at = position.at(row);
        if (at >= 0) {
            first = std::min(first, at);
            last = std::max(last, at);
        }
    }
    if (last >= 0)
        emit dataChanged(index(first, topLeft.column()), index(last, bottomRight.column()), roles);
}
