#pragma once

#include "core/records.h"
#include "import/devicefilecontents.h"

#include <QObject>
#include <QStringList>
#include <QVector>

#include <functional>

// Reads a device list file: one device per line, the IMEI first, optionally the device's name
// after a comma, or after a semicolon when that comes first (spreadsheets in Russian locales).
// A field that starts with a double quote is a quoted CSV field. The file is UTF-8 unless a byte
// order mark names UTF-16 or UTF-32; a file that is not UTF-8 is read as Windows-1251. A first
// line whose first field is not a number is a header; its "Группы" and "Для всех" columns are
// read too. Other lines whose first field is not a number are skipped and counted. The file is
// read piece by piece: memory follows the devices kept, not the file's size.
class DevicesFileParser : public QObject {
    Q_OBJECT

public:
    using Result = DeviceFileContents;
    // Told the bytes read and the file's size after each piece; false stops the reading.
    using Progress = std::function<bool(qint64 read, qint64 size)>;

    explicit DevicesFileParser(QObject* parent = nullptr);

    // False when the file cannot be opened; the previous records then stay.
    bool parseFile(const QString& fileName);
    // What parseFile does, on any thread: false when the file cannot be opened or `going` stopped
    // the reading.
    static bool read(const QString& fileName, Result& into, const Progress& going = {});
    // Takes what read() gave, as if parseFile had read it.
    void take(Result contents);
    // Names trimmed and cut to the column's NAME_MAX_LENGTH characters.
    QVector<DeviceInfo> devices() const;
    // The file's line number of each of devices().
    QVector<int> lineNumbers() const;
    // "UTF-8", "UTF-16", "UTF-32" or "Windows-1251".
    QString encoding() const;
    // Non-blank lines that gave no device, the header not counted, and the first few of them.
    int skippedLines() const;
    QVector<NumberedText> skippedSample() const;
    // Rows of devices() whose IMEI was not written with 15 digits, with the IMEI as written.
    QVector<NumberedText> wrongLengthImeis() const;
    // Rows of devices() whose name was cut.
    QVector<int> cutNameRows() const;
    // From the "Группы" and "Для всех" columns, in devices() order: group names (empty lists
    // without the column), and -1 not given, 0 "нет", 1 "да".
    bool hasGroupColumns() const;
    QVector<QStringList> rowGroups() const;
    QVector<int> rowForAll() const;
    // What the last successful parseFile saw: its lines, the first non-blank line it skipped
    // (its beginning, a header too), and whether most lines were text (no NUL or other control
    // bytes, and valid in the encoding it was read in).
    int linesRead() const;
    QString firstSkippedLine() const;
    bool isText() const;

private:
    Result last;
};
