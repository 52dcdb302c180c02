#include "app/constants.h"
#include "app/csettings.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// CSettings keeps one instance for the whole process, so the cases below run in order
// on the same instance, the way the program uses it.
class TestCSettings : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void emptyFileNameBeforeAnyCall();
    void defaultsWhenKeysAreMissing();
    void everyWriteReachesTheDisk();
    void fileIsPrivateToItsOwner();
    void secondInstanceRequestKeepsTheFirst();
    void nonNumericPortReadsAsZero();

private:
    QTemporaryDir dir;
    QString path;
};

void TestCSettings::initTestCase() {
    QVERIFY(dir.isValid());
    path = dir.filePath(SETTINGS_FILE_NAME);
}

void TestCSettings::emptyFileNameBeforeAnyCall() {
    QTest::ignoreMessage(QtDebugMsg, "ERROR: [CSettings::getInstance] Invalid fileName");
    QCOMPARE(CSettings::getInstance(QString()), nullptr);
    QVERIFY(CSettings::getInstance(path) != nullptr);
}

void TestCSettings::defaultsWhenKeysAreMissing() {
    QCOMPARE(CSettings::readValue(SQL_GROUP + KEY_IP, QStringLiteral("127.0.0.1")).toString(),
             QStringLiteral("127.0.0.1"));
    QCOMPARE(CSettings::readValue(SQL_GROUP + KEY_PORT, 3306).toInt(), 3306);
    QCOMPARE(CSettings::readValue(SQL_GROUP + KEY_DB, DB_NAME).toString(), QStringLiteral("orb_server"));
    QCOMPARE(CSettings::readValue(ORB_GROUP + KEY_PORT, 12345).toInt(), 12345);
}

void TestCSettings::everyWriteReachesTheDisk() {
    QVERIFY(CSettings::writeValue(SQL_GROUP + KEY_IP, QStringLiteral("10.0.0.5")));
    QVERIFY(CSettings::writeValue(SQL_GROUP + KEY_PORT, 3307));
    QVERIFY(CSettings::writeValue(SQL_GROUP + KEY_PASSWORD, QStringLiteral("p'a\"ss; пароль")));
    // Another reader sees all three keys at once, without any further sync.
    QSettings disk(path, QSettings::IniFormat);
    QCOMPARE(disk.value(QStringLiteral("sql/ip")).toString(), QStringLiteral("10.0.0.5"));
    QCOMPARE(disk.value(QStringLiteral("sql/port")).toInt(), 3307);
    QCOMPARE(disk.value(QStringLiteral("sql/password")).toString(), QStringLiteral("p'a\"ss; пароль"));
}

void TestCSettings::fileIsPrivateToItsOwner() {
    const QFileDevice::Permissions perms = QFile(path).permissions();
    QVERIFY(perms & QFileDevice::ReadOwner);
    QVERIFY(perms & QFileDevice::WriteOwner);
    QVERIFY(!(perms & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteGroup |
                       QFileDevice::WriteOther)));
}

void TestCSettings::secondInstanceRequestKeepsTheFirst() {
    CSettings* first = CSettings::getInstance(path);
    QCOMPARE(CSettings::getInstance(dir.filePath(QStringLiteral("other.conf"))), first);
    QCOMPARE(first->fileName(), path);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("other.conf"))));
}

void TestCSettings::nonNumericPortReadsAsZero() {
    QVERIFY(CSettings::writeValue(SQL_GROUP + KEY_PORT, QStringLiteral("abc")));
    QCOMPARE(CSettings::readValue(SQL_GROUP + KEY_PORT, 3306).toInt(), 0);
}

QTEST_GUILESS_MAIN(TestCSettings)
#include "tst_csettings.moc"
