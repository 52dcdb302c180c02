#pragma once

#include "db/records.h"
#include "db/recordtablemodel.h"

#include <QStringList>
#include <QVector>

class ConfigHandler;

// Read-only table of all devices; the whole record of a row is returned under RecordRole.
class DevicesTableModel : public RecordTableModel {
    Q_OBJECT

public:
    struct DeviceRow {
        QStringList groupNames;
        DeviceInfo device;
    };

    DevicesTableModel(QObject* parent, ConfigHandler* handler);

    void reload();

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

protected:
    int recordCount() const override;

private:
    QVector<DeviceRow> rows;
    ConfigHandler* const handler;
};
