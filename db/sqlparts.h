#pragma once

#include "core/records.h"

#include <QString>
#include <QVariant>
#include <QVector>

class QSqlQuery;

// Pieces of statements and rows that every part of the database layer uses.

// The next power of two from `n`: lists are padded to it with their last value, so that a dozen
// kept statements serve every length (a repeat changes nothing in an IN list or an INSERT IGNORE).
int paddedLength(int n);

// ids[from, to) as bound values, padded to paddedLength with the last one.
QVariantList paddedIds(const QVector<int>& ids, int from, int to);

QVector<int> distinctIds(QVector<int> ids);

// How many runs of consecutive values the sorted, distinct ids[from, to) make.
int idRuns(const QVector<int>& ids, int from, int to);

// The sorted, distinct ids[from, to) as a condition on `column`, its values appended to `values`:
// ranges when the ids come in runs (devices added together have consecutive ids), which the server
// reads in one pass each instead of looking up every id; else an IN list.
QString idsWhere(const QString& column, const QVector<int>& ids, int from, int to, QVariantList& values);

// Texts must never bind as NULL: a null QString would.
QVariant bound(const QString& s);
QVariant bound(quint64 imei);

// "(?,?),(?,?)" for rows of `perRow` values, or "?,?,?" for an IN list (perRow 0).
QString placeholders(int rows, int perRow);

// Collects one int column of every row, in row order.
QVector<int> intColumn(QSqlQuery& q, const QString& column);

// A record from the current row of id, IMEI, name, for_all / id, login, password.
void fillDevice(DeviceInfo& d, const QSqlQuery& q);
void fillUser(UserInfo& u, const QSqlQuery& q);
