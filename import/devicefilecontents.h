#pragma once

#include "core/records.h"

#include <QString>
#include <QStringList>
#include <QVector>

// A line of a file, or a row of what was read from it, with its number.
struct NumberedText {
    int number = 0;
    QString text;

    bool operator==(const NumberedText& o) const { return number == o.number && text == o.text; }
};

// Everything one reading of a device list file gives.
struct DeviceFileContents {
    QVector<DeviceInfo> records;
    QVector<int> lineNumbers; // of each record's first line, in the file
    QVector<NumberedText> wrongLength;
    QVector<int> cutNames;
    QVector<QStringList> groups;
    QVector<int> forAll;
    bool groupsColumn = false;
    bool forAllColumn = false;
    int skipped = 0;
    QVector<NumberedText> skippedSample;
    int lines = 0;
    int binaryLines = 0;
    QString firstSkipped;
    QString encoding;
};
