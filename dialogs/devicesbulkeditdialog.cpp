#include "dialogs/devicesbulkeditdialog.h"
#include "ui_devicesbulkeditdialog.h"

#include "dialogs/bulkgrouplist.h"

#include <algorithm>

DevicesBulkEditDialog::DevicesBulkEditDialog(QWidget* parent, const QVector<DeviceInfo>& devices,
                                             const QVector<GroupInfo>& groups, int adminGroupId)
    : QDialog(parent)
    , EditDialog(this)
    , ui(new Ui::DevicesBulkEditDialog)
    , groupsModel(new BulkGroupList(this))
    , count(devices.size()) {
    const int forAllCount =
        int(std::count_if(devices.cbegin(), devices.cend(), [](const DeviceInfo& d) { return d.forAll; }));
    forAllStart = forAllCount == 0       ? Qt::Unchecked
                  : forAllCount == count ? Qt::Checked
                                         : Qt::PartiallyChecked;
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Изменение устройств (%1)").arg(spacedNumber(count)));
    groupsModel->attach(ui->groupsView);
    groupsModel->fill(groups, BulkGroupList::memberCounts(devices), count, adminGroupId,
                      BulkGroupList::AdminRow::NotRemovable);
    ui->forAllCheck->setTristate(forAllStart == Qt::PartiallyChecked);
    ui->forAllCheck->setCheckState(forAllStart);
    connect(groupsModel, &QAbstractItemModel::dataChanged, this, &DevicesBulkEditDialog::updateSummary);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &DevicesBulkEditDialog::onAccept);
    updateSummary();
}

DevicesBulkEditDialog::~DevicesBulkEditDialog() {
    delete ui;
}

QVector<int> DevicesBulkEditDialog::addGroupIds() const {
    return groupsModel->addedIds();
}

QVector<int> DevicesBulkEditDialog::removeGroupIds() const {
    return groupsModel->removedIds();
}

Qt::CheckState DevicesBulkEditDialog::forAll() const {
    const Qt::CheckState now = ui->forAllCheck->checkState();
    return now == forAllStart ? Qt::PartiallyChecked : now;
}

void DevicesBulkEditDialog::onAccept() {
    accept();
}

void DevicesBulkEditDialog::on_forAllCheck_stateChanged(int arg1) {
    Q_UNUSED(arg1)
    updateSummary();
}

void DevicesBulkEditDialog::updateSummary() {
    QStringList more;
    if (forAll() == Qt::Checked)
        more << QStringLiteral("доступны для всех");
    else if (forAll() == Qt::Unchecked)
        more << QStringLiteral("доступны только своим группам");
    ui->summaryLabel->setText(
        bulkSummary(groupsModel->addedIds().size(), groupsModel->removedIds().size(), more,
                    countedText(count, QStringLiteral("устройство"), QStringLiteral("устройства"),
                                QStringLiteral("устройств"))));
}
