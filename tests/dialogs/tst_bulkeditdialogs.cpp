#include "dialogs/bulkgrouplist.h"
#include "dialogs/devicesbulkeditdialog.h"
#include "dialogs/usersbulkeditdialog.h"
#include "dialogtest.h"

#include <QCheckBox>
#include <QLabel>
#include <QListView>

namespace {

using Ids = QVector<int>;
using Memberships = QVector<Ids>; // per record

const QVector<GroupInfo> groups{{1, QStringLiteral("Admin")},
                                {2, QStringLiteral("Drivers")},
                                {3, QStringLiteral("Грузовики")},
                                {4, QStringLiteral("Склад")}};

// Each row's check state (0, 1, 2), a "-" after a row that cannot be toggled.
QString states(const QAbstractItemView* view) {
    QStringList out;
    const QAbstractItemModel* m = view->model();
    for (int r = 0; r < m->rowCount(); ++r) {
        const QModelIndex i = m->index(r, 0);
        out << QString::number(i.data(Qt::CheckStateRole).toInt()) +
                   (m->flags(i).testFlag(Qt::ItemIsEnabled) ? QString() : QStringLiteral("-"));
    }
    return out.join(QLatin1Char(' '));
}

} // namespace

class TestBulkEditDialogs : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    void changes_data();
    void changes();
    void summary_data();
    void summary();
};

void TestBulkEditDialogs::changes_data() {
    QTest::addColumn<QString>("kind"); // devices, users, users with root (id 1 first)
    QTest::addColumn<Memberships>("members");
    QTest::addColumn<QString>("forAll"); // per device: 1 visible to all
    QTest::addColumn<QString>("start");  // Администратор Drivers Грузовики Склад
    QTest::addColumn<Ids>("clicks");     // per row (a greyed one takes none), then the for-all box
    QTest::addColumn<QString>("after");
    QTest::addColumn<Ids>("add");
    QTest::addColumn<Ids>("remove");
    QTest::addColumn<int>("forAllResult");
    QTest::addColumn<QString>("summary");

    QTest::newRow("devices: mixed start, each box changed")
        << "devices" << Memberships{{1, 2}, {1, 2, 3}, {1}} << "101"
        << "2- 1 1 0" << Ids{0, 1, 2, 1, 1} << "2- 2 0 2" << Ids{2, 4} << Ids{3} << int(Qt::Checked)
        << "Будут добавлены в 2 группы, убраны из 1 группы, доступны для всех: 3 устройства";
    QTest::newRow("devices: back to the start, admin group never unchecked")
        << "devices" << Memberships{{1, 2}, {3}} << "11"
        << "1 1 1 0" << Ids{2, 3, 0, 2, 2} << "1 1 1 0" << Ids{} << Ids{} << int(Qt::PartiallyChecked)
        << "Изменений нет";
    QTest::newRow("devices: admin group added, hidden from all")
        << "devices" << Memberships{{2}, {1, 2}} << "01"
        << "1 2 0 0" << Ids{1, 0, 0, 0, 2} << "2 2 0 0" << Ids{1} << Ids{} << int(Qt::Unchecked)
        << "Будут добавлены в 1 группу, доступны только своим группам: 2 устройства";
    QTest::newRow("users: admin group left like any other")
        << "users" << Memberships{{1, 2}, {1}} << ""
        << "2 1 0 0" << Ids{1, 2} << "0 0 0 0" << Ids{} << Ids{1, 2} << int(Qt::PartiallyChecked)
        << "Будут убраны из 2 групп: 2 пользователя";
    QTest::newRow("users: root selected, admin row fixed")
        << "users with root" << Memberships{{1}, {2}, {}} << ""
        << "1- 1 0 0" << Ids{0, 1, 0, 1} << "1- 2 0 2" << Ids{2, 4} << Ids{} << int(Qt::PartiallyChecked)
        << "Будут добавлены в 2 группы: 3 пользователя";
}

// The boxes start from the selection, cycle as the administrator clicks them, and only what
// changed comes back.
void TestBulkEditDialogs::changes() {
    QFETCH(QString, kind);
    QFETCH(Memberships, members);
    QFETCH(QString, forAll);
    QFETCH(Ids, clicks);
    std::unique_ptr<QDialog> dialog;
    if (kind == QLatin1String("devices")) {
        QVector<DeviceInfo> devices;
        for (int i = 0; i < members.size(); ++i)
            devices << DeviceInfo{10 + i, quint64(i + 1), QString(), members.at(i), forAll.at(i) == '1'};
        dialog.reset(new DevicesBulkEditDialog(nullptr, devices, groups, 1));
    } else {
        QVector<UserInfo> users;
        const int first = kind.endsWith(QLatin1String("root")) ? 1 : 2;
        for (int i = 0; i < members.size(); ++i)
            users << UserInfo{first + i, QStringLiteral("u%1").arg(i), QByteArray(), members.at(i)};
        dialog.reset(new UsersBulkEditDialog(nullptr, users, groups, 1));
    }
    QVERIFY(showDialog(dialog.get()));
    auto* view = child<QListView>(dialog.get(), "groupsView");
    QTEST(states(view), "start");
    QCOMPARE(view->model()->index(0, 0).data().toString(), QStringLiteral("Администратор"));
    for (int row = 0; row < clicks.size(); ++row) {
        for (int i = 0; i < clicks.at(row); ++i) {
            if (row < view->model()->rowCount())
                toggleRow(view, row);
            else
                child<QCheckBox>(dialog.get(), "forAllCheck")->click();
        }
    }
    QTEST(states(view), "after");
    QTEST(child<QLabel>(dialog.get(), "summaryLabel")->text(), "summary");
    pressOk(dialog.get(), QString());
    if (auto* devices = qobject_cast<DevicesBulkEditDialog*>(dialog.get())) {
        QTEST(devices->addGroupIds(), "add");
        QTEST(devices->removeGroupIds(), "remove");
        QTEST(int(devices->forAll()), "forAllResult");
    } else {
        auto* users = static_cast<UsersBulkEditDialog*>(dialog.get());
        QTEST(users->addGroupIds(), "add");
        QTEST(users->removeGroupIds(), "remove");
    }
}

void TestBulkEditDialogs::summary_data() {
    QTest::addColumn<int>("added");
    QTest::addColumn<int>("removed");
    QTest::addColumn<int>("devices");
    QTest::addColumn<QString>("text");
    QTest::newRow("thousands") << 2 << 1 << 3000
                               << "Будут добавлены в 2 группы, убраны из 1 группы: 3 000 устройств";
    QTest::newRow("21, 11") << 21 << 11 << 100001
                            << "Будут добавлены в 21 группу, убраны из 11 групп: 100 001 устройство";
    QTest::newRow("5, 22") << 5 << 22 << 1234
                           << "Будут добавлены в 5 групп, убраны из 22 групп: 1 234 устройства";
    QTest::newRow("only removed") << 0 << 101 << 12 << "Будут убраны из 101 группы: 12 устройств";
}

void TestBulkEditDialogs::summary() {
    QFETCH(int, added);
    QFETCH(int, removed);
    QFETCH(int, devices);
    QTEST(bulkSummary(added, removed, {},
                      countedText(devices, QStringLiteral("устройство"), QStringLiteral("устройства"),
                                  QStringLiteral("устройств"))),
          "text");
}

QTEST_MAIN(TestBulkEditDialogs)
#include "tst_bulkeditdialogs.moc"
