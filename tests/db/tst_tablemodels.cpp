#include "db/confighandler.h"
#include "db/devicestablemodel.h"
#include "db/grouptablemodel.h"
#include "db/usertablemodel.h"
#include "testdb.h"

#include <QAbstractItemModelTester>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

namespace {

// Statements this connection has sent so far (the server's per-session Questions counter;
// reading it counts as one).
qint64 sessionQuestions(const QSqlDatabase& db) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SHOW SESSION STATUS LIKE 'Questions'")) || !q.next())
        return -1;
    return q.value(1).toLongLong();
}

} // namespace

class TestTableModels : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void devicesCells();
    void usersCells();
    void groupsCells();
    void noAdminGroupBeforeCheck();
    void headers_data();
    void headers();
    void recordRoleAndReadOnly();
    void modelTester();
    void statementsPerReloadConstant();

private:
    void seed();
    std::unique_ptr<ConfigHandler> handler;
    int group3 = 0;
    int deletedGroup = 0;
};

void TestTableModels::init() {
    ORB_RESET_DB();
    handler = std::make_unique<ConfigHandler>();
    handler->setConnectionSettings(TestDb::settings());
    QCOMPARE(handler->connectToDatabase(), 0);
    QVERIFY(handler->checkDatabase());
}

void TestTableModels::cleanup() {
    handler.reset();
}

// Groups "Admin" (1), "Склад" and a group that is deleted afterwards; devices and users in them.
void TestTableModels::seed() {
    QString error;
    GroupInfo g{0, QStringLiteral("Склад")};
    QVERIFY(handler->addGroup(g, error));
    group3 = g.id;
    GroupInfo gone{0, QStringLiteral("gone")};
    QVERIFY(handler->addGroup(gone, error));
    deletedGroup = gone.id;

    const QVector<DeviceInfo> devices = {
        {0, 100000000000001ULL, QStringLiteral("мульти"), {1, group3, deletedGroup}, false},
        {0, 100000000000002ULL, QString(), {group3}, true},
        {0, 100000000000003ULL, QStringLiteral("admin only"), {1}, false},
        {0, 18446744073709551615ULL, QStringLiteral("max"), {}, false},
    };
    QCOMPARE(handler->addDevices(devices), devices.size());
    UserInfo u{
        0, QStringLiteral("оператор"), handler->hashPassword(QStringLiteral("p")), {1, group3, deletedGroup}};
    QVERIFY(handler->addUser(u, error));
    // the group row goes, its memberships stay behind
    QVERIFY(TestDb::exec(QStringLiteral("DELETE FROM groups_list WHERE id=%1").arg(deletedGroup)));
}

void TestTableModels::devicesCells() {
    seed();
    DevicesTableModel model(nullptr, handler.get());
    QCOMPARE(model.rowCount(), 0);
    const QByteArray missing = "имя группы не найдено id " + QByteArray::number(deletedGroup);
    QTest::ignoreMessage(QtDebugMsg, missing.constData());
    model.reload();
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(model.columnCount(), 3);

    QMap<quint64, int> rowOf;
    for (int r = 0; r < model.rowCount(); ++r)
        rowOf.insert(model.data(model.index(r, 0)).toULongLong(), r);
    auto cell = [&](quint64 imei, int column) {
        return model.data(model.index(rowOf.value(imei), column));
    };

    QCOMPARE(cell(100000000000001ULL, 1).toString(), QStringLiteral("мульти"));
    QCOMPARE(cell(100000000000001ULL, 2).toString(), QStringLiteral("Склад, Неизвестная группа"));
    QCOMPARE(cell(100000000000002ULL, 2).toString(), QStringLiteral("для всех"));
    QCOMPARE(cell(100000000000003ULL, 2).toString(), QString());
    QCOMPARE(cell(18446744073709551615ULL, 0).toULongLong(), 18446744073709551615ULL);
    QCOMPARE(cell(18446744073709551615ULL, 2).toString(), QString());
}

void TestTableModels::usersCells() {
    seed();
    UserTableModel model(nullptr, handler.get());
    const QByteArray missing = "имя группы не найдено id " + QByteArray::number(deletedGroup);
    QTest::ignoreMessage(QtDebugMsg, missing.constData());
    model.reload();
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.columnCount(), 2);
    QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("root"));
    QCOMPARE(model.data(model.index(0, 1)).toString(), QStringLiteral("Администратор"));
    QCOMPARE(model.data(model.index(1, 0)).toString(), QStringLiteral("оператор"));
    QCOMPARE(model.data(model.index(1, 1)).toString(),
             QStringLiteral("Администратор, Склад, Неизвестная группа"));
}

void TestTableModels::groupsCells() {
    seed();
    GroupTableModel model(nullptr, handler.get());
    model.reload();
    QCOMPARE(model.rowCount(), 2);
    QMap<int, int> rowOf;
    for (int r = 0; r < model.rowCount(); ++r)
        rowOf.insert(qvariant_cast<GroupInfo>(model.data(model.index(r, 0), RecordRole)).id, r);
    const int admin = rowOf.value(1);
    const int stock = rowOf.value(group3);
    // the administrators see every device
    QCOMPARE(model.data(model.index(admin, 0)).toString(), QStringLiteral("Администраторы"));
    QCOMPARE(model.data(model.index(admin, 1)).toInt(), 2);
    QCOMPARE(model.data(model.index(admin, 2)).toInt(), 4);
    QCOMPARE(qvariant_cast<GroupInfo>(model.data(model.index(admin, 0), RecordRole)).name,
             QStringLiteral("Администраторы"));
    QCOMPARE(model.data(model.index(stock, 0)).toString(), QStringLiteral("Склад"));
    QCOMPARE(model.data(model.index(stock, 1)).toInt(), 1);
    QCOMPARE(model.data(model.index(stock, 2)).toInt(), 2);
    // the database keeps the stored name
    QCOMPARE(handler->getGroupId(QStringLiteral("Admin")), 1);
}

void TestTableModels::noAdminGroupBeforeCheck() {
    seed();
    handler.reset();
    handler = std::make_unique<ConfigHandler>();
    handler->setConnectionSettings(TestDb::settings());
    QCOMPARE(handler->connectToDatabase(), 0);

    GroupTableModel groups(nullptr, handler.get());
    groups.reload();
    QStringList names;
    for (int r = 0; r < groups.rowCount(); ++r)
        names << groups.data(groups.index(r, 0)).toString();
    QVERIFY(names.contains(QStringLiteral("Admin")));

    UserTableModel users(nullptr, handler.get());
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^имя группы не найдено id")));
    users.reload();
    QCOMPARE(users.data(users.index(0, 1)).toString(), QStringLiteral("Admin"));
}

void TestTableModels::headers_data() {
    QTest::addColumn<int>("which");
    QTest::addColumn<QStringList>("titles");
    QTest::newRow("devices") << 0
                             << QStringList{QStringLiteral("IMEI устройства"),
                                            QStringLiteral("Имя устройства"),
                                            QStringLiteral("Доступно для групп")};
    QTest::newRow("users") << 1 << QStringList{QStringLiteral("Имя (логин)"), QStringLiteral("В группах")};
    QTest::newRow("groups") << 2
                            << QStringList{QStringLiteral("Название"), QStringLiteral("Пользователей"),
                                           QStringLiteral("Устройств")};
}

void TestTableModels::headers() {
    QFETCH(int, which);
    QFETCH(QStringList, titles);
    DevicesTableModel devices(nullptr, handler.get());
    UserTableModel users(nullptr, handler.get());
    GroupTableModel groups(nullptr, handler.get());
    const QAbstractItemModel* models[] = {&devices, &users, &groups};
    const QAbstractItemModel* model = models[which];

    for (int s = 0; s < titles.size(); ++s)
        QCOMPARE(model->headerData(s, Qt::Horizontal).toString(), titles.at(s));
    QVERIFY(!model->headerData(titles.size(), Qt::Horizontal).isValid());
    QVERIFY(!model->headerData(5, Qt::Horizontal).isValid());
    QVERIFY(!model->headerData(-1, Qt::Horizontal).isValid());
    QVERIFY(!model->headerData(0, Qt::Horizontal, Qt::ToolTipRole).isValid());
    QCOMPARE(model->headerData(0, Qt::Vertical), QVariant(1));
    QCOMPARE(model->headerData(41, Qt::Vertical), QVariant(42));
    QVERIFY(!model->headerData(0, Qt::Vertical, Qt::EditRole).isValid());
}

void TestTableModels::recordRoleAndReadOnly() {
    seed();
    DevicesTableModel devices(nullptr, handler.get());
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^имя группы не найдено id")));
    devices.reload();
    const QVector<DeviceInfo> stored = handler->getDevices();
    for (int r = 0; r < devices.rowCount(); ++r) {
        const QVariant v = devices.data(devices.index(r, 1), RecordRole);
        QCOMPARE(v.userType(), qMetaTypeId<DeviceInfo>());
        QCOMPARE(qvariant_cast<DeviceInfo>(v), stored.at(r));
    }
    QVERIFY(!devices.data(QModelIndex(), RecordRole).isValid());
    QVERIFY(!devices.data(devices.index(0, 0), Qt::EditRole).isValid());
    QVERIFY(!devices.setData(devices.index(0, 1), QStringLiteral("x")));
    QCOMPARE(devices.data(devices.index(0, 1)).toString(), stored.at(0).name);
    QVERIFY(!(devices.flags(devices.index(0, 1)) & Qt::ItemIsEditable));

    UserTableModel users(nullptr, handler.get());
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^имя группы не найдено id")));
    users.reload();
    const UserInfo root = qvariant_cast<UserInfo>(users.data(users.index(0, 0), RecordRole));
    QCOMPARE(root, handler->getUser(1));
    QVERIFY(!users.setData(users.index(0, 0), QStringLiteral("x")));
    // a variant of another type yields a default record
    QCOMPARE(qvariant_cast<UserInfo>(devices.data(devices.index(0, 0), RecordRole)), UserInfo());
}

void TestTableModels::modelTester() {
    seed();
    DevicesTableModel devices(nullptr, handler.get());
    UserTableModel users(nullptr, handler.get());
    GroupTableModel groups(nullptr, handler.get());
    QAbstractItemModelTester t1(&devices, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester t2(&users, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester t3(&groups, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^имя группы не найдено id")));
    devices.reload();
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^имя группы не найдено id")));
    users.reload();
    groups.reload();
    QVERIFY(handler->deleteDevices({handler->getDeviceId(100000000000001ULL)}) == 1);
    devices.reload();
    groups.reload();
    QCOMPARE(devices.rowCount(), 3);
}

// A full reload of the three models costs the same few statements whatever the table sizes.
void TestTableModels::statementsPerReloadConstant() {
    DevicesTableModel devices(nullptr, handler.get());
    UserTableModel users(nullptr, handler.get());
    GroupTableModel groups(nullptr, handler.get());
    auto statementsPerReload = [&]() {
        const qint64 before = sessionQuestions(handler->database());
        devices.reload();
        users.reload();
        groups.reload();
        return sessionQuestions(handler->database()) - before - 1;
    };

    QString error;
    QVector<int> groupIds;
    qint64 first = -1;
    for (int size : {3, 300}) {
        for (int g = groupIds.size(); g < size / 10; ++g) {
            GroupInfo info{0, QStringLiteral("g%1").arg(g)};
            QVERIFY(handler->addGroup(info, error));
            groupIds << info.id;
        }
        QVector<DeviceInfo> list;
        for (int i = 0; i < size; ++i)
            list << DeviceInfo{
                0, quint64(size) * 1000 + quint64(i), QString(), {1, groupIds.value(i % 30, 1)}, false};
        QCOMPARE(handler->addDevices(list), size);
        for (int i = 0; i < size / 10; ++i) {
            UserInfo u{
                0, QStringLiteral("u%1_%2").arg(size).arg(i), QByteArray(64, 'x'), {groupIds.value(i % 30)}};
            QVERIFY(handler->addUser(u, error));
        }
        const qint64 statements = statementsPerReload();
        QVERIFY2(statements <= 10, qPrintable(QString::number(statements)));
        QVERIFY(statements > 0);
        if (size == 300)
            QCOMPARE(devices.rowCount(), 303);
        if (first < 0)
            first = statements;
        QCOMPARE(statements, first);
    }
}

QTEST_GUILESS_MAIN(TestTableModels)
#include "tst_tablemodels.moc"
