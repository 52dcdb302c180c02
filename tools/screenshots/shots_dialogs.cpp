// The edit dialogs and the add devices dialog.

#include "screenshots.h"

#include "core/qtcompat.h"
#include "db/confighandler.h"
#include "dialogs/deviceeditdialog.h"
#include "dialogs/groupeditdialog.h"
#include "dialogs/passwordedit.h"
#include "dialogs/registrationdialog.h"
#include "import/adddevicesdialog.h"
#include "import/devicesfileparser.h"
#include "import/devicesimport.h"
#include "import/exportdevicesdialog.h"
#include "models/devicestablemodel.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

namespace {

template <class T = QWidget>
T* part(QWidget* parent, const char* name) {
    return parent->findChild<T*>(QString::fromLatin1(name));
}

void check(QAbstractItemView* view, int row) {
    QAbstractItemModel* m = view->model();
    m->setData(m->index(row, 0), Qt::Checked, Qt::CheckStateRole);
}

// Presses OK and writes the error box that it opens as <name>.png.
bool saveErrorBox(ScreenshotContext& c, QDialog* dialog, const QString& name) {
    bool saved = false;
    onNextModal([&c, &name, &saved](QWidget* box) {
        saved = c.save(box, name);
        box->close();
    });
    part<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Ok)->click();
    return saved;
}

int groupId(ConfigHandler* handler, const QString& name) {
    return handler->getGroupId(name);
}

ShownRecords stored(ConfigHandler* handler) {
    return {handler->getGroups(), handler->getUsers()};
}

// looked up as the window does, on a connection of its own
DevicesImport::StoredDevices storedAmong(ConfigHandler* handler, const QVector<DeviceInfo>& devices) {
    QVector<quint64> imeis;
    for (const DeviceInfo& device : devices)
        imeis << device.imei;
    return DevicesImport::lookUpStoredNow(handler->connectionSettings(), imeis);
}

bool groupDialogs(ScreenshotContext& c) {
    bool ok = true;
    {
        GroupEditDialog d(nullptr, c.handler(), GroupInfo(), c.handler()->getUsers());
        ok &= c.save(&d, QStringLiteral("group-add"));
        ok &= saveErrorBox(c, &d, QStringLiteral("group-add-error"));
    }
    {
        const GroupInfo g{groupId(c.handler(), QStringLiteral("Диспетчеры")), QStringLiteral("Диспетчеры")};
        GroupEditDialog d(nullptr, c.handler(), g, c.handler()->getUsers());
        ok &= c.save(&d, QStringLiteral("group-edit"));
    }
    {
        GroupEditDialog d(nullptr, c.handler(),
                          GroupInfo{c.handler()->adminGroupId(), QStringLiteral("Admin")},
                          c.handler()->getUsers());
        ok &= c.save(&d, QStringLiteral("group-edit-admin"));
    }
    return ok;
}

bool deviceDialogs(ScreenshotContext& c) {
    bool ok = true;
    {
        DeviceEditDialog d(nullptr, c.handler(), DeviceInfo(), stored(c.handler()));
        d.setCompleterList({QStringLiteral("354017110000001"), QStringLiteral("354017110001014")});
        ok &= c.save(&d, QStringLiteral("device-add"));
        part<QLineEdit>(&d, "imeiEdit")->setText(QStringLiteral("35401711"));
        ok &= saveErrorBox(c, &d, QStringLiteral("device-add-error"));
    }
    {
        const QVector<DeviceInfo> devices = c.handler()->getDevices();
        DeviceInfo device = devices.value(1);
        DeviceEditDialog d(nullptr, c.handler(), device, stored(c.handler()));
        ok &= c.save(&d, QStringLiteral("device-edit"));
        device.forAll = true;
        DeviceEditDialog forAll(nullptr, c.handler(), device, stored(c.handler()));
        ok &= c.save(&forAll, QStringLiteral("device-edit-for-all"));
    }
    return ok;
}

bool userDialogs(ScreenshotContext& c) {
    bool ok = true;
    {
        RegistrationDialog d(nullptr, QStringLiteral("Новый пользователь"), c.handler(), UserInfo(),
                             stored(c.handler()));
        ok &= c.save(&d, QStringLiteral("registration-add"));
        part<QCheckBox>(&d, "showGroups")->click();
        ok &= c.save(&d, QStringLiteral("registration-add-groups"));
    }
    {
        const UserInfo user = c.handler()->getUser(3);
        RegistrationDialog d(nullptr, QStringLiteral("Пользователь %1").arg(user.login), c.handler(), user,
                             stored(c.handler()));
        ok &= c.save(&d, QStringLiteral("registration-edit"));
        part<QCheckBox>(&d, "changePw")->click();
        part<QCheckBox>(&d, "showGroups")->click();
        ok &= c.save(&d, QStringLiteral("registration-edit-password-groups"));
    }
    {
        PasswordEdit d;
        d.setHeader(QStringLiteral(
            "У администратора root установлен пароль по умолчанию, для безопасности нужно его сменить:"));
        ok &= c.save(&d, QStringLiteral("password"));
        part<QLineEdit>(&d, "pwEdit")->setText(QStringLiteral("secret"));
        ok &= saveErrorBox(c, &d, QStringLiteral("password-error"));
    }
    return ok;
}

bool addDevicesDialog(ScreenshotContext& c) {
    QVector<DeviceInfo> devices;
    const QStringList names{QStringLiteral("Газель А123ВС"), QString(), QStringLiteral("Фура 7"),
                            QStringLiteral("Курьер 12"), QStringLiteral("Погрузчик")};
    for (int i = 0; i < 40; ++i)
        devices << DeviceInfo{
            0, 860000000000000ULL + quint64(i) * 12347, names.at(i % names.size()), {}, false};
    // two devices of the sample data (one under another name), a repeat and two wrong IMEIs
    devices[1].imei = 354017110000001ULL;
    devices[4].imei = 354017110001014ULL;
    devices[4].name = QStringLiteral("Фура 7");
    devices[5].imei = devices.at(2).imei;
    devices[6].imei = 0;
    devices[8].imei = 86000000012345ULL;
    bool ok = true;
    AddDevicesDialog d(nullptr, c.handler(), stored(c.handler()));
    d.setRows(DevicesToAddTableModel::makeRows(devices, storedAmong(c.handler(), devices)));
    d.setListAge(QDateTime(QDate(2026, 12, 6), QTime(14, 5)), false);
    auto* table = part<QAbstractItemView>(&d, "deviceList");
    for (int row : {0, 2, 3, 7})
        check(table, row);
    check(part<QAbstractItemView>(&d, "groupsList"), 1);
    ok &= c.save(&d, QStringLiteral("add-devices"));
    part<QCheckBox>(&d, "groupsForStoredCheck")->click();
    check(table, 4);
    d.setListAge(QDateTime(QDate(2026, 12, 6), QTime(14, 5)), true);
    ok &= c.save(&d, QStringLiteral("add-devices-stored-link-lost"));
    auto* filter = part<QLineEdit>(&d, "deviceFilter");
    filter->setText(QStringLiteral("Фура"));
    emit filter->textEdited(filter->text());
    part<QCheckBox>(&d, "forAllCheck")->click();
    ok &= c.save(&d, QStringLiteral("add-devices-filtered-for-all"));
    d.setListState(OrbServerHandler::ListIncomplete);
    ok &= c.save(&d, QStringLiteral("add-devices-list-incomplete"));
    return ok;
}

// A file saved by a Russian spreadsheet program: Windows-1251, a skipped line, an IMEI of five
// digits, a check digit that fails, a name too long, and groups of which one is missing.
bool addDevicesFromFile(ScreenshotContext& c) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("устройства.csv"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QtCompat::encode(
        QStringLiteral(
            "IMEI;Имя;Группы;Для всех\r\n356938035643809;Газель А123ВС;\"Такси; Склад Юг\";нет\r\n"
            "35000000000004X;Буква в IMEI;;\r\n12345;Короткий IMEI;;\r\n356938035643002;Фура 9;;да\r\n"
            "356938035643007;%1;Такси;\r\n")
            .arg(QString(40, QChar(0x0416)) + QString(260, QLatin1Char('x'))),
        "Windows-1251"));
    file.close();
    DevicesFileParser parser;
    if (!parser.parseFile(path))
        return false;
    AddDevicesDialog d(nullptr, c.handler(), stored(c.handler()));
    d.setFile(path, parser,
              DevicesToAddTableModel::makeRows(parser.devices(), storedAmong(c.handler(), parser.devices()),
                                               parser.wrongLengthImeis(), parser.cutNameRows(),
                                               parser.lineNumbers()));
    return c.save(&d, QStringLiteral("add-devices-file"));
}

bool exportDialog(ScreenshotContext& c) {
    DevicesTableModel model(nullptr, c.handler());
    model.reload();
    QItemSelectionModel selection(&model);
    selection.select(QItemSelection(model.index(0, 0), model.index(1, 0)),
                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ExportDevicesDialog d(nullptr, &model, &selection);
    return c.save(&d, QStringLiteral("export-devices"));
}

bool runDialogs(ScreenshotContext& c) {
    if (!c.handler())
        return false;
    return groupDialogs(c) & deviceDialogs(c) & userDialogs(c) & addDevicesDialog(c) & addDevicesFromFile(c) &
           exportDialog(c);
}

} // namespace

ORB_SCREENSHOT_SECTION("dialogs", runDialogs);
