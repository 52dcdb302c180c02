#include "import/csvsavefile.h"

bool CsvSaveFile::open(QString& error) {
    if (file.open(QIODevice::WriteOnly))
        return true;
    error = file.errorString();
    return false;
}

bool CsvSaveFile::flushIfFull() {
    if (out.size() < (1 << 20))
        return true;
    failed = file.write(out) != out.size() || file.error() != QFileDevice::NoError;
    out.clear();
    return !failed;
}

bool CsvSaveFile::commit(QString& error) {
    if (!failed && !out.isEmpty())
        failed = file.write(out) != out.size();
    out.clear();
    if (failed || file.error() != QFileDevice::NoError) {
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
