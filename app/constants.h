#pragma once

#include <QString>

// Table and column names, settings keys and fixed texts. Every SQL statement and
// every settings access spells these names through the constants below.

const QString DB_NAME = QStringLiteral("orb_server");

const QString TABLE_USERS = QStringLiteral("users");
const QString TABLE_DEVICES = QStringLiteral("devices");
const QString TABLE_GROUPS = QStringLiteral("groups_list");
const QString TABLE_DEVICE_GROUPS = QStringLiteral("device_groups");
const QString TABLE_USER_GROUPS = QStringLiteral("user_groups");

const QString COL_ID = QStringLiteral("id");
const QString COL_USER_LOGIN = QStringLiteral("user_login");
const QString COL_USER_PASSWORD = QStringLiteral("user_password");
const QString COL_IMEI = QStringLiteral("imei");
const QString COL_NAME = QStringLiteral("name");
const QString COL_FOR_ALL = QStringLiteral("for_all");
const QString COL_GROUP_NAME = QStringLiteral("group_name");
const QString COL_DG_DEVICE_ID = QStringLiteral("device_id");
const QString COL_DG_GROUP_ID = QStringLiteral("group_id");
const QString COL_UG_USER_ID = QStringLiteral("user_id");
const QString COL_UG_GROUP_ID = QStringLiteral("group_id");

const QString ADMIN_GROUP_NAME = QStringLiteral("Admin");
const QString PASSWORD_SALT = QStringLiteral("Qw7rTz2Lp9");

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
