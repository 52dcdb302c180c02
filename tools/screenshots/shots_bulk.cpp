// The bulk edit dialogs, opened on many of the sample devices and users.

#include "screenshots.h"

#include "db/confighandler.h"
#include "dialogs/devicesbulkeditdialog.h"
#include "dialogs/usersbulkeditdialog.h"

#include <QAbstractItemView>
#include <QCheckBox>

namespace {

// Clicks the check box of the list's row as a user does: the row's next state.
void toggle(QDialog* dialog, int row) {
    auto* view = dialog->findChild<QAbstractItemView*>(QStringLiteral("groupsView"));
    const QModelIndex index = view->model()->index(row, 0);
    const int state = index.data(Qt::CheckStateRole).toInt();
    const bool tristate = view->model()->flags(index).testFlag(Qt::ItemIsUserTristate);
    view->model()->setData(index, tristate ? (state + 1) % 3 : (state == Qt::Checked ? 0 : 2),
                           Qt::CheckStateRole);
}

bool runBulk(ScreenshotContext& c) {
    ConfigHandler* handler = c.handler();
    if (!handler)
        return false;
    const QVector<GroupInfo> groups = handler->getGroups();
    bool ok = true;
    {
        DevicesBulkEditDialog d(nullptr, handler->getDevices(), groups, handler->adminGroupId());
        ok &= c.save(&d, QStringLiteral("devices-bulk"));
        toggle(&d, 1);
        toggle(&d, 2);
        toggle(&d, 2);
        d.findChild<QCheckBox*>(QStringLiteral("forAllCheck"))->click();
        ok &= c.save(&d, QStringLiteral("devices-bulk-changed"));
    }
    {
        UsersBulkEditDialog d(nullptr, handler->getUsers(), groups, handler->adminGroupId());
        toggle(&d, 1);
        ok &= c.save(&d, QStringLiteral("users-bulk"));
    }
    return ok;
}

} // namespace

ORB_SCREENSHOT_SECTION("bulk", runBulk);
