#include "core/journaltext.h"
#include "import/tablefilewriter.h"
#include "models/journaltablemodel.h"
#include "testdb.h"

#include <QTemporaryDir>
#include <QtTest>

class TestJournalRows : public QObject {
    Q_OBJECT

private slots:
    void sentence_data();
    void sentence();
    void pagesFilterAndScope();
    void exportedText();
};

void TestJournalRows::sentence_data() {
    QTest::addColumn<QString>("object");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("details");
    QTest::addColumn<QString>("actionText");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("changes");

    QTest::newRow("rename and groups")
        << "device"
        << "change"
        << R"j({"before":{"imei":"356938035643809","name":"Truck 1","for_all":false,"groups":["Логистика","A"]},)j"
           R"j("after":{"imei":"356938035643809","name":"Truck 1 (резерв)","for_all":false,"groups":["A","Склад"]}})j"
        << "Изменение устройства"
        << "356938035643809"
        << "имя: «Truck 1» → «Truck 1 (резерв)»; группы: +Склад, −Логистика";
    QTest::newRow("imei and for_all")
        << "device"
        << "change"
        << R"j({"before":{"imei":"111111111111111","for_all":false},"after":{"imei":"222222222222222","for_all":true}})j"
        << "Изменение устройства"
        << "222222222222222"
        << "IMEI: 111111111111111 → 222222222222222; для всех: нет → да";
    QTest::newRow("add shows what it became")
        << "device"
        << "add"
        << R"j({"after":{"imei":356938035643809,"name":"Truck","for_all":true,"groups":["Склад"]}})j"
        << "Добавление устройства"
        << "356938035643809"
        << "имя: «Truck»; для всех: да; группы: Склад";
    QTest::newRow("delete shows what was") << "user"
                                           << "delete"
                                           << R"j({"before":{"login":"ivanov","groups":["A","B"]}})j"
                                           << "Удаление пользователя"
                                           << "ivanov"
                                           << "группы: A, B";
    QTest::newRow("login and password")
        << "user"
        << "change"
        << R"j({"before":{"login":"a","groups":[]},"after":{"login":"b","groups":[]},"password_changed":true})j"
        << "Изменение пользователя"
        << "b"
        << "логин: «a» → «b»; пароль изменён";
    QTest::newRow("group renamed") << "group"
                                   << "change"
                                   << R"j({"before":{"name":"Old"},"after":{"name":"New"}})j"
                                   << "Изменение группы"
                                   << "New"
                                   << "имя: «Old» → «New»";
    QTest::newRow("bulk") << "device"
                          << "change"
                          << R"j({"groups_added":["A","B"],"groups_removed":["C"],"for_all":false})j"
                          << "Изменение устройства"
                          << "№ 7"
                          << "группы: +A, +B, −C; для всех: нет";
    QTest::newRow("list too long for the journal")
        << "user"
        << "change"
        << R"j({"before":{"login":"u","groups":["A"]},"after":{"login":"u","groups":{"count":3001,"shortened":true}}})j"
        << "Изменение пользователя"
        << "u"
        << "группы: A → 3001 (список не записан)";
    QTest::newRow("not JSON") << "device"
                              << "change"
                              << "{broken"
                              << "Изменение устройства"
                              << "№ 7"
                              << "{broken";
}

void TestJournalRows::sentence() {
    QFETCH(QString, object);
    QFETCH(QString, action);
    QFETCH(QString, details);
    JournalEntry entry;
    entry.object = object;
    entry.action = action;
    entry.objectId = 7;
    entry.details = details;
    QTEST(JournalText::action(entry.action, entry.object), "actionText");
    QTEST(JournalText::label(entry), "label");
    QTEST(JournalText::changes(entry), "changes");
}

// Rows written by others, read a page at a time, narrowed by the filter line and by the records.
void TestJournalRows::pagesFilterAndScope() {
    ORB_RESET_DB();
    std::unique_ptr<ConfigHandler> handler = TestDb::handler();
    QVERIFY(handler);
    const int total = JournalTableModel::pageSize + 50;
    QVERIFY(TestDb::exec(
        QStringLiteral("INSERT INTO orb_admin_journal (at, db_user, os_user, workstation, operation, action, "
                       "object, object_id, details) SELECT NOW(3), 'orb@%', 'ivan', 'pc', seq, 'change', "
                       "IF(seq % 2, 'device', 'user'), seq % 10, CONCAT('{\"before\":{\"name\":\"n', seq, "
                       "'\"},\"after\":{\"name\":\"m', seq, '\"}}') FROM seq_1_to_%1")
            .arg(total)));

    JournalTableModel model;
    QSignalSpy done(&model, &JournalTableModel::readDone);
    model.setConnectionSettings(TestDb::settings());
    model.reload(JournalFilter());
    QVERIFY(done.wait(15000));
    QCOMPARE(model.rowCount(), JournalTableModel::pageSize);
    QCOMPARE(model.text(0, JournalTableModel::Changes), QStringLiteral("имя: «n%1» → «m%1»").arg(total));
    QVERIFY(model.canFetchMore(QModelIndex()));
    model.fetchMore(QModelIndex());
    QVERIFY(done.wait(15000));
    QCOMPARE(model.rowCount(), total);
    QVERIFY(!model.canFetchMore(QModelIndex()));
    for (int row = 1; row < total; ++row)
        QVERIFY(model.entry(row - 1).id > model.entry(row).id);

    model.setFilterText(QStringLiteral("M1005"));
    QCOMPARE(model.rowCount(), 2); // m1005 and m10050
    model.setFilterText(QString());

    JournalFilter one;
    one.object = QStringLiteral("device");
    one.objectIds = {3};
    model.reload(one);
    QVERIFY(done.wait(15000));
    QCOMPARE(model.rowCount(), total / 10);
    for (int row = 0; row < model.rowCount(); ++row)
        QVERIFY(model.entry(row).objectId == 3 && model.entry(row).object == QLatin1String("device"));

    SqlConnectionSettings gone = TestDb::settings();
    gone.port = 1;
    model.setConnectionSettings(gone);
    QSignalSpy failed(&model, &JournalTableModel::readFailed);
    model.reload();
    QVERIFY(failed.wait(15000));
    QCOMPARE(model.rowCount(), 0);
}

void TestJournalRows::exportedText() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("journal.csv"));
    const QStringList cells = {QStringLiteral("=1+1"), QStringLiteral("имя: «a, b»")};
    QString error;
    QVERIFY(writeTableFile(
        file, {QStringLiteral("Время"), QStringLiteral("Что изменено")}, 1,
        [&](int, int column) { return cells.at(column); }, error));
    QFile read(file);
    QVERIFY(read.open(QIODevice::ReadOnly));
    QCOMPARE(read.readAll(),
             "\xEF\xBB\xBF" + QStringLiteral("Время,Что изменено\r\n'=1+1,\"имя: «a, b»\"\r\n").toUtf8());
}

QTEST_MAIN(TestJournalRows)
#include "tst_journalrows.moc"
