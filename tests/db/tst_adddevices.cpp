#include "db/confighandler.h"
#include "testdb.h"

#include <QSqlQuery>
#include <QtTest>

#include <memory>

// addDevices stores in batches; its outcome must be exactly that of adding the records
// one by one in list order: same count, same rows, same refusal lines in the same order.

namespace {

QStringList& captured() {
    static QStringList lines;
    return lines;
}

void capture(QtMsgType, const QMessageLogContext&, const QString& message) {
    if (message.startsWith(QLatin1String("\"Такое")) || message.startsWith(QLatin1String("\"Не удалось")) ||
        message.startsWith(QLatin1String("Устройство с imei")))
        captured() << message;
}

struct Outcome {
    int count = -1;
    QStringList rows;
    QStringList refusals;
};

QStringList tableSnapshot() {
    QSqlQuery q(TestDb::admin());
    const bool ok = q.exec(QStringLiteral("SELECT d.imei, HEX(d.name), d.for_all, "
                                          "GROUP_CONCAT(g.group_id ORDER BY g.group_id) FROM devices d "
                                          "LEFT JOIN device_groups g ON g.device_id = d.id "
                                          "GROUP BY d.id ORDER BY d.imei"));
    if (!ok)
        return {QStringLiteral("snapshot failed")};
    QStringList rows;
    while (q.next()) {
        rows << QStringLiteral("%1|%2|%3|%4")
                    .arg(q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                         q.value(3).toString());
    }
    return rows;
}

DeviceInfo device(quint64 imei, const QString& name, const QVector<int>& groups, bool forAll = false) {
    DeviceInfo d;
    d.imei = imei;
    d.name = name;
    d.groups = groups;
    d.forAll = forAll;
    return d;
}

} // namespace

class TestAddDevices : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sameOutcomeAsOneByOne_data();
    void sameOutcomeAsOneByOne();
    void emptyListExecutesNothing();
    void fewStatementsForManyDevices();
    void progressAfterEachBatch();

private:
    void connectHandler();
    Outcome run(const QVector<DeviceInfo>& prestored, const QVector<DeviceInfo>& list, bool batched);
    std::unique_ptr<ConfigHandler> handler;
};

void TestAddDevices::init() {
    ORB_RESET_DB();
    connectHandler();
}

void TestAddDevices::cleanup() {
    handler.reset();
}

void TestAddDevices::connectHandler() {
    handler.reset();
    handler = std::make_unique<ConfigHandler>();
    handler->setConnectionSettings(TestDb::settings());
    QCOMPARE(handler->connectToDatabase(), 0);
    QVERIFY(handler->checkDatabase());
}

Outcome TestAddDevices::run(const QVector<DeviceInfo>& prestored, const QVector<DeviceInfo>& list,
                            bool batched) {
    Outcome outcome;
    QString error;
    if (!TestDb::reset(QString(), &error)) {
        outcome.refusals << error;
        return outcome;
    }
    connectHandler();
    for (const DeviceInfo& d : prestored) {
        QString e;
        handler->addDevice(d, e);
    }
    captured().clear();
    const QtMessageHandler previous = qInstallMessageHandler(capture);
    if (batched) {
        outcome.count = handler->addDevices(list);
    } else {
        outcome.count = 0;
        for (const DeviceInfo& d : list) {
            QString e;
            if (handler->addDevice(d, e))
                ++outcome.count;
            if (!e.isEmpty())
                qDebug() << e << d.id << d.groups;
        }
    }
    qInstallMessageHandler(previous);
    outcome.refusals = captured();
    outcome.rows = tableSnapshot();
    return outcome;
}

void TestAddDevices::sameOutcomeAsOneByOne_data() {
    QTest::addColumn<QVector<DeviceInfo>>("prestored");
    QTest::addColumn<QVector<DeviceInfo>>("list");
    QTest::addColumn<int>("expectedCount");

    QTest::newRow("three, one stored")
        << QVector<DeviceInfo>{device(2, QStringLiteral("old"), {1})}
        << QVector<DeviceInfo>{device(1, QStringLiteral("a"), {1}), device(2, QStringLiteral("b"), {2}),
                               device(3, QString(), {}, true)}
        << 2;
    QTest::newRow("first of equal IMEIs wins")
        << QVector<DeviceInfo>{}
        << QVector<DeviceInfo>{device(10, QStringLiteral("first"), {1, 2}),
                               device(11, QStringLiteral("x"), {}), device(10, QStringLiteral("second"), {3}),
                               device(10, QStringLiteral("third"), {})}
        << 2;
    QTest::newRow("unsigned limit")
        << QVector<DeviceInfo>{device(18446744073709551615ULL, QStringLiteral("m"), {})}
        << QVector<DeviceInfo>{device(18446744073709551615ULL, QStringLiteral("n"), {}),
                               device(18446744073709551614ULL, QStringLiteral("o"), {1})}
        << 1;

    // Across batch boundaries: duplicates of earlier batches, of the same batch and of the table.
    QVector<DeviceInfo> many;
    for (int i = 0; i < 4500; ++i)
        many << device(500000000000000ULL + quint64(i), QStringLiteral("d%1").arg(i), {1 + i % 3});
    many[2100].imei = many.at(5).imei;
    many[2200].imei = many.at(2150).imei;
    many[4499].imei = 42;
    QTest::newRow("several batches") << QVector<DeviceInfo>{device(42, QStringLiteral("stored"), {})} << many
                                     << 4497;

    // A record the server refuses makes its batch fail as a whole: that batch is stored one by
    // one, so the next record with the same IMEI gets in, as it would have one by one.
    QVector<DeviceInfo> failing = many.mid(0, 2500);
    failing[10].name = QString(300, QLatin1Char('x'));
    failing[11].imei = failing.at(10).imei;
    failing[2300].name = QString(256, QChar(0x0416));
    QTest::newRow("batch failure falls back") << QVector<DeviceInfo>{} << failing << 2496;
}

void TestAddDevices::sameOutcomeAsOneByOne() {
    QFETCH(QVector<DeviceInfo>, prestored);
    QFETCH(QVector<DeviceInfo>, list);
    QFETCH(int, expectedCount);

    const Outcome oneByOne = run(prestored, list, false);
    const Outcome batched = run(prestored, list, true);
    QCOMPARE(oneByOne.count, expectedCount);
    QCOMPARE(batched.count, oneByOne.count);
    QCOMPARE(batched.rows.size(), oneByOne.rows.size());
    QCOMPARE(batched.rows, oneByOne.rows);
    QCOMPARE(batched.refusals, oneByOne.refusals);
}

void TestAddDevices::emptyListExecutesNothing() {
    int calls = 0;
    QCOMPARE(handler->addDevices({}, [&calls](int, int) { return ++calls > 0; }), 0);
    QCOMPARE(calls, 0);
    QCOMPARE(handler->getDevicesCount(), 0);
}

void TestAddDevices::fewStatementsForManyDevices() {
    QVector<DeviceInfo> list;
    for (int i = 0; i < 5000; ++i)
        list << device(700000000000000ULL + quint64(i), QString(), {1, 2});
    QSqlQuery q(handler->database());
    auto questions = [&q]() {
        return q.exec(QStringLiteral("SHOW SESSION STATUS LIKE 'Questions'")) && q.next()
                   ? q.value(1).toLongLong()
                   : -1;
    };
    const qint64 before = questions();
    QCOMPARE(handler->addDevices(list), 5000);
    const qint64 statements = questions() - before - 1;
    QVERIFY2(statements <= 20, qPrintable(QString::number(statements)));
    QCOMPARE(TestDb::scalar(QStringLiteral("SELECT COUNT(*) FROM device_groups")).toInt(), 10000);
}

void TestAddDevices::progressAfterEachBatch() {
    QVector<DeviceInfo> list;
    for (int i = 0; i < 4500; ++i)
        list << device(800000000000000ULL + quint64(i), QString(), {});
    QVector<QPair<int, int>> calls;
    QCOMPARE(handler->addDevices(list,
                                 [&calls](int done, int total) {
                                     calls << qMakePair(done, total);
                                     return true;
                                 }),
             4500);
    QVERIFY(!calls.isEmpty());
    QCOMPARE(calls.first().second, 4500);
    QCOMPARE(calls.last(), qMakePair(4500, 4500));
    for (int i = 1; i < calls.size(); ++i)
        QVERIFY(calls.at(i).first > calls.at(i - 1).first);

    // stopping after the first batch keeps what that batch stored
    ORB_RESET_DB();
    connectHandler();
    const int firstBatch = calls.first().first;
    QCOMPARE(handler->addDevices(list, [](int, int) { return false; }), firstBatch);
    QCOMPARE(handler->getDevicesCount(), firstBatch);
}

QTEST_GUILESS_MAIN(TestAddDevices)
#include "tst_adddevices.moc"
