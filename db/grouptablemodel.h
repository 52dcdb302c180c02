#pragma once

#include "db/records.h"

#include <QAbstractTableModel>
#include <QVector>

class ConfigHandler;

// Read-only table of all groups with their member counts; the administrators' group shows
// as "Администраторы" with the number of all devices.
class GroupTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    struct GroupRow {
        int usersCount = 0;
        int devicesCount = 0;
        GroupInfo group;
    };

    GroupTableModel(QObject* parent, ConfigHandler* handler);

    void reload();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QVector<GroupRow> rows;
    ConfigHandler* const handler;
};
