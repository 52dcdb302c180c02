#include "import/devicesfileparser.h"

#include "core/qtcompat.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

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

// Which bytes end a run of ordinary ones: in an unquoted field the line end and the separators
// (both while the separator is not known yet), in a quoted field the line end and the quote, in
// a skipped record the line end.
struct StopBytes {
    bool stop[256] = {};
    explicit constexpr StopBytes(const char* bytes) {
        for (const char* b = bytes; *b; ++b)
            stop[static_cast<unsigned char>(*b)] = true;
    }
};
constexpr StopBytes unknownSeparatorStops(",;\n");
constexpr StopBytes commaStops(",\n");
constexpr StopBytes semicolonStops(";\n");
constexpr StopBytes quotedStops("\"\n");
constexpr StopBytes lineEndStops("\n");

// Cuts UTF-8 text into records and turns the accepted ones into devices. A record is a line,
// or more when a quoted field holds line breaks. Its separator is the first comma or semicolon
// after the IMEI. Only the IMEI (at most longestNumberField bytes) and the name are kept while a
// record is read. Runs of ordinary bytes are taken at once; separators, quotes and line ends one
// by one.
class RecordReader {
public:
    explicit RecordReader(QVector<DeviceInfo>& out, QVector<int>& wrongLength)
        : out(out)
        , wrongLength(wrongLength) {}

    void feed(const char* data, qint64 size) {
        const char* p = data;
        const char* const end = data + size;
        while (p < end) {
            const StopBytes* stops = runStops();
            if (!stops) {
                take(*p++);
                continue;
            }
            const char* q = p;
            if (stops == &lineEndStops && notText) {
                // the rest of a skipped line that is not text matters only for where it ends
                q = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
                q = q ? q : end;
            }
            for (; q < end; ++q) {
                const auto byte = static_cast<unsigned char>(*q);
                if (byte < 0x80) {
                    if (continuations > 0)
                        notText = true, continuations = 0;
                    if (stops->stop[byte])
                        break;
                    if (byte == 0)
                        notText = true;
                } else {
                    checkUtf8(byte);
                }
            }
            if (q > p) {
                takeRun(p, q);
                p = q;
            }
            if (p < end)
                take(*p++);
        }
    }

    void finish() {
        if (lineStarted)
            endLine();
        if (recordStarted)
            endRecord();
    }

    int lines = 0;
    int binaryLines = 0;
    QByteArray firstSkipped;

private:
    enum State {
        FieldStart,
        Unquoted,
        Quoted,
        QuoteInQuoted, // a quote inside a quoted field: doubled, or the closing one
        AfterQuoted,   // what follows a closing quote up to the separator is dropped
        SkipRecord,    // the IMEI cannot be a number
    };

    static constexpr size_t headLength = 120;

    // The stop bytes of the states whose ordinary bytes can be taken as a run.
    const StopBytes* runStops() const {
        switch (state) {
        case Unquoted:
            return separator == ','   ? &commaStops
                   : separator == ';' ? &semicolonStops
                                      : &unknownSeparatorStops;
        case Quoted:
            return &quotedStops;
        case SkipRecord:
            return &lineEndStops;
        default:
            return nullptr;
        }
    }

    // Ordinary bytes of the current state, already checked as UTF-8.
    void takeRun(const char* begin, const char* end) {
        lineStarted = recordStarted = true;
        if (head.size() < headLength)
            head.append(begin, std::min<size_t>(headLength - head.size(), size_t(end - begin)));
        for (const char* b = begin; blank && b < end; ++b)
            blank = isBlank(*b);
        if (state != SkipRecord)
            keep(begin, end);
    }

    void take(char c) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            endLine();
            if (state != Quoted) {
                endRecord();
                return;
            }
        } else {
            lineStarted = true;
            checkUtf8(byte);
        }
        recordStarted = true;
        if (head.size() < headLength)
            head.push_back(c);
        if (!isBlank(c))
            blank = false;

        switch (state) {
        case SkipRecord:
            return;
        case FieldStart:
            if (field == 0 && isBlank(c))
                return;
            if (c == '"') {
                state = Quoted;
                return;
            }
            if (isSeparator(c)) {
                endField(c);
                return;
            }
            state = Unquoted;
            keep(&c, &c + 1);
            return;
        case Unquoted:
            if (isSeparator(c))
                endField(c);
            else
                keep(&c, &c + 1);
            return;
        case Quoted:
            if (c == '"')
                state = QuoteInQuoted;
            else
                keep(&c, &c + 1);
            return;
        case QuoteInQuoted:
            if (c == '"') {
                keep(&c, &c + 1);
                state = Quoted;
                return;
            }
            state = AfterQuoted;
            Q_FALLTHROUGH();
        case AfterQuoted:
            if (isSeparator(c))
                endField(c);
            return;
        }
    }

    bool isSeparator(char c) const { return separator ? c == separator : c == ',' || c == ';'; }

    void keep(const char* begin, const char* end) {
        if (field == 0) {
            // a first field this long cannot be a number: the rest of it is not kept
            imei.append(begin, std::min<size_t>(longestNumberField + 1 - imei.size(), size_t(end - begin)));
            if (imei.size() > size_t(longestNumberField))
                state = SkipRecord;
        } else if (field == 1) {
            name.append(begin, size_t(end - begin));
        }
    }

    void endField(char c) {
        if (field == 0) {
            separator = c;
            if (!parseImei(imei.data(), imei.data() + imei.size(), &device.imei)) {
                state = SkipRecord;
                return;
            }
        }
        ++field;
        state = FieldStart;
    }

    // Lines that hold NUL bytes or invalid UTF-8 tell a file that is not text.
    void checkUtf8(unsigned char byte) {
        if (byte == 0) {
            notText = true;
        } else if (continuations > 0) {
            if ((byte & 0xC0) == 0x80)
                --continuations;
            else
                notText = true, continuations = 0;
        } else if (byte >= 0x80) {
            if (byte >= 0xC2 && byte <= 0xDF)
                continuations = 1;
            else if (byte >= 0xE0 && byte <= 0xEF)
                continuations = 2;
            else if (byte >= 0xF0 && byte <= 0xF4)
                continuations = 3;
            else
                notText = true;
        }
    }

    void endLine() {
        ++lines;
        if (notText || continuations > 0)
            ++binaryLines;
        notText = false;
        continuations = 0;
        lineStarted = false;
    }

    void endRecord() {
        // the line end's CR of an unquoted last field
        if (state == Unquoted && field == 1 && !name.empty() && name.back() == '\r')
            name.pop_back();
        bool accepted = state != SkipRecord;
        if (accepted && field == 0)
            accepted = parseImei(imei.data(), imei.data() + imei.size(), &device.imei);
        if (accepted) {
            device.name = QString::fromUtf8(name.data(), int(name.size()));
            if (digitCount(imei) != 15)
                wrongLength.append(out.size());
            out.append(device);
        } else if (!blank && firstSkipped.isNull()) {
            firstSkipped = QByteArray(head.data(), int(head.size()));
        }
        device = DeviceInfo();
        imei.clear();
        name.clear();
        head.clear();
        blank = true;
        field = 0;
        separator = 0;
        state = FieldStart;
        recordStarted = false;
    }

    static int digitCount(const std::string& field) {
        return int(std::count_if(field.cbegin(), field.cend(), [](char c) { return c >= '0' && c <= '9'; }));
    }

    QVector<DeviceInfo>& out;
    QVector<int>& wrongLength;
    DeviceInfo device;
    // clear() keeps their room: no allocation per record
    std::string imei;
    std::string name;
    std::string head; // the record's first bytes, for telling which line was skipped
    State state = FieldStart;
    int field = 0;
    char separator = 0;
    bool blank = true;
    bool recordStarted = false;
    bool lineStarted = false;
    bool notText = false;
    int continuations = 0;
};

// The encoding that a byte order mark names, with the mark's length; UTF-8 when there is none.
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
    wrongLength.clear();
    RecordReader reader(records, wrongLength);
    QByteArray chunk(static_cast<int>(chunkSize), Qt::Uninitialized);
    std::unique_ptr<QtCompat::TextDecoder> decoder;
    bool first = true;
    for (;;) {
        const qint64 got = file.read(chunk.data(), chunkSize);
        if (got <= 0)
            break;
        int skip = 0;
        if (first) {
            first = false;
            if (const char* encoding = encodingForMark(chunk.left(static_cast<int>(got)), &skip))
                decoder = std::make_unique<QtCompat::TextDecoder>(encoding);
        }
        if (decoder) {
            const QByteArray utf8 =
                decoder->decode(chunk.constData() + skip, static_cast<int>(got) - skip).toUtf8();
            reader.feed(utf8.constData(), utf8.size());
        } else {
            reader.feed(chunk.constData() + skip, got - skip);
        }
    }
    reader.finish();
    records.squeeze();
    lines = reader.lines;
    binaryLines = reader.binaryLines;
    // shown in a message: control characters (line breaks of a quoted field, NUL) become blanks
    skipped = QString::fromUtf8(reader.firstSkipped.constData(), reader.firstSkipped.size());
    for (QChar& c : skipped) {
        if (c.unicode() < 0x20)
            c = QLatin1Char(' ');
    }
    skipped = skipped.simplified();
    return true;
}

QVector<DeviceInfo> DevicesFileParser::devices() const {
    return records;
}

QVector<int> DevicesFileParser::wrongLengthRows() const {
    return wrongLength;
}

int DevicesFileParser::linesRead() const {
    return lines;
}

QString DevicesFileParser::firstSkippedLine() const {
    return skipped;
}

bool DevicesFileParser::isText() const {
    return binaryLines * 2 <= lines;
}
