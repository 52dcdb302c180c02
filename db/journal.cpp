#include "db/journal.h"

#include "core/schema.h"
#include "db/connection.h"
#include "db/recordtables.h"

#include <QDebug>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QSysInfo>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

// Bytes of one list of group names in details at most: two of them and the other fields stay within
// the TEXT column's 65,535 bytes. A longer list is written as its length.
constexpr int NAMES_BYTES = 30000;

// The names of the rows aggregated, g being the groups' table.
QString namesAggregate() {
    return QStringLiteral("IF(SUM(LENGTH(JSON_QUOTE(g.%1)) + 1) > %2, JSON_OBJECT('count', COUNT(*), "
                          "'shortened', TRUE), JSON_ARRAYAGG(g.%1))")
        .arg(COL_GROUP_NAME)
        .arg(NAMES_BYTES);
}

// The administrator's account on this machine: the session's variables, else the account the
// program runs as (a service or sudo may leave them unset).
QString osAccount() {
    for (const char* name : {"USER", "USERNAME", "LOGNAME"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty())
            return value;
    }
#ifdef Q_OS_UNIX
    if (const passwd* account = getpwuid(geteuid()))
        return QString::fromLocal8Bit(account->pw_name);
#endif
    // bound as a text, never as NULL
    return QStringLiteral("");
}

} // namespace

DbJournal::DbJournal(DbConnection& conn)
    : conn(conn)
    , osUser(osAccount().left(128))
    , workstation(QSysInfo::machineHostName().left(255) + QStringLiteral("")) {}

DbJournal::Operation::Operation(DbJournal& journal)
    : journal(journal) {
    if (journal.scopes++ == 0) {
        journal.current = 0;
        if (!journal.kept.known)
            static_cast<void>(journal.prepare());
    }
}

DbJournal::Operation::~Operation() {
    --journal.scopes;
}

quint64 DbJournal::operation() {
    // a row written outside any scope is an operation of its own
    if (current == 0 || scopes == 0)
        current = std::max<quint64>(1, QRandomGenerator::global()->generate64() >> 1);
    return current;
}

QString DbJournal::objectOf(const RecordTable& records) {
    if (records.table == TABLE_DEVICES)
        return QStringLiteral("device");
    if (records.table == TABLE_USERS)
        return QStringLiteral("user");
    return QStringLiteral("group");
}

QString DbJournal::groupsJson(const RecordTable& records, const QString& alias) {
    // in the order of the membership table's key, group ids: an ORDER BY would cost a sort per record
    return QStringLiteral(
               "COALESCE((SELECT %1 FROM %2 m JOIN %3 g ON g.%4 = m.%5 WHERE m.%6 = %7.%4), JSON_ARRAY())")
        .arg(namesAggregate(), records.members, TABLE_GROUPS, COL_ID, records.groupColumn,
             records.ownerColumn, alias);
}

QString DbJournal::recordJson(const RecordTable& records, const QString& alias) {
    if (records.table == TABLE_DEVICES)
        return QStringLiteral("JSON_OBJECT('imei', LPAD(%1.%2, 15, '0'), 'name', %1.%3, 'for_all', "
                              "%1.%4 <> 0, 'groups', %5)")
            .arg(alias, COL_IMEI, COL_NAME, COL_FOR_ALL, groupsJson(records, alias));
    if (records.table == TABLE_USERS)
        return QStringLiteral("JSON_OBJECT('login', %1.%2, 'groups', %3)")
            .arg(alias, COL_USER_LOGIN, groupsJson(records, alias));
    return QStringLiteral("JSON_OBJECT('name', %1.%2)").arg(alias, COL_GROUP_NAME);
}

QString DbJournal::groupNamesJson() {
    return QStringLiteral("COALESCE((SELECT %1 FROM %2 JOIN %3 g ON g.%4 = jg.id), JSON_ARRAY())")
        .arg(namesAggregate(), idTable(QStringLiteral("jg")), TABLE_GROUPS, COL_ID);
}

QString DbJournal::quoted(const QString& text) {
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

QString DbJournal::namesJson(const QStringList& quotedNames) {
    int units = 0;
    for (const QString& name : quotedNames)
        units += name.size() + 1;
    // a UTF-16 unit is at most three bytes of UTF-8: most lists need no exact count
    if (units * 3 > NAMES_BYTES) {
        int bytes = 0;
        for (const QString& name : quotedNames)
            bytes += name.toUtf8().size() + 1;
        if (bytes > NAMES_BYTES)
            return QStringLiteral("{\"count\": %1, \"shortened\": true}").arg(quotedNames.size());
    }
    return QLatin1Char('[') + quotedNames.join(QLatin1Char(',')) + QLatin1Char(']');
}

QString DbJournal::deviceJson(quint64 imei, const QString& name, bool forAll,
                              const QStringList& quotedGroups) {
    return QStringLiteral("{\"imei\": \"%1\", \"name\": %2, \"for_all\": %3, \"groups\": %4}")
        .arg(QString::number(imei).rightJustified(15, QLatin1Char('0'), true), quoted(name),
             forAll ? QStringLiteral("true") : QStringLiteral("false"), namesJson(quotedGroups));
}

QString DbJournal::once(const QString& details) {
    return QStringLiteral("(SELECT %1 AS d LIMIT 1) once").arg(details);
}

QString DbJournal::idList(const QVector<int>& ids) {
    QString list;
    list.reserve(ids.size() * 8 + 2);
    list += QLatin1Char('[');
    for (int i = 0; i < ids.size(); ++i) {
        if (i)
            list += QLatin1Char(',');
        list += QString::number(ids.at(i));
    }
    list += QLatin1Char(']');
    return list;
}

QString DbJournal::idTable(const QString& alias) {
    return QStringLiteral("JSON_TABLE(?, '$[*]' COLUMNS (id INT PATH '$')) %1").arg(alias);
}

bool DbJournal::write(const char* action, const RecordTable& records, const QString& id,
                      const QString& details, const QString& from, const QVariantList& values, int atLeast) {
    if (!kept.known) {
        // not prepared: the connection was lost before the change began
        conn.refuse(DbError::Kind::ConnectionLost);
        return false;
    }
    if (!kept.on)
        return true;
    QSqlQuery q(conn.database());
    if (!conn.runKept(q, insert(id, details, from), head(action, records) + values))
        return false;
    if (q.numRowsAffected() >= atLeast)
        return true;
    conn.refuse(DbError::Kind::Refused);
    return false;
}

QVariantList DbJournal::head(const char* action, const RecordTable& records) {
    return {osUser, workstation, static_cast<qulonglong>(operation()), QString::fromLatin1(action),
            objectOf(records)};
}

QString DbJournal::insert(const QString& id, const QString& details, const QString& from) {
    return QStringLiteral(
               "INSERT INTO %1 (%2) SELECT UTC_TIMESTAMP(3), CURRENT_USER(), ?, ?, ?, ?, ?, %3, %4 %5")
        .arg(TABLE_JOURNAL, columns().mid(4), id, details, from);
}

bool DbJournal::writeMade(const char* action, const RecordTable& records, const QString& rows, int count) {
    return write(
        action, records, QStringLiteral("jr.id"), QStringLiteral("jr.d"),
        QStringLiteral("FROM JSON_TABLE(?, '$[*]' COLUMNS (id INT PATH '$[0]', d JSON PATH '$[1]')) jr"),
        {rows}, count);
}

QString DbJournal::columns() {
    return QStringLiteral(
        "id, at, db_user, os_user, workstation, operation, action, object, object_id, details");
}

QString DbJournal::createStatement() {
    return QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (\n"
                          "    id          BIGINT UNSIGNED AUTO_INCREMENT PRIMARY KEY,\n"
                          "    at          DATETIME(3) NOT NULL,\n"
                          "    db_user     VARCHAR(384) NOT NULL,\n"
                          "    os_user     VARCHAR(128) NOT NULL,\n"
                          "    workstation VARCHAR(255) NOT NULL,\n"
                          "    operation   BIGINT UNSIGNED NOT NULL,\n"
                          "    action      VARCHAR(16) NOT NULL,\n"
                          "    object      VARCHAR(16) NOT NULL,\n"
                          "    object_id   INT NOT NULL,\n"
                          "    details     TEXT NOT NULL,\n"
                          "    KEY ix_journal_object (object, object_id),\n"
                          "    KEY ix_journal_at (at)\n"
                          ") ENGINE=InnoDB DEFAULT CHARSET=utf8mb4")
        .arg(TABLE_JOURNAL);
}

bool DbJournal::prepare() {
    kept = JournalState();
    QSqlQuery q(conn.database());
    // Every column, read and written, without a row: a privilege or a column missing fails it.
    const QString written = DbJournal::columns().mid(4);
    const QString probe = QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %1 WHERE id = 0 AND FALSE")
                              .arg(TABLE_JOURNAL, written);
    // The table is usually there already: one round trip then.
    if (conn.run(q, probe))
        return usable();
    if (conn.lastError().kind == DbError::Kind::ConnectionLost)
        return false;
    // A least-privileged account may not create it even when it is there: then the check decides.
    const bool made = conn.run(q, createStatement());
    const DbError notMade = conn.lastError();
    if (!made && notMade.kind == DbError::Kind::ConnectionLost)
        return false;
    conn.refuse(DbError());
    if (conn.run(q, probe))
        return usable();
    const DbError unusable = conn.lastError();
    if (unusable.kind == DbError::Kind::ConnectionLost)
        return false;
    QString reason = QStringLiteral("нет доступа к таблице %1: %2").arg(TABLE_JOURNAL, unusable.serverText);
    if (!made)
        reason += QStringLiteral("; создать её не удалось: %1").arg(notMade.serverText);
    qDebug() << "change journal off:" << reason;
    kept = {true, false, reason};
    // what failed here is the journal's, not the connection's
    conn.refuse(DbError());
    return true;
}

bool DbJournal::usable() {
    kept = {true, true, QString()};
    conn.refuse(DbError());
    return true;
}
