#include "db/sqlparts.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

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

namespace {

// Where each run of consecutive values in the sorted, distinct ids[from, to) begins.
QVector<int> runStarts(const QVector<int>& ids, int from, int to) {
    QVector<int> starts;
    for (int i = from; i < to; ++i) {
        if (i == from || ids.at(i) != ids.at(i - 1) + 1)
            starts << i;
    }
    return starts;
}

} // namespace

int idRuns(const QVector<int>& ids, int from, int to) {
    return runStarts(ids, from, to).size();
}

QString idsWhere(const QString& column, const QVector<int>& ids, int from, int to, QVariantList& values) {
    const QVector<int> starts = runStarts(ids, from, to);
    // a range costs the server about what four listed ids do
    if (starts.size() * 4 > to - from) {
        const QVariantList listed = paddedIds(ids, from, to);
        values += listed;
        return QStringLiteral("%1 IN (%2)").arg(column, placeholders(listed.size(), 0));
    }
    const int length = paddedLength(starts.size());
    QStringList ranges;
    ranges.reserve(length);
    for (int r = 0; r < length; ++r) {
        // a repeated last range changes nothing and keeps the statements few
        const int run = std::min<int>(r, starts.size() - 1);
        const int last = run + 1 < starts.size() ? starts.at(run + 1) - 1 : to - 1;
        values << ids.at(starts.at(run)) << ids.at(last);
        ranges << QStringLiteral("%1 BETWEEN ? AND ?").arg(column);
    }
    return QLatin1Char('(') + ranges.join(QStringLiteral(" OR ")) + QLatin1Char(')');
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
