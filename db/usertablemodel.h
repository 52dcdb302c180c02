#pragma once

#include "db/records.h"
#include "db/recordtablemodel.h"

#include <QStringList>

struct UserRow {
    QStringList groupNames;
    UserInfo user;
};

// Read-only table of all users; the whole record of a row is returned under RecordRole.
class UserTableModel : public RecordRowsModel<UserRow> {
    Q_OBJECT

public:
    UserTableModel(QObject* parent, ConfigHandler* handler);

    void reload() override;

protected:
    QVariant record(int row) const override;
    QVariant cell(int row, int column) const override;
};
