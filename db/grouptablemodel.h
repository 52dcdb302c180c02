#pragma once

#include "db/records.h"
#include "db/recordtablemodel.h"

struct GroupRow {
    int usersCount = 0;
    int devicesCount = 0;
    GroupInfo group;
};

// Read-only table of all groups with their member counts; the administrators' group shows
// as "Администраторы" with the number of all devices.
class GroupTableModel : public RecordRowsModel<GroupRow> {
    Q_OBJECT

public:
    GroupTableModel(QObject* parent, ConfigHandler* handler);

    void reload() override;

protected:
    QVariant record(int row) const override;
    QVariant cell(int row, int column) const override;
};
