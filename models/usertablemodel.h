#pragma once

#include "core/records.h"
#include "models/groupnames.h"
#include "models/recordtablemodel.h"

struct UserRowTraits : RowTraitsDefaults<UserInfo, GroupNames> {
    static int columns() { return 2; }
    static bool repetitive(int column) { return column == 1; }
    static QString text(const Row& row, int column, const Context& names);
    static QVariant display(const Row& row, int column, const Context& names);
    static bool matches(const Row& row, const QString& needle, const Context& names);
    static QVector<Row> rowsIn(const TablesSnapshot& s) { return s.users; }
    static Context contextIn(const TablesSnapshot& s) { return GroupNames(s.groups, s.adminGroupId); }
};

// Read-only table of all users; the whole record of a row is returned under RecordRole.
class UserTableModel : public RecordRowsModel<UserRowTraits> {
    Q_OBJECT

public:
    UserTableModel(QObject* parent, ConfigHandler* handler);
};
