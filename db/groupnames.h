#pragma once

#include "db/records.h"

#include <QDebug>
#include <QHash>
#include <QString>
#include <QVector>

// Group id -> name for the table models; an id without a group row is logged and
// shown as "Неизвестная группа".
class GroupNames {
public:
    explicit GroupNames(const QVector<GroupInfo>& groups) {
        names.reserve(groups.size());
        for (const GroupInfo& g : groups) {
            if (!names.contains(g.id))
                names.insert(g.id, g.name);
        }
    }

    QString name(int id) const {
        const auto it = names.constFind(id);
        if (it != names.constEnd())
            return it.value();
        qDebug() << "имя группы не найдено id" << id;
        return QStringLiteral("Неизвестная группа");
    }

private:
    QHash<int, QString> names;
};
