#include "import/devicesfileparser.h"
#include "import/devicesfilereader.h"
#include "import/devicesfilewriter.h"

#include "core/qtcompat.h"
#include "core/schema.h"

#include <QTemporaryDir>
#include <QtTest>

using Records = QVector<DeviceInfo>;
Q_DECLARE_METATYPE(Records)
using Numbered = QVector<NumberedText>;
Q_DECLARE_METATYPE(Numbered)

namespace QTest {
template <>
char* toString(const NumberedText& t) {
    return QTest::toString(QStringLiteral("%1: %2").arg(t.number).arg(t.text));
}
} // namespace QTest

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
    void readAsWritten_data();
    void readAsWritten();
    void exportReadsBack_data();
    void exportReadsBack();
    void failedExportLeavesNoFile();
    void unreadablePathsKeepThePreviousRecords_data();
    void unreadablePathsKeepThePreviousRecords();
    void readingAside();

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
        {record(100000000000001, QStringLiteral("Truck")), record(2, QStringLiteral("Грузовик")), record(3)});
    row("the first comma or semicolon separates", "1;Car, red\n2,a;b\n3;a;b,c\n",
        {record(1, QStringLiteral("Car, red")), record(2, QStringLiteral("a;b")), record(3, "a")});
    row("quoted fields",
        "\"1\",\"Car, \"\"red\"\"; big\"\r\n 2 ;\"two\r\nlines\";x\n3,\"q\"tail,x\n4,a\"b\n5,\"\",\"x,\n\"\n"
        "6,\"unclosed\n7",
        {record(1, QStringLiteral("Car, \"red\"; big")), record(2, QStringLiteral("two\r\nlines")),
         record(3, "q"), record(4, QStringLiteral("a\"b")), record(5),
         record(6, QStringLiteral("unclosed\n7"))});
    row("name trimmed", "7, Car 12 ;\tx ,y\n", {record(7, QStringLiteral("Car 12 ;\tx"))});
    row("largest signed 64-bit number, leading zeros, plus sign",
        "9223372036854775807\n0000000000000000000001\n+2\n",
        {record(9223372036854775807ULL), record(1), record(2)});
    row("not UTF-8: Windows-1251", "1\3772,x\n3,a\377b\n", {record(3, QStringLiteral("aяb"))});
    row("NUL bytes", QByteArray("1\0,x\n2,a\0b\n", 11), {record(2, QString::fromLatin1("a\0b", 3))});
    const int mb10 = 10 * 1024 * 1024;
    row("10 MB lines: not a number, blanks, name, third field, number",
        QByteArray(mb10, 'x') + "\n" + QByteArray(mb10, ' ') + "8 ,short\n9," + QByteArray(mb10, 'n') +
            "\n10,a," + QByteArray(mb10, 'z') + "\n" + QByteArray(mb10, '1') + ",too long\n11",
        {record(8, QStringLiteral("short")), record(9, QString(NAME_MAX_LENGTH, QLatin1Char('n'))),
         record(10, "a"), record(11)});
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
        QCOMPARE(parse(bytes), (Records{record(100000000000042, QStringLiteral("name")), record(7)}));
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
    QTest::addColumn<Numbered>("wrongLength");
    QTest::newRow("IMEIs of 14, 15 and 16 digits, header, blank line")
        << QByteArray("\r\n IMEI ; Имя \n12345678901234\n+012345678901234,a\n0123456789012345\nx\n") << 6
        << QStringLiteral("IMEI ; Имя") << true
        << Numbered{{0, QStringLiteral("12345678901234")}, {2, QStringLiteral("0123456789012345")}};
    QTest::newRow("quoted line break") << QByteArray("1,\"a\nb\"\n\"x\ny\",2") << 4
                                       << QStringLiteral("\"x y\",2") << true << Numbered{{0, "1"}};
    QTest::newRow("empty") << QByteArray() << 0 << QString() << true << Numbered{};
    QTest::newRow("invalid UTF-8 after valid UTF-8 in a third of the lines")
        << QByteArray("100000000000001,\xC3\xA9\n100000000000002,\xC3\n100000000000003") << 3 << QString()
        << true << Numbered{};
    QTest::newRow("NUL bytes in most lines") << QByteArray("1\n2,\0\n3\0\n", 9) << 3 << QStringLiteral("3")
                                             << false << Numbered{{0, "1"}, {1, "2"}};
    QTest::newRow("UTF-16 without a byte order mark")
        << QByteArray(reinterpret_cast<const char*>(u"100000000000001\n2\n"), 36) << 3
        << QStringLiteral("1 0 0 0 0 0 0 0 0 0 0 0 0 0 1") << false << Numbered{};
    QTest::newRow("control bytes in most lines") << QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR\0", 17) << 3
                                                 << QStringLiteral("‰PNG") << false << Numbered{};
}

// The figures the window reports when a file gives no device or is not text.
void TestDevicesFileParser::whatTheFileHeld() {
    QFETCH(QByteArray, bytes);
    DevicesFileParser parser;
    QVERIFY(parser.parseFile(write(bytes)));
    QTEST(parser.linesRead(), "lines");
    QTEST(parser.firstSkippedLine(), "firstSkipped");
    QTEST(parser.isText(), "text");
    QTEST(parser.wrongLengthImeis(), "wrongLength");
}

void TestDevicesFileParser::readAsWritten_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<Numbered>("skipped");
    QTest::addColumn<QVector<int>>("cut");
    const QString sheet =
        QStringLiteral("IMEI;Имя\r\n356938035643809;Грузовик №1\r\n35000000000004X;Буква в IMEI\r\n"
                       "\r\n356938035643007; Фура \r\n");
    const QStringList trucks{QStringLiteral("Грузовик №1"), QStringLiteral("Фура")};
    const Numbered letter{{3, QStringLiteral("35000000000004X;Буква в IMEI")}};
    QTest::newRow("Windows-1251") << QtCompat::encode(sheet, "Windows-1251") << "Windows-1251" << trucks
                                  << letter << QVector<int>{};
    QTest::newRow("UTF-8") << sheet.toUtf8() << "UTF-8" << trucks << letter << QVector<int>{};
    QTest::newRow("UTF-8 with a mark")
        << "\xEF\xBB\xBF" + sheet.toUtf8() << "UTF-8" << trucks << letter << QVector<int>{};
    QTest::newRow("UTF-16 with a mark") << QtCompat::encode(QStringLiteral("\uFEFF") + sheet, "UTF-16BE")
                                        << "UTF-16" << trucks << letter << QVector<int>{};
    QTest::newRow("Windows-1251, mostly Latin")
        << QtCompat::encode(QStringLiteral("1,Truck\n2,Van\n3,Фура\nx,y\n"), "Windows-1251") << "Windows-1251"
        << QStringList{"Truck", "Van", QStringLiteral("Фура")} << Numbered{{4, "x,y"}} << QVector<int>{};
    QTest::newRow("damaged UTF-8 stays UTF-8")
        << QByteArray("1,Фура\n2,a\xFF\n") << "UTF-8"
        << QStringList{QStringLiteral("Фура"), QStringLiteral("a\uFFFD")} << Numbered{} << QVector<int>{};
    QTest::newRow("trimmed, cut, the formula apostrophe dropped")
        << "1,  '=SUM(A1)  \n2,'\t x\n3,''@x\n4,'plain\n5,\"" + QString(300, QChar(0x0436)).toUtf8() + "\"\n"
        << "UTF-8"
        << QStringList{"=SUM(A1)", "\t x", "'@x", "'plain", QString(NAME_MAX_LENGTH, QChar(0x0436))}
        << Numbered{} << QVector<int>{4};
}

// The encoding, the lines that gave no device, and the names as the database will take them.
void TestDevicesFileParser::readAsWritten() {
    QFETCH(QByteArray, bytes);
    QFETCH(Numbered, skipped);
    DevicesFileParser parser;
    QVERIFY(parser.parseFile(write(bytes)));
    QTEST(parser.encoding(), "encoding");
    QStringList names;
    for (const DeviceInfo& d : parser.devices())
        names << d.name;
    QTEST(names, "names");
    QCOMPARE(parser.skippedLines(), skipped.size());
    QCOMPARE(parser.skippedSample(), skipped);
    QTEST(parser.cutNameRows(), "cut");
}

void TestDevicesFileParser::exportReadsBack_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("comma, semicolon, quotes")
        << QStringLiteral("a,b; \"c\"") << QByteArray("\"a,b; \"\"c\"\"\"");
    QTest::newRow("quote first") << QStringLiteral("\" x") << QByteArray("\"\"\" x\"");
    QTest::newRow("line breaks") << QStringLiteral("a\r\nb\nc") << QByteArray("\"a\r\nb\nc\"");
    QTest::newRow("Cyrillic and emoji")
        << QStringLiteral("Фура №7 \U0001F69A") << QStringLiteral("Фура №7 \U0001F69A").toUtf8();
    QTest::newRow("formula") << QStringLiteral("=HYPERLINK(\"http://x\")")
                             << QByteArray("\"'=HYPERLINK(\"\"http://x\"\")\"");
    QTest::newRow("minus") << QStringLiteral("-5") << QByteArray("'-5");
    QTest::newRow("tab first") << QStringLiteral("\tx") << QByteArray("'\tx");
    QTest::newRow("apostrophes before a plus") << QStringLiteral("''+1") << QByteArray("'''+1");
}

// What is exported reads back with the same IMEIs, names, groups and for-all flags; groups are
// named, the admins' (missing from the names) left out.
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
    QCOMPARE(parser.wrongLengthImeis(), Numbered{});
    QCOMPARE(parser.rowGroups(),
             (QVector<QStringList>{{QStringLiteral("Юг, 2"), QStringLiteral("Север")}, {}}));
    QCOMPARE(parser.rowForAll(), (QVector<int>{1, 0}));
    QCOMPARE(parser.skippedLines(), 0);
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

// Read aside, a file gives what parseFile gives; cancelled, the reading stops between two pieces
// and gives nothing.
void TestDevicesFileParser::readingAside() {
    QByteArray bytes;
    for (int i = 0; i < 200000; ++i)
        bytes += QByteArray::number(100000000000000LL + i) + ",Device\n";
    const QString path = write(bytes);
    DevicesFileReader reader;
    QSignalSpy finished(&reader, &DevicesFileReader::finished);
    QSignalSpy cancelled(&reader, &DevicesFileReader::cancelled);
    QVERIFY(reader.start(path));
    QVERIFY(!reader.start(path));
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.first().first().toBool(), true);
    QCOMPARE(reader.takeContents().records.size(), 200000);

    QVERIFY(reader.start(path));
    reader.cancel();
    QVERIFY(cancelled.wait(20000));
    QCOMPARE(finished.size(), 1);

    int pieces = 0;
    DevicesFileParser::Result into;
    QVERIFY(!DevicesFileParser::read(path, into, [&pieces](qint64, qint64) { return ++pieces < 2; }));
    QCOMPARE(pieces, 2);
    QVERIFY(into.records.isEmpty());
}

QTEST_GUILESS_MAIN(TestDevicesFileParser)
#include "tst_devicesfileparser.moc"
