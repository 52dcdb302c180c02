#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

class DbConnection;
struct RecordTable;

// Whether the journal is kept on a database for an account: found once, after connecting, and handed
// to the other connections to the same database so that they need not ask again.
struct JournalState {
    bool known = false;
    bool on = false;
    QString offReason; // empty while it is on
};

// The change journal on one connection: its table made when missing, whether it is kept, and its
// rows, written by INSERT … SELECT in the change's own transaction with details built by the server
// from what is stored.
class DbJournal {
public:
    explicit DbJournal(DbConnection& conn);

    // After connecting: checks that this account can read and write the table, and makes it first
    // when that fails. False only when the connection was lost meanwhile. Unless it was done or handed
    // over (use()), the first change on the connection does it.
    bool prepare();
    const JournalState& state() const { return kept; }
    void use(const JournalState& state) { kept = state; }
    bool isOn() const { return kept.on; }
    // Why it is off; empty while it is on.
    QString offReason() const { return kept.offReason; }

    // The rows of one change share an operation number: one drawn for the outermost scope, joined by
    // the scopes inside it. A random 63-bit number, so that no round trip is needed to make it unique.
    // The outermost scope prepares the journal while its state is not known, before any transaction.
    class Operation {
    public:
        explicit Operation(DbJournal& journal);
        ~Operation();
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;

    private:
        DbJournal& journal;
    };

    // Writes one row per row of `from`: "INSERT … SELECT <the row's columns>, <id>, <details> <from>",
    // `values` bound to the placeholders of `id`, `details` and `from` in order. True while the
    // journal is off; false, with the connection's failure, when the statement failed or wrote fewer
    // than `atLeast` rows.
    bool write(const char* action, const RecordTable& records, const QString& id, const QString& details,
               const QString& from, const QVariantList& values, int atLeast = 0);
    // Writes rows whose details were made here: `rows` a JSON array of `count` [id, details] pairs.
    bool writeMade(const char* action, const RecordTable& records, const QString& rows, int count);

    // Expressions the server makes details of. The record in row `alias` of its table as JSON:
    // imei, name, for_all, login, groups (names) as they apply. A list of names too long for the
    // column is {"count": n, "shortened": true} instead.
    static QString recordJson(const RecordTable& records, const QString& alias);
    // The names of the groups of that record, as a JSON array.
    static QString groupsJson(const RecordTable& records, const QString& alias);
    // The names of the groups whose ids a bound JSON array holds, as a JSON array.
    static QString groupNamesJson();
    // The same made here, as the server makes them, from what a change bound and read: a text as a
    // JSON string, and names as an array (or, too long, as their number).
    static QString quoted(const QString& text);
    static QString namesJson(const QStringList& quotedNames);
    // A device as recordJson() makes it, from its values and its groups' quoted names in key order.
    static QString deviceJson(quint64 imei, const QString& name, bool forAll,
                              const QStringList& quotedGroups);
    // The same details for every row, as a table of one row whose `once.d` a FROM joins: LIMIT keeps
    // the server from making them again for each row.
    static QString once(const QString& details);
    // Bound ids as one JSON array, for JSON_TABLE: a list of any length in one value.
    static QString idList(const QVector<int>& ids);
    // "JSON_TABLE(?, …) alias": the rows of a bound idList with the one column `id`.
    static QString idTable(const QString& alias);
    // "kind" as the journal names it: device, user, group.
    static QString objectOf(const RecordTable& records);

    static QString columns();
    static QString createStatement();

private:
    quint64 operation();
    // The values of a row's first columns, bound ahead of the statement's own.
    QVariantList head(const char* action, const RecordTable& records);
    QString insert(const QString& id, const QString& details, const QString& from);
    bool usable();

    DbConnection& conn;
    JournalState kept;
    QString osUser;
    QString workstation;
    int scopes = 0;
    quint64 current = 0;
};
