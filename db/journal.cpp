#include "db/journal.h"

#include "core/schema.h"
#include "db/connection.h"

#include <QDebug>
#include <QSqlQuery>

QString DbJournal::columns() {
    return QStringLiteral(
        "id, at, db_user, os_user, workstation, operation, action, object, object_id, details");
}

QString DbJournal::createStatement() {
    return QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (\n"
                          "    id          BIGINT UNSIGNED AUTO_INCREMENT PRIMARY KEY,\n"
                          "    at          DATETIME(3) NOT NULL,\n"
                          "    db_user     VARCHAR(384) NOT NULL,\n"
                          "    os_user     VARCHAR(128) NOT NULL,\n"
                          "    workstation VARCHAR(255) NOT NULL,\n"
                          "    operation   BIGINT UNSIGNED NOT NULL,\n"
                          "    action      VARCHAR(16) NOT NULL,\n"
                          "    object      VARCHAR(16) NOT NULL,\n"
                          "    object_id   INT NOT NULL,\n"
                          "    details     TEXT NOT NULL,\n"
                          "    KEY ix_journal_object (object, object_id),\n"
                          "    KEY ix_journal_at (at)\n"
                          ") ENGINE=InnoDB DEFAULT CHARSET=utf8mb4")
        .arg(TABLE_JOURNAL);
}

bool DbJournal::prepare() {
    on = false;
    reason.clear();
    QSqlQuery q(conn.database());
    // A least-privileged account may not create it even when it is there: then the check decides.
    const bool made = conn.run(q, createStatement());
    const DbError notMade = conn.lastError();
    if (!made && notMade.kind == DbError::Kind::ConnectionLost)
        return false;
    conn.refuse(DbError());
    // Every column, read and written, without a row: a privilege or a column missing fails it.
    const QString written = DbJournal::columns().mid(4);
    if (conn.run(q, QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %1 WHERE id = 0 AND FALSE")
                        .arg(TABLE_JOURNAL, written))) {
        on = true;
        conn.refuse(DbError());
        return true;
    }
    const DbError unusable = conn.lastError();
    if (unusable.kind == DbError::Kind::ConnectionLost)
        return false;
    reason = QStringLiteral("нет доступа к таблице %1: %2").arg(TABLE_JOURNAL, unusable.serverText);
    if (!made)
        reason += QStringLiteral("; создать её не удалось: %1").arg(notMade.serverText);
    qDebug() << "change journal off:" << reason;
    // what failed here is the journal's, not the connection's
    conn.refuse(DbError());
    return true;
}
