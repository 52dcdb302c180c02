#pragma once

#include "core/records.h"
#include "models/groupnames.h"
#include "models/recordtablemodel.h"

struct UserRowTraits {
    using Row = UserInfo;
    using Context = GroupNames;
    static int columns() { return 2; }
    static int id(const Row& row) { return row.id; }
    static bool numeric(int /*column*/) { return false; }
    static bool repetitive(int column) { return column == 1; }
    static quint64 number(const Row& /*row*/, int /*column*/, const Context& /*names*/) { return 0; }
    static QString text(const Row& row, int column, const Context& names);
    static QVariant display(const Row& row, int column, const Context& names);
    using Needle = QString;
    static Needle needle(const QString& text, const Context& /*names*/) { return text; }
    static bool matches(const Row& row, const QString& needle, const Context& names);
};

// Read-only table of all users; the whole record of a row is returned under RecordRole.
class UserTableModel : public RecordRowsModel<UserRowTraits> {
    Q_OBJECT

public:
    UserTableModel(QObject* parent, ConfigHandler* handler);

    void reload() override;
    // The rows a complete refresh prepares from what it read.
    static Prepared prepareFrom(const TablesSnapshot& s);

protected:
    QVariant record(int index) const override;
};
