#pragma once

#include "db/records.h"
#include "db/recordtablemodel.h"

#include <QVector>

class ConfigHandler;

// Read-only table of all groups with their member counts; the administrators' group shows
// as "Администраторы" with the number of all devices.
class GroupTableModel : public RecordTableModel {
    Q_OBJECT

public:
    struct GroupRow {
        int usersCount = 0;
        int devicesCount = 0;
        GroupInfo group;
    };

    GroupTableModel(QObject* parent, ConfigHandler* handler);

    void reload();

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

protected:
    int recordCount() const override;

private:
    QVector<GroupRow> rows;
    ConfigHandler* const handler;
};
