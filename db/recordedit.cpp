#include "db/recordedit.h"

#include "core/schema.h"
#include "db/connection.h"
#include "db/journal.h"
#include "db/sqlparts.h"

#include <QSqlQuery>

#include <algorithm>

namespace {

// Memberships per INSERT of one record's list.
constexpr int MEMBERSHIP_CHUNK = 4096;

// Ids of `a` that are not in `b`, each once.
QVector<int> minus(const QVector<int>& a, const QVector<int>& b) {
    QVector<int> out;
    for (const int id : distinctIds(a)) {
        if (!b.contains(id))
            out << id;
    }
    return out;
}

QString nulls(int n) {
    QString s;
    for (int i = 0; i < n; ++i)
        s += QStringLiteral(", NULL");
    return s;
}

} // namespace

DbError RecordEditor::atomically(const std::function<DbError()>& change) {
    DbError outcome;
    const bool done = conn.inTransaction([&] {
        outcome = change();
        return !outcome.failed();
    });
    if (!done && !outcome.failed())
        outcome = conn.failure(DbError::Step::Other);
    return outcome;
}

DbError RecordEditor::replace(const RecordTable& records, const RecordState& wanted) {
    return apply(records, nullptr, wanted);
}

DbError RecordEditor::merge(const RecordTable& records, const RecordState& seen, const RecordState& wanted) {
    return apply(records, &seen, wanted);
}

DbError RecordEditor::apply(const RecordTable& records, const RecordState* seen, const RecordState& wanted) {
    if (seen && seen->values == wanted.values && sameGroups(seen->groups, wanted.groups))
        return DbError();
    return atomically([&] { return applyLocked(records, seen, wanted); });
}

// One statement reads the stored row (locked for update), its memberships, another row holding
// the unique value to be written, and which of the groups to join are stored (share-locked).
DbError RecordEditor::applyLocked(const RecordTable& records, const RecordState* seen,
                                  const RecordState& wanted) {
    const int columns = records.columns.size();
    const int id = wanted.id;
    const bool members = !records.members.isEmpty();
    QVector<int> asked;
    for (int i = 0; i < columns; ++i) {
        if (!seen || !sameValue(seen->values.at(i), wanted.values.at(i)))
            asked << i;
    }
    QVector<int> join;
    QVector<int> leave;
    if (members && seen) {
        join = minus(wanted.groups, seen->groups);
        leave = minus(seen->groups, wanted.groups);
        if (records.protectedId == 0 || records.isProtected(id))
            leave.removeAll(conn.adminGroupId());
    } else if (members && !records.isProtected(id)) {
        join = distinctIds(wanted.groups);
    }

    // the stored record as the journal tells it comes last, on the stored row's line
    QStringList parts{QStringLiteral("(SELECT 0, r.%1, r.%2, %3 FROM %4 r WHERE r.%1=? FOR UPDATE)")
                          .arg(COL_ID, records.columns.join(QStringLiteral(", r.")),
                               DbJournal::recordJson(records, QStringLiteral("r")), records.table)};
    QVariantList values{id};
    if (members) {
        parts << QStringLiteral("(SELECT 1, %1%2 FROM %3 WHERE %4=?)")
                     .arg(records.groupColumn, nulls(columns + 1), records.members, records.ownerColumn);
        values << id;
    }
    if (asked.contains(0)) {
        parts << QStringLiteral("(SELECT 2, %1%2 FROM %3 WHERE %4=? AND %1<>?)")
                     .arg(COL_ID, nulls(columns + 1), records.table, records.columns.first());
        values << wanted.values.first() << id;
    }
    if (!join.isEmpty()) {
        const QVariantList ids = paddedIds(join, 0, join.size());
        parts << QStringLiteral("(SELECT 3, %1%2 FROM %3 WHERE %1 IN (%4) LOCK IN SHARE MODE)")
                     .arg(COL_ID, nulls(columns + 1), TABLE_GROUPS, placeholders(ids.size(), 0));
        values += ids;
    }
    QSqlQuery q(conn.database());
    if (!conn.runKept(q, parts.join(QStringLiteral(" UNION ALL ")), values))
        return conn.failure(DbError::Step::Other);
    bool found = false;
    bool taken = false;
    QVariantList stored;
    QString before;
    QVector<int> storedGroups;
    QSet<int> groups;
    while (q.next()) {
        switch (q.value(0).toInt()) {
        case 0:
            found = true;
            for (int i = 0; i < columns; ++i)
                stored << q.value(2 + i);
            before = q.value(2 + columns).toString();
            break;
        case 1:
            storedGroups << q.value(1).toInt();
            break;
        case 2:
            taken = true;
            break;
        default:
            groups.insert(q.value(1).toInt());
        }
    }
    if (!conn.readThrough(q))
        return conn.failure(DbError::Step::Other);
    q.finish();
    if (!found)
        return conn.refuse(DbError::Kind::Deleted);
    if (taken)
        return conn.refuse(DbError::Kind::Taken);

    QVector<int> write;
    for (const int i : asked) {
        if (sameValue(stored.at(i), wanted.values.at(i)))
            continue;
        if (seen && !sameValue(stored.at(i), seen->values.at(i))) {
            DbError conflict = DbError::of(DbError::Kind::Conflict);
            conflict.field = records.titles.value(i);
            conflict.stored = shownValue(records, i, stored.at(i));
            conflict.wanted = shownValue(records, i, wanted.values.at(i));
            return conn.refuse(conflict);
        }
        write << i;
    }
    if (groups.size() < join.size())
        return missingGroup(join, groups);
    const QVector<int> add = minus(join, storedGroups);
    QVector<int> remove;
    if (seen) {
        for (const int g : leave) {
            if (storedGroups.contains(g))
                remove << g;
        }
    } else if (members && !records.isProtected(id)) {
        remove = minus(storedGroups, wanted.groups);
    }

    if (!write.isEmpty()) {
        QStringList set;
        QVariantList written;
        for (const int i : qAsConst(write)) {
            set << records.columns.at(i) + QStringLiteral("=?");
            written << wanted.values.at(i);
        }
        // with the journal's row when the memberships stay, as both fail at the same step
        const QString update = QStringLiteral("UPDATE %1 SET %2 WHERE %3=?")
                                   .arg(records.table, set.join(QStringLiteral(", ")), COL_ID);
        if (!(remove.isEmpty() && add.isEmpty() ? conn.runWithNext(update, written << id)
                                                : conn.runKept(q, update, written << id)))
            return conn.failure(DbError::Step::Other);
    }
    if (!remove.isEmpty()) {
        const QVariantList ids = paddedIds(remove, 0, remove.size());
        if (!conn.runKept(q,
                          QStringLiteral("DELETE FROM %1 WHERE %2=? AND %3 IN (%4)")
                              .arg(records.members, records.ownerColumn, records.groupColumn,
                                   placeholders(ids.size(), 0)),
                          QVariantList{id} + ids))
            return conn.failure(DbError::Step::Memberships);
    }
    if (!insertPairs(records.members, records.ownerColumn, records.groupColumn, id, add))
        return conn.failure(DbError::Step::Memberships);
    if (write.isEmpty() && remove.isEmpty() && add.isEmpty())
        return DbError();
    // a password shows only as changed
    const bool password = records.table == TABLE_USERS && write.contains(1);
    if (!journal.write("change", records, QStringLiteral("r.%1").arg(COL_ID),
                       QStringLiteral("JSON_OBJECT('before', JSON_COMPACT(?), 'after', %1%2)")
                           .arg(DbJournal::recordJson(records, QStringLiteral("r")),
                                password ? QStringLiteral(", 'password_changed', TRUE") : QString()),
                       QStringLiteral("FROM %1 r WHERE r.%2=?").arg(records.table, COL_ID), {before, id}, 1))
        return conn.failure(DbError::Step::Other);
    return DbError();
}

DbError RecordEditor::missingGroup(const QVector<int>& asked, const QSet<int>& existing) {
    DbError missing = DbError::of(DbError::Kind::MissingGroup);
    for (const int g : asked) {
        if (!existing.contains(g)) {
            missing.field = conn.groupName(g);
            break;
        }
    }
    return conn.refuse(missing);
}

bool RecordEditor::lockAndFind(const QString& table, int id, const QString& others, const QVector<int>& ids,
                               bool& found, QSet<int>& existing) {
    QString sql = QStringLiteral("(SELECT 0, %1 FROM %2 WHERE %1=? LOCK IN SHARE MODE)").arg(COL_ID, table);
    QVariantList values{id};
    const QVector<int> distinct = distinctIds(ids);
    for (int from = 0; from < distinct.size(); from += MEMBERSHIP_CHUNK) {
        const QVariantList some =
            paddedIds(distinct, from, std::min<int>(distinct.size(), from + MEMBERSHIP_CHUNK));
        sql += QStringLiteral(" UNION ALL (SELECT 1, %1 FROM %2 WHERE %1 IN (%3) LOCK IN SHARE MODE)")
                   .arg(COL_ID, others, placeholders(some.size(), 0));
        values += some;
    }
    QSqlQuery q(conn.database());
    if (!conn.runKept(q, sql, values))
        return false;
    found = false;
    while (q.next()) {
        if (q.value(0).toInt() == 0)
            found = true;
        else
            existing.insert(q.value(1).toInt());
    }
    const bool read = conn.readThrough(q);
    q.finish();
    return read;
}

DbError RecordEditor::join(const RecordTable& records, int owner, const QVector<int>& groupIds) {
    return atomically([&] {
        bool found = false;
        QSet<int> groups;
        if (!lockAndFind(records.table, owner, TABLE_GROUPS, groupIds, found, groups))
            return conn.failure(DbError::Step::Other);
        if (!found)
            return conn.refuse(DbError::Kind::Deleted);
        if (groups.size() < distinctIds(groupIds).size())
            return missingGroup(groupIds, groups);
        if (!insertPairs(records.members, records.ownerColumn, records.groupColumn, owner, groupIds))
            return conn.failure(DbError::Step::Memberships);
        if (!groupIds.isEmpty() &&
            !journal.write("change", records, QStringLiteral("r.%1").arg(COL_ID),
                           QStringLiteral("JSON_OBJECT('groups_added', %1)").arg(DbJournal::groupNamesJson()),
                           QStringLiteral("FROM %1 r WHERE r.%2=?").arg(records.table, COL_ID),
                           {DbJournal::idList(distinctIds(groupIds)), owner}, 1))
            return conn.failure(DbError::Step::Memberships);
        return DbError();
    });
}

// Inside the transaction of the new row: it holds no membership yet, so every stored group of the
// list gives one row, and fewer rows than groups mean a group is gone.
DbError RecordEditor::joinNew(const RecordTable& records, int owner, const QVector<int>& groupIds) {
    const QVector<int> groups = distinctIds(groupIds);
    QSqlQuery q(conn.database());
    int inserted = 0;
    for (int from = 0; from < groups.size(); from += MEMBERSHIP_CHUNK) {
        const QVariantList ids =
            paddedIds(groups, from, std::min<int>(groups.size(), from + MEMBERSHIP_CHUNK));
        if (!conn.runKept(q,
                          QStringLiteral("INSERT INTO %1 (%2, %3) SELECT ?, %4 FROM %5 WHERE %4 IN (%6) "
                                         "LOCK IN SHARE MODE")
                              .arg(records.members, records.ownerColumn, records.groupColumn, COL_ID,
                                   TABLE_GROUPS, placeholders(ids.size(), 0)),
                          QVariantList{owner} + ids))
            return conn.failure(DbError::Step::Memberships);
        inserted += std::max(0, q.numRowsAffected());
    }
    if (inserted == groups.size())
        return DbError();
    QSet<int> existing;
    bool found = false;
    if (!lockAndFind(records.table, owner, TABLE_GROUPS, groups, found, existing))
        return conn.failure(DbError::Step::Memberships);
    return missingGroup(groups, existing);
}

// INSERT IGNORE, one statement per chunk: a list of any usual length is stored whole or not at all.
bool RecordEditor::insertPairs(const QString& table, const QString& keyColumn, const QString& valueColumn,
                               int key, const QVector<int>& values) {
    for (int from = 0; from < values.size(); from += MEMBERSHIP_CHUNK) {
        const int to = std::min<int>(values.size(), from + MEMBERSHIP_CHUNK);
        const int length = paddedLength(to - from);
        QVariantList pairs;
        pairs.reserve(2 * length);
        for (int i = from; i < from + length; ++i)
            pairs << key << values.at(std::min(i, to - 1));
        QSqlQuery q(conn.database());
        if (!conn.runKept(q,
                          QStringLiteral("INSERT IGNORE INTO %1 (%2, %3) VALUES %4")
                              .arg(table, keyColumn, valueColumn, placeholders(length, 2)),
                          pairs))
            return false;
    }
    return true;
}

bool RecordEditor::deleteWhere(const QString& table, const QString& column, int value) {
    QSqlQuery q(conn.database());
    return conn.runKept(q, QStringLiteral("DELETE FROM %1 WHERE %2=?").arg(table, column), {value});
}
