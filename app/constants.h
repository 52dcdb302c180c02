#pragma once

#include <QString>

// Settings file keys.

const QString SETTINGS_FILE_NAME = QStringLiteral("settings.conf");
const QString SQL_GROUP = QStringLiteral("sql/");
const QString KEY_IP = QStringLiteral("ip");
const QString KEY_PORT = QStringLiteral("port");
const QString KEY_DB = QStringLiteral("db");
const QString KEY_USER = QStringLiteral("user");
const QString KEY_PASSWORD = QStringLiteral("password");
const QString KEY_TLS = QStringLiteral("tls");
const QString KEY_TLS_CA = QStringLiteral("tls_ca");
const QString KEY_REMEMBER_PASSWORD = QStringLiteral("remember_password");
const QString ORB_GROUP = QStringLiteral("orb/");
// The window as it was left: section of its own beside the connection keys.
const QString WINDOW_GROUP = QStringLiteral("window/");
const QString KEY_GEOMETRY = QStringLiteral("geometry");
const QString KEY_TAB = QStringLiteral("tab");
const QString KEY_USERS_HEADER = QStringLiteral("users_header");
const QString KEY_GROUPS_HEADER = QStringLiteral("groups_header");
const QString KEY_DEVICES_HEADER = QStringLiteral("devices_header");
// The folder of the last imported or exported device list file.
const QString KEY_IMPORT_FOLDER = QStringLiteral("import_folder");
