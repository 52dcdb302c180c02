#include "db/devicestablemodel.h"

#include "db/confighandler.h"
#include "db/groupnames.h"

DevicesTableModel::DevicesTableModel(QObject* parent, ConfigHandler* handler)
    : QAbstractTableModel(parent)
    , handler(handler) {}

void DevicesTableModel::reload() {
    beginResetModel();
    rows.clear();
    const QVector<DeviceInfo> devices = handler->getDevices();
    const GroupNames names(handler->getGroups());
    const int adminId = handler->adminGroupId();
    rows.reserve(devices.size());
    for (const DeviceInfo& device : devices) {
        DeviceRow row;
        for (const int groupId : device.groups) {
            // administrators see every device: their group is never listed
            if (adminId <= 0 || groupId != adminId)
                row.groupNames << names.name(groupId);
        }
        row.device = device;
        rows.append(row);
    }
    endResetModel();
}

int DevicesTableModel::rowCount(const QModelIndex& parent) const {
    // a table: cells have no children
    return parent.isValid() ? 0 : rows.size();
}

int DevicesTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 3;
}

QVariant DevicesTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows.size())
        return QVariant();
    const DeviceRow& row = rows.at(index.row());
    if (role == RecordRole)
        return QVariant::fromValue(row.device);
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case 0:
        return static_cast<qulonglong>(row.device.imei);
    case 1:
        return row.device.name;
    case 2:
        return row.device.forAll ? tr("для всех") : row.groupNames.join(QStringLiteral(", "));
    default:
        return QVariant();
    }
}

bool DevicesTableModel::setData(const QModelIndex& /*index*/, const QVariant& /*value*/, int /*role*/) {
    return false;
}

QVariant DevicesTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    switch (section) {
    case 0:
        return tr("IMEI устройства");
    case 1:
        return tr("Имя устройства");
    case 2:
        return tr("Доступно для групп");
    default:
        return QVariant();
    }
}

Qt::ItemFlags DevicesTableModel::flags(const QModelIndex& index) const {
    return QAbstractTableModel::flags(index);
}
