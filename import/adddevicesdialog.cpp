#include "import/adddevicesdialog.h"
#include "ui_adddevicesdialog.h"

#include "core/schema.h"
#include "db/confighandler.h"
#include "dialogs/checkablelist.h"
#include "dialogs/groupeditdialog.h"
#include "import/devicesfileparser.h"
#include "import/devicestoaddproxy.h"
#include "import/devicestoaddtablemodel.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QSet>

#include <algorithm>
#include <utility>

namespace {

// Counts as the main window writes them: "12 345".
QString count(int n) {
    return QLocale(QLocale::Russian, QLocale::Russia).toString(n);
}

} // namespace

AddDevicesDialog::AddDevicesDialog(QWidget* parent, ConfigHandler* handler, const ShownRecords& shown)
    : QDialog(parent)
    , EditDialog(this)
    , ui(new Ui::AddDevicesDialog)
    , handler(handler)
    , shown(shown)
    , devicesModel(nullptr)
    , groupsModel(nullptr)
    , proxy(nullptr) {
    ui->setupUi(this);
    devicesModel = new DevicesToAddTableModel(this);
    proxy = new DevicesToAddProxy(devicesModel, this);

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
    // New rows first; a header click sorts by its column.
    ui->deviceList->horizontalHeader()->setSortIndicator(DevicesToAddTableModel::StateColumn,
                                                         Qt::AscendingOrder);
    ui->deviceList->setSortingEnabled(true);
    ui->linkLostLabel->hide();
    ui->fileNotesLabel->hide();
    ui->fileGroupsCheck->hide();
    ui->missingGroupsLabel->hide();
    ui->createGroupsButton->hide();
    // room for six-digit counts, so that the dialog does not widen while rows are ticked
    ui->counterLabel->setMinimumWidth(ui->counterLabel->fontMetrics().horizontalAdvance(
        QStringLiteral("Новых: 000 000, уже в базе: 000 000, с ошибкой: 000 000, отмечено: 000 000")));
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

void AddDevicesDialog::setRows(DevicesToAddRows rows) {
    lookupFailed = !rows.storedKnown;
    devicesModel->setRows(std::move(rows));
}

void AddDevicesDialog::setFile(const QString& fileName, const DevicesFileParser& parser,
                               DevicesToAddRows rows) {
    setRows(std::move(rows));
    ui->label->setText(QStringLiteral("Устройства: %1").arg(QFileInfo(fileName).fileName()));
    ui->label->setToolTip(QDir::toNativeSeparators(fileName));
    QStringList notes;
    if (parser.encoding() == QStringLiteral("Windows-1251"))
        notes << QStringLiteral("Файл прочитан в кодировке Windows-1251.");
    skipped = parser.skippedLines();
    if (skipped > 0) {
        notes << QStringLiteral("Строки, которые не начинаются с IMEI, не прочитаны, пропущено строк: %1.")
                     .arg(count(skipped));
        const QVector<NumberedText> sample = parser.skippedSample();
        for (int i = 0; i < sample.size() && i < 3; ++i)
            notes << QStringLiteral("   строка %1: %2").arg(count(sample.at(i).number), sample.at(i).text);
        if (skipped > 3)
            notes << QStringLiteral("   …");
    }
    ui->fileNotesLabel->setText(notes.join(QLatin1Char('\n')));
    ui->fileNotesLabel->setVisible(!notes.isEmpty());

    if (parser.hasGroupColumns()) {
        fileGroups = parser.rowGroups();
        fileForAll = parser.rowForAll();
        ui->fileGroupsCheck->show();
        ui->fileGroupsCheck->setChecked(true);
        matchFileGroups();
    }
}

int AddDevicesDialog::skippedLines() const {
    return skipped;
}

void AddDevicesDialog::matchFileGroups() {
    groupIds.clear();
    const int adminId = handler->adminGroupId();
    for (const GroupInfo& group : qAsConst(shown.groups))
        groupIds.insert(group.name, group.id);
    for (const QString& name : {ADMIN_GROUP_NAME, ADMIN_GROUP_TITLE, ADMIN_MEMBER_TITLE})
        groupIds.insert(name, adminId);
    QSet<QString> missing;
    for (const QStringList& names : qAsConst(fileGroups)) {
        for (const QString& name : names) {
            if (!groupIds.contains(name))
                missing.insert(name);
        }
    }
    missingGroups = missing.values();
    std::sort(missingGroups.begin(), missingGroups.end());
    ui->missingGroupsLabel->setText(
        QStringLiteral("Нет в базе групп из файла (%1): %2")
            .arg(count(missingGroups.size()), missingGroups.join(QStringLiteral(", "))));
    updateGroupsEnabled();
}

bool AddDevicesDialog::fileGroupsUsed() const {
    return !fileGroups.isEmpty() && ui->fileGroupsCheck->isChecked();
}

void AddDevicesDialog::updateGroupsEnabled() {
    ui->groupsList->setEnabled(!ui->forAllCheck->isChecked() && !fileGroupsUsed());
    const bool offer = fileGroupsUsed() && !missingGroups.isEmpty();
    ui->missingGroupsLabel->setVisible(offer);
    ui->createGroupsButton->setVisible(offer);
}

void AddDevicesDialog::on_fileGroupsCheck_toggled(bool checked) {
    Q_UNUSED(checked)
    updateGroupsEnabled();
}

void AddDevicesDialog::on_createGroupsButton_clicked() {
    for (const QString& name : qAsConst(missingGroups)) {
        GroupInfo group{0, name};
        QString error;
        if (!(shown.addGroup && shown.addGroup(group, error))) {
            showError(QStringLiteral("Группа «%1» не создана: %2").arg(name, error));
            break;
        }
        shown.groups.append(group);
        added = true;
    }
    updateGroupsList();
    matchFileGroups();
}

void AddDevicesDialog::setListAge(const QDateTime& received, bool linkLost) {
    ui->label->setText(QStringLiteral("Устройства: список Orb сервера"));
    const QString time = received.toString(QStringLiteral("HH:mm"));
    if (received.isValid())
        setWindowTitle(QStringLiteral("Добавление списка устройств (список сервера от %1)").arg(time));
    linkNote = !linkLost ? QString()
               : received.isValid() ? QStringLiteral("Связь с Orb сервером потеряна, список от %1.").arg(time)
                                    : QStringLiteral("Связь с Orb сервером потеряна, список не получен.");
    updateListNote();
}

void AddDevicesDialog::setListState(OrbServerHandler::ListState state) {
    switch (state) {
    case OrbServerHandler::ListIncomplete:
        stateNote = QStringLiteral("Список сервера неполный: часть его пришла повреждённой. Показано "
                                   "полученное до неё, следующий запрос получит список заново.");
        break;
    case OrbServerHandler::ListDropped:
        stateNote = QStringLiteral("Последний список сервера отброшен: в нём больше %1 устройств.")
                        .arg(count(KalvoMessageParser::MaxListSize));
        break;
    default:
        stateNote.clear();
    }
    updateListNote();
}

void AddDevicesDialog::updateListNote() {
    const QString text = QStringList{linkNote, stateNote}.join(QLatin1Char(' ')).trimmed();
    ui->linkLostLabel->setText(text);
    ui->linkLostLabel->setVisible(!text.isEmpty());
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
    const QVector<int> rows = devicesModel->checkedNewRows();
    const QVector<int> groups = groupsModel->checkedIds();
    const bool forAll = ui->forAllCheck->isChecked();
    const bool fromFile = fileGroupsUsed();
    const int adminId = handler->adminGroupId();
    QVector<DeviceInfo> devices;
    devices.reserve(rows.size());
    for (const int row : rows) {
        DeviceInfo device = devicesModel->deviceAt(row);
        device.forAll = forAll;
        device.groups = groups;
        if (fromFile) {
            // the file's groups that are stored, behind the administrators' group
            device.groups = {adminId};
            for (const QString& name : fileGroups.at(row)) {
                const int id = groupIds.value(name, 0);
                if (id > 0 && !device.groups.contains(id))
                    device.groups.append(id);
            }
            if (fileForAll.value(row, -1) >= 0)
                device.forAll = fileForAll.at(row) == 1;
        }
        devices.append(device);
    }
    return devices;
}

bool AddDevicesDialog::groupAdded() const {
    return added;
}

void AddDevicesDialog::onAccept() {}

void AddDevicesDialog::updateGroupsList() {
    groupsModel->fillGroups(shown.groups, handler->adminGroupId(), true);
}

void AddDevicesDialog::on_addNewGroup_clicked() {
    GroupInfo group;
    if (GroupEditDialog::addNewGroup(this, handler, shown, this, &group)) {
        added = true;
        shown.groups.append(group);
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
    updateGroupsEnabled();
}

void AddDevicesDialog::on_deviceFilter_textEdited(const QString& arg1) {
    proxy->setFilterText(arg1);
}

void AddDevicesDialog::on_groupsForStoredCheck_toggled(bool checked) {
    devicesModel->setStoredTickable(checked);
}

void AddDevicesDialog::updateCounter() {
    QString text = QStringLiteral("Новых: %1, уже в базе: %2, с ошибкой: %3, отмечено: %4")
                       .arg(count(devicesModel->stateCount(DeviceToAddRow::New)),
                            count(devicesModel->stateCount(DeviceToAddRow::Stored)),
                            count(devicesModel->stateCount(DeviceToAddRow::Repeated) +
                                  devicesModel->stateCount(DeviceToAddRow::InvalidImei)),
                            count(devicesModel->checkedCount()));
    if (lookupFailed)
        text += QStringLiteral(" (база не проверена)");
    ui->counterLabel->setText(text);
}
