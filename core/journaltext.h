#pragma once

#include "core/journal.h"

#include <QString>

// How a journal row reads to a person: the action and the kind of record in Russian, the record's
// label at that time (IMEI, login or group name) and what changed, as one sentence made from the
// row's details, e.g. "имя: «Truck 1» → «Truck 1 (резерв)»; группы: +Склад, −Логистика".
namespace JournalText {

// "Изменение устройства"; an unknown action or kind shows as stored.
QString action(const QString& action, const QString& object);
// The label the details name, or "№ id" when they name none.
QString label(const JournalEntry& entry);
// Details that are no JSON object are shown as stored, so that nothing is hidden.
QString changes(const JournalEntry& entry);
// "db_user (os_user@workstation)".
QString administrator(const JournalEntry& entry);
// The time in the workstation's zone, to the second.
QString time(const JournalEntry& entry);

} // namespace JournalText
