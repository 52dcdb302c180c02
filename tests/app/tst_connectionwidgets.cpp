// The connection settings dialog and the status bar's connection widget.

#include "app/connectionsettingsdialog.h"
#include "app/connectionstatewidget.h"
#include "core/qttranslations.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

class TstConnectionWidgets : public QObject {
    Q_OBJECT

private slots:
    void groupsShown_data();
    void groupsShown();
    void valuesRoundTrip();
    void stateIconsToldApart();
    void lockOnlyWhileConnected();
    void endpointText_data();
    void endpointText();
    void qtTextsInRussian();
};

void TstConnectionWidgets::groupsShown_data() {
    QTest::addColumn<bool>("db");
    QTest::addColumn<bool>("orb");
    QTest::newRow("database only") << true << false;
    QTest::newRow("server only") << false << true;
}

void TstConnectionWidgets::groupsShown() {
    QFETCH(bool, db);
    QFETCH(bool, orb);
    ConnectionSettingsDialog both(nullptr, SqlConnectionSettings(), OrbHostSettings(), true, true);
    ConnectionSettingsDialog dialog(nullptr, SqlConnectionSettings(), OrbHostSettings(), db, orb);
    both.show();
    dialog.show();
    QCOMPARE(dialog.findChild<QGroupBox*>(QStringLiteral("dbGroup"))->isVisible(), db);
    QCOMPARE(dialog.findChild<QGroupBox*>(QStringLiteral("orbGroup"))->isVisible(), orb);
    QVERIFY(dialog.height() < both.height()); // sized to fit what it shows
}

// Values come back untouched, those the form does not show too; a port out of range is clamped. TLS without a
// CA file is said to leave the server unverified.
void TstConnectionWidgets::valuesRoundTrip() {
    SqlConnectionSettings sql{QStringLiteral(" db.local "), 70000, QStringLiteral("admin"),
                              QStringLiteral("p'w;\""), QStringLiteral("orb_server")};
    sql.tls = true;
    sql.tlsCaFile = QStringLiteral("/etc/ssl/ca пример.pem");
    sql.rememberPassword = false;
    sql.connectTimeout = 3;
    sql.readTimeout = 0;
    ConnectionSettingsDialog dialog(nullptr, sql, OrbHostSettings{QStringLiteral("orb.local"), -5}, true,
                                    true);
    dialog.show();
    const SqlConnectionSettings back = dialog.getDbSettings();
    QCOMPARE(QStringList({back.ip, back.user, back.password, back.db, back.tlsCaFile}),
             QStringList({sql.ip, sql.user, sql.password, sql.db, sql.tlsCaFile}));
    QCOMPARE(QVector<bool>({back.tls, back.rememberPassword}), QVector<bool>({true, false}));
    // the timeouts, which the form does not show, stay
    QCOMPARE(QVector<int>({back.connectTimeout, back.readTimeout, back.writeTimeout}),
             QVector<int>({3, 0, sql.writeTimeout}));
    auto* note = dialog.findChild<QLabel*>(QStringLiteral("tlsNoteLabel"));
    QVERIFY(!note->isVisible());
    dialog.findChild<QLineEdit*>(QStringLiteral("tlsCaEdit"))->clear();
    QVERIFY(note->isVisible());
    QCOMPARE(back.port, 65535);
    QCOMPARE(dialog.getOrbSettings().host, QStringLiteral("orb.local"));
    QCOMPARE(dialog.getOrbSettings().port, 0);
}

// Online mostly green and offline mostly red, at 20 x 20.
void TstConnectionWidgets::stateIconsToldApart() {
    ConnectionStateWidget widget;
    auto* icon = widget.findChild<QLabel*>(QStringLiteral("iconLabel"));
    const auto greenOverRed = [&widget, icon](bool connected) {
        widget.setConnected(connected);
        const QImage image = icon->pixmap(Qt::ReturnByValue).toImage();
        qint64 balance = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                balance += (c.green() - c.red()) * c.alpha();
            }
        }
        return balance > 0;
    };
    QVERIFY(greenOverRed(true));
    QCOMPARE(icon->pixmap(Qt::ReturnByValue).size(), QSize(20, 20));
    QVERIFY(!greenOverRed(false));
}

void TstConnectionWidgets::lockOnlyWhileConnected() {
    ConnectionStateWidget widget;
    widget.show();
    auto* lock = widget.findChild<QLabel*>(QStringLiteral("lockLabel"));
    widget.setEncryption(QStringLiteral("TLSv1.3, TLS_AES_256_GCM_SHA384"));
    QVERIFY(!lock->isVisible());
    widget.setConnected(true);
    QVERIFY(lock->isVisible());
    QCOMPARE(lock->toolTip(), QStringLiteral("TLSv1.3, TLS_AES_256_GCM_SHA384"));
    widget.setConnected(false);
    QVERIFY(!lock->isVisible());
    widget.setConnected(true);
    widget.setEncryption(QString());
    QVERIFY(!lock->isVisible());
}

void TstConnectionWidgets::endpointText_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("text");
    QTest::newRow("configured") << "db.local" << 3306 << "SQL db.local:3306";
    QTest::newRow("no host yet") << " " << -1 << "SQL не подключено";
    QTest::newRow("no port") << "db.local" << 0 << "SQL db.local";
}

// Never "SQL :-1".
void TstConnectionWidgets::endpointText() {
    QFETCH(QString, host);
    QFETCH(int, port);
    ConnectionStateWidget widget;
    widget.setEndpoint(QStringLiteral("SQL"), host, port);
    QTEST(widget.findChild<QLabel*>(QStringLiteral("textLabel"))->text(), "text");
}

// Whatever the system's language.
void TstConnectionWidgets::qtTextsInRussian() {
    QTranslator translator;
    QVERIFY2(loadRussianQtTexts(translator), qPrintable(QtCompat::translationsPath()));
    QCoreApplication::installTranslator(&translator);
    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Отмена"));
    QCoreApplication::removeTranslator(&translator);
}

QTEST_MAIN(TstConnectionWidgets)
#include "tst_connectionwidgets.moc"
