#pragma once

#include "db/records.h"

#include <QObject>
#include <QVector>

// Reads a device list file: one device per line, the IMEI first, optionally the
// device's name after a comma. Lines whose first field is not a number are skipped.
class DevicesFileParser : public QObject {
    Q_OBJECT

public:
    explicit DevicesFileParser(QObject* parent = nullptr);

    // False when the file cannot be opened; the previous records then stay.
    bool parseFile(const QString& fileName);
    QVector<DeviceInfo> devices() const;

private:
    QVector<DeviceInfo> records;
};
