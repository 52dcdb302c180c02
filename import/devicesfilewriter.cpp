#include "import/devicesfilewriter.h"

#include "import/csvfield.h"

#include <QSaveFile>

namespace {

// Bytes gathered before they go to the file.
constexpr int flushSize = 1 << 20;

} // namespace

bool DevicesFileWriter::writeFile(const QString& fileName, const QVector<DeviceInfo>& devices,
                                  const QHash<int, QString>& groupNames, QString& error) {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    QByteArray out("\xEF\xBB\xBF");
    out += QStringLiteral("IMEI,Имя,Группы,Для всех\r\n").toUtf8();
    const QByteArray yes = QStringLiteral("да").toUtf8();
    const QByteArray no = QStringLiteral("нет").toUtf8();
    QStringList names;
    for (const DeviceInfo& device : devices) {
        out += imeiText(device.imei).toLatin1();
        out += ',';
        CsvField::append(out, device.name);
        out += ',';
        names.clear();
        for (const int id : device.groups) {
            const auto it = groupNames.constFind(id);
            if (it != groupNames.constEnd())
                names << it.value();
        }
        CsvField::append(out, names.join(QStringLiteral("; ")));
        out += ',';
        out += device.forAll ? yes : no;
        out += "\r\n";
        if (out.size() >= flushSize) {
            if (file.write(out) != out.size())
                break;
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
