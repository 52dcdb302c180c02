#include "import/adddevicesdialog.h"
#include "ui_adddevicesdialog.h"

#include "db/confighandler.h"
#include "dialogs/checkablelist.h"
#include "import/devicestoaddtablemodel.h"

#include <QHeaderView>
#include <QSortFilterProxyModel>

namespace {

// Shows the rows whose IMEI or name contains the filter text, case-sensitively. A new text
// resets the view once instead of removing and inserting rows range by range, which takes
// seconds with 100,000 rows scattered over thousands of ranges.
class DeviceFilterProxyModel : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setFilterText(const QString& text) {
        if (text == filterText)
            return;
        beginResetModel();
        filterText = text;
        endResetModel();
    }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override {
        if (filterText.isEmpty())
            return true;
        const QAbstractItemModel* source = sourceModel();
        for (int column = 0; column < source->columnCount(sourceParent); ++column) {
            const QString text = source->index(sourceRow, column, sourceParent).data(filterRole()).toString();
            if (text.contains(filterText, Qt::CaseSensitive))
                return true;
        }
        return false;
    }

private:
    QString filterText;
};

} // namespace

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
    proxy = new DeviceFilterProxyModel(this);
    proxy->setSourceModel(devicesModel);
    proxy->setFilterKeyColumn(-1);
    // Check marks never change which rows the filter shows.
    proxy->setDynamicSortFilter(false);

    ui->deviceList->setModel(proxy);
    ui->deviceList->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->deviceList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    QHeaderView* rowsHeader = ui->deviceList->verticalHeader();
    rowsHeader->setDefaultSectionSize(rowsHeader->minimumSectionSize());
    ui->deviceList->setColumnWidth(0, 20);
    ui->deviceList->setColumnWidth(
        1, ui->deviceList->fontMetrics().horizontalAdvance(QStringLiteral("повтор в списке")) + 16);
    // A title wider than its column is cut at its end rather than at both.
    ui->deviceList->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Whole IMEIs: the default width shows only their first digits.
    ui->deviceList->setColumnWidth(
        2, ui->deviceList->fontMetrics().horizontalAdvance(QStringLiteral("000000000000000")) + 10);
    ui->linkLostLabel->hide();
    // room for six-digit counts, so that the dialog does not widen while rows are ticked
    ui->counterLabel->setMinimumWidth(ui->counterLabel->fontMetrics().horizontalAdvance(
        QStringLiteral("Новых: 000000, уже в базе: 000000, с ошибкой: 000000, отмечено: 000000")));
    connect(devicesModel, &QAbstractItemModel::dataChanged, this, &AddDevicesDialog::updateCounter);
    connect(devicesModel, &QAbstractItemModel::modelReset, this, &AddDevicesDialog::updateCounter);

    groupsModel = new CheckableIdList(this);
    groupsModel->attach(ui->groupsList);
    updateGroupsList();
    updateCounter();
}

AddDevicesDialog::~AddDevicesDialog() {
    delete ui;
}

void AddDevicesDialog::setDevices(const QVector<DeviceInfo>& devices, const QVector<int>& wrongLength) {
    QVector<quint64> imeis;
    imeis.reserve(devices.size());
    for (const DeviceInfo& device : devices)
        imeis.append(device.imei);
    bool ok = true;
    const auto stored = handler->storedDevices(imeis, &ok);
    lookupFailed = !ok;
    devicesModel->setDevices(devices, stored, wrongLength);
}

void AddDevicesDialog::setListAge(const QDateTime& received, bool linkLost) {
    const QString time = received.toString(QStringLiteral("HH:mm"));
    if (received.isValid())
        setWindowTitle(QStringLiteral("Добавление списка устройств (список сервера от %1)").arg(time));
    ui->linkLostLabel->setText(received.isValid()
                                   ? QStringLiteral("Связь с Orb сервером потеряна, список от %1").arg(time)
                                   : QStringLiteral("Связь с Orb сервером потеряна, список не получен"));
    ui->linkLostLabel->setVisible(linkLost);
}

QVector<int> AddDevicesDialog::selectedStoredIds() const {
    return ui->groupsForStoredCheck->isChecked() ? devicesModel->checkedStoredIds() : QVector<int>();
}

QVector<int> AddDevicesDialog::selectedGroups() const {
    return groupsModel->checkedIds();
}

int AddDevicesDialog::storedCount() const {
    return devicesModel->stateCount(DeviceToAddRow::Stored);
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

bool AddDevicesDialog::groupAdded() const {
    return added;
}

void AddDevicesDialog::onAccept() {}

void AddDevicesDialog::updateGroupsList() {
    groupsModel->fillGroups(handler, true);
}

void AddDevicesDialog::on_addNewGroup_clicked() {
    if (CheckableIdList::addNewGroup(this, handler, this)) {
        added = true;
        updateGroupsList();
    }
}

void AddDevicesDialog::checkShownDevices(bool checked) {
    const int shown = proxy->rowCount();
    if (shown == devicesModel->rowCount()) {
        devicesModel->setAllChecked(checked);
        return;
    }
    QVector<int> rows;
    rows.reserve(shown);
    for (int row = 0; row < shown; ++row)
        rows << proxy->mapToSource(proxy->index(row, 0)).row();
    devicesModel->setRowsChecked(rows, checked);
}

void AddDevicesDialog::on_checkAllDevs_clicked() {
    checkShownDevices(true);
}

void AddDevicesDialog::on_uncheckAllDevs_clicked() {
    checkShownDevices(false);
}

void AddDevicesDialog::on_forAllCheck_stateChanged(int arg1) {
    Q_UNUSED(arg1)
    ui->groupsList->setEnabled(!ui->forAllCheck->isChecked());
}

void AddDevicesDialog::on_deviceFilter_textEdited(const QString& arg1) {
    static_cast<DeviceFilterProxyModel*>(proxy)->setFilterText(arg1);
}

void AddDevicesDialog::on_groupsForStoredCheck_toggled(bool checked) {
    devicesModel->setStoredTickable(checked);
}

void AddDevicesDialog::updateCounter() {
    QString text = QStringLiteral("Новых: %1, уже в базе: %2, с ошибкой: %3, отмечено: %4")
                       .arg(devicesModel->stateCount(DeviceToAddRow::New))
                       .arg(devicesModel->stateCount(DeviceToAddRow::Stored))
                       .arg(devicesModel->stateCount(DeviceToAddRow::Repeated) +
                            devicesModel->stateCount(DeviceToAddRow::InvalidImei))
                       .arg(devicesModel->checkedCount());
    if (lookupFailed)
        text += QStringLiteral(" (база не проверена)");
    ui->counterLabel->setText(text);
}
