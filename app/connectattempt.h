#pragma once

#include "db/connection.h"
#include "db/journal.h"

#include <QObject>
#include <QString>

#include <memory>

class Aside;

// One try of connection settings on a thread and connection of its own: connecting, and when
// asked the integrity check, whether root still has the default password and the change journal. A host that
// never answers holds only that thread; an attempt given up (destroyed) ends there by itself and its outcome
// is dropped.
class ConnectAttempt : public QObject {
    Q_OBJECT

public:
    struct Outcome {
        bool connected = false;
        QString serverText; // why it did not connect
        QString tlsSession; // the protocol and cipher when it connected with TLS
        QString checkError; // why the database failed its check; empty when it passed
        int adminGroupId = 0;
        bool rootDefault = false;
        JournalState journal; // found once the check passed, for every connection of these settings
    };

    // Starts at once.
    ConnectAttempt(const SqlConnectionSettings& settings, bool check, QObject* parent = nullptr);
    // Returns at once.
    ~ConnectAttempt() override;

    bool isDone() const { return done; }
    const Outcome& outcome() const { return result; }

signals:
    void finished();

private:
    std::unique_ptr<Aside> lane;
    Outcome result;
    bool done = false;
};
