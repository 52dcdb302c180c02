#pragma once

#include "db/records.h"
#include "db/recordtablemodel.h"

#include <QStringList>
#include <QVector>

class ConfigHandler;

// Read-only table of all users; the whole record of a row is returned under RecordRole.
class UserTableModel : public RecordTableModel {
    Q_OBJECT

public:
    struct UserRow {
        QStringList groupNames;
        UserInfo user;
    };

    UserTableModel(QObject* parent, ConfigHandler* handler);

    void reload();

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

protected:
    int recordCount() const override;

private:
    QVector<UserRow> rows;
    ConfigHandler* const handler;
};
