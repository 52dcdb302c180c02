#include "db/devicestablemodel.h"

#include "db/confighandler.h"
#include "db/groupnames.h"

DevicesTableModel::DevicesTableModel(QObject* parent, ConfigHandler* handler)
    : RecordTableModel(parent, {tr("IMEI устройства"), tr("Имя устройства"), tr("Доступно для групп")})
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

int DevicesTableModel::recordCount() const {
    return rows.size();
}

QVariant DevicesTableModel::data(const QModelIndex& index, int role) const {
    if (!isRow(index))
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
