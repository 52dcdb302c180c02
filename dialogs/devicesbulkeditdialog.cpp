#include "dialogs/devicesbulkeditdialog.h"
#include "ui_devicesbulkeditdialog.h"

#include <algorithm>

DevicesBulkEditDialog::DevicesBulkEditDialog(QWidget* parent, const QVector<DeviceInfo>& devices,
                                             const QVector<GroupInfo>& groups, int adminGroupId)
    : BulkEditDialog(
          parent, devices.size(),
          {QStringLiteral("устройство"), QStringLiteral("устройства"), QStringLiteral("устройств")})
    , ui(new Ui::DevicesBulkEditDialog) {
    const int forAllCount =
        int(std::count_if(devices.cbegin(), devices.cend(), [](const DeviceInfo& d) { return d.forAll; }));
    forAllStart = forAllCount == 0       ? Qt::Unchecked
                  : forAllCount == count ? Qt::Checked
                                         : Qt::PartiallyChecked;
    ui->setupUi(this);
    ui->forAllCheck->setTristate(forAllStart == Qt::PartiallyChecked);
    ui->forAllCheck->setCheckState(forAllStart);
    setUp(QStringLiteral("Изменение устройств (%1)"), ui->groupsView, ui->summaryLabel, ui->buttonBox, groups,
          BulkGroupList::memberCounts(devices), adminGroupId, BulkGroupList::AdminRow::NotRemovable);
}

DevicesBulkEditDialog::~DevicesBulkEditDialog() {
    delete ui;
}

Qt::CheckState DevicesBulkEditDialog::forAll() const {
    const Qt::CheckState now = ui->forAllCheck->checkState();
    return now == forAllStart ? Qt::PartiallyChecked : now;
}

void DevicesBulkEditDialog::on_forAllCheck_stateChanged(int arg1) {
    Q_UNUSED(arg1)
    updateSummary();
}

QStringList DevicesBulkEditDialog::otherChanges() const {
    if (forAll() == Qt::Checked)
        return {QStringLiteral("доступны для всех")};
    if (forAll() == Qt::Unchecked)
        return {QStringLiteral("доступны только своим группам")};
    return {};
}
