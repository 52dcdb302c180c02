#include "app/csettings.h"
#include "core/qtcompat.h"
#include "db/confighandler.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestCSettings : public QObject {
    Q_OBJECT

private slots:
    // CSettings keeps one instance for the whole process: one case, in order, on it.
    void oneInstanceWritingAPrivateFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(CSettings::defaultFileName());
        QTest::ignoreMessage(QtDebugMsg, "ERROR: [CSettings::getInstance] Invalid fileName");
        QCOMPARE(CSettings::getInstance(QString()), nullptr);
        CSettings* first = CSettings::getInstance(path);
        QVERIFY(first);
        QCOMPARE(CSettings::getInstance(dir.filePath(QStringLiteral("other.conf"))), first);

        const QString password = QStringLiteral("p'a\"ss; пароль");
        SqlConnectionSettings sql = CSettings::sql();
        sql.port = 3307;
        sql.password = password;
        CSettings::setSql(sql);
        // Another reader sees both keys without any further sync.
        QSettings disk(path, QSettings::IniFormat);
        QtCompat::useUtf8(disk);
        QCOMPARE(disk.value(QStringLiteral("sql/port")).toInt(), 3307);
        QCOMPARE(disk.value(QStringLiteral("sql/password")).toString(), password);
        QCOMPARE(QFile(path).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        // Plain UTF-8 whichever Qt the program is built with, so that each build reads the other's.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains(QStringLiteral("password=\"p'a\\\"ss; пароль\"").toUtf8()));
        file.close();

        // timeouts: written beside the other keys; what is no number of seconds reads as the default
        QCOMPARE(disk.value(QStringLiteral("sql/connect_timeout")).toInt(), 10);
        disk.setValue(QStringLiteral("sql/connect_timeout"), 3);
        disk.setValue(QStringLiteral("sql/read_timeout"), QStringLiteral("soon"));
        disk.setValue(QStringLiteral("sql/write_timeout"), -5);
        disk.sync();
        sql = CSettings::sql();
        QCOMPARE(sql.connectTimeout, 3);
        QCOMPARE(sql.readTimeout, SqlConnectionSettings().readTimeout);
        QCOMPARE(sql.writeTimeout, SqlConnectionSettings().writeTimeout);
    }
};

QTEST_GUILESS_MAIN(TestCSettings)
#include "tst_csettings.moc"
