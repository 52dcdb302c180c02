#include "import/tablefilewriter.h"

#include "import/csvfield.h"
#include "import/csvsavefile.h"

bool writeTableFile(const QString& fileName, const QStringList& header, int rows,
                    const std::function<QString(int row, int column)>& cell, QString& error) {
    CsvSaveFile file(fileName);
    if (!file.open(error))
        return false;
    QByteArray& out = file.bytes();
    const auto appendLine = [&](const auto& textOf) {
        for (int column = 0; column < header.size(); ++column) {
            if (column > 0)
                out += ',';
            CsvField::append(out, textOf(column));
        }
        out += "\r\n";
    };
    appendLine([&](int column) { return header.at(column); });
    for (int row = 0; row < rows; ++row) {
        appendLine([&](int column) { return cell(row, column); });
        if (!file.flushIfFull())
            break;
    }
    return file.commit(error);
}
