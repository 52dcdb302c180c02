#include "import/devicesfileparser.h"

#include "core/qtcompat.h"
#include "import/devicerecordreader.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <utility>

namespace {

using DeviceRecords::RecordReader;
constexpr qint64 chunkSize = 1 << 20;

// The encoding that a byte order mark names, with the mark's length; none for UTF-8.
const char* encodingForMark(const QByteArray& head, int* markLength) {
    const auto starts = [&head](const char* mark, int length) {
        return head.size() >= length && std::memcmp(head.constData(), mark, static_cast<size_t>(length)) == 0;
    };
    struct Mark {
        const char* bytes;
        int length;
        const char* encoding;
    };
    static const Mark marks[] = {
        {"\xFF\xFE\x00\x00", 4, "UTF-32LE"}, {"\x00\x00\xFE\xFF", 4, "UTF-32BE"},
        {"\xEF\xBB\xBF", 3, nullptr},        {"\xFF\xFE", 2, "UTF-16LE"},
        {"\xFE\xFF", 2, "UTF-16BE"},
    };
    for (const Mark& mark : marks) {
        if (starts(mark.bytes, mark.length)) {
            *markLength = mark.length;
            return mark.encoding;
        }
    }
    *markLength = 0;
    return nullptr;
}

const char* const windows1251 = "Windows-1251";

// A single-byte encoding decodes each byte alone: the codec is asked once per byte, rather than
// for every byte of a file that may be large and need not be text at all.
const DeviceRecords::SingleByteTable& windows1251Table() {
    static const DeviceRecords::SingleByteTable table = [] {
        DeviceRecords::SingleByteTable t;
        for (int byte = 0x80; byte <= 0xFF; ++byte) {
            const char c = char(byte);
            const QString text = QtCompat::TextDecoder(windows1251).decode(&c, 1);
            t.space[byte] = text.trimmed().isEmpty();
            const QByteArray utf8 = text.toUtf8().left(4);
            std::memcpy(t.utf8[byte], utf8.constData(), size_t(utf8.size()));
            t.size[byte] = static_cast<unsigned char>(utf8.size());
            t.longest = std::max(t.longest, size_t(utf8.size()));
        }
        return t;
    }();
    return table;
}

enum class Reading { Done, NotUtf8, Stopped };

// Reads the file with the decoder for `encoding` (none: UTF-8). NotUtf8 when the file, read as
// UTF-8, turned out not to be and `fallBack` allows another try in Windows-1251.
Reading readFile(QFile& file, const char* encoding, bool fallBack, DevicesFileParser::Result& result,
                 const DevicesFileParser::Progress& going) {
    result = DevicesFileParser::Result();
    const bool singleByte = encoding && std::strcmp(encoding, windows1251) == 0;
    RecordReader reader(result, singleByte ? &windows1251Table() : nullptr);
    QByteArray chunk(static_cast<int>(chunkSize), Qt::Uninitialized);
    std::unique_ptr<QtCompat::TextDecoder> decoder;
    if (encoding && !singleByte)
        decoder = std::make_unique<QtCompat::TextDecoder>(encoding);
    result.encoding = encoding ? QString::fromLatin1(encoding) : QStringLiteral("UTF-8");
    bool first = true;
    for (;;) {
        const qint64 got = file.read(chunk.data(), chunkSize);
        if (got <= 0)
            break;
        int skip = 0;
        if (first) {
            first = false;
            if (const char* marked = encodingForMark(chunk.left(static_cast<int>(got)), &skip)) {
                decoder = std::make_unique<QtCompat::TextDecoder>(marked);
                result.encoding = QString::fromLatin1(marked).left(6);
                fallBack = false;
            } else if (skip > 0) {
                fallBack = false;
            }
        }
        if (decoder) {
            const QByteArray utf8 =
                decoder->decode(chunk.constData() + skip, static_cast<int>(got) - skip).toUtf8();
            reader.feed(utf8.constData(), utf8.size());
        } else {
            reader.feed(chunk.constData() + skip, got - skip);
            if (fallBack && reader.invalidBeforeMultibyte())
                return Reading::NotUtf8;
        }
        if (going && !going(file.pos(), file.size()))
            return Reading::Stopped;
    }
    reader.finish();
    result.records.squeeze();
    result.lineNumbers.squeeze();
    result.firstSkipped = DeviceRecords::shownText(reader.firstSkipped);
    return Reading::Done;
}

} // namespace

DevicesFileParser::DevicesFileParser(QObject* parent)
    : QObject(parent) {}

bool DevicesFileParser::parseFile(const QString& fileName) {
    Result contents;
    if (!read(fileName, contents))
        return false;
    take(std::move(contents));
    return true;
}

bool DevicesFileParser::read(const QString& fileName, Result& into, const Progress& going) {
    // Only regular files: a pipe or a device could block or never end.
    if (!QFileInfo(fileName).isFile())
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;

    Reading reading = readFile(file, nullptr, QtCompat::TextDecoder::available(windows1251), into, going);
    if (reading == Reading::NotUtf8) {
        file.seek(0);
        reading = readFile(file, windows1251, false, into, going);
    }
    if (reading == Reading::Stopped) {
        into = Result();
        return false;
    }
    return true;
}

void DevicesFileParser::take(Result contents) {
    last = std::move(contents);
}

QVector<DeviceInfo> DevicesFileParser::devices() const {
    return last.records;
}

QVector<int> DevicesFileParser::lineNumbers() const {
    return last.lineNumbers;
}

QString DevicesFileParser::encoding() const {
    return last.encoding;
}

int DevicesFileParser::skippedLines() const {
    return last.skipped;
}

QVector<NumberedText> DevicesFileParser::skippedSample() const {
    return last.skippedSample;
}

QVector<NumberedText> DevicesFileParser::wrongLengthImeis() const {
    return last.wrongLength;
}

QVector<int> DevicesFileParser::cutNameRows() const {
    return last.cutNames;
}

bool DevicesFileParser::hasGroupColumns() const {
    return last.groupsColumn || last.forAllColumn;
}

QVector<QStringList> DevicesFileParser::rowGroups() const {
    return last.groupsColumn ? last.groups : QVector<QStringList>(last.records.size());
}

QVector<int> DevicesFileParser::rowForAll() const {
    return last.forAllColumn ? last.forAll : QVector<int>(last.records.size(), -1);
}

int DevicesFileParser::linesRead() const {
    return last.lines;
}

QString DevicesFileParser::firstSkippedLine() const {
    return last.firstSkipped;
}

bool DevicesFileParser::isText() const {
    return last.binaryLines * 2 <= last.lines;
}
