#include "testdb.h"

#include "db/mariadbdriver.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

const QString adminConnectionName = QStringLiteral("testdb-admin");
QString chosenServer;

QString serverDir() {
    if (!chosenServer.isEmpty())
        return chosenServer;
    const QByteArray env = qgetenv("ORB_TEST_MARIADB_DIR");
    return env.isEmpty() ? QStringLiteral(ORB_TEST_MARIADB_DIR_DEFAULT) : QString::fromLocal8Bit(env);
}

int serverPort() {
    QFile file(serverDir() + QStringLiteral("/port"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return QString::fromLatin1(file.readAll()).trimmed().toInt();
}

QStringList schemaStatements() {
    QFile file(QStringLiteral(ORB_SCHEMA_FILE));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    text.remove(QRegularExpression(QStringLiteral("^\\s*--[^\\n]*$"), QRegularExpression::MultilineOption));
    QStringList statements;
    for (const QString& part : text.split(QRegularExpression(QStringLiteral(";\\s*\\n"))))
        statements << part.trimmed();
    statements.removeAll(QString());
    return statements;
}

QString serverLogPath() {
    return serverDir() + QStringLiteral("/error.log");
}

QString serverLog() {
    QFile file(serverLogPath());
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("(no log at %1)").arg(serverLogPath());
    return QString::fromLocal8Bit(file.readAll().right(8000));
}

} // namespace

namespace TestDb {

void useServer(const QString& dir) {
    chosenServer = dir;
}

QString caFile() {
    return serverDir() + QStringLiteral("/tls/ca.pem");
}

QString otherCaFile() {
    return serverDir() + QStringLiteral("/tls/other-ca.pem");
}

QString defaultName() {
    QString app = QCoreApplication::applicationName();
    app.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_]")), QStringLiteral("_"));
    return (QStringLiteral("orbtest_") + app).left(64);
}

SqlConnectionSettings settings(const QString& dbName) {
    SqlConnectionSettings s;
    s.ip = QStringLiteral("127.0.0.1");
    s.port = serverPort();
    s.user = QStringLiteral("orb");
    s.password = QStringLiteral("orb-test-pw");
    s.db = dbName.isEmpty() ? defaultName() : dbName;
    s.tls = QFile::exists(caFile());
    s.tlsCaFile = s.tls ? caFile() : QString();
    return s;
}

QSqlDatabase admin(const QString& dbName) {
    const SqlConnectionSettings s = settings(dbName);
    QSqlDatabase db = QSqlDatabase::contains(adminConnectionName)
                          ? QSqlDatabase::database(adminConnectionName, false)
                          : QSqlDatabase::addDatabase(mariaDbDriverName(), adminConnectionName);
    if (db.isOpen() && db.port() == s.port)
        return db;
    db.close();
    db.setHostName(s.ip);
    db.setPort(s.port);
    db.setUserName(s.user);
    db.setPassword(s.password);
    db.setDatabaseName(QString());
    db.setConnectOptions(s.tls ? QStringLiteral("TLS=1;TLS_CA=") + s.tlsCaFile : QString());
    db.open();
    return db;
}

bool reset(const QString& dbName, QString* error) {
    auto fail = [error](const QString& what) {
        if (error)
            *error = what + QStringLiteral("\n--- MariaDB log (") + serverLogPath() +
                     QStringLiteral(") ---\n") + serverLog();
        return false;
    };
    if (serverPort() <= 0)
        return fail(
            QStringLiteral("the test MariaDB server is not running (no port file in %1)").arg(serverDir()));
    const QString name = dbName.isEmpty() ? defaultName() : dbName;
    QSqlDatabase db = admin(name);
    if (!db.isOpen())
        return fail(QStringLiteral("cannot connect to the test MariaDB server: ") + db.lastError().text());
    QSqlQuery q(db);
    const QStringList setup = {QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(name),
                               QStringLiteral("CREATE DATABASE `%1` CHARACTER SET utf8mb4").arg(name),
                               QStringLiteral("USE `%1`").arg(name)};
    const QStringList schema = schemaStatements();
    if (schema.isEmpty())
        return fail(QStringLiteral("cannot read the schema file ") + QStringLiteral(ORB_SCHEMA_FILE));
    for (const QString& sql : setup + schema) {
        if (!q.exec(sql))
            return fail(QStringLiteral("schema statement failed: ") + sql + QStringLiteral("\n") +
                        q.lastError().text());
    }
    return true;
}

bool exec(const QString& sql) {
    QSqlQuery q(admin());
    if (!q.exec(sql)) {
        qWarning() << "test statement failed:" << sql << q.lastError().text();
        return false;
    }
    return true;
}

QVariant scalar(const QString& sql) {
    QSqlQuery q(admin());
    if (!q.exec(sql) || !q.next()) {
        qWarning() << "test query failed:" << sql << q.lastError().text();
        return QVariant();
    }
    return q.value(0);
}

std::unique_ptr<ConfigHandler> handler(bool check) {
    auto h = std::make_unique<ConfigHandler>();
    h->setConnectionSettings(settings());
    if (h->connectToDatabase() != 0) {
        qWarning() << "cannot connect:" << h->lastErrorText();
        return nullptr;
    }
    // as the connect attempt finds it for the window's connection
    h->prepareJournal();
    try {
        if (check)
            h->checkDatabase();
    } catch (const QString& e) {
        qWarning() << "checkDatabase:" << e;
        return nullptr;
    }
    return h;
}

qint64 sessionQuestions(const QSqlDatabase& db) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SHOW SESSION STATUS LIKE 'Questions'")) || !q.next())
        return -1;
    return q.value(1).toLongLong();
}

} // namespace TestDb
