#include "db/devicestablemodel.h"

#include "db/confighandler.h"
#include "db/groupnames.h"

DevicesTableModel::DevicesTableModel(QObject* parent, ConfigHandler* handler)
    : RecordRowsModel(parent, handler,
                      {tr("IMEI устройства"), tr("Имя устройства"), tr("Доступно для групп")}) {}

void DevicesTableModel::reload() {
    beginResetModel();
    rows.clear();
    const QVector<DeviceInfo> devices = handler->getDevices();
    const GroupNames names(handler->getGroups(), handler->adminGroupId());
    rows.reserve(devices.size());
    // administrators see every device: their group is never listed
    for (const DeviceInfo& device : devices)
        rows.append({names.list(device.groups), device});
    endResetModel();
}

QVariant DevicesTableModel::record(int row) const {
    return QVariant::fromValue(rows.at(row).device);
}

QVariant DevicesTableModel::cell(int row, int column) const {
    const DeviceRow& r = rows.at(row);
    switch (column) {
    case 0:
        // the text with leading zeros, which the filter matches; 15-digit texts sort as their numbers
        return imeiText(r.device.imei);
    case 1:
        return r.device.name;
    case 2:
        return r.device.forAll ? tr("для всех") : r.groupNames.join(QStringLiteral(", "));
    default:
        return QVariant();
    }
}
