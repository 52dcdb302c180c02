#include "core/journaltext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace {

const QChar minus(0x2212);

QString quoted(const QString& text) {
    return QStringLiteral("«%1»").arg(text);
}

// An IMEI may come as a number; a double holds 15 digits exactly.
QString plainText(const QJsonValue& value) {
    if (value.isDouble())
        return QString::number(qint64(value.toDouble()));
    return value.toString();
}

bool flag(const QJsonValue& value) {
    return value.isBool() ? value.toBool() : value.toInt() != 0;
}

QString yesNo(const QJsonValue& value) {
    return flag(value) ? QStringLiteral("да") : QStringLiteral("нет");
}

// A list too long for the journal holds only its length.
bool shortened(const QJsonValue& value) {
    return value.isObject();
}

QStringList names(const QJsonValue& value) {
    if (shortened(value))
        return {QStringLiteral("%1 (список не записан)")
                    .arg(value.toObject().value(QLatin1String("count")).toInt())};
    QStringList list;
    for (const QJsonValue& item : value.toArray())
        list << plainText(item);
    return list;
}

QString labelKey(const QString& object) {
    if (object == QLatin1String("device"))
        return QStringLiteral("imei");
    if (object == QLatin1String("user"))
        return QStringLiteral("login");
    return QStringLiteral("name");
}

// The fields as they were or became, in a fixed order; the label, shown beside, is left out.
QStringList described(const QJsonObject& record, const QString& skip) {
    QStringList parts;
    if (skip != QLatin1String("imei") && record.contains(QLatin1String("imei")))
        parts << QStringLiteral("IMEI: %1").arg(plainText(record.value(QLatin1String("imei"))));
    if (skip != QLatin1String("login") && record.contains(QLatin1String("login")))
        parts << QStringLiteral("логин: %1").arg(quoted(record.value(QLatin1String("login")).toString()));
    if (skip != QLatin1String("name") && !record.value(QLatin1String("name")).toString().isEmpty())
        parts << QStringLiteral("имя: %1").arg(quoted(record.value(QLatin1String("name")).toString()));
    if (flag(record.value(QLatin1String("for_all"))))
        parts << QStringLiteral("для всех: да");
    const QStringList groups = names(record.value(QLatin1String("groups")));
    if (!groups.isEmpty())
        parts << QStringLiteral("группы: %1").arg(groups.join(QStringLiteral(", ")));
    return parts;
}

QString groupChanges(const QStringList& added, const QStringList& removed) {
    QStringList items;
    for (const QString& name : added)
        items << QLatin1Char('+') + name;
    for (const QString& name : removed)
        items << minus + name;
    return items.isEmpty() ? QString() : QStringLiteral("группы: %1").arg(items.join(QStringLiteral(", ")));
}

QStringList differences(const QJsonObject& before, const QJsonObject& after) {
    QStringList parts;
    const auto differs = [&](const char* key) {
        const QLatin1String k(key);
        return after.contains(k) && before.value(k) != after.value(k);
    };
    if (differs("imei"))
        parts << QStringLiteral("IMEI: %1 → %2")
                     .arg(plainText(before.value(QLatin1String("imei"))),
                          plainText(after.value(QLatin1String("imei"))));
    if (differs("login"))
        parts << QStringLiteral("логин: %1 → %2")
                     .arg(quoted(before.value(QLatin1String("login")).toString()),
                          quoted(after.value(QLatin1String("login")).toString()));
    if (differs("name"))
        parts << QStringLiteral("имя: %1 → %2")
                     .arg(quoted(before.value(QLatin1String("name")).toString()),
                          quoted(after.value(QLatin1String("name")).toString()));
    if (after.contains(QLatin1String("for_all")) &&
        flag(before.value(QLatin1String("for_all"))) != flag(after.value(QLatin1String("for_all"))))
        parts << QStringLiteral("для всех: %1 → %2")
                     .arg(yesNo(before.value(QLatin1String("for_all"))),
                          yesNo(after.value(QLatin1String("for_all"))));
    const QJsonValue wasGroups = before.value(QLatin1String("groups"));
    const QJsonValue isGroups = after.value(QLatin1String("groups"));
    if (shortened(wasGroups) || shortened(isGroups)) {
        if (wasGroups != isGroups)
            parts << QStringLiteral("группы: %1 → %2")
                         .arg(names(wasGroups).join(QStringLiteral(", ")),
                              names(isGroups).join(QStringLiteral(", ")));
    } else if (after.contains(QLatin1String("groups"))) {
        const QStringList was = names(before.value(QLatin1String("groups")));
        const QStringList is = names(after.value(QLatin1String("groups")));
        QStringList added, removed;
        for (const QString& name : is) {
            if (!was.contains(name))
                added << name;
        }
        for (const QString& name : was) {
            if (!is.contains(name))
                removed << name;
        }
        const QString text = groupChanges(added, removed);
        if (!text.isEmpty())
            parts << text;
    }
    return parts;
}

QJsonObject parsed(const QString& details, bool* ok) {
    const QJsonDocument document = QJsonDocument::fromJson(details.toUtf8());
    *ok = document.isObject();
    return document.object();
}

} // namespace

namespace JournalText {

QString action(const QString& action, const QString& object) {
    const QString what = action == QLatin1String("add")      ? QStringLiteral("Добавление")
                         : action == QLatin1String("change") ? QStringLiteral("Изменение")
                         : action == QLatin1String("delete") ? QStringLiteral("Удаление")
                                                             : action;
    const QString whom = object == QLatin1String("device")  ? QStringLiteral("устройства")
                         : object == QLatin1String("user")  ? QStringLiteral("пользователя")
                         : object == QLatin1String("group") ? QStringLiteral("группы")
                                                            : object;
    return what + QLatin1Char(' ') + whom;
}

QString label(const JournalEntry& entry) {
    bool ok = false;
    const QJsonObject details = parsed(entry.details, &ok);
    const QString key = labelKey(entry.object);
    for (const QJsonValue& record : {details.value(QLatin1String("after")),
                                     details.value(QLatin1String("before")), QJsonValue(details)}) {
        const QString text = plainText(record.toObject().value(key));
        if (!text.isEmpty())
            return text;
    }
    return QStringLiteral("№ %1").arg(entry.objectId);
}

QString changes(const JournalEntry& entry) {
    bool ok = false;
    const QJsonObject details = parsed(entry.details, &ok);
    if (!ok)
        return entry.details;
    const bool hasBefore = details.contains(QLatin1String("before"));
    const bool hasAfter = details.contains(QLatin1String("after"));
    const QJsonObject before = details.value(QLatin1String("before")).toObject();
    const QJsonObject after = details.value(QLatin1String("after")).toObject();
    QStringList parts;
    if (hasBefore && hasAfter)
        parts = differences(before, after);
    else if (hasAfter)
        parts = described(after, labelKey(entry.object));
    else if (hasBefore)
        parts = described(before, labelKey(entry.object));
    if (!hasBefore && !hasAfter) {
        const QString groups = groupChanges(names(details.value(QLatin1String("groups_added"))),
                                            names(details.value(QLatin1String("groups_removed"))));
        if (!groups.isEmpty())
            parts << groups;
        if (details.contains(QLatin1String("for_all")))
            parts << QStringLiteral("для всех: %1").arg(yesNo(details.value(QLatin1String("for_all"))));
    }
    if (flag(details.value(QLatin1String("password_changed"))) ||
        flag(after.value(QLatin1String("password_changed"))))
        parts << QStringLiteral("пароль изменён");
    return parts.join(QStringLiteral("; "));
}

QString administrator(const JournalEntry& entry) {
    return QStringLiteral("%1 (%2@%3)").arg(entry.dbUser, entry.osUser, entry.workstation);
}

QString time(const JournalEntry& entry) {
    return entry.at.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

} // namespace JournalText
