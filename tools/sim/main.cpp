// orb-server-sim: a stand-in for the Kalvo Orb server's device list service, for tests and demos.

#include "simserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QTextStream>

namespace {

int luhnDigit(const QByteArray& body) {
    int sum = 0;
    for (int i = 0; i < body.size(); ++i) {
        int d = body.at(body.size() - 1 - i) - '0';
        if (i % 2 == 0) {
            d *= 2;
            if (d > 9)
                d -= 9;
        }
        sum += d;
    }
    return (10 - sum % 10) % 10;
}

QList<TDeviceToConfigInfo> generateDevices(int count, quint64 firstBody, quint32 seed) {
    static const char* const cyrillic[] = {"Грузовик", "Фургон",   "Такси",   "Автобус",   "Экскаватор",
                                           "Курьер",   "Самосвал", "Трактор", "Погрузчик", "Катер"};
    static const char* const latin[] = {"Truck",   "Van",    "Taxi",    "Bus",      "Excavator",
                                        "Courier", "Tipper", "Tractor", "Forklift", "Boat"};
    QRandomGenerator random(seed);
    QList<TDeviceToConfigInfo> devices;
    devices.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QByteArray body = QByteArray::number(firstBody + quint64(i)).rightJustified(14, '0').right(14);
        const QByteArray imei = body + QByteArray::number(luhnDigit(body));
        const bool ru = random.bounded(2) == 0;
        const int word = int(random.bounded(10u));
        const QByteArray name =
            QByteArray(ru ? cyrillic[word] : latin[word]) + ' ' + QByteArray::number(random.bounded(1, 1000));
        devices.append(TDeviceToConfigInfo::make(imei, name));
    }
    return devices;
}

// Import format: one device per line, the IMEI, optionally a comma and the name. The IMEI text
// is sent as written, so that lists with bad IMEIs can be served too.
bool readDevices(const QString& path, QList<TDeviceToConfigInfo>* devices, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    QByteArray all = file.readAll();
    if (all.startsWith("\xEF\xBB\xBF"))
        all.remove(0, 3);
    for (QByteArray line : all.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QList<QByteArray> fields = line.split(',');
        const QByteArray imei = fields.first().trimmed();
        if (imei.isEmpty())
            continue;
        devices->append(TDeviceToConfigInfo::make(imei, fields.size() > 1 ? fields.at(1) : QByteArray()));
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orb-server-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Stand-in for the Kalvo Orb server's device list service.\n"
        "Listens on 127.0.0.1 and prints \"listening on 127.0.0.1:PORT\" as the first line on stdout.\n"
        "Sends a handshake request (type 10) to each client, checks the handshake answer (type 11) and\n"
        "every packet's CRC, and answers each device list request (type 12) with the list in portions\n"
        "(type 13) of exactly 1000 records, ending with a portion of fewer (empty when the count is a\n"
        "multiple of 1000). The list is the --file devices followed by the --devices generated ones.\n"
        "Everything it receives is logged on stderr."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("TCP port; 0 picks a free one (default 12345)."),
                                        QStringLiteral("port"), QStringLiteral("12345"));
    const QCommandLineOption fileOption(
        QStringLiteral("file"),
        QStringLiteral("Device list file: one IMEI per line, optionally a comma and the name."),
        QStringLiteral("path"));
    const QCommandLineOption devicesOption(
        QStringLiteral("devices"),
        QStringLiteral("Generate this many devices with valid IMEIs and Russian or English names."),
        QStringLiteral("count"), QStringLiteral("0"));
    const QCommandLineOption firstImeiOption(
        QStringLiteral("first-imei"),
        QStringLiteral("First 14 digits of the first generated IMEI; the next ones count up from it "
                       "(default 35693803564300)."),
        QStringLiteral("digits"), QStringLiteral("35693803564300"));
    const QCommandLineOption seedOption(QStringLiteral("seed"),
                                        QStringLiteral("Seed for the generated names (default 1)."),
                                        QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption dropOption(
        QStringLiteral("drop-mid-list"),
        QStringLiteral("Close the connection in the middle of the first N device lists."),
        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption crcOption(
        QStringLiteral("bad-crc"),
        QStringLiteral("Send the last portion of the first N device lists with a wrong CRC."),
        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption unknownOption(
        QStringLiteral("unknown-type"),
        QStringLiteral("Send a packet of unknown type 99 before each device list."));
    const QCommandLineOption badCountOption(
        QStringLiteral("bad-count"),
        QStringLiteral("Send a portion of the first N device lists claiming one record more than it holds."),
        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption endlessOption(
        QStringLiteral("endless"),
        QStringLiteral("Answer every device list request with full portions without end."));
    parser.addOptions({portOption, fileOption, devicesOption, firstImeiOption, seedOption, dropOption,
                       crcOption, unknownOption, badCountOption, endlessOption});
    parser.process(app);

    QTextStream out(stdout);
    auto fail = [](const QString& text) {
        simLog(text);
        return 2;
    };
    // A whole number within [0, max]; on anything else the first bad option is named.
    QString invalid;
    auto number = [&](const QCommandLineOption& option, quint64 max) -> quint64 {
        bool ok = false;
        const quint64 value = parser.value(option).toULongLong(&ok);
        if (ok && value <= max)
            return value;
        if (invalid.isEmpty())
            invalid = QStringLiteral("invalid --%1").arg(option.names().first());
        return 0;
    };

    const auto port = quint16(number(portOption, 65535));
    const int count = int(number(devicesOption, 10000000));
    const auto seed = quint32(number(seedOption, 0xFFFFFFFFu));
    SimFaults faults;
    faults.dropMidList = int(number(dropOption, 1000000));
    faults.badCrc = int(number(crcOption, 1000000));
    faults.unknownType = parser.isSet(unknownOption);
    faults.badCount = int(number(badCountOption, 1000000));
    faults.endless = parser.isSet(endlessOption);
    // 14 digits, or 15 of which the last (the check digit) is left out
    const QString first = parser.value(firstImeiOption);
    quint64 firstBody = number(firstImeiOption, 999999999999999ULL);
    if (first.size() == 15)
        firstBody /= 10;
    else if (first.size() != 14 && invalid.isEmpty())
        invalid = QStringLiteral("invalid --first-imei: give 14 or 15 digits");
    if (!invalid.isEmpty())
        return fail(invalid);

    QList<TDeviceToConfigInfo> devices;
    if (parser.isSet(fileOption)) {
        QString error;
        if (!readDevices(parser.value(fileOption), &devices, &error))
            return fail(QStringLiteral("cannot read %1: %2").arg(parser.value(fileOption), error));
    }
    devices += generateDevices(count, firstBody, seed);

    SimServer server(devices, faults);
    if (!server.listen(port))
        return fail(QStringLiteral("cannot listen on port %1: %2").arg(port).arg(server.errorString()));
    out << "listening on 127.0.0.1:" << server.port() << '\n';
    out.flush();
    simLog(QStringLiteral("serving %1 devices").arg(devices.size()));
    return app.exec();
}
