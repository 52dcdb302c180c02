#pragma once

#include "core/records.h"
#include "models/recordtablemodel.h"

#include <QHash>

struct GroupRow {
    int usersCount = 0;
    int devicesCount = 0;
    GroupInfo group;
};

struct GroupRowTraits {
    using Row = GroupRow;
    using Context = int; // the administrators' group id
    static int columns() { return 3; }
    static int id(const Row& row) { return row.group.id; }
    static bool numeric(int column) { return column > 0; }
    static bool repetitive(int /*column*/) { return false; }
    static quint64 number(const Row& row, int column, const Context& /*none*/) {
        return quint64(column == 1 ? row.usersCount : row.devicesCount);
    }
    static QString text(const Row& row, int column, const Context& /*none*/);
    static QVariant display(const Row& row, int column, const Context& none);
    using Needle = QString;
    static Needle needle(const QString& text, const Context& /*none*/) { return text; }
    static bool matches(const Row& row, const QString& needle, const Context& none);
};

// Read-only table of all groups with their member counts; the administrators' group shows
// as "Администраторы" with the number of all devices.
class GroupTableModel : public RecordRowsModel<GroupRowTraits> {
    Q_OBJECT

public:
    GroupTableModel(QObject* parent, ConfigHandler* handler);

    void reload() override;
    // The rows a complete refresh prepares from what it read.
    static Prepared prepareFrom(const TablesSnapshot& s);

    // The rows of these groups and counts; the administrators' group counts every device.
    static QVector<GroupRow> rowsOf(const QVector<GroupInfo>& groups, const QHash<int, int>& users,
                                    const QHash<int, int>& devices, int adminGroupId, int allDevices);
    // Adds to the counts: users and devices per group id, and to the administrators' group,
    // which counts every device, allDevices.
    void addToCounts(const QHash<int, int>& users, const QHash<int, int>& devices, int allDevices);

protected:
    QVariant record(int index) const override;
};
