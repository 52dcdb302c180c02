#pragma once

#include "core/records.h"
#include "import/devicesfileparser.h"

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
    QString imeiWritten;      // the IMEI as the file wrote it, when not with 15 digits
    bool imeiSuspect = false; // 15 digits whose check digit fails
    bool nameCut = false;
};

// The rows for a list of devices, made anywhere: for millions of devices that takes a while.
struct DevicesToAddRows {
    QVector<DeviceToAddRow> rows;
    QVector<int> lines;
    int counts[DeviceToAddRow::StateCount] = {};
    QVector<int> byState;    // every row, ordered by the state column ascending
    bool storedKnown = true; // whether the database's devices were looked up
};

// The devices offered for adding: a check box, the row's state ("новое", "уже в базе", "повтор
// в списке", "неверный IMEI"; a new one "проверьте IMEI" when its check digit fails, and
// "имя обрезано" when its name was cut), the IMEI (15 digits, or as the file wrote it) and the
// name of each. Only new rows can be ticked, and stored ones while they are to be given groups.
class DevicesToAddTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit DevicesToAddTableModel(QObject* parent = nullptr);
    ~DevicesToAddTableModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Replaces all rows by the given devices, all unchecked. `stored`: the database's devices
    // among them (IMEI -> id and name); `wrongLength`: ascending rows whose IMEI was not written
    // with 15 digits, with the IMEI as written; `cutNames`: ascending rows whose name was cut.
    // `lineNumbers`: the file's line of each device, shown as the row's number (without them,
    // rows are numbered from 1).
    void setDevices(const QVector<DeviceInfo>& devices,
                    const QHash<quint64, QPair<int, QString>>& stored = {},
                    const QVector<NumberedText>& wrongLength = {}, const QVector<int>& cutNames = {},
                    const QVector<int>& lineNumbers = {});
    // What setDevices shows, made on any thread, and shown.
    static DevicesToAddRows makeRows(const QVector<DeviceInfo>& devices,
                                     const QHash<quint64, QPair<int, QString>>& stored = {},
                                     const QVector<NumberedText>& wrongLength = {},
                                     const QVector<int>& cutNames = {}, const QVector<int>& lineNumbers = {});
    void setRows(DevicesToAddRows made);
    // Every row in the order of column ascending when that was made with the rows, or null.
    const QVector<int>* sortedRows(int column, Qt::SortOrder order) const;
    // Whether the row's state, IMEI or name as shown contains the text.
    bool rowContains(int row, const QString& text) const;
    // Row a before row b by column, for sorting; rows of equal values keep their order.
    bool lessThan(int column, int a, int b) const;
    static constexpr int StateColumn = 1;
    // Whether stored rows can be ticked; turning it off unticks them.
    void setStoredTickable(bool tickable);
    void setAllChecked(bool checked);
    // Sets the given tickable rows with one change notice, however many they are.
    void setRowsChecked(const QVector<int>& rowNumbers, bool checked);
    // The ticked new rows (in the order of the devices set) and their devices, and the stored
    // ids of the ticked stored rows.
    QVector<int> checkedNewRows() const;
    const DeviceInfo& deviceAt(int row) const { return rows.at(row).device; }
    QVector<int> checkedStoredIds() const;
    int stateCount(DeviceToAddRow::State state) const { return counts[state]; }
    int checkedCount() const { return checked; }

private:
    bool tickable(const DeviceToAddRow& row) const;
    void setChecked(DeviceToAddRow& row, bool on);

    QVector<DeviceToAddRow> rows;
    QVector<int> lines;
    QVector<int> byState;
    int counts[DeviceToAddRow::StateCount] = {};
    int checked = 0;
    bool storedTickable = false;
};
