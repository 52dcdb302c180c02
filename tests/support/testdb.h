#pragma once

#include "db/confighandler.h"

#include <QSqlDatabase>
#include <QString>

#include <memory>

// The fixture's private MariaDB; each test executable has a database of its own.
namespace TestDb {

// Another server of the fixture from now on (its directory; empty: the default), TLS if it has a CA.
void useServer(const QString& dir);
// The CA that signed a TLS server's certificate, and one that did not.
QString caFile();
QString otherCaFile();

// Database name of this executable: "orbtest_" + the application name.
QString defaultName();

// Connection settings of the test server over TCP (127.0.0.1, port from the fixture).
SqlConnectionSettings settings(const QString& dbName = QString());

// The database anew with the schema; on failure the reason and the server's log in *error.
bool reset(const QString& dbName = QString(), QString* error = nullptr);

// A second connection on the same database, for preparing and inspecting rows.
QSqlDatabase admin(const QString& dbName = QString());

// Executes one statement on the admin connection; on failure returns false and logs the error.
bool exec(const QString& sql);
// First column of the first row of a query on the admin connection (invalid on failure).
QVariant scalar(const QString& sql);

// A ConfigHandler connected to this executable's database, after checkDatabase when `check`;
// null when either fails. Destroy an earlier handler first: they share the default connection.
std::unique_ptr<ConfigHandler> handler(bool check = true);

// Statements sent so far on one connection; reading it counts as one more.
qint64 sessionQuestions(const QSqlDatabase& db);

} // namespace TestDb

// Starts the current test function from a freshly loaded schema; fails with the server's log.
#define ORB_RESET_DB()                                                                                       \
    do {                                                                                                     \
        QString orbResetError_;                                                                              \
        if (!TestDb::reset(QString(), &orbResetError_))                                                      \
            QFAIL(qPrintable(orbResetError_));                                                               \
    } while (false)
