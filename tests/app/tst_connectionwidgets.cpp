// The connection settings dialog and the status bar's connection widget.

#include "app/connectionsettingsdialog.h"
#include "app/connectionstatewidget.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

class TstConnectionWidgets : public QObject {
    Q_OBJECT

private slots:
    void groupsShown_data();
    void groupsShown();
    void valuesRoundTrip_data();
    void valuesRoundTrip();
    void escapeRejects();
    void stateWidget();
};

void TstConnectionWidgets::groupsShown_data() {
    QTest::addColumn<bool>("db");
    QTest::addColumn<bool>("orb");
    QTest::newRow("both") << true << true;
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
    QVERIFY(dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->isVisible());
    // sized to fit what it shows
    QCOMPARE(dialog.height() < both.height(), !(db && orb));
}

void TstConnectionWidgets::valuesRoundTrip_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("shown");
    QTest::newRow("ordinary port") << 3307 << 3307;
    QTest::newRow("port above range") << 70000 << 65535;
    QTest::newRow("negative port") << -5 << 0;
}

void TstConnectionWidgets::valuesRoundTrip() {
    QFETCH(int, port);
    QFETCH(int, shown);
    const SqlConnectionSettings sql{QStringLiteral(" db.local "), port, QStringLiteral("admin"),
                                    QStringLiteral("p'w;\""), QStringLiteral("orb_server")};
    ConnectionSettingsDialog dialog(nullptr, sql, OrbHostSettings{QStringLiteral("orb.local"), port}, true,
                                    true);
    QCOMPARE(dialog.findChild<QSpinBox*>(QStringLiteral("portEdit"))->value(), shown);
    const SqlConnectionSettings back = dialog.getDbSettings();
    QCOMPARE(back.ip, sql.ip); // not trimmed
    QCOMPARE(back.port, shown);
    QCOMPARE(back.user, sql.user);
    QCOMPARE(back.password, sql.password);
    QCOMPARE(back.db, sql.db);
    QCOMPARE(dialog.getOrbSettings().host, QStringLiteral("orb.local"));
    QCOMPARE(dialog.getOrbSettings().port, shown);
}

void TstConnectionWidgets::escapeRejects() {
    ConnectionSettingsDialog dialog(nullptr, SqlConnectionSettings(), OrbHostSettings(), true, true);
    QTimer::singleShot(0, &dialog, [&dialog] { QTest::keyClick(&dialog, Qt::Key_Escape); });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
}

// Empty until first set; online mostly green and offline mostly red, told apart by colour.
void TstConnectionWidgets::stateWidget() {
    ConnectionStateWidget widget;
    auto* icon = widget.findChild<QLabel*>(QStringLiteral("iconLabel"));
    QVERIFY(icon->pixmap(Qt::ReturnByValue).isNull());
    QVERIFY(widget.findChild<QLabel*>(QStringLiteral("textLabel"))->text().isEmpty());
    QVERIFY(!widget.connectionButton()->icon().isNull());
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
    widget.setText(QStringLiteral("SQL 127.0.0.1:3306"));
    widget.setExtText(QStringLiteral(" "));
    QCOMPARE(widget.findChild<QLabel*>(QStringLiteral("textLabel"))->text(),
             QStringLiteral("SQL 127.0.0.1:3306"));
    QCOMPARE(widget.findChild<QLabel*>(QStringLiteral("extTextLabel"))->text(), QStringLiteral(" "));
}

QTEST_MAIN(TstConnectionWidgets)
#include "tst_connectionwidgets.moc"
