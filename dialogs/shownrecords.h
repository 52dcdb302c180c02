#pragma once

#include "core/records.h"

#include <QString>
#include <QVector>

#include <functional>

// What the window holds of the groups and users: the dialogs' lists come from here, not from
// the database.
struct ShownRecords {
    QVector<GroupInfo> groups;
    QVector<UserInfo> users;
    // Stores a group made inside a dialog while the window goes on; false, and why in `error`,
    // when it was not stored. Without it, no group is made.
    std::function<bool(GroupInfo& group, QString& error)> addGroup = nullptr;
};
