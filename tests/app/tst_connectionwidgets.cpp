// The connection settings dialog and the status bar's connection widget.

#include "app/connectionsettingsdialog.h"
#include "app/connectionstatewidget.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
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
    void picturesToldApart();
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
    if (!(db && orb))
        QVERIFY(dialog.height() < both.height());
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
    SqlConnectionSettings sql;
    sql.ip = QStringLiteral(" db.local ");
    sql.port = port;
    sql.user = QStringLiteral("admin");
    sql.password = QStringLiteral("p'w;\"");
    sql.db = QStringLiteral("orb_server");
    OrbHostSettings orb;
    orb.host = QStringLiteral("orb.local");
    orb.port = port;
    ConnectionSettingsDialog dialog(nullptr, sql, orb, true, true);
    QCOMPARE(dialog.findChild<QSpinBox*>(QStringLiteral("portEdit"))->value(), shown);
    QCOMPARE(dialog.findChild<QLineEdit*>(QStringLiteral("pwEdit"))->echoMode(), QLineEdit::Password);

    const SqlConnectionSettings back = dialog.getDbSettings();
    QCOMPARE(back.ip, sql.ip); // not trimmed
    QCOMPARE(back.port, shown);
    QCOMPARE(back.user, sql.user);
    QCOMPARE(back.password, sql.password);
    QCOMPARE(back.db, sql.db);
    QCOMPARE(dialog.getOrbSettings().host, orb.host);
    QCOMPARE(dialog.getOrbSettings().port, shown);
}

void TstConnectionWidgets::escapeRejects() {
    ConnectionSettingsDialog dialog(nullptr, SqlConnectionSettings(), OrbHostSettings(), true, true);
    QTimer::singleShot(0, &dialog, [&dialog] { QTest::keyClick(&dialog, Qt::Key_Escape); });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
}

void TstConnectionWidgets::stateWidget() {
    ConnectionStateWidget widget;
    auto* icon = widget.findChild<QLabel*>(QStringLiteral("iconLabel"));
    auto* text = widget.findChild<QLabel*>(QStringLiteral("textLabel"));
    auto* ext = widget.findChild<QLabel*>(QStringLiteral("extTextLabel"));
    QVERIFY(icon->pixmap(Qt::ReturnByValue).isNull());
    QVERIFY(text->text().isEmpty());
    QVERIFY(ext->text().isEmpty());
    QVERIFY(!widget.connectionButton()->icon().isNull());
    QVERIFY(widget.connectionButton()->text().isEmpty());

    widget.setConnected(true);
    const QImage online = icon->pixmap(Qt::ReturnByValue).toImage();
    widget.setConnected(false);
    const QImage offline = icon->pixmap(Qt::ReturnByValue).toImage();
    QCOMPARE(online.size(), QSize(20, 20));
    QVERIFY(online != offline);
    widget.setText(QStringLiteral("SQL 127.0.0.1:3306"));
    widget.setExtText(QStringLiteral(" "));
    QCOMPARE(text->text(), QStringLiteral("SQL 127.0.0.1:3306"));
    QCOMPARE(ext->text(), QStringLiteral(" "));
}

// Online is mostly green, offline mostly red: told apart by colour, not only by shape.
void TstConnectionWidgets::picturesToldApart() {
    initOrbIcons();
    auto dominant = [](const QString& path) {
        const QImage image(path);
        qint64 red = 0, green = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                red += c.red() * c.alpha();
                green += c.green() * c.alpha();
            }
        return green > red ? 'g' : 'r';
    };
    QCOMPARE(dominant(QStringLiteral(":/icons/icons/online.png")), 'g');
    QCOMPARE(dominant(QStringLiteral(":/icons/icons/offline.png")), 'r');
    QVERIFY(!QImage(QStringLiteral(":/icons/icons/connect.png")).isNull());
}

QTEST_MAIN(TstConnectionWidgets)
#include "tst_connectionwidgets.moc"
