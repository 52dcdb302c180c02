#include "dialogs/deviceeditdialog.h"
#include "ui_deviceeditdialog.h"

#include "db/confighandler.h"
#include "dialogs/checkablelist.h"

#include <QCompleter>
#include <QMessageBox>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStringListModel>

#include <algorithm>

DeviceEditDialog::DeviceEditDialog(QWidget* parent, ConfigHandler* handler, const DeviceInfo& device,
                                   const ShownRecords& shown)
    : GroupPickDialog(parent, handler, true, shown)
    , ui(new Ui::DeviceEditDialog)
    , completer(nullptr)
    , device(device) {
    ui->setupUi(this);
    ui->imeiEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), ui->imeiEdit));
    completer = new QCompleter(this);
    ui->imeiEdit->setCompleter(completer);

    attachGroupsList(ui->groupsView);

    if (device.id > 0)
        setWindowTitle(QStringLiteral("Редактирование устройства"));
    if (device.imei != 0)
        setTextWhole(ui->imeiEdit, imeiText(device.imei));
    setTextWhole(ui->nameEdit, device.name);
    // A new device without groups keeps the defaults: the administrators' row checked.
    if (device.id > 0 || !device.groups.isEmpty())
        groupsModel->applyIds(device.groups);
    ui->forAllCheck->setChecked(device.forAll);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &DeviceEditDialog::onAccept);
}

DeviceEditDialog::~DeviceEditDialog() {
    delete ui;
}

namespace {
// The line edit takes a completion without its validator and cuts it at its length limit.
const QRegularExpression imeiPattern(QStringLiteral("^[0-9]{15}$"));
} // namespace

void DeviceEditDialog::setCompleterList(const QStringList& list) {
    QStringList imeis = list.filter(imeiPattern);
    std::sort(imeis.begin(), imeis.end());
    setCompleterImeis(imeis);
}

void DeviceEditDialog::setCompleterImeis(const QStringList& imeis) {
    // sorted: a keystroke finds its completions without going through millions of them
    completer->setModelSorting(QCompleter::CaseSensitivelySortedModel);
    if (!completerModel) {
        completerModel = new QStringListModel(imeis, completer);
        completer->setModel(completerModel);
    } else {
        completerModel->setStringList(imeis);
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
    // A completion skips the validator, so the whole text is checked here.
    const quint64 value = imei.toULongLong(nullptr, 10);
    if (!imeiPattern.match(imei).hasMatch() || value == 0) {
        showError(QStringLiteral("Введите IMEI устройства (15 цифр)!"));
        return;
    }
    // An IMEI the server reports is real, whatever its check digit.
    const QStringList offered = completerModel ? completerModel->stringList() : QStringList();
    const bool known = std::binary_search(offered.cbegin(), offered.cend(), imei);
    if (value != device.imei && !imeiCheckDigitOk(value) && value != warnedImei && !known) {
        warnedImei = value;
        QMessageBox::warning(
            this, QStringLiteral("Проверьте IMEI"),
            QStringLiteral("Последняя цифра IMEI %1 не совпадает с контрольной: возможно, в нём "
                           "опечатка.\nЕсли IMEI верный, нажмите OK ещё раз.")
                .arg(imei));
        return;
    }
    device.imei = value;
    device.name = ui->nameEdit->text().trimmed();
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
