#include "import/devicestoaddtablemodel.h"

namespace {
enum Column { CheckColumn = 0, ImeiColumn = 1, NameColumn = 2, ColumnCount = 3 };
}

DevicesToAddTableModel::DevicesToAddTableModel(QObject* parent)
    : QAbstractTableModel(parent) {}

int DevicesToAddTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows.size();
}

int DevicesToAddTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DevicesToAddTableModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const DeviceToAddRow& row = rows.at(index.row());
    if (role == RecordRole)
        return QVariant::fromValue(row.device);
    switch (index.column()) {
    case CheckColumn:
        if (role == Qt::CheckStateRole)
            return row.checked ? Qt::Checked : Qt::Unchecked;
        break;
    case ImeiColumn:
        if (role == Qt::DisplayRole)
            return imeiText(row.device.imei);
        break;
    case NameColumn:
        if (role == Qt::DisplayRole)
            return row.device.name;
        break;
    default:
        break;
    }
    return QVariant();
}

bool DevicesToAddTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    if (role == Qt::CheckStateRole && index.column() == CheckColumn)
        rows[index.row()].checked = value.toInt() == Qt::Checked;
    emit dataChanged(index, index);
    return true;
}

QVariant DevicesToAddTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section >= 0 && section < rows.size() ? QVariant(section + 1) : QVariant();
    switch (section) {
    case CheckColumn:
        return QString();
    case ImeiColumn:
        return tr("IMEI устройства");
    case NameColumn:
        return tr("Имя устройства");
    default:
        return QVariant();
    }
}

Qt::ItemFlags DevicesToAddTableModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags base = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == CheckColumn)
        base |= Qt::ItemIsUserCheckable;
    return base;
}

void DevicesToAddTableModel::setDevices(const QVector<DeviceInfo>& devices) {
    beginResetModel();
    rows.clear();
    rows.reserve(devices.size());
    for (const DeviceInfo& device : devices)
        rows.append(DeviceToAddRow{false, device});
    endResetModel();
}

void DevicesToAddTableModel::setAllChecked(bool checked) {
    if (rows.isEmpty())
        return;
    for (DeviceToAddRow& row : rows)
        row.checked = checked;
    // One change notice for the check column keeps the views' selection and scroll position,
    // and spares a proxy from filtering every row again.
    emit dataChanged(index(0, CheckColumn), index(rows.size() - 1, CheckColumn), {Qt::CheckStateRole});
}

void DevicesToAddTableModel::setRowsChecked(const QVector<int>& rowNumbers, bool checked) {
    int first = rows.size(), last = -1;
    for (int row : rowNumbers) {
        if (row < 0 || row >= rows.size())
            continue;
        rows[row].checked = checked;
        first = qMin(first, row);
        last = qMax(last, row);
    }
    if (last >= 0)
        emit dataChanged(index(first, CheckColumn), index(last, CheckColumn), {Qt::CheckStateRole});
}

QVector<DeviceInfo> DevicesToAddTableModel::checkedDevices() const {
    QVector<DeviceInfo> result;
    for (const DeviceToAddRow& row : rows) {
        if (row.checked)
            result.append(row.device);
    }
    return result;
}
