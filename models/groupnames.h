#pragma once

#include "core/records.h"

#include <QDebug>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

// Group id -> name for the table models; an id without a group row is logged and
// shown as "Неизвестная группа".
class GroupNames {
public:
    GroupNames() = default;
    GroupNames(const QVector<GroupInfo>& groups, int adminGroupId)
        : adminId(adminGroupId) {
        names.reserve(groups.size());
        for (const GroupInfo& g : groups) {
            if (!names.contains(g.id))
                names.insert(g.id, g.name);
        }
    }

    // The names of `ids` in their order. The administrators' group (none while its id is 0)
    // is shown as `adminName`, or left out when that is null.
    QStringList list(const QVector<int>& ids, const QString& adminName = QString()) const {
        QStringList out;
        for (const int id : ids) {
            if (adminId > 0 && id == adminId) {
                if (!adminName.isNull())
                    out << adminName;
            } else {
                out << name(id);
            }
        }
        return out;
    }

    // The names of `ids` as one text, as the tables show them.
    QString joined(const QVector<int>& ids, const QString& adminName = QString()) const {
        return list(ids, adminName).join(QStringLiteral(", "));
    }
    // Ids of the shown groups (the administrators' one is never shown) whose name contains text.
    QSet<int> idsContaining(const QString& text) const {
        QSet<int> ids;
        for (auto it = names.cbegin(); it != names.cend(); ++it) {
            if (it.key() != adminId && it.value().contains(text, Qt::CaseInsensitive))
                ids.insert(it.key());
        }
        return ids;
    }

    bool operator==(const GroupNames& o) const { return adminId == o.adminId && names == o.names; }
    bool operator!=(const GroupNames& o) const { return !(*this == o); }

private:
    QString name(int id) const {
        const auto it = names.constFind(id);
        if (it != names.constEnd())
            return it.value();
        qDebug() << "имя группы не найдено id" << id;
        return QStringLiteral("Неизвестная группа");
    }

    QHash<int, QString> names;
    int adminId = 0;
};
