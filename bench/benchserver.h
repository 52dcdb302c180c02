#pragma once

// What the sections that work on a database share: the private MariaDB server
// (tools/mariadb-local.sh), the mariadb command line client, options and memory figures.

#include <QString>
#include <QStringList>
#include <QVector>

class QSqlDatabase;
class QSqlQuery;
class QTextStream;

namespace bench {

extern const QString DB_USER;
extern const QString DB_PASSWORD;

QTextStream& out();

// The non-negative integer after `name` in args, or fallback.
int option(const QStringList& args, const QString& name, int fallback);
double median(QVector<double> values);
// Peak resident memory of the process (VmHWM) in KiB, or -1.
qint64 peakRssKiB();

// Starts the private server (or finds it running) and returns its port; 0 when it did not start.
// `tls`: a second server that accepts TLS only (mariadb-local.sh start-tls), CA in DIR/tls/ca.pem.
int startServer(bool tls = false);
void stopServer(bool tls = false);
QString serverDir(bool tls = false);

// Opens a connection named `name` to the server on `port`, with TLS when a CA file is given;
// prints why when it cannot.
bool openConnection(const QString& name, int port, const QString& caFile = QString());
// Runs sql, printing the error when it fails.
bool exec(QSqlQuery& q, const QString& sql);
// Drops and creates database `name` (utf8mb4), makes it the connection's current one and loads
// db/schema.sql into it through the mariadb client.
bool createFromSchema(QSqlDatabase& db, int port, const QString& name);
// Runs statements through the mariadb command line client, output discarded: seconds, or -1.
double clientSeconds(int port, const QString& database, const QString& statements);

} // namespace bench
