// The database driver against the fixture's server: the types we store, NULL, errors with the
// server's number, transactions and rows read as they come.

#include "db/connection.h"
#include "db/dberror.h"
#include "testdb.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

namespace {

QString table(const QString& name) {
    return QStringLiteral("`%1`.%2").arg(TestDb::defaultName(), name);
}

} // namespace

class TestMariaDbDriver : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { ORB_RESET_DB(); }
    void cleanupTestCase() { TestDb::admin().close(); }

    void roundTrip_data();
    void roundTrip();
    void errors_data();
    void errors();
    void transactions();
    void streamedRowsSurviveAnotherStatement();
    void severalStatementsInOneMessage_data();
    void severalStatementsInOneMessage();
    void silentServerTimesOut();
};

void TestMariaDbDriver::roundTrip_data() {
    QTest::addColumn<QString>("column");
    QTest::addColumn<QVariant>("value");
    QTest::newRow("INT negative") << "INT" << QVariant(-2147483647);
    QTest::newRow("IMEI") << "BIGINT UNSIGNED" << QVariant(qulonglong(999999999999999ULL));
    QTest::newRow("BIGINT UNSIGNED top")
        << "BIGINT UNSIGNED" << QVariant(qulonglong(18446744073709551615ULL));
    QTest::newRow("TINYINT") << "TINYINT" << QVariant(-7);
    QTest::newRow("emoji, quotes, backslash, ?")
        << "VARCHAR(64) CHARACTER SET utf8mb4" << QVariant(QStringLiteral("Ёж 🚚 'a'\\\"b\" ? -- /*"));
    QTest::newRow("BINARY hash") << "BINARY(8)" << QVariant(QByteArray("\x00\xff'\\\x80\xc3\x28?", 8));
    QTest::newRow("BLOB") << "BLOB" << QVariant(QByteArray(60000, '\x9f'));
    QTest::newRow("DATETIME(3)") << "DATETIME(3)"
                                 << QVariant(QDateTime(QDate(2026, 2, 28), QTime(23, 59, 58, 7)));
    QTest::newRow("empty text is not NULL") << "VARCHAR(8)" << QVariant(QString(""));
}

// Written through a bound value, read back buffered and forward-only, with NULL beside it.
void TestMariaDbDriver::roundTrip() {
    QFETCH(QString, column);
    QFETCH(QVariant, value);
    QSqlDatabase db = TestDb::admin();
    QSqlQuery q(db);
    QVERIFY(q.exec(QStringLiteral("CREATE OR REPLACE TABLE %1 (id INT AUTO_INCREMENT PRIMARY KEY, v %2)")
                       .arg(table(QStringLiteral("types")), column)));
    QVERIFY(
        q.prepare(QStringLiteral("INSERT INTO %1 (v) VALUES (?), (?)").arg(table(QStringLiteral("types")))));
    q.addBindValue(value);
    q.addBindValue(QVariant());
    QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
    QCOMPARE(q.numRowsAffected(), 2);
    QCOMPARE(q.lastInsertId().toInt(), 1);
    for (const bool forwardOnly : {false, true}) {
        QSqlQuery r(db);
        r.setForwardOnly(forwardOnly);
        QVERIFY(
            r.exec(QStringLiteral("SELECT v, id FROM %1 ORDER BY id").arg(table(QStringLiteral("types")))));
        QCOMPARE(r.record().fieldName(0), QStringLiteral("v"));
        QVERIFY(r.next());
        QVERIFY(!r.isNull(0));
        QCOMPARE(r.value(0), value);
        QVERIFY(r.next());
        QVERIFY(r.isNull(0));
        QVERIFY(r.value(0).isNull());
        QVERIFY(!r.next());
    }
}

void TestMariaDbDriver::errors_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("kind");
    QTest::newRow("duplicate key") << "INSERT INTO %1 (id) VALUES (1), (1)" << 1062
                                   << int(DbError::Kind::Taken);
    QTest::newRow("syntax") << "INSERT INTO %1 VALUES (" << 1064 << int(DbError::Kind::Refused);
    QTest::newRow("no such table") << "SELECT * FROM %1_missing" << 1146 << int(DbError::Kind::Refused);
}

void TestMariaDbDriver::errors() {
    QFETCH(QString, sql);
    QFETCH(int, number);
    QFETCH(int, kind);
    QSqlQuery q(TestDb::admin());
    QVERIFY(q.exec(
        QStringLiteral("CREATE OR REPLACE TABLE %1 (id INT PRIMARY KEY)").arg(table(QStringLiteral("e")))));
    QVERIFY(!q.exec(sql.arg(table(QStringLiteral("e")))));
    QCOMPARE(q.lastError().nativeErrorCode(), QString::number(number));
    QVERIFY(!q.lastError().databaseText().isEmpty());
    QCOMPARE(int(DbError::of(q.lastError()).kind), kind);
    // the connection still works after the failure
    QVERIFY(q.exec(QStringLiteral("SELECT 1")) && q.next());
}

void TestMariaDbDriver::transactions() {
    QSqlDatabase db = TestDb::admin();
    QSqlQuery q(db);
    const QString t = table(QStringLiteral("tx"));
    QVERIFY(q.exec(QStringLiteral("CREATE OR REPLACE TABLE %1 (id INT PRIMARY KEY) ENGINE=InnoDB").arg(t)));
    for (const bool commit : {false, true}) {
        QVERIFY(db.transaction());
        QVERIFY(q.exec(QStringLiteral("INSERT INTO %1 VALUES (%2)").arg(t).arg(int(commit))));
        QVERIFY(commit ? db.commit() : db.rollback());
    }
    QVERIFY(q.exec(QStringLiteral("SELECT GROUP_CONCAT(id) FROM %1").arg(t)) && q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("1"));
}

// A forward-only read half done while the connection runs other statements keeps all its rows.
void TestMariaDbDriver::streamedRowsSurviveAnotherStatement() {
    QSqlDatabase db = TestDb::admin();
    QSqlQuery rows(db);
    rows.setForwardOnly(true);
    QVERIFY(rows.exec(QStringLiteral("SELECT seq FROM seq_1_to_5000")));
    QVERIFY(rows.next());
    QSqlQuery other(db);
    QVERIFY(other.exec(QStringLiteral("SELECT 42")) && other.next());
    QCOMPARE(other.value(0).toInt(), 42);
    qlonglong sum = rows.value(0).toLongLong();
    int count = 1;
    while (rows.next()) {
        sum += rows.value(0).toLongLong();
        ++count;
    }
    QCOMPARE(count, 5000);
    QCOMPARE(sum, 5000LL * 5001 / 2);
}

void TestMariaDbDriver::severalStatementsInOneMessage_data() {
    QTest::addColumn<bool>("forwardOnly");
    QTest::newRow("buffered") << false;
    QTest::newRow("forward-only") << true;
}

// Each statement's answer in turn; one that fails ends the message, nothing after it runs, and
// the transaction begun with the first statement rolls back whole. Answers not read are dropped
// by the next statement.
void TestMariaDbDriver::severalStatementsInOneMessage() {
    QFETCH(bool, forwardOnly);
    QSqlDatabase db = TestDb::admin();
    const QString t = table(QStringLiteral("multi"));
    QSqlQuery q(db);
    q.setForwardOnly(forwardOnly);
    QVERIFY(q.exec(QStringLiteral("CREATE OR REPLACE TABLE %1 (id INT PRIMARY KEY) ENGINE=InnoDB").arg(t)));

    QVERIFY(q.prepare(
        QStringLiteral("SELECT seq FROM seq_1_to_300 WHERE seq > ?; INSERT INTO %1 VALUES (?), (?); SELECT ?")
            .arg(t)));
    for (const QVariant& v : {QVariant(298), QVariant(1), QVariant(2), QVariant(QStringLiteral("a;b'"))})
        q.addBindValue(v);
    QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), 299);
    QVERIFY(q.nextResult());
    QVERIFY(!q.isSelect());
    QCOMPARE(q.numRowsAffected(), 2);
    QVERIFY(q.nextResult());
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("a;b'"));
    QVERIFY(!q.nextResult());
    QVERIFY(!q.lastError().isValid());

    QVERIFY(db.transaction());
    QVERIFY(q.exec(QStringLiteral("INSERT INTO %1 VALUES (3); INSERT INTO %1 VALUES (1); INSERT INTO %1 "
                                  "VALUES (4)")
                       .arg(t)));
    QVERIFY(!q.nextResult());
    QCOMPARE(q.lastError().nativeErrorCode(), QStringLiteral("1062"));
    QVERIFY(db.rollback());

    QVERIFY(q.exec(QStringLiteral("SELECT 5; SELECT 6")));
    QSqlQuery other(db);
    QVERIFY(other.exec(QStringLiteral("SELECT GROUP_CONCAT(id ORDER BY id) FROM %1").arg(t)) && other.next());
    QCOMPARE(other.value(0).toString(), QStringLiteral("1,2"));
    QVERIFY(!q.nextResult());
    QVERIFY(db.transaction() && db.commit());
}

// The read timeout of the settings reaches the connection: a statement whose answer does not come
// fails as a lost connection instead of waiting for ever.
void TestMariaDbDriver::silentServerTimesOut() {
    SqlConnectionSettings settings = TestDb::settings();
    settings.readTimeout = 1;
    DbConnection conn(QStringLiteral("silent"));
    conn.setSettings(settings);
    QVERIFY(conn.open());
    QSqlQuery q(conn.database());
    QVERIFY(!conn.run(q, QStringLiteral("SELECT SLEEP(30)")));
    QCOMPARE(int(conn.lastError().kind), int(DbError::Kind::ConnectionLost));
}

QTEST_GUILESS_MAIN(TestMariaDbDriver)
#include "tst_mariadbdriver.moc"
