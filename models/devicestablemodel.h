#pragma once

#include "core/records.h"
#include "models/groupnames.h"
#include "models/recordtablemodel.h"

#include <QByteArray>
#include <QSet>

// A filter text made ready for a million rows: which groups' names contain it, and the digits
// to look for in an IMEI.
struct DeviceNeedle {
    QString text;
    QByteArray digits; // empty unless the text is digits only
    QSet<int> groups;
    bool forAll = false;
    bool acrossNames = false; // may span two group names: those rows' texts are compared whole
};

struct DeviceRowTraits : RowTraitsDefaults<DeviceInfo, GroupNames> {
    static int columns() { return 3; }
    static bool numeric(int column) { return column == 0; }
    static bool repetitive(int column) { return column == 2; }
    static quint64 number(const Row& row, int /*column*/, const Context& /*names*/) { return row.imei; }
    // devices of the same groups share one list of them
    static const void* textToken(const Row& row, int column) {
        static const char forAll = 0;
        if (column != 2)
            return nullptr;
        return row.forAll ? static_cast<const void*>(&forAll) : row.groups.constData();
    }
    static QString text(const Row& row, int column, const Context& names);
    static QVariant display(const Row& row, int column, const Context& names);
    using Needle = DeviceNeedle;
    static Needle needle(const QString& text, const Context& names);
    static bool matches(const Row& row, const Needle& needle, const Context& names);
    static QVector<Row> rowsIn(const TablesSnapshot& s) { return s.devices; }
    static Context contextIn(const TablesSnapshot& s) { return GroupNames(s.groups, s.adminGroupId); }
};

// Read-only table of all devices; the whole record of a row is returned under RecordRole.
class DevicesTableModel : public RecordRowsModel<DeviceRowTraits> {
    Q_OBJECT

public:
    DevicesTableModel(QObject* parent, ConfigHandler* handler);
};
