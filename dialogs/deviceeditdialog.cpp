#include "dialogs/deviceeditdialog.h"
#include "ui_deviceeditdialog.h"

#include "db/confighandler.h"
#include "dialogs/checkablelist.h"

#include <QCompleter>
#include <QRegExpValidator>
#include <QStringListModel>

DeviceEditDialog::DeviceEditDialog(QWidget* parent, ConfigHandler* handler, const DeviceInfo& device)
    : GroupPickDialog(parent, handler, true)
    , ui(new Ui::DeviceEditDialog)
    , completer(nullptr)
    , device(device) {
    ui->setupUi(this);
    ui->imeiEdit->setValidator(new QRegExpValidator(
        QRegExp(QStringLiteral("[0-9]*"), Qt::CaseSensitive, QRegExp::RegExp), ui->imeiEdit));
    completer = new QCompleter(this);
    ui->imeiEdit->setCompleter(completer);

    attachGroupsList(ui->groupsView);

    if (device.imei != 0) {
        setWindowTitle(QStringLiteral("Редактирование устройства"));
        setTextWhole(ui->imeiEdit, imeiText(device.imei));
        setTextWhole(ui->nameEdit, device.name);
        groupsModel->applyIds(device.groups);
        ui->forAllCheck->setChecked(device.forAll);
    }
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &DeviceEditDialog::onAccept);
}

DeviceEditDialog::~DeviceEditDialog() {
    delete ui;
}

void DeviceEditDialog::setCompleterList(const QStringList& list) {
    if (!completerModel) {
        completerModel = new QStringListModel(list, completer);
        completer->setModel(completerModel);
    } else {
        completerModel->setStringList(list);
    }
}

DeviceInfo DeviceEditDialog::getDeviceInfo() const {
    return device;
}

void DeviceEditDialog::on_forAllCheck_stateChanged(int arg1) {
    Q_UNUSED(arg1)
    ui->groupsView->setEnabled(!ui->forAllCheck->isChecked());
}

void DeviceEditDialog::onAccept() {
    const QString imei = ui->imeiEdit->text();
    // A stored IMEI of another length may be kept as it is, but not typed anew.
    const bool unchangedStored = device.imei != 0 && imei == imeiText(device.imei);
    if (imei.length() != 15 && !unchangedStored) {
        showError(QStringLiteral("Введите IMEI устройства (15 цифр)!"));
        return;
    }
    device.imei = imei.toULongLong(nullptr, 10);
    device.name = ui->nameEdit->text();
    device.forAll = ui->forAllCheck->isChecked();
    // Every device stays in the administrators' group, listed once and first.
    const int adminId = handler->adminGroupId();
    device.groups.clear();
    if (adminId > 0)
        device.groups << adminId;
    const QVector<int> checked = groupsModel->checkedIds();
    for (int id : checked) {
        if (id != adminId)
            device.groups << id;
    }
    accept();
}
