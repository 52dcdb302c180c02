#include "import/devicesfileparser.h"

#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

using Records = QVector<DeviceInfo>;
Q_DECLARE_METATYPE(Records)

static DeviceInfo record(quint64 imei, const QString& name = QString()) {
    return DeviceInfo{0, imei, name, {}, false};
}

class TestDevicesFileParser : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }
    void lines_data();
    void lines();
    void linesAcrossReadBoundaries();
    void unreadablePathsKeepThePreviousRecords_data();
    void unreadablePathsKeepThePreviousRecords();

private:
    QString write(const QByteArray& bytes) {
        const QString path = dir.filePath(QStringLiteral("list%1.csv").arg(++files));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    Records parse(const QByteArray& bytes) {
        DevicesFileParser parser;
        opened = parser.parseFile(write(bytes));
        return parser.devices();
    }

    QTemporaryDir dir;
    int files = 0;
    bool opened = false;
};

void TestDevicesFileParser::lines_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Records>("expected");
    const auto row = [](const char* name, const QByteArray& bytes, const Records& expected) {
        QTest::newRow(name) << bytes << expected;
    };
    row("imei, imei with name, header line", "100000000000001\n100000000000002,Car 12\nimei,name\n",
        {record(100000000000001), record(100000000000002, QStringLiteral("Car 12"))});
    row("blanks and no-break spaces around the imei", " 1 \n\t2\t,x\n\302\2403\302\240,n\n",
        {record(1), record(2, QStringLiteral("x")), record(3, QStringLiteral("n"))});
    row("empty file", "", {});
    row("skipped: empty lines, separators other than a comma, numbers out of range, negative, letters",
        "\n\r\n100000000000001 ; Truck\n9223372036854775808\n99999999999999999999,x\n-1,x\n-0\n12a\n0x10\n"
        "1e5\n1 2\n1.0\n+\n  ,x\n1\r2\n",
        {});
    row("CR LF, empty and third fields, no last line end", "1,a\r\n2,,x\r\n3,b,c\r\n4,last",
        {record(1, QStringLiteral("a")), record(2), record(3, "b"), record(4, QStringLiteral("last"))});
    row("name kept as it stands", "7, Car 12 ;\tx ,y\n", {record(7, QStringLiteral(" Car 12 ;\tx "))});
    row("largest signed 64-bit number, leading zeros, plus sign",
        "9223372036854775807\n0000000000000000000001\n+2\n",
        {record(9223372036854775807ULL), record(1), record(2)});
    row("invalid UTF-8", "1\3772,x\n3,a\377b\n", {record(3, QStringLiteral("a\uFFFDb"))});
    row("NUL bytes", QByteArray("1\0,x\n2,a\0b\n", 11), {record(2, QString::fromLatin1("a\0b", 3))});
    const int mb10 = 10 * 1024 * 1024;
    row("10 MB lines: not a number, blanks, name, third field, number",
        QByteArray(mb10, 'x') + "\n" + QByteArray(mb10, ' ') + "8 ,short\n9," + QByteArray(mb10, 'n') +
            "\n10,a," + QByteArray(mb10, 'z') + "\n" + QByteArray(mb10, '1') + ",too long\n11",
        {record(8, QStringLiteral("short")), record(9, QString(mb10, QLatin1Char('n'))), record(10, "a"),
         record(11)});
    // A byte order mark is skipped (UTF-8) or switches the decoding.
    const QString text =
        QStringLiteral("\uFEFF100000000000001\r\nimei,имя\n100000000000002,Грузовик 7,x\n 42 ,\U0001F69A\n");
    const Records expected{record(100000000000001), record(100000000000002, QStringLiteral("Грузовик 7")),
                           record(42, QStringLiteral("\U0001F69A"))};
    for (const char* codec : {"UTF-8", "UTF-16LE", "UTF-16BE", "UTF-32LE", "UTF-32BE"})
        row(codec, QTextCodec::codecForName(codec)->fromUnicode(text), expected);
}

void TestDevicesFileParser::lines() {
    QFETCH(QByteArray, bytes);
    QFETCH(Records, expected);
    QCOMPARE(parse(bytes), expected);
    QVERIFY(opened);
}

// The file is read in pieces of 1 MiB; lines and byte order marks that straddle a piece must
// come out the same as anywhere else.
void TestDevicesFileParser::linesAcrossReadBoundaries() {
    const int piece = 1 << 20;
    const QByteArray line("100000000000042 , name, rest\r\n");
    for (int shift = -int(line.size()) - 2; shift <= 2; ++shift) {
        const QByteArray bytes = QByteArray(piece + shift - 1, 'x') + '\n' + line + "7\n";
        QCOMPARE(parse(bytes), (Records{record(100000000000042, QStringLiteral(" name")), record(7)}));
    }
    for (int shift = -3; shift <= 3; ++shift) {
        const QString text = QStringLiteral("\uFEFF") + QString(piece / 2 + shift, QLatin1Char('y')) +
                             QStringLiteral("\n12,Ж\n");
        QCOMPARE(parse(QTextCodec::codecForName("UTF-16LE")->fromUnicode(text)),
                 Records{record(12, QStringLiteral("Ж"))});
    }
}

void TestDevicesFileParser::unreadablePathsKeepThePreviousRecords_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("missing file") << dir.filePath(QStringLiteral("no-such-file.csv"));
    QTest::newRow("directory") << dir.path();
    QTest::newRow("endless device") << QStringLiteral("/dev/zero");
}

void TestDevicesFileParser::unreadablePathsKeepThePreviousRecords() {
    QFETCH(QString, path);
    DevicesFileParser parser;
    QVERIFY(parser.parseFile(write("1,one\n")));
    QVERIFY(!parser.parseFile(path));
    QCOMPARE(parser.devices(), Records{record(1, QStringLiteral("one"))});
}

QTEST_GUILESS_MAIN(TestDevicesFileParser)
#include "tst_devicesfileparser.moc"
