#pragma once

#include "core/records.h"
#include "models/recordtablemodel.h"

#include <QHash>

struct GroupRow {
    int usersCount = 0;
    int devicesCount = 0;
    GroupInfo group;
};

struct GroupRowTraits : RowTraitsDefaults<GroupRow, int> { // the context: the administrators' group id
    static int columns() { return 3; }
    static int id(const Row& row) { return row.group.id; }
    static QVariant record(const Row& row) { return QVariant::fromValue(row.group); }
    static bool numeric(int column) { return column > 0; }
    static quint64 number(const Row& row, int column, const Context& /*none*/) {
        return quint64(column == 1 ? row.usersCount : row.devicesCount);
    }
    static QString text(const Row& row, int column, const Context& /*none*/);
    static QVariant display(const Row& row, int column, const Context& none);
    static bool matches(const Row& row, const QString& needle, const Context& none);
    static QVector<Row> rowsIn(const TablesSnapshot& s);
    static Context contextIn(const TablesSnapshot& s) { return s.adminGroupId; }
};

// Read-only table of all groups with their member counts; the administrators' group shows
// as "Администраторы" with the number of all devices.
class GroupTableModel : public RecordRowsModel<GroupRowTraits> {
    Q_OBJECT

public:
    GroupTableModel(QObject* parent, ConfigHandler* handler);

    // The rows of these groups and counts; the administrators' group counts every device.
    static QVector<GroupRow> rowsOf(const QVector<GroupInfo>& groups, const QHash<int, int>& users,
                                    const QHash<int, int>& devices, int adminGroupId, int allDevices);
    // Adds to the counts: users and devices per group id, and to the administrators' group,
    // which counts every device, allDevices.
    void addToCounts(const QHash<int, int>& users, const QHash<int, int>& devices, int allDevices);
};
