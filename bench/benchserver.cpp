#include "benchserver.h"

#include "db/mariadbdriver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>

#include <algorithm>

namespace bench {

const QString DB_USER = QStringLiteral("orb");
const QString DB_PASSWORD = QStringLiteral("orb-test-pw");

namespace {

const QString SERVER_SCRIPT = QStringLiteral(ORB_SOURCE_DIR "/tools/mariadb-local.sh");

bool runScript(const QString& command, const QString& dir, QString* output) {
    QProcess p;
    p.start(QStringLiteral("bash"), {SERVER_SCRIPT, command, dir});
    if (!p.waitForFinished(180000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        out() << "mariadb-local.sh " << command << " failed:\n"
              << QString::fromLocal8Bit(p.readAllStandardError());
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    return true;
}

QStringList clientArgs(int port, const QString& database) {
    return {QStringLiteral("--no-defaults"),
            QStringLiteral("-h127.0.0.1"),
            QStringLiteral("-P%1").arg(port),
            QStringLiteral("-u") + DB_USER,
            QStringLiteral("-p") + DB_PASSWORD,
            QStringLiteral("--batch"),
            database};
}

} // namespace

QTextStream& out() {
    static QTextStream stream(stdout);
    return stream;
}

int option(const QStringList& args, const QString& name, int fallback) {
    const int at = args.indexOf(name);
    if (at >= 0 && at + 1 < args.size()) {
        bool ok = false;
        const int value = args.at(at + 1).toInt(&ok);
        if (ok && value >= 0)
            return value;
    }
    return fallback;
}

double median(QVector<double> values) {
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

qint64 peakRssKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression hwm(QStringLiteral("^VmHWM:\\s+(\\d+)"), QRegularExpression::MultilineOption);
    const auto match = hwm.match(QString::fromLatin1(status.readAll()));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

QString serverDir(bool tls) {
    return tls ? QStringLiteral(ORB_BENCH_MARIADB_DIR "-tls") : QStringLiteral(ORB_BENCH_MARIADB_DIR);
}

int startServer(bool tls) {
    QString portText;
    if (!runScript(tls ? QStringLiteral("start-tls") : QStringLiteral("start"), serverDir(tls), &portText))
        return 0;
    return portText.split(QLatin1Char('\n')).last().toInt();
}

void stopServer(bool tls) {
    runScript(QStringLiteral("stop"), serverDir(tls), nullptr);
}

bool openConnection(const QString& name, int port, const QString& caFile) {
    QSqlDatabase db = QSqlDatabase::addDatabase(mariaDbDriverName(), name);
    db.setHostName(QStringLiteral("127.0.0.1"));
    db.setPort(port);
    db.setUserName(DB_USER);
    db.setPassword(DB_PASSWORD);
    if (!caFile.isEmpty())
        db.setConnectOptions(QStringLiteral("TLS=1;TLS_CA=") + caFile);
    if (!db.open()) {
        out() << "cannot connect: " << db.lastError().text() << '\n';
        return false;
    }
    return true;
}

bool exec(QSqlQuery& q, const QString& sql) {
    if (q.exec(sql))
        return true;
    out() << "statement failed: " << sql.left(200) << "\n  " << q.lastError().text() << '\n';
    return false;
}

bool createFromSchema(QSqlDatabase& db, int port, const QString& name) {
    QSqlQuery q(db);
    if (!exec(q, QStringLiteral("DROP DATABASE IF EXISTS %1").arg(name)) ||
        !exec(q, QStringLiteral("CREATE DATABASE %1 CHARACTER SET utf8mb4").arg(name)) ||
        !exec(q, QStringLiteral("USE %1").arg(name)))
        return false;
    QProcess p;
    p.setStandardInputFile(QStringLiteral(ORB_SOURCE_DIR "/db/schema.sql"));
    p.start(QStringLiteral("mariadb"), clientArgs(port, name));
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        out() << "loading the schema failed: " << QString::fromLocal8Bit(p.readAllStandardError()) << '\n';
        return false;
    }
    return true;
}

double clientSeconds(int port, const QString& database, const QString& statements) {
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral("mariadb"), clientArgs(port, database) << QStringLiteral("-e") << statements);
    if (!p.waitForFinished(600000) || p.exitCode() != 0) {
        out() << "mariadb client failed: " << QString::fromLocal8Bit(p.readAllStandardError()) << '\n';
        return -1;
    }
    return t.nsecsElapsed() / 1e9;
}

} // namespace bench
