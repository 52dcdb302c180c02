#pragma once

#include "db/confighandler.h"

#include <QSqlDatabase>
#include <QString>

#include <memory>

// The private MariaDB server that the test fixture starts (tools/mariadb-local.sh).
// Each test executable works in a database of its own, so executables can run in parallel.
namespace TestDb {

// Works on another server of the fixture from now on (its directory; empty: the default one).
// A server started with TLS (tools/mariadb-local.sh start-tls) is reached with TLS and its CA.
void useServer(const QString& dir);
// The CA that signed a TLS server's certificate, and one that did not.
QString caFile();
QString otherCaFile();

// Database name of this executable: "orbtest_" + the application name.
QString defaultName();

// Connection settings of the test server over TCP (127.0.0.1, port from the fixture).
SqlConnectionSettings settings(const QString& dbName = QString());

// Drops the database, creates it anew in utf8mb4 and loads the schema with its first rows.
// On failure returns false and puts the reason, with the server's own log, into *error.
bool reset(const QString& dbName = QString(), QString* error = nullptr);

// A second connection (name "testdb-admin") on the same database, for preparing and
// inspecting rows independently of the code under test.
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
