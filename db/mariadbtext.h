#pragma once

#include <QByteArray>
#include <QSql>
#include <QString>
#include <QVariant>

#include <mysql.h>

// What a column of a result is, as the server describes it.
struct MariaDbColumn {
    QString name;
    enum_field_types type = MYSQL_TYPE_NULL;
    bool isUnsigned = false;
    bool binary = false; // the binary character set: bytes, not text
};

MariaDbColumn describeColumn(const MYSQL_FIELD& field);
// The Qt type a column's values convert to.
int columnMetaType(const MariaDbColumn& column, QSql::NumericalPrecisionPolicy precision);
// A value as the text protocol sends it; `data` null means SQL NULL.
QVariant columnValue(const MariaDbColumn& column, const char* data, unsigned long length,
                     QSql::NumericalPrecisionPolicy precision);

// `sql` with each ? placeholder (outside quotes, identifiers and comments) replaced by the
// matching value as a literal that the connection's own escaping made safe. Returns false when
// the numbers of placeholders and values differ.
bool bindValues(MYSQL* mysql, const QString& sql, const QVariantList& values, QByteArray* statement);
