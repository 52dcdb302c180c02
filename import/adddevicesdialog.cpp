#include "import/adddevicesdialog.h"
#include "ui_adddevicesdialog.h"

#include "db/confighandler.h"
#include "dialogs/checkablelist.h"
#include "import/devicestoaddtablemodel.h"

#include <QHeaderView>
#include <QSortFilterProxyModel>

AddDevicesDialog::AddDevicesDialog(QWidget* parent, ConfigHandler* handler)
    : QDialog(parent)
    , EditDialog(this)
    , ui(new Ui::AddDevicesDialog)
    , handler(handler)
    , devicesModel(nullptr)
    , groupsModel(nullptr)
    , proxy(nullptr) {
    ui->setupUi(this);
    devicesModel = new DevicesToAddTableModel(this);
    proxy = new QSortFilterProxyModel(this);
    proxy->setSourceModel(devicesModel);
    proxy->setFilterKeyColumn(-1);

    ui->deviceList->setModel(proxy);
    ui->deviceList->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->deviceList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    QHeaderView* rowsHeader = ui->deviceList->verticalHeader();
    rowsHeader->setDefaultSectionSize(rowsHeader->minimumSectionSize());
    ui->deviceList->setColumnWidth(0, 20);

    groupsModel = new CheckableIdList(this);
    groupsModel->attach(ui->groupsList);
    updateGroupsList();
}

AddDevicesDialog::~AddDevicesDialog() {
    delete ui;
}

void AddDevicesDialog::setDevices(const QVector<DeviceInfo>& devices) {
    devicesModel->setDevices(devices);
}

QVector<DeviceInfo> AddDevicesDialog::selectedDevices() const {
    QVector<DeviceInfo> devices = devicesModel->checkedDevices();
    const QVector<int> groups = groupsModel->checkedIds();
    const bool forAll = ui->forAllCheck->isChecked();
    for (DeviceInfo& device : devices) {
        device.forAll = forAll;
        device.groups = groups;
    }
    return devices;
}

void AddDevicesDialog::onAccept() {}

void AddDevicesDialog::updateGroupsList() {
    groupsModel->fillGroups(handler, true);
}

void AddDevicesDialog::on_addNewGroup_clicked() {
    if (CheckableIdList::addNewGroup(this, handler, this))
        updateGroupsList();
}

void AddDevicesDialog::on_checkAllDevs_clicked() {
    devicesModel->setAllChecked(true);
}

void AddDevicesDialog::on_uncheckAllDevs_clicked() {
    devicesModel->setAllChecked(false);
}

void AddDevicesDialog::on_forAllCheck_stateChanged(int arg1) {
    Q_UNUSED(arg1)
    ui->groupsList->setEnabled(!ui->forAllCheck->isChecked());
}

void AddDevicesDialog::on_deviceFilter_textEdited(const QString& arg1) {
    proxy->setFilterFixedString(arg1);
}
