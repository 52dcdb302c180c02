#include "db/sqlparts.h"

#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>

int paddedLength(int n) {
    int length = 1;
    while (length < n)
        length *= 2;
    return length;
}

QVariantList paddedIds(const QVector<int>& ids, int from, int to) {
    const int length = paddedLength(to - from);
    QVariantList values;
    values.reserve(length);
    for (int i = from; i < from + length; ++i)
        values << ids.at(std::min(i, to - 1));
    return values;
}

QVector<int> distinctIds(QVector<int> ids) {
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

QVariant bound(const QString& s) {
    return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s);
}

QVariant bound(quint64 imei) {
    return QVariant(static_cast<qulonglong>(imei));
}

QString placeholders(int rows, int perRow) {
    QString one;
    if (perRow > 0) {
        one = QStringLiteral("(?");
        for (int i = 1; i < perRow; ++i)
            one += QStringLiteral(",?");
        one += QLatin1Char(')');
    } else {
        one = QStringLiteral("?");
    }
    QString all;
    all.reserve(rows * (one.size() + 1));
    for (int i = 0; i < rows; ++i) {
        if (i)
            all += QLatin1Char(',');
        all += one;
    }
    return all;
}

QVector<int> intColumn(QSqlQuery& q, const QString& column) {
    QVector<int> ids;
    const int c = q.record().indexOf(column);
    while (q.next())
        ids.append(q.value(c).toInt());
    return ids;
}

void fillDevice(DeviceInfo& d, const QSqlQuery& q) {
    d.id = q.value(0).toInt();
    d.imei = q.value(1).toULongLong();
    d.name = q.value(2).toString();
    d.forAll = q.value(3).toBool();
}

void fillUser(UserInfo& u, const QSqlQuery& q) {
    u.id = q.value(0).toInt();
    u.login = q.value(1).toString();
    u.password = q.value(2).toByteArray();
}
