#include "import/devicestoaddtablemodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

namespace {

QVector<DeviceInfo> sample() {
    QVector<DeviceInfo> list;
    for (int i = 0; i < 3; ++i)
        list << DeviceInfo{
            10 + i, 100000000000001ULL + quint64(i), QStringLiteral("Машина %1").arg(i), {i}, i == 1};
    return list;
}

} // namespace

class TestDevicesToAddTableModel : public QObject {
    Q_OBJECT

private slots:
    void init() {
        model.reset(new DevicesToAddTableModel);
        tester.reset(new QAbstractItemModelTester(model.data(),
                                                  QAbstractItemModelTester::FailureReportingMode::QtTest));
        model->setDevices(sample());
    }

    void rowsShowTheDevicesUnchecked() {
        QCOMPARE(model->rowCount(), 3);
        for (int row = 0; row < 3; ++row) {
            const DeviceInfo d = sample().at(row);
            QCOMPARE(model->index(row, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
            QCOMPARE(model->index(row, 1).data().toULongLong(), d.imei);
            QCOMPARE(model->index(row, 2).data().toString(), d.name);
            for (int column = 0; column < 3; ++column)
                QCOMPARE(qvariant_cast<DeviceInfo>(model->index(row, column).data(RecordRole)), d);
            QCOMPARE(model->headerData(row, Qt::Vertical).toInt(), row + 1);
        }
        QVERIFY(model->flags(model->index(0, 0)).testFlag(Qt::ItemIsUserCheckable));
        QVERIFY(!model->flags(model->index(0, 1)).testFlag(Qt::ItemIsUserCheckable));
        QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("IMEI устройства"));
        QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Имя устройства"));
    }

    void checkedDevicesFollowTheCheckBoxes() {
        QSignalSpy changed(model.data(), &QAbstractItemModel::dataChanged);
        QVERIFY(model->setData(model->index(2, 0), Qt::Checked, Qt::CheckStateRole));
        QVERIFY(model->setData(model->index(0, 0), Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(changed.count(), 2);
        QCOMPARE(model->checkedDevices(), (QVector<DeviceInfo>{sample().at(0), sample().at(2)}));
        QVERIFY(model->setData(model->index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
        QVERIFY(model->setData(model->index(2, 0), Qt::PartiallyChecked, Qt::CheckStateRole));
        QVERIFY(model->checkedDevices().isEmpty());
        QVERIFY(!model->setData(model->index(5, 0), Qt::Checked, Qt::CheckStateRole));

        model->setAllChecked(true);
        QCOMPARE(model->checkedDevices(), sample());
        // New devices start unchecked.
        model->setDevices(sample().mid(1));
        QCOMPARE(model->rowCount(), 2);
        QVERIFY(model->checkedDevices().isEmpty());
    }

private:
    QScopedPointer<DevicesToAddTableModel> model;
    QScopedPointer<QAbstractItemModelTester> tester;
};

QTEST_GUILESS_MAIN(TestDevicesToAddTableModel)
#include "tst_devicestoaddtablemodel.moc"
