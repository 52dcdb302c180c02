#include "import/tablefilewriter.h"

#include "import/csvfield.h"

#include <QSaveFile>

bool writeTableFile(const QString& fileName, const QStringList& header, int rows,
                    const std::function<QString(int row, int column)>& cell, QString& error) {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    QByteArray out("\xEF\xBB\xBF");
    const auto appendLine = [&](const auto& textOf) {
        for (int column = 0; column < header.size(); ++column) {
            if (column > 0)
                out += ',';
            CsvField::append(out, textOf(column));
        }
        out += "\r\n";
    };
    appendLine([&](int column) { return header.at(column); });
    for (int row = 0; row < rows && file.error() == QFileDevice::NoError; ++row) {
        appendLine([&](int column) { return cell(row, column); });
        if (out.size() >= (1 << 20)) {
            file.write(out);
            out.clear();
        }
    }
    if (!out.isEmpty())
        file.write(out);
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}
