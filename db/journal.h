#pragma once

#include <QString>

class DbConnection;

// The change journal on one connection: its table made when missing, and whether it is kept.
class DbJournal {
public:
    explicit DbJournal(DbConnection& conn)
        : conn(conn) {}

    // After connecting: makes the table unless it is there, then checks that this account can read
    // and write it. False only when the connection was lost meanwhile.
    bool prepare();
    bool isOn() const { return on; }
    // Why it is off; empty while it is on.
    QString offReason() const { return reason; }

    // The columns in their table order, id first.
    static QString columns();
    static QString createStatement();

private:
    DbConnection& conn;
    bool on = false;
    QString reason;
};
