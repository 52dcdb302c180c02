#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

// The name of our MariaDB driver (over MariaDB Connector/C) for QSqlDatabase::addDatabase;
// registers it on first use. Connect options, "KEY=VALUE" separated by ';':
//   CONNECT_TIMEOUT=seconds, READ_TIMEOUT=seconds, WRITE_TIMEOUT=seconds   (0: none)
//   TLS=1            TLS 1.2 or later required: a server that offers none is refused before
//                    the login
//   TLS_CA=file      the server's certificate, its host name included, checked against this
//                    CA alone
// Statements go as text in one round trip each; values bound to ? are escaped by the library.
// A forward-only query reads its rows from the connection as they come, so a large result is
// never held whole; another statement on the connection first takes in the rest.
// Several statements separated by ';' go in one message (QSqlQuery::nextResult() steps through
// their answers; the server runs none after one that fails, and another statement on the
// connection drops the answers not read). A transaction's START TRANSACTION goes with its first
// statement.
QString mariaDbDriverName();

// Whether a failed open had TLS required of a server that offers none.
bool mariaDbNoTlsOffered(const QSqlError& error);

// "TLSv1.3, TLS_AES_256_GCM_SHA384" for an encrypted open connection, else empty.
QString mariaDbTlsSession(const QSqlDatabase& db);
