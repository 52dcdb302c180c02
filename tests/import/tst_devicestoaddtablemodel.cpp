#include "import/devicestoaddtablemodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

static QVector<DeviceInfo> sample() {
    QVector<DeviceInfo> list;
    for (int i = 0; i < 3; ++i)
        list << DeviceInfo{
            10 + i, 100000000000001ULL + quint64(i), QStringLiteral("Машина %1").arg(i), {i}, i == 1};
    return list;
}

class TestDevicesToAddTableModel : public QObject {
    Q_OBJECT

private slots:
    void checkedDevicesFollowTheCheckBoxes() {
        DevicesToAddTableModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setDevices(sample());
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        for (const int row : {2, 0, 1})
            QVERIFY(model.setData(model.index(row, 0), Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(changed.count(), 3);
        QVERIFY(model.setData(model.index(1, 0), Qt::PartiallyChecked, Qt::CheckStateRole));
        QVERIFY(!model.setData(model.index(5, 0), Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(model.checkedDevices(), (QVector<DeviceInfo>{sample().at(0), sample().at(2)}));
        // New devices start unchecked.
        model.setDevices(sample().mid(1));
        QCOMPARE(model.rowCount(), 2);
        QVERIFY(model.checkedDevices().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDevicesToAddTableModel)
#include "tst_devicestoaddtablemodel.moc"
