#include "import/devicesfileparser.h"
#include "import/devicesfilewriter.h"

#include "core/qtcompat.h"

#include <QTemporaryDir>
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
    void whatTheFileHeld_data();
    void whatTheFileHeld();
    void exportReadsBack_data();
    void exportReadsBack();
    void failedExportLeavesNoFile();
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
    row("blanks and no-break spaces around the imei", " 1 \n\t2\t,x\n\302\2403\302\240,n\n",
        {record(1), record(2, QStringLiteral("x")), record(3, QStringLiteral("n"))});
    row("empty file", "", {});
    row("skipped: empty lines, other separators, numbers out of range, negative, letters, quoted text",
        "\n\r\n1|x\n1\tx\n\"x\",1\n9223372036854775808\n99999999999999999999,x\n-1,x\n-0\n12a\n0x10\n"
        "1e5\n1 2\n1.0\n+\n  ,x\n1\r2\n",
        {});
    row("CR LF, empty and third fields, no last line end", "1,a\r\n2,,x\r\n3,b,c\r\n4,last",
        {record(1, QStringLiteral("a")), record(2), record(3, "b"), record(4, QStringLiteral("last"))});
    row("semicolons", "100000000000001 ; Truck\n2;Грузовик;x\n3;\n",
        {record(100000000000001, QStringLiteral(" Truck")), record(2, QStringLiteral("Грузовик")),
         record(3)});
    row("the first comma or semicolon separates", "1;Car, red\n2,a;b\n3;a;b,c\n",
        {record(1, QStringLiteral("Car, red")), record(2, QStringLiteral("a;b")), record(3, "a")});
    row("quoted fields",
        "\"1\",\"Car, \"\"red\"\"; big\"\r\n 2 ;\"two\r\nlines\";x\n3,\"q\"tail,x\n4,a\"b\n5,\"\",\"x,\n\"\n"
        "6,\"unclosed\n7",
        {record(1, QStringLiteral("Car, \"red\"; big")), record(2, QStringLiteral("two\r\nlines")),
         record(3, "q"), record(4, QStringLiteral("a\"b")), record(5),
         record(6, QStringLiteral("unclosed\n7"))});
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
        row(codec, QtCompat::encode(text, codec), expected);
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
        QCOMPARE(parse(QtCompat::encode(text, "UTF-16LE")), Records{record(12, QStringLiteral("Ж"))});
    }
}

void TestDevicesFileParser::whatTheFileHeld_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("lines");
    QTest::addColumn<QString>("firstSkipped");
    QTest::addColumn<bool>("text");
    QTest::addColumn<QVector<int>>("wrongLength");
    QTest::newRow("IMEIs of 14, 15 and 16 digits, header, blank line")
        << QByteArray("\r\n IMEI ; Имя \n12345678901234\n+012345678901234,a\n0123456789012345\nx\n") << 6
        << QStringLiteral("IMEI ; Имя") << true << QVector<int>{0, 2};
    QTest::newRow("quoted line break") << QByteArray("1,\"a\nb\"\n\"x\ny\",2") << 4
                                       << QStringLiteral("\"x y\",2") << true << QVector<int>{0};
    QTest::newRow("empty") << QByteArray() << 0 << QString() << true << QVector<int>{};
    QTest::newRow("invalid UTF-8 in a third of the lines")
        << QByteArray("100000000000001,\xC3\n100000000000002,\xC3\xA9\n100000000000003") << 3 << QString()
        << true << QVector<int>{};
    QTest::newRow("NUL bytes in most lines")
        << QByteArray("1\n2,\0\n3\0\n", 9) << 3 << QStringLiteral("3") << false << QVector<int>{0, 1};
    QTest::newRow("UTF-16 without a byte order mark")
        << QByteArray(reinterpret_cast<const char*>(u"100000000000001\n2\n"), 36) << 3
        << QStringLiteral("1 0 0 0 0 0 0 0 0 0 0 0 0 0 1") << false << QVector<int>{};
    QTest::newRow("invalid UTF-8: stray, overlong lead, cut short")
        << QByteArray("a\x80\nb\xC0\xAF\nc\xE2\x82\n") << 3 << QStringLiteral("a\uFFFD") << false
        << QVector<int>{};
}

// The figures the window reports when a file gives no device or is not text.
void TestDevicesFileParser::whatTheFileHeld() {
    QFETCH(QByteArray, bytes);
    DevicesFileParser parser;
    QVERIFY(parser.parseFile(write(bytes)));
    QTEST(parser.linesRead(), "lines");
    QTEST(parser.firstSkippedLine(), "firstSkipped");
    QTEST(parser.isText(), "text");
    QTEST(parser.wrongLengthRows(), "wrongLength");
}

void TestDevicesFileParser::exportReadsBack_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("comma, semicolon, quotes")
        << QStringLiteral("a,b; \"c\"") << QByteArray("\"a,b; \"\"c\"\"\"");
    QTest::newRow("quote first, blanks around") << QStringLiteral("\" x ") << QByteArray("\"\"\" x \"");
    QTest::newRow("line breaks") << QStringLiteral("a\r\nb\nc\r") << QByteArray("\"a\r\nb\nc\r\"");
    QTest::newRow("Cyrillic and emoji")
        << QStringLiteral("Фура №7 \U0001F69A") << QStringLiteral("Фура №7 \U0001F69A").toUtf8();
}

// What is exported reads back with the same IMEIs and names; groups are named, the admins'
// (missing from the names) left out.
void TestDevicesFileParser::exportReadsBack() {
    QFETCH(QString, name);
    QFETCH(QByteArray, line);
    const QVector<DeviceInfo> devices{DeviceInfo{3, 12345678901234, name, {1, 5, 6}, true},
                                      DeviceInfo{4, 999999999999999, name, {}, false}};
    const QHash<int, QString> groups{{5, QStringLiteral("Юг, 2")}, {6, QStringLiteral("Север")}};
    const QString path = dir.filePath(QStringLiteral("export.csv"));
    QString error;
    QVERIFY(DevicesFileWriter().writeFile(path, devices, groups, error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(),
             QByteArray("\xEF\xBB\xBF") + QStringLiteral("IMEI,Имя,Группы,Для всех\r\n").toUtf8() +
                 "012345678901234," + line + ",\"Юг, 2; Север\"," + QStringLiteral("да").toUtf8() +
                 "\r\n999999999999999," + line + ",," + QStringLiteral("нет").toUtf8() + "\r\n");
    DevicesFileParser parser;
    QVERIFY(parser.parseFile(path));
    QCOMPARE(parser.devices(), (Records{record(12345678901234, name), record(999999999999999, name)}));
    QCOMPARE(parser.wrongLengthRows(), QVector<int>{});
}

void TestDevicesFileParser::failedExportLeavesNoFile() {
    const QString path = dir.filePath(QStringLiteral("missing/export.csv"));
    QString error;
    QVERIFY(
        !DevicesFileWriter().writeFile(path, {DeviceInfo{1, 1, QStringLiteral("x"), {}, false}}, {}, error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFileInfo::exists(path));
}

void TestDevicesFileParser::unreadablePathsKeepThePreviousRecords_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("missing file") << dir.filePath(QStringLiteral("no-such-file.csv"));
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
