#include "import/devicesfilewriter.h"

#include "import/csvfield.h"
#include "import/csvsavefile.h"

bool DevicesFileWriter::writeFile(const QString& fileName, const QVector<DeviceInfo>& devices,
                                  const QHash<int, QString>& groupNames, QString& error) {
    CsvSaveFile file(fileName);
    if (!file.open(error))
        return false;
    QByteArray& out = file.bytes();
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
        if (!file.flushIfFull())
            break;
    }
    return file.commit(error);
}
