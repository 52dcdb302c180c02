#pragma once

#include <QDateTime>
#include <QString>
#include <QVector>

// One row of orb_admin_journal. details is the JSON text as stored.
struct JournalEntry {
    quint64 id = 0;
    QDateTime at;
    QString dbUser;
    QString osUser;
    QString workstation;
    quint64 operation = 0;
    QString action; // "add", "change" or "delete"
    QString object; // "device", "user" or "group"
    int objectId = 0;
    QString details;
};

// Which journal rows to read, newest first.
struct JournalFilter {
    QString object;         // empty: every kind
    QVector<int> objectIds; // empty: every record of that kind
    quint64 beforeId = 0;   // 0: from the newest; else only rows older than this id (fetching more)
};
