#include "db/devicestablemodel.h"

#include "db/confighandler.h"

namespace {
const QString forAllText = QStringLiteral("для всех");

bool digitsOnly(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < '0' || c.unicode() > '9')
            return false;
    }
    return true;
}
} // namespace

// administrators see every device: their group is never listed
QString DeviceRowTraits::text(const Row& row, int column, const Context& names) {
    switch (column) {
    case 0:
        return imeiText(row.imei);
    case 1:
        return row.name;
    default:
        return row.forAll ? forAllText : names.joined(row.groups);
    }
}

QVariant DeviceRowTraits::display(const Row& row, int column, const Context& names) {
    return column >= 0 && column < columns() ? QVariant(text(row, column, names)) : QVariant();
}

bool DeviceRowTraits::matches(const Row& row, const QString& needle, const Context& names) {
    if (digitsOnly(needle) && imeiText(row.imei).contains(needle))
        return true;
    return row.name.contains(needle, Qt::CaseInsensitive) ||
           text(row, 2, names).contains(needle, Qt::CaseInsensitive);
}

DevicesTableModel::DevicesTableModel(QObject* parent, ConfigHandler* handler)
    : RecordRowsModel(parent, handler,
                      {tr("IMEI устройства"), tr("Имя устройства"), tr("Доступно для групп")}) {}

void DevicesTableModel::reload() {
    setPrepared(prepare(handler->getDevices(), GroupNames(handler->getGroups(), handler->adminGroupId())));
}

QVariant DevicesTableModel::record(int index) const {
    return QVariant::fromValue(rows.at(index));
}
