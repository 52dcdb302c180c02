#include "app/csettings.h"

#include "core/qtcompat.h"
#include "core/schema.h"
#include "db/confighandler.h"
#include "link/orbserverhandler.h"

#include <QDebug>
#include <QFile>

namespace {

// Stored data: spelled as every earlier version wrote them.
const QString sqlIp = QStringLiteral("sql/ip");
const QString sqlPort = QStringLiteral("sql/port");
const QString sqlDb = QStringLiteral("sql/db");
const QString sqlUser = QStringLiteral("sql/user");
const QString sqlPassword = QStringLiteral("sql/password");
const QString sqlTls = QStringLiteral("sql/tls");
const QString sqlTlsCa = QStringLiteral("sql/tls_ca");
const QString sqlRememberPassword = QStringLiteral("sql/remember_password");
const QString sqlConnectTimeout = QStringLiteral("sql/connect_timeout");
const QString sqlReadTimeout = QStringLiteral("sql/read_timeout");
const QString sqlWriteTimeout = QStringLiteral("sql/write_timeout");
const QString orbIp = QStringLiteral("orb/ip");
const QString orbPort = QStringLiteral("orb/port");
const QString windowGeometry = QStringLiteral("window/geometry");
const QString windowTab = QStringLiteral("window/tab");
const QString windowUsersHeader = QStringLiteral("window/users_header");
const QString windowGroupsHeader = QStringLiteral("window/groups_header");
const QString windowDevicesHeader = QStringLiteral("window/devices_header");
const QString windowImportFolder = QStringLiteral("window/import_folder");

const QString localHost = QStringLiteral("127.0.0.1");

} // namespace

CSettings* CSettings::instance = nullptr;

CSettings::CSettings(const QString& fileName)
    : file(fileName, QSettings::IniFormat) {
    QtCompat::useUtf8(file);
    restrictToOwner();
}

// The file holds the database password in clear text: only its owner may read it.
// QSettings rewrites the file through QSaveFile, which keeps the permissions of the
// file it replaces, so creating it with owner-only rights is enough for later writes.
void CSettings::restrictToOwner() {
    const QString path = file.fileName();
    if (path.isEmpty())
        return;
    QFile f(path);
    if (!f.exists()) {
        if (!f.open(QIODevice::WriteOnly))
            return;
        f.close();
    }
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QString CSettings::defaultFileName() {
    return QStringLiteral("settings.conf");
}

CSettings* CSettings::getInstance(const QString& fileName) {
    if (instance)
        return instance;
    if (fileName.isEmpty()) {
        qDebug() << "ERROR: [CSettings::getInstance] Invalid fileName";
        return instance;
    }
    instance = new CSettings(fileName);
    return instance;
}

CSettings& CSettings::any() {
    if (!instance)
        instance = new CSettings(QString());
    return *instance;
}

QVariant CSettings::read(const QString& key, const QVariant& defaultValue) {
    return any().file.value(key, defaultValue);
}

void CSettings::write(std::initializer_list<std::pair<QString, QVariant>> values) {
    CSettings& settings = any();
    for (const auto& [key, value] : values)
        settings.file.setValue(key, value);
    settings.file.sync();
    settings.restrictToOwner();
}

// A number of seconds, or `fallback` for what is none.
int CSettings::seconds(const QString& key, int fallback) {
    bool ok = false;
    const int value = read(key, fallback).toInt(&ok);
    return ok && value >= 0 ? value : fallback;
}

SqlConnectionSettings CSettings::sql() {
    SqlConnectionSettings sql;
    sql.ip = read(sqlIp, localHost).toString();
    sql.port = read(sqlPort, 3306).toInt();
    sql.db = read(sqlDb, DB_NAME).toString();
    sql.user = read(sqlUser, QString()).toString();
    sql.password = read(sqlPassword, QString()).toString();
    sql.tls = read(sqlTls, false).toBool();
    sql.tlsCaFile = read(sqlTlsCa, QString()).toString();
    sql.rememberPassword = read(sqlRememberPassword, true).toBool();
    sql.connectTimeout = seconds(sqlConnectTimeout, sql.connectTimeout);
    sql.readTimeout = seconds(sqlReadTimeout, sql.readTimeout);
    sql.writeTimeout = seconds(sqlWriteTimeout, sql.writeTimeout);
    return sql;
}

void CSettings::setSql(const SqlConnectionSettings& sql) {
    write({{sqlIp, sql.ip},
           {sqlPort, sql.port},
           {sqlDb, sql.db},
           {sqlUser, sql.user},
           {sqlPassword, sql.rememberPassword ? sql.password : QString()},
           {sqlTls, sql.tls},
           {sqlTlsCa, sql.tlsCaFile},
           {sqlRememberPassword, sql.rememberPassword},
           {sqlConnectTimeout, sql.connectTimeout},
           {sqlReadTimeout, sql.readTimeout},
           {sqlWriteTimeout, sql.writeTimeout}});
}

void CSettings::forgetPassword() {
    write({{sqlPassword, QString()}, {sqlRememberPassword, false}});
}

OrbHostSettings CSettings::orb() {
    OrbHostSettings orb;
    orb.host = read(orbIp, localHost).toString();
    orb.port = read(orbPort, 12345).toInt();
    return orb;
}

void CSettings::setOrb(const OrbHostSettings& orb) {
    write({{orbIp, orb.host}, {orbPort, orb.port}});
}

CSettings::Window CSettings::window() {
    Window window;
    window.geometry = read(windowGeometry).toByteArray();
    bool ok = false;
    const int tab = read(windowTab).toInt(&ok);
    window.tab = ok ? tab : -1;
    window.usersHeader = read(windowUsersHeader).toByteArray();
    window.groupsHeader = read(windowGroupsHeader).toByteArray();
    window.devicesHeader = read(windowDevicesHeader).toByteArray();
    return window;
}

void CSettings::setWindow(const Window& window) {
    write({{windowGeometry, window.geometry},
           {windowTab, window.tab},
           {windowUsersHeader, window.usersHeader},
           {windowGroupsHeader, window.groupsHeader},
           {windowDevicesHeader, window.devicesHeader}});
}

QString CSettings::fileFolder() {
    return read(windowImportFolder).toString();
}

void CSettings::setFileFolder(const QString& folder) {
    write({{windowImportFolder, folder}});
}
