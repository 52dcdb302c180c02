#pragma once

#include <QByteArray>
#include <QHash>
#include <QMetaType>
#include <QString>
#include <QVector>
#include <Qt>

#include <algorithm>

// One row of devices with its group memberships.
struct DeviceInfo {
    int id = 0;
    quint64 imei = 0;
    QString name;
    QVector<int> groups;
    bool forAll = false;

    bool operator==(const DeviceInfo& o) const {
        return id == o.id && imei == o.imei && name == o.name && groups == o.groups && forAll == o.forAll;
    }
    bool operator!=(const DeviceInfo& o) const { return !(*this == o); }
};

// One row of users; password is the 64-byte hash, never the plain password.
struct UserInfo {
    int id = 0;
    QString login;
    QByteArray password;
    QVector<int> groups;

    bool operator==(const UserInfo& o) const {
        return id == o.id && login == o.login && password == o.password && groups == o.groups;
    }
    bool operator!=(const UserInfo& o) const { return !(*this == o); }
};

// One row of groups_list. Members are read separately.
struct GroupInfo {
    int id = 0;
    QString name;

    bool operator==(const GroupInfo& o) const { return id == o.id && name == o.name; }
    bool operator!=(const GroupInfo& o) const { return !(*this == o); }
};

// Everything the three tables show, read at one moment.
struct TablesSnapshot {
    QVector<DeviceInfo> devices;  // id order
    QVector<UserInfo> users;      // id order
    QVector<GroupInfo> groups;    // id order
    QHash<int, int> groupUsers;   // group id -> member count
    QHash<int, int> groupDevices; // group id -> device count
    int adminGroupId = 0;
};

// Device names by id (id order), kept apart from the rows a model changes, so that a new read of
// the devices can share the strings of the names that did not change.
struct DeviceNames {
    QVector<int> ids;
    QVector<QString> names;

    static DeviceNames of(const QVector<DeviceInfo>& devices) {
        DeviceNames n;
        n.ids.reserve(devices.size());
        n.names.reserve(devices.size());
        for (const DeviceInfo& d : devices) {
            n.ids.append(d.id);
            n.names.append(d.name);
        }
        return n;
    }
};

Q_DECLARE_METATYPE(DeviceInfo)
Q_DECLARE_METATYPE(UserInfo)
Q_DECLARE_METATYPE(GroupInfo)
Q_DECLARE_METATYPE(TablesSnapshot)

// Memberships are sets: neither order nor repeats are a change.
inline bool sameGroups(QVector<int> a, QVector<int> b) {
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    a.erase(std::unique(a.begin(), a.end()), a.end());
    b.erase(std::unique(b.begin(), b.end()), b.end());
    return a == b;
}

// Whether what an edit dialog shows of a record is the same in both.
inline bool sameRecord(const DeviceInfo& a, const DeviceInfo& b) {
    return a.imei == b.imei && a.name == b.name && a.forAll == b.forAll && sameGroups(a.groups, b.groups);
}
inline bool sameRecord(const UserInfo& a, const UserInfo& b) {
    return a.login == b.login && a.password == b.password && sameGroups(a.groups, b.groups);
}

// The 15-digit text of an IMEI, leading zeros kept: how the program shows and offers every IMEI.
inline QString imeiText(quint64 imei) {
    return QStringLiteral("%1").arg(imei, 15, 10, QLatin1Char('0'));
}

// Whether the last of an IMEI's 15 digits is the Luhn check digit of the 14 before it. Some
// trackers use made-up IMEIs, so a failed check is a warning, never a refusal.
inline bool imeiCheckDigitOk(quint64 imei) {
    int sum = 0;
    quint64 rest = imei / 10;
    for (int i = 0; i < 14; ++i, rest /= 10) {
        int digit = int(rest % 10);
        if (i % 2 == 0)
            digit = digit * 2 > 9 ? digit * 2 - 9 : digit * 2;
        sum += digit;
    }
    return (10 - sum % 10) % 10 == int(imei % 10);
}

// Item data role under which every table model returns a row's whole record.
constexpr int RecordRole = Qt::UserRole + 5;
