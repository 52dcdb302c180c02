#pragma once

#include "core/records.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QPair>
#include <QVector>

struct DeviceToAddRow {
    // What adding the row would do.
    enum State { New, Stored, Repeated, InvalidImei, StateCount };

    bool checked = false;
    DeviceInfo device;
    State state = New;
    int storedId = 0; // the stored device of a Stored row
    QString storedName;
};

// The devices offered for adding: a check box, the row's state ("новое", "уже в базе", "повтор
// в списке", "неверный IMEI"), the IMEI (as 15 digits) and the name of each. Only new rows can
// be ticked, and stored ones while they are to be given groups.
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

    // Replaces all rows by the given devices, all unchecked. `stored`: the database's devices
    // among them (IMEI -> id and name); `wrongLength`: ascending rows whose IMEI was not written
    // with 15 digits.
    void setDevices(const QVector<DeviceInfo>& devices,
                    const QHash<quint64, QPair<int, QString>>& stored = {},
                    const QVector<int>& wrongLength = {});
    // Whether stored rows can be ticked; turning it off unticks them.
    void setStoredTickable(bool tickable);
    void setAllChecked(bool checked);
    // Sets the given tickable rows with one change notice, however many they are.
    void setRowsChecked(const QVector<int>& rowNumbers, bool checked);
    // The devices of the ticked new rows, and the stored ids of the ticked stored rows.
    QVector<DeviceInfo> checkedDevices() const;
    QVector<int> checkedStoredIds() const;
    int stateCount(DeviceToAddRow::State state) const { return counts[state]; }
    int checkedCount() const { return checked; }

private:
    bool tickable(const DeviceToAddRow& row) const;
    void setChecked(DeviceToAddRow& row, bool on);

    QVector<DeviceToAddRow> rows;
    int counts[DeviceToAddRow::StateCount] = {};
    int checked = 0;
    bool storedTickable = false;
};
