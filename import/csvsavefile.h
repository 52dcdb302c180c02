#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

// The program's CSV files as they go to disk: UTF-8 with a byte order mark, gathered in pieces
// of 1 MiB, and the file replaced only when the whole of it was written.
class CsvSaveFile {
public:
    explicit CsvSaveFile(const QString& fileName)
        : file(fileName) {}

    // False with error set when the file cannot be opened.
    bool open(QString& error);
    // Where the lines go; the byte order mark is already there.
    QByteArray& bytes() { return out; }
    // Writes what has gathered once it is 1 MiB or more; false once a write failed.
    bool flushIfFull();
    // Writes the rest and replaces the file; false with error set when any of it failed.
    bool commit(QString& error);

private:
    QSaveFile file;
    QByteArray out{"\xEF\xBB\xBF"};
    bool failed = false;
};
