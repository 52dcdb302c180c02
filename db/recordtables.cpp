#include "db/recordtables.h"

#include "core/schema.h"
#include "db/sqlparts.h"

const RecordTable& RecordTable::users() {
    static const RecordTable t{TABLE_USERS,
                               {COL_USER_LOGIN, COL_USER_PASSWORD},
                               TABLE_USER_GROUPS,
                               COL_UG_USER_ID,
                               COL_UG_GROUP_ID,
                               ROOT_ID,
                               {QStringLiteral("Логин"), QStringLiteral("Пароль")}};
    return t;
}

const RecordTable& RecordTable::devices() {
    static const RecordTable t{TABLE_DEVICES,
                               {COL_IMEI, COL_NAME, COL_FOR_ALL},
                               TABLE_DEVICE_GROUPS,
                               COL_DG_DEVICE_ID,
                               COL_DG_GROUP_ID,
                               0,
                               {QStringLiteral("IMEI"), QStringLiteral("Имя"), QStringLiteral("Для всех")}};
    return t;
}

const RecordTable& RecordTable::groups() {
    static const RecordTable t{
        TABLE_GROUPS, {COL_GROUP_NAME}, QString(), QString(), QString(), 0, {QStringLiteral("Название")}};
    return t;
}

QVariantList userValues(const UserInfo& user) {
    return {bound(user.login), user.password};
}

QVariantList deviceValues(const DeviceInfo& device) {
    return {bound(device.imei), bound(device.name), device.forAll ? 1 : 0};
}

bool sameValue(const QVariant& read, const QVariant& value) {
    return read.toByteArray() == value.toByteArray();
}

QString shownValue(const RecordTable& records, int column, const QVariant& value) {
    if (records.table == TABLE_DEVICES && column == 0)
        return imeiText(value.toULongLong());
    if (records.table == TABLE_DEVICES && column == 2)
        return value.toInt() ? QStringLiteral("да") : QStringLiteral("нет");
    // a password hash says nothing to a person
    if (records.table == TABLE_USERS && column == 1)
        return QStringLiteral("••••••");
    return value.toString();
}
