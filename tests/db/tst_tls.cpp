// TLS to the database: a second private server of the fixture accepts TLS only; its certificate
// is for 127.0.0.1 and localhost, and it also listens on 127.0.0.2.

#include "db/confighandler.h"
#include "db/tablerefresher.h"
#include "logcapture.h"
#include "testdb.h"

#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

const QString tlsServer = QStringLiteral(ORB_TEST_MARIADB_TLS_DIR);

qint64 counter(const char* name) {
    QSqlQuery q(TestDb::admin());
    if (!q.exec(QStringLiteral("SHOW GLOBAL STATUS LIKE '%1'").arg(QLatin1String(name))) || !q.next())
        return -1;
    return q.value(1).toLongLong();
}

} // namespace

class TestTls : public QObject {
    Q_OBJECT

private slots:
    void init() { TestDb::useServer(tlsServer); }
    void cleanupTestCase() { TestDb::admin().close(); }

    void encrypted_data();
    void encrypted();
    void refused_data();
    void refused();
    void refreshOverTls();
    void caFileThatNeverEnds();
};

void TestTls::encrypted_data() {
    QTest::addColumn<bool>("withCa");
    QTest::newRow("certificate verified") << true;
    QTest::newRow("no CA: encrypted, not verified") << false;
}

// The server reports a cipher for the session the handler opened.
void TestTls::encrypted() {
    QFETCH(bool, withCa);
    SqlConnectionSettings s = TestDb::settings(QStringLiteral("mysql"));
    s.tlsCaFile = withCa ? TestDb::caFile() : QString();
    const qint64 connections = counter("Connections");
    ConfigHandler h;
    h.setConnectionSettings(s);
    QCOMPARE(h.connectToDatabase(), 0);
    // the login connection is the only one the server sees
    QCOMPARE(counter("Connections") - connections, 1);
    QSqlQuery q(h.database());
    QVERIFY(q.exec(QStringLiteral("SHOW SESSION STATUS LIKE 'Ssl_cipher'")) && q.next());
    QVERIFY(!q.value(1).toString().isEmpty());
    QVERIFY2(h.tlsSession().endsWith(q.value(1).toString()), qPrintable(h.tlsSession()));
}

void TestTls::refused_data() {
    QTest::addColumn<bool>("plainServer");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<bool>("rightCa");
    QTest::addColumn<QString>("reason");       // part of lastErrorText
    QTest::addColumn<bool>("credentialsSent"); // the server counts the wrong password as denied
    const QString ip = QStringLiteral("127.0.0.1");
    const QString unverified = QStringLiteral("Сертификат сервера БД не прошёл проверку: ");
    QTest::newRow("TLS off") << false << ip << false << true << "Access denied" << true;
    QTest::newRow("CA that signed nothing of the server")
        << false << ip << true << false << unverified << false;
    QTest::newRow("certificate for another host name")
        << false << QStringLiteral("127.0.0.2") << true << true << unverified << false;
    // the driver alone would log in unencrypted
    QTest::newRow("server without TLS")
        << true << ip << true << true << "Сервер БД не поддерживает шифрованное соединение (TLS)." << false;
}

// Refused with the reason on the one connection that reaches the server; the credentials (a
// wrong password) only reach it when TLS is off, and never the log.
void TestTls::refused() {
    QFETCH(bool, plainServer);
    QFETCH(QString, host);
    QFETCH(bool, tls);
    QFETCH(bool, rightCa);
    QFETCH(QString, reason);
    QFETCH(bool, credentialsSent);
    const QString ca = rightCa ? TestDb::caFile() : TestDb::otherCaFile();
    if (plainServer)
        TestDb::useServer(QString());
    SqlConnectionSettings s = TestDb::settings(QStringLiteral("mysql"));
    s.ip = host;
    s.tls = tls;
    s.tlsCaFile = ca;
    s.password = QStringLiteral("not-the-password-7f3");
    const qint64 denied = counter("Access_denied_errors");
    const qint64 connections = counter("Connections");
    QVERIFY(denied >= 0 && connections >= 0);
    LogCapture log;
    ConfigHandler h;
    h.setConnectionSettings(s);
    QCOMPARE(h.connectToDatabase(), 1);
    QVERIFY2(h.lastErrorText().contains(reason), qPrintable(h.lastErrorText()));
    QVERIFY(!h.database().isOpen());
    QCOMPARE(h.tlsSession(), QString());
    QCOMPARE(counter("Access_denied_errors") - denied, credentialsSent ? 1 : 0);
    QCOMPARE(counter("Connections") - connections, 1);
    QVERIFY(!log.messages().join(QLatin1Char('\n')).contains(s.password));
}

// The background refresh opens a connection of its own, with the same TLS settings.
void TestTls::refreshOverTls() {
    ORB_RESET_DB();
    TableRefresher refresher;
    refresher.setConnectionSettings(TestDb::settings());
    QSignalSpy done(&refresher, &TableRefresher::refreshed);
    QSignalSpy failed(&refresher, &TableRefresher::refreshFailed);
    refresher.refresh();
    QTRY_COMPARE_WITH_TIMEOUT(done.count() + failed.count(), 1, 15000);
    QVERIFY2(failed.isEmpty(), failed.isEmpty() ? "" : qPrintable(failed.at(0).at(0).toString()));
    QCOMPARE(done.at(0).at(0).value<TablesSnapshot>().users.size(), 1);
}

// A device or a pipe named as the CA file is refused before it is read.
void TestTls::caFileThatNeverEnds() {
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("ca.pem"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& path : {QStringLiteral("/dev/zero"), fifo}) {
        SqlConnectionSettings s = TestDb::settings(QStringLiteral("mysql"));
        s.tlsCaFile = path;
        ConfigHandler h;
        h.setConnectionSettings(s);
        QCOMPARE(h.connectToDatabase(), 1);
        QVERIFY2(h.lastErrorText().contains("не похож на сертификат CA"), qPrintable(h.lastErrorText()));
    }
}

QTEST_GUILESS_MAIN(TestTls)
#include "tst_tls.moc"
