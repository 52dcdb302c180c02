#pragma once

#include "db/records.h"

#include <QAbstractTableModel>
#include <QVector>

struct DeviceToAddRow {
    bool checked = false;
    DeviceInfo device;
};

// The devices offered for adding: a check box, the IMEI (as 15 digits) and the name of each.
class DevicesToAddTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit DevicesToAddTableModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Replaces all rows by the given devices, all unchecked.
    void setDevices(const QVector<DeviceInfo>& devices);
    void setAllChecked(bool checked);
    // Sets the given rows with one change notice, however many they are.
    void setRowsChecked(const QVector<int>& rowNumbers, bool checked);
    QVector<DeviceInfo> checkedDevices() const;

private:
    QVector<DeviceToAddRow> rows;
};
