#pragma once

#include "db/dberror.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <functional>

struct SqlConnectionSettings {
    QString ip;
    int port = 0;
    QString user;
    QString password;
    QString db;
    bool tls = false;
    QString tlsCaFile{}; // empty: encrypted, the server's certificate not verified
    // Seconds until an unanswered connect, a read and a write fail; 0: the system's own.
    int connectTimeout = 10;
    int readTimeout = 600;
    int writeTimeout = 60;
    // Not a connection parameter: whether the settings file keeps the password.
    bool rememberPassword = true;
};

// One connection to the tracking server's database, and what every statement on it goes
// through: opening (TLS checked before the login), the integrity check, statements kept, nested
// transactions and the latest failure as a value.
class DbConnection {
public:
    // An empty name means Qt's default connection.
    explicit DbConnection(const QString& connectionName);
    ~DbConnection();
    DbConnection(const DbConnection&) = delete;
    DbConnection& operator=(const DbConnection&) = delete;

    void setSettings(const SqlConnectionSettings& settings) { this->settings = settings; }
    const SqlConnectionSettings& connectionSettings() const { return settings; }
    bool open();
    QString lastErrorText() const;
    QString tlsSession() const;
    QSqlDatabase database() const { return db; }
    bool checkDatabase(); // true = root still has the default password; throws QString
    int adminGroupId() const { return adminGroup; }
    // What checkDatabase found on another connection to the same database.
    void setAdminGroupId(int id) { adminGroup = id; }

    // Binds `values` to the ? placeholders of `sql` in order and executes it: one round trip, the
    // values escaped by the client library.
    bool run(QSqlQuery& q, const QString& sql, const QVariantList& values);
    bool run(QSqlQuery& q, const QString& sql);
    // A statement kept on this connection, forward-only, for running again.
    bool runKept(QSqlQuery& q, const QString& sql, const QVariantList& values = {});
    // Inside a transaction, a statement whose only answer is success: it goes to the server in
    // one message with the next statement or with the commit, as do others held back after it,
    // and a failure of it is that statement's. Outside one it runs at once.
    bool runWithNext(const QString& sql, const QVariantList& values);
    // Reads that depend on nothing of the session, as run() and runKept(): one that finds the
    // connection gone connects again with the same settings and runs once more.
    bool read(QSqlQuery& q, const QString& sql);
    bool readKept(QSqlQuery& q, const QString& sql, const QVariantList& values = {});
    // A whole table, forward-only: its rows are converted as they come, never held whole.
    bool readWhole(QSqlQuery& q, const QString& sql);
    // After the last row of a kept (streamed) read: false, with the failure as this connection's,
    // when its rows ended by a failure, such as a lock not granted, rather than by their end. A
    // deadlock has rolled the transaction back by then.
    bool readThrough(const QSqlQuery& q);
    // Runs `change` as one transaction; inside another one it is part of that one.
    bool inTransaction(const std::function<bool()>& change);

    // The latest failure on this connection; none after opening it.
    const DbError& lastError() const { return last; }
    // The latest statement's failure, at `step` of a change.
    DbError failure(DbError::Step step);
    // Records a failure the layer finds without asking the server.
    DbError refuse(DbError::Kind kind, DbError::Step step = DbError::Step::Other);
    // The same with the details of `error`.
    DbError refuse(const DbError& error) { return last = error; }

    // Group names as last read, so that a group deleted meanwhile can be named.
    void rememberGroupName(int id, const QString& name) { groupNames.insert(id, name); }
    QString groupName(int id) const { return groupNames.value(id, QStringLiteral("№%1").arg(id)); }

private:
    bool failed(const QSqlQuery& q);
    // `sql` and `values` with the statements waiting for the next one before them; how many.
    int takeWaiting(QString& sql, QVariantList& values);
    // The answer of `sql` after those of the `waited` statements sent with it.
    bool skipWaiting(QSqlQuery& q, int waited);
    bool reconnectedToRead(QSqlQuery& q);

    QSqlDatabase db;
    // Prepared statements kept for reuse on this connection, by their text.
    QHash<QString, QSqlQuery> kept;
    int adminGroup = 0;
    SqlConnectionSettings settings;
    QString refusal; // why the last open refused the server before or after opening
    DbError last;
    int transactionDepth = 0;
    QString waiting;
    QVariantList waitingValues;
    int waitingCount = 0;
    QHash<int, QString> groupNames;
};

QByteArray hashPassword(const QString& password);
