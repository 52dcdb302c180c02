#include "db/mariadbtext.h"

#include <QDateTime>

#include <charconv>

namespace {

template <typename T>
QVariant integer(const char* data, unsigned long length) {
    T value = 0;
    std::from_chars(data, data + length, value);
    return QVariant::fromValue(value);
}

int digits(const char* data, int from, int count) {
    int value = 0;
    std::from_chars(data + from, data + from + count, value);
    return value;
}

// "hh:mm:ss[.ffffff]" from `from`.
QTime timeAt(const char* data, unsigned long length, int from) {
    if (length < unsigned(from + 8))
        return QTime();
    int ms = 0;
    if (length > unsigned(from + 9) && data[from + 8] == '.') {
        const int n = std::min<int>(3, int(length) - from - 9);
        ms = digits(data, from + 9, n);
        for (int i = n; i < 3; ++i)
            ms *= 10;
    }
    return QTime(digits(data, from, 2), digits(data, from + 3, 2), digits(data, from + 6, 2), ms);
}

// "yyyy-mm-dd"; the zero date is no date.
QDate dateAt(const char* data, unsigned long length) {
    if (length < 10)
        return QDate();
    return QDate(digits(data, 0, 4), digits(data, 5, 2), digits(data, 8, 2));
}

QByteArray quoted(MYSQL* mysql, const QByteArray& text) {
    QByteArray out(text.size() * 2 + 3, Qt::Uninitialized);
    out[0] = '\'';
    const unsigned long n = mysql_real_escape_string(mysql, out.data() + 1, text.constData(), text.size());
    out[int(n) + 1] = '\'';
    out.truncate(int(n) + 2);
    return out;
}

QByteArray literal(MYSQL* mysql, const QVariant& value) {
    if (value.isNull())
        return QByteArrayLiteral("NULL");
    switch (value.userType()) {
    case QMetaType::Bool:
        return value.toBool() ? QByteArrayLiteral("1") : QByteArrayLiteral("0");
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return QByteArray::number(value.toLongLong());
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::UChar:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return QByteArray::number(value.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return QByteArray::number(value.toDouble(), 'g', 17);
    case QMetaType::QByteArray: {
        // hex, so that no byte is read in the connection's character set
        const QByteArray bytes = value.toByteArray();
        QByteArray out(bytes.size() * 2 + 4, Qt::Uninitialized);
        out[0] = 'X';
        out[1] = '\'';
        const unsigned long n = mysql_hex_string(out.data() + 2, bytes.constData(), bytes.size());
        out[int(n) + 2] = '\'';
        out.truncate(int(n) + 3);
        return out;
    }
    case QMetaType::QDateTime: {
        const QDateTime t = value.toDateTime();
        return t.isValid() ? quoted(mysql, t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1())
                           : QByteArrayLiteral("NULL");
    }
    case QMetaType::QDate:
        return quoted(mysql, value.toDate().toString(Qt::ISODate).toLatin1());
    case QMetaType::QTime:
        return quoted(mysql, value.toTime().toString(QStringLiteral("HH:mm:ss.zzz")).toLatin1());
    default:
        return quoted(mysql, value.toString().toUtf8());
    }
}

} // namespace

MariaDbColumn describeColumn(const MYSQL_FIELD& field) {
    constexpr unsigned binaryCharset = 63;
    return MariaDbColumn{QString::fromUtf8(field.name, int(field.name_length)), field.type,
                         (field.flags & UNSIGNED_FLAG) != 0, field.charsetnr == binaryCharset};
}

int columnMetaType(const MariaDbColumn& column, QSql::NumericalPrecisionPolicy precision) {
    switch (column.type) {
    case MYSQL_TYPE_TINY:
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_YEAR:
        return column.isUnsigned ? QMetaType::UInt : QMetaType::Int;
    case MYSQL_TYPE_LONGLONG:
    case MYSQL_TYPE_BIT:
        return column.isUnsigned ? QMetaType::ULongLong : QMetaType::LongLong;
    case MYSQL_TYPE_FLOAT:
    case MYSQL_TYPE_DOUBLE:
        return QMetaType::Double;
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL:
        return precision == QSql::HighPrecision ? QMetaType::QString : QMetaType::Double;
    case MYSQL_TYPE_DATE:
        return QMetaType::QDate;
    case MYSQL_TYPE_TIME:
        return QMetaType::QTime;
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_TIMESTAMP:
        return QMetaType::QDateTime;
    default:
        return column.binary ? QMetaType::QByteArray : QMetaType::QString;
    }
}

QVariant columnValue(const MariaDbColumn& column, const char* data, unsigned long length,
                     QSql::NumericalPrecisionPolicy precision) {
    const int type = columnMetaType(column, precision);
    if (!data) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        return QVariant(QMetaType(type));
#else
        return QVariant(QVariant::Type(type));
#endif
    }
    switch (type) {
    case QMetaType::Int:
        return integer<int>(data, length);
    case QMetaType::UInt:
        return integer<uint>(data, length);
    case QMetaType::LongLong:
        return integer<qlonglong>(data, length);
    case QMetaType::ULongLong:
        if (column.type == MYSQL_TYPE_BIT) {
            qulonglong bits = 0;
            for (unsigned long i = 0; i < length; ++i)
                bits = (bits << 8) | uchar(data[i]);
            return bits;
        }
        return integer<qulonglong>(data, length);
    case QMetaType::Double:
        if (precision == QSql::LowPrecisionInt32)
            return integer<int>(data, length);
        if (precision == QSql::LowPrecisionInt64)
            return integer<qlonglong>(data, length);
        return QByteArray::fromRawData(data, int(length)).toDouble();
    case QMetaType::QDate:
        return dateAt(data, length);
    case QMetaType::QTime:
        return timeAt(data, length, 0);
    case QMetaType::QDateTime: {
        const QDate date = dateAt(data, length);
        return date.isValid() ? QDateTime(date, timeAt(data, length, 11)) : QDateTime();
    }
    case QMetaType::QByteArray:
        return QByteArray(data, int(length));
    default:
        return QString::fromUtf8(data, int(length));
    }
}

bool bindValues(MYSQL* mysql, const QString& sql, const QVariantList& values, QByteArray* statement) {
    const QByteArray text = sql.toUtf8();
    QByteArray& out = *statement;
    out.clear();
    out.reserve(text.size() + values.size() * 16);
    int used = 0;
    const int n = text.size();
    int from = 0;
    for (int i = 0; i < n; ++i) {
        const char c = text.at(i);
        if (c == '\'' || c == '"' || c == '`') {
            // to the closing quote; a doubled one or (not in identifiers) a backslash escapes
            for (++i; i < n; ++i) {
                if (text.at(i) == '\\' && c != '`')
                    ++i;
                else if (text.at(i) == c && (i + 1 >= n || text.at(i + 1) != c))
                    break;
                else if (text.at(i) == c)
                    ++i;
            }
        } else if (c == '#' || (c == '-' && i + 2 < n && text.at(i + 1) == '-' && text.at(i + 2) <= ' ')) {
            while (i < n && text.at(i) != '\n')
                ++i;
        } else if (c == '/' && i + 1 < n && text.at(i + 1) == '*') {
            const int end = text.indexOf("*/", i + 2);
            i = end < 0 ? n : end + 1;
        } else if (c == '?') {
            if (used >= values.size())
                return false;
            out.append(text.constData() + from, i - from);
            out.append(literal(mysql, values.at(used++)));
            from = i + 1;
        }
    }
    out.append(text.constData() + from, n - from);
    return used == values.size();
}
