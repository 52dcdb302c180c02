#pragma once

#include <QString>

// The tracking server's schema as this program uses it: table and column names, fixed rows and
// limits. Every SQL statement spells these names through the constants below.

const QString DB_NAME = QStringLiteral("orb_server");

const QString TABLE_USERS = QStringLiteral("users");
const QString TABLE_DEVICES = QStringLiteral("devices");
const QString TABLE_GROUPS = QStringLiteral("groups_list");
const QString TABLE_DEVICE_GROUPS = QStringLiteral("device_groups");
const QString TABLE_USER_GROUPS = QStringLiteral("user_groups");
// This program's own table: who changed what and when.
const QString TABLE_JOURNAL = QStringLiteral("orb_admin_journal");

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

const QString PASSWORD_SALT = QStringLiteral("Qw7rTz2Lp9");

// The administrators' group as stored, and as the tables and pick lists show it.
const QString ADMIN_GROUP_NAME = QStringLiteral("Admin");
const QString ADMIN_GROUP_TITLE = QStringLiteral("Администраторы"); // the group's row
const QString ADMIN_MEMBER_TITLE = QStringLiteral("Администратор"); // in a record's group list

// The built-in administrator.
constexpr int ROOT_ID = 1;
const QString ROOT_LOGIN = QStringLiteral("root");
// The password the tracking server gives root; it must be replaced, never set again.
const QString ROOT_DEFAULT_PASSWORD = QStringLiteral("vexo");

constexpr int IMEI_DIGITS = 15;
constexpr int NAME_MAX_LENGTH = 255; // users.user_login, devices.name, groups_list.group_name
