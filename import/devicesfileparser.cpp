#include "import/devicesfileparser.h"

#include <QFile>
#include <QFileInfo>
#include <QTextCodec>
#include <QTextDecoder>

#include <cstring>
#include <limits>
#include <memory>

namespace {

constexpr qint64 chunkSize = 1 << 20;
// A first field longer than this (after its leading blanks) cannot be a number, so the
// rest of its line is not kept in memory.
constexpr int longestNumberField = 4096;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Decimal digits with an optional '+' that fit a signed 64-bit number.
bool parseNumber(const char* p, const char* end, quint64* value) {
    if (p < end && *p == '+')
        ++p;
    if (p == end)
        return false;
    constexpr quint64 limit = static_cast<quint64>(std::numeric_limits<qint64>::max());
    quint64 v = 0;
    for (; p < end; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        const quint64 digit = static_cast<quint64>(*p - '0');
        if (v > (limit - digit) / 10)
            return false;
        v = v * 10 + digit;
    }
    *value = v;
    return true;
}

// The IMEI field: a number with nothing but white space around it.
bool parseImei(const char* begin, const char* end, quint64* imei) {
    while (begin < end && isBlank(*begin))
        ++begin;
    while (end > begin && isBlank(end[-1]))
        --end;
    bool ascii = true;
    for (const char* p = begin; p < end && ascii; ++p)
        ascii = static_cast<unsigned char>(*p) < 0x80;
    if (ascii)
        return parseNumber(begin, end, imei);
    // Other white space (no-break space and the like) may surround the number.
    const QString trimmed = QString::fromUtf8(begin, static_cast<int>(end - begin)).trimmed();
    for (const QChar c : trimmed) {
        if (c.unicode() >= 0x80)
            return false;
    }
    const QByteArray latin = trimmed.toLatin1();
    return parseNumber(latin.constData(), latin.constData() + latin.size(), imei);
}

// Cuts UTF-8 text into lines and turns the accepted ones into records. Only the part of
// a line that can still matter is kept while the line is incomplete.
class LineReader {
public:
    explicit LineReader(QVector<DeviceInfo>& out)
        : out(out) {}

    void feed(const char* data, qint64 size) {
        const char* p = data;
        const char* const end = data + size;
        while (p < end) {
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            if (!nl) {
                keep(p, end);
                return;
            }
            if (state == Collect && pending.isEmpty()) {
                takeLine(p, nl);
            } else {
                keep(p, nl);
                if (state != SkipLine)
                    takeLine(pending.constData(), pending.constData() + pending.size());
                pending.clear();
                state = Collect;
                commas = 0;
            }
            p = nl + 1;
        }
    }

    void finish() {
        if (state != SkipLine && !pending.isEmpty())
            takeLine(pending.constData(), pending.constData() + pending.size());
        pending.clear();
    }

private:
    enum State {
        Collect,    // the line's beginning is kept as it comes
        IgnoreTail, // the first two fields are complete; the rest of the line is dropped
        SkipLine,   // the line cannot give a record
    };

    void keep(const char* begin, const char* end) {
        if (state != Collect || begin == end)
            return;
        const int from = pending.size();
        pending.append(begin, static_cast<int>(end - begin));
        // Look for the commas among the bytes just added.
        for (int i = from; i < pending.size() && commas < 2; ++i) {
            if (pending.at(i) != ',')
                continue;
            if (++commas == 1) {
                quint64 imei = 0;
                if (!parseImei(pending.constData(), pending.constData() + i, &imei)) {
                    dropLine();
                    return;
                }
            } else {
                pending.truncate(i);
                state = IgnoreTail;
                return;
            }
        }
        if (commas == 0 && pending.size() > longestNumberField) {
            int blanks = 0;
            while (blanks < pending.size() && isBlank(pending.at(blanks)))
                ++blanks;
            pending.remove(0, blanks);
            if (pending.size() > longestNumberField)
                dropLine();
        }
    }

    void dropLine() {
        pending.clear();
        state = SkipLine;
    }

    void takeLine(const char* begin, const char* end) {
        if (end > begin && end[-1] == '\r')
            --end;
        const char* comma =
            static_cast<const char*>(std::memchr(begin, ',', static_cast<size_t>(end - begin)));
        DeviceInfo device;
        if (!parseImei(begin, comma ? comma : end, &device.imei))
            return;
        if (comma) {
            const char* nameBegin = comma + 1;
            const char* nameEnd =
                static_cast<const char*>(std::memchr(nameBegin, ',', static_cast<size_t>(end - nameBegin)));
            if (!nameEnd)
                nameEnd = end;
            device.name = QString::fromUtf8(nameBegin, static_cast<int>(nameEnd - nameBegin));
        }
        out.append(device);
    }

    QVector<DeviceInfo>& out;
    QByteArray pending;
    State state = Collect;
    int commas = 0;
};

// The codec that a byte order mark names, with the mark's length; UTF-8 when there is none.
QTextCodec* codecForMark(const QByteArray& head, int* markLength) {
    const auto starts = [&head](const char* mark, int length) {
        return head.size() >= length && std::memcmp(head.constData(), mark, static_cast<size_t>(length)) == 0;
    };
    struct Mark {
        const char* bytes;
        int length;
        const char* codec;
    };
    static const Mark marks[] = {
        {"\xFF\xFE\x00\x00", 4, "UTF-32LE"}, {"\x00\x00\xFE\xFF", 4, "UTF-32BE"},
        {"\xEF\xBB\xBF", 3, nullptr},        {"\xFF\xFE", 2, "UTF-16LE"},
        {"\xFE\xFF", 2, "UTF-16BE"},
    };
    for (const Mark& mark : marks) {
        if (starts(mark.bytes, mark.length)) {
            *markLength = mark.length;
            return mark.codec ? QTextCodec::codecForName(mark.codec) : nullptr;
        }
    }
    *markLength = 0;
    return nullptr;
}

} // namespace

DevicesFileParser::DevicesFileParser(QObject* parent)
    : QObject(parent) {}

bool DevicesFileParser::parseFile(const QString& fileName) {
    // Only regular files: a pipe or a device could block or never end.
    if (!QFileInfo(fileName).isFile())
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;

    records.clear();
    records.squeeze();
    LineReader reader(records);
    QByteArray chunk(static_cast<int>(chunkSize), Qt::Uninitialized);
    std::unique_ptr<QTextDecoder> decoder;
    bool first = true;
    for (;;) {
        const qint64 got = file.read(chunk.data(), chunkSize);
        if (got <= 0)
            break;
        int skip = 0;
        if (first) {
            first = false;
            if (QTextCodec* codec = codecForMark(chunk.left(static_cast<int>(got)), &skip))
                decoder.reset(codec->makeDecoder(QTextCodec::IgnoreHeader));
        }
        if (decoder) {
            const QByteArray utf8 =
                decoder->toUnicode(chunk.constData() + skip, static_cast<int>(got) - skip).toUtf8();
            reader.feed(utf8.constData(), utf8.size());
        } else {
            reader.feed(chunk.constData() + skip, got - skip);
        }
    }
    reader.finish();
    records.squeeze();
    return true;
}

QVector<DeviceInfo> DevicesFileParser::devices() const {
    return records;
}
