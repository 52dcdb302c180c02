#pragma once

#include "core/records.h"

#include <QObject>
#include <QVector>

// Reads a device list file: one device per line, the IMEI first, optionally the device's name
// after a comma, or after a semicolon when that comes first (spreadsheets in Russian locales).
// A field that starts with a double quote is a quoted CSV field. Lines whose first field is not
// a number are skipped.
class DevicesFileParser : public QObject {
    Q_OBJECT

public:
    explicit DevicesFileParser(QObject* parent = nullptr);

    // False when the file cannot be opened; the previous records then stay.
    bool parseFile(const QString& fileName);
    QVector<DeviceInfo> devices() const;
    // Rows of devices() whose IMEI was not written with 15 digits.
    QVector<int> wrongLengthRows() const;
    // What the last successful parseFile saw: its lines, the first non-blank line it skipped
    // (its beginning), and whether most lines were text (no NUL byte, valid UTF-8).
    int linesRead() const;
    QString firstSkippedLine() const;
    bool isText() const;

private:
    QVector<DeviceInfo> records;
    QVector<int> wrongLength;
    int lines = 0;
    int binaryLines = 0;
    QString skipped;
};
