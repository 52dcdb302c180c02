#pragma once

#include "db/records.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <QVector>

class ConfigHandler;

// Read-only table of all devices; the whole record of a row is returned under RecordRole.
class DevicesTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    struct DeviceRow {
        QStringList groupNames;
        DeviceInfo device;
    };

    DevicesTableModel(QObject* parent, ConfigHandler* handler);

    void reload();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QVector<DeviceRow> rows;
    ConfigHandler* const handler;
};
