#pragma once

#include "core/records.h"

#include <QHash>
#include <QString>
#include <QVector>

// Writes devices as a CSV file that the device list parser reads back: UTF-8 with a byte order
// mark, the header "IMEI,Имя,Группы,Для всех", one line per device with its 15-digit IMEI, name,
// group names joined by "; " and "да"/"нет"; fields quoted per RFC 4180 where needed, and a
// text a spreadsheet would take for a formula behind an apostrophe (SpreadsheetText).
class DevicesFileWriter {
public:
    // Groups missing from groupNames are left out. The file is replaced only when the whole of it
    // was written; otherwise error says why and the result is false.
    bool writeFile(const QString& fileName, const QVector<DeviceInfo>& devices,
                   const QHash<int, QString>& groupNames, QString& error);
};
