#pragma once

#include "db/dberror.h"
#include "db/recordtables.h"

#include <QSet>
#include <QString>
#include <QVariant>
#include <QVector>

#include <functional>

class DbConnection;
class DbJournal;

// One record as its table holds it: the values of its columns in the table's order, and its groups.
struct RecordState {
    int id = 0;
    QVariantList values;
    QVector<int> groups;
};

// Changes of one stored record and its memberships, each in one transaction with the stored row
// locked: nothing of a change that fails stays, and no membership of a record or a group that is
// gone is written.
class RecordEditor {
public:
    RecordEditor(DbConnection& conn, DbJournal& journal)
        : conn(conn)
        , journal(journal) {}

    // Makes the stored record `wanted`: its columns, and its memberships replaced (root's stay).
    DbError replace(const RecordTable& records, const RecordState& wanted);
    // Writes what differs between `seen` and `wanted`, where the stored value is still `seen`'s
    // (else a conflict, and nothing is written); the groups ticked are joined, those unticked left,
    // other memberships stay. Devices and root never leave the administrators' group.
    DbError merge(const RecordTable& records, const RecordState& seen, const RecordState& wanted);
    // Memberships of the stored record `owner` in `groupIds`, every group stored.
    DbError join(const RecordTable& records, int owner, const QVector<int>& groupIds);
    // Memberships of a new record in `groupIds`, refused unless every group is stored.
    DbError joinNew(const RecordTable& records, int owner, const QVector<int>& groupIds);

    // Locks row `id` of `table` and reads which of `ids` are rows of `others`, share-locked so
    // that none of them goes before the transaction ends. False when the statement failed.
    bool lockAndFind(const QString& table, int id, const QString& others, const QVector<int>& ids,
                     bool& found, QSet<int>& existing);
    // Pairs (key, each of values) inserted unless stored, in a few statements.
    bool insertPairs(const QString& table, const QString& keyColumn, const QString& valueColumn, int key,
                     const QVector<int>& values);
    bool deleteWhere(const QString& table, const QString& column, int value);

private:
    DbError apply(const RecordTable& records, const RecordState* seen, const RecordState& wanted);
    DbError applyLocked(const RecordTable& records, const RecordState* seen, const RecordState& wanted);
    DbError missingGroup(const QVector<int>& asked, const QSet<int>& existing);
    // Runs `change` as one transaction and gives its outcome, or the commit's failure.
    DbError atomically(const std::function<DbError()>& change);

    DbConnection& conn;
    DbJournal& journal;
};
