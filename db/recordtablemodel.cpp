#include "db/recordtablemodel.h"

#include "db/records.h"

RecordTableModel::RecordTableModel(QObject* parent, const QStringList& titles)
    : QAbstractTableModel(parent)
    , titles(titles) {}

void RecordTableModel::clear() {
    beginResetModel();
    clearRecords();
    endResetModel();
}

int RecordTableModel::rowCount(const QModelIndex& parent) const {
    // a table: cells have no children
    return parent.isValid() ? 0 : recordCount();
}

int RecordTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : titles.size();
}

QVariant RecordTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.model() != this || index.row() >= recordCount())
        return QVariant();
    if (role == RecordRole)
        return record(index.row());
    if (role == Qt::DisplayRole)
        return cell(index.row(), index.column());
    return QVariant();
}

bool RecordTableModel::setData(const QModelIndex& /*index*/, const QVariant& /*value*/, int /*role*/) {
    return false;
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    if (section < 0 || section >= titles.size())
        return QVariant();
    return titles.at(section);
}

Qt::ItemFlags RecordTableModel::flags(const QModelIndex& index) const {
    return QAbstractTableModel::flags(index);
}
