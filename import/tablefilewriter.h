#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Writes a table as the device export writes its file: UTF-8 with a byte order mark, commas,
// CRLF, the header line first, fields as CsvField writes them. The file is replaced only when
// the whole of it was written; otherwise error says why and the result is false.
bool writeTableFile(const QString& fileName, const QStringList& header, int rows,
                    const std::function<QString(int row, int column)>& cell, QString& error);
