#pragma once

#include "core/records.h"

#include <QString>
#include <QStringList>
#include <QVariant>

// A table of records as the writes see it: users and devices with their membership table,
// groups without one.
struct RecordTable {
    QString table;
    QStringList columns; // written by add and update; the first one no two rows share
    QString members;     // empty for groups
    QString ownerColumn;
    QString groupColumn;
    int protectedId = 0; // a record whose row and memberships stay whatever is asked: root
    QStringList titles;  // of the columns, as a person is told about them

    bool isProtected(int id) const { return protectedId > 0 && id == protectedId; }

    static const RecordTable& users();
    static const RecordTable& devices();
    static const RecordTable& groups();
};

// A record's values in the order of its table's columns.
QVariantList userValues(const UserInfo& user);
QVariantList deviceValues(const DeviceInfo& device);

// Whether a value read from column `column` is `value` as bound.
bool sameValue(const QVariant& read, const QVariant& value);
// A value of column `column` as a person is shown it.
QString shownValue(const RecordTable& records, int column, const QVariant& value);
