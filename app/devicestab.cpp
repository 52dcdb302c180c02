#include "app/devicestab.h"

#include "app/groupstab.h"
#include "core/aside.h"
#include "dialogs/deviceeditdialog.h"
#include "dialogs/devicesbulkeditdialog.h"
#include "link/orbserverhandler.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace {

// The server's IMEIs as the device dialog offers them: 15 digits, leading zeros kept, ascending.
QStringList imeiCompletions(const QVector<DeviceInfo>& devices) {
    constexpr quint64 largestImei = 999999999999999ULL;
    QVector<quint64> imeis;
    imeis.reserve(devices.size());
    for (const DeviceInfo& device : devices) {
        if (device.imei > 0 && device.imei <= largestImei)
            imeis << device.imei;
    }
    // with leading zeros the texts sort as the numbers do
    std::sort(imeis.begin(), imeis.end());
    QStringList texts;
    texts.reserve(imeis.size());
    for (const quint64 imei : qAsConst(imeis))
        texts << imeiText(imei);
    return texts;
}

} // namespace

DevicesTab::DevicesTab(TabContext* context, QTableView* view, DevicesTableModel* model,
                       const TabButtons& buttons, GroupsTab* groups, OrbServerHandler* server)
    : RecordTab(context, view, model, buttons,
                {QStringLiteral("Удаление устройств"),
                 QStringLiteral("Вы действительно хотить удалить из базы выбранные устройства (%1 шт.)?"),
                 QString(), nullptr})
    , groups(groups)
    , server(server) {
    connect(server, &OrbServerHandler::hostStateUpdated, this, &DevicesTab::followServerList);
}

void DevicesTab::followServerList() {
    const QDateTime received = server->devicesReceived();
    if (received == completionsOf)
        return;
    completionsOf = received;
    const auto made = std::make_shared<QStringList>();
    Aside::shared().run(
        this, [devices = server->devices(), made] { *made = imeiCompletions(devices); },
        [this, made, received] {
            if (received != completionsOf)
                return;
            // millions of texts are freed aside too
            Aside::shared().run([old = std::exchange(completions, std::move(*made))] {});
        });
}

// A refused change opens the dialog again with what was entered. A stored device is changed
// against the record the dialog showed (`seen`), so that what others changed meanwhile stays.
void DevicesTab::edit(const DeviceInfo& device) {
    ConfigHandler* db = context->db();
    DeviceInfo seen = device;
    DeviceInfo entered = device;
    bool changed = false;
    bool ask = true;
    for (;;) {
        if (ask) {
            DeviceEditDialog dialog(context->window(), db, entered, context->shownRecords());
            dialog.setCompleterImeis(completions);
            const bool accepted = dialog.exec() == QDialog::Accepted;
            changed |= dialog.groupAdded();
            if (!accepted)
                break;
            entered = dialog.getDeviceInfo();
            if (device.id > 0 && sameRecord(entered, seen))
                break;
        }
        ask = true;
        const int id = device.id;
        const EditStep step = storeEdit(
            id, seen, changed,
            [id, seen, entered](ConfigHandler& db) {
                Stored stored;
                stored.ok = id == 0 ? db.addDevice(entered, stored.error, stored.id)
                                    : db.updateDevice(seen, entered, stored.error);
                return stored;
            },
            [id](ConfigHandler& db) { return db.getDevicesByIds({id}); });
        if (step == EditStep::Stored || step == EditStep::Quit)
            return;
        changed = true;
        if (step == EditStep::Close)
            break;
        if (step == EditStep::TakeStored)
            entered = seen;
        else if (step == EditStep::Overwrite)
            ask = false;
    }
    if (changed)
        context->groupsChanged();
}

bool DevicesTab::changeMany(const QVector<DeviceInfo>& devices) {
    changeInBulk<DevicesBulkEditDialog>(
        devices, [](const DevicesBulkEditDialog& dialog) { return dialog.forAll() != Qt::PartiallyChecked; },
        [](const DevicesBulkEditDialog& dialog, const QVector<int>& ids, const QVector<int>& add,
           const QVector<int>& remove) {
            const Qt::CheckState forAll = dialog.forAll();
            return [=](ConfigHandler& db) {
                return db.asOneChange([&] {
                    return db.changeDevicesGroups(ids, add, remove) &&
                           (forAll == Qt::PartiallyChecked ||
                            db.setDevicesForAll(ids, forAll == Qt::Checked));
                });
            };
        });
    return true;
}

std::function<int(ConfigHandler&)> DevicesTab::deleting(const QVector<int>& ids) const {
    return [ids](ConfigHandler& db) {
        return db.deleteDevices(ids);
    };
}

// The rows of these devices read back and put in place (gone ones removed), the group counts
// moved with them.
void DevicesTab::show(const QVector<int>& ids, bool deleted) {
    DbError why;
    std::optional<RowsRead<DeviceInfo>> now = RowsRead<DeviceInfo>{{}, true};
    if (!deleted) {
        now = context->aside(std::function<RowsRead<DeviceInfo>(ConfigHandler&)>([ids](ConfigHandler& db) {
                                 RowsRead<DeviceInfo> rows;
                                 rows.rows = db.getDevicesByIds(ids, &rows.read);
                                 return rows;
                             }),
                             &why);
    }
    if (!now)
        return;
    const std::optional<ReadBack> change = putInPlace(ids, now->rows, now->read, why);
    if (!change)
        return;
    groups->tableModel()->addToCounts({}, change->counts, change->added);
    context->shown();
}
