#pragma once

#include "db/records.h"
#include "db/recordtablemodel.h"

#include <QStringList>

struct DeviceRow {
    QStringList groupNames;
    DeviceInfo device;
};

// Read-only table of all devices; the whole record of a row is returned under RecordRole.
class DevicesTableModel : public RecordRowsModel<DeviceRow> {
    Q_OBJECT

public:
    DevicesTableModel(QObject* parent, ConfigHandler* handler);

    void reload() override;

protected:
    QVariant record(int row) const override;
    QVariant cell(int row, int column) const override;
};
