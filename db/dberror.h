#pragma once

#include <QString>

class QSqlError;

// Why something the database layer was asked to do did not happen.
struct DbError {
    enum class Kind {
        None,
        Taken,          // another row has the login, the group name or the IMEI
        InvalidImei,    // IMEI 0
        Protected,      // root or the administrators' group, refused before any statement
        Refused,        // the server (or the driver) refused a statement or the connection
        ConnectionLost, // there is no connection to the server: gone, or never made
        Conflict,       // another administrator stored a third value in a field that was changed
        Deleted,        // the record was deleted meanwhile
        MissingGroup,   // a group to join was deleted meanwhile
    };
    // What of a change could not be stored; the sentence shown for a failure depends on it.
    enum class Step { Other, NewRow, Memberships };

    Kind kind = Kind::None;
    Step step = Step::Other;
    QString
        serverText;   // the server's own words, else the driver's message; empty for the layer's own refusals
    QString field{};  // Conflict: the field's title; MissingGroup: the group's name
    QString stored{}; // Conflict: the value stored now
    QString wanted{}; // Conflict: the value entered

    static DbError of(Kind kind, Step step = Step::Other) { return DbError{kind, step, QString()}; }
    static DbError of(const QSqlError& error);
    bool failed() const { return kind != Kind::None; }
};

enum class RecordKind { User, Group, Device };

// The sentence a person is shown for `error` on a record of `kind`, or empty when the failure
// has none of its own.
QString errorText(RecordKind kind, const DbError& error);
