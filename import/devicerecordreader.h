#pragma once

// The byte-level reader behind DevicesFileParser; used by it alone.

#include "core/schema.h"
#include "import/devicefilecontents.h"
#include "import/spreadsheettext.h"

#include <QHash>
#include <QString>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

namespace DeviceRecords {

// A first field longer than this (after its leading blanks) cannot be a number, so the
// rest of its line is not kept in memory.
constexpr int longestNumberField = 4096;
// Of a name, and of the groups column, more than this is never kept: names are cut to
// NAME_MAX_LENGTH characters anyway.
constexpr size_t longestTextField = 64 * 1024;
// Header fields are kept this long, and this many of them.
constexpr size_t longestHeaderField = 64;
constexpr int headerFields = 64;
constexpr int skippedSampleSize = 5;

// Bytes that do not occur in text: NUL and the control characters other than white space.
struct ControlBytes {
    bool control[128] = {};
    constexpr ControlBytes() {
        for (int b = 0; b < 0x20; ++b)
            control[b] = !(b >= '\t' && b <= '\r');
        control[0x7F] = true;
    }
};
constexpr ControlBytes controlBytes;

inline bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Decimal digits with an optional '+' that fit a signed 64-bit number.
inline bool parseNumber(const char* p, const char* end, quint64* value) {
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
inline bool parseImei(const char* begin, const char* end, quint64* imei) {
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
// A line's beginning as a message shows it: control characters (line breaks of a quoted field,
// NUL) become blanks.
inline QString shownText(const QByteArray& bytes) {
    QString text = QString::fromUtf8(bytes.constData(), bytes.size());
    for (QChar& c : text) {
        if (c.unicode() < 0x20)
            c = QLatin1Char(' ');
    }
    return text.simplified();
}

// UTF-8 for each byte of a single-byte encoding; ASCII stays as it is.
struct SingleByteTable {
    char utf8[256][4] = {};
    unsigned char size[256] = {};
    bool space[256] = {}; // white space, which may surround a number
    size_t longest = 1;   // bytes of the longest sequence
};

class RecordReader {
public:
    // Without a table the bytes are UTF-8; with one, they are in that single-byte encoding and
    // only what is kept is turned into UTF-8.
    explicit RecordReader(DeviceFileContents& out, const SingleByteTable* singleByte = nullptr)
        : out(out)
        , table(singleByte) {}

    // Whether invalid UTF-8 came before any valid multi-byte sequence: then the file is more
    // likely in a single-byte encoding than damaged UTF-8.
    bool invalidBeforeMultibyte() const { return invalidFirst; }

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
                        invalidUtf8();
                    if (stops->stop[byte])
                        break;
                    if (controlBytes.control[byte])
                        notText = true;
                } else if (!table) {
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
        startRecord();
        lineStarted = true;
        if (headWanted())
            append(head, begin, end, headLength);
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
            if (!table || byte < 0x80)
                checkUtf8(byte);
        }
        startRecord();
        if (headWanted())
            append(head, &c, &c + 1, headLength);
        if (!isBlank(c))
            blank = false;

        switch (state) {
        case SkipRecord:
            return;
        case FieldStart:
            if ((field == 0 || field == 1) && isBlank(c))
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

    // Whether single-byte text may still be part of a number: ASCII and white space only.
    bool numberText(const char* begin, const char* end) const {
        for (const char* b = begin; b < end; ++b) {
            const auto byte = static_cast<unsigned char>(*b);
            if (byte >= 0x80 && !table->space[byte])
                return false;
        }
        return true;
    }

    // A record's beginning is shown for the first lines skipped only.
    bool headWanted() const {
        return headerPossible || firstSkipped.isNull() || out.skippedSample.size() < skippedSampleSize;
    }

    bool isSeparator(char c) const { return separator ? c == separator : c == ',' || c == ';'; }

    // Appends the text as UTF-8 up to `limit` bytes in all; true when not all of it fitted.
    bool append(std::string& to, const char* begin, const char* end, size_t limit) const {
        const size_t room = limit - std::min(limit, to.size());
        const auto length = size_t(end - begin);
        if (!table) {
            to.append(begin, std::min(room, length));
            return length > room;
        }
        const size_t before = to.size();
        to.resize(before + std::min(room, table->longest * length));
        char* out = &to[0] + before;
        char* const full = &to[0] + to.size();
        const char* b = begin;
        for (; b < end; ++b) {
            const auto byte = static_cast<unsigned char>(*b);
            if (byte < 0x80) {
                if (out == full)
                    break;
                *out++ = *b;
                continue;
            }
            const size_t size = table->size[byte];
            if (size > size_t(full - out)) {
                std::memcpy(out, table->utf8[byte], size_t(full - out));
                out = full;
                break;
            }
            for (size_t i = 0; i < size; ++i)
                *out++ = table->utf8[byte][i];
        }
        to.resize(size_t(out - &to[0]));
        return b < end;
    }

    void keep(const char* begin, const char* end) {
        if (inHeader) {
            if (field < headerFields) {
                append(header[size_t(field)], begin, end, longestHeaderField);
                headerUsed = std::max(headerUsed, field + 1);
            }
        } else if (field == 0) {
            if (table && !headerPossible && state == Unquoted && !numberText(begin, end)) {
                // a letter: the field cannot be a number, and the record is skipped as at its end
                state = SkipRecord;
                return;
            }
            // a first field this long cannot be a number: the rest of it is not kept
            append(imei, begin, end, longestNumberField + 1);
            if (imei.size() > size_t(longestNumberField))
                state = headerPossible ? state : SkipRecord;
        } else if (field == 1) {
            nameOverflow |= append(name, begin, end, longestTextField);
        } else if (field == groupsColumn) {
            append(groups, begin, end, longestTextField);
        } else if (field == forAllColumn) {
            append(forAll, begin, end, longestHeaderField);
        }
    }

    void endField(char c) {
        if (field == 0) {
            separator = c;
            if (!parseImei(imei.data(), imei.data() + imei.size(), &device.imei)) {
                // the first line that is not blank may be a header: its fields are read
                if (!headerPossible) {
                    state = SkipRecord;
                    return;
                }
                inHeader = true;
            }
        }
        ++field;
        state = FieldStart;
    }

    void startRecord() {
        if (!recordStarted)
            recordLine = out.lines + 1;
        recordStarted = true;
    }

    void invalidUtf8() {
        notText = true;
        continuations = 0;
        if (!sawInvalid)
            invalidFirst = !sawMultibyte;
        sawInvalid = true;
    }

    // Lines that hold control bytes or invalid UTF-8 tell a file that is not text.
    void checkUtf8(unsigned char byte) {
        if (byte < 0x80 && controlBytes.control[byte])
            notText = true;
        if (continuations > 0) {
            if ((byte & 0xC0) != 0x80)
                invalidUtf8();
            else if (--continuations == 0)
                sawMultibyte = true;
        } else if (byte >= 0x80) {
            if (byte >= 0xC2 && byte <= 0xDF)
                continuations = 1;
            else if (byte >= 0xE0 && byte <= 0xEF)
                continuations = 2;
            else if (byte >= 0xF0 && byte <= 0xF4)
                continuations = 3;
            else
                invalidUtf8();
        }
    }

    void endLine() {
        ++out.lines;
        if (continuations > 0)
            invalidUtf8();
        if (notText)
            ++out.binaryLines;
        notText = false;
        continuations = 0;
        lineStarted = false;
    }

    void endRecord() {
        // the line end's CR of an unquoted last field
        if (state == Unquoted && field == 1 && !name.empty() && name.back() == '\r')
            name.pop_back();
        bool accepted = state != SkipRecord && !inHeader;
        if (accepted && field == 0)
            accepted = parseImei(imei.data(), imei.data() + imei.size(), &device.imei);
        if (accepted) {
            addDevice();
        } else if (!blank) {
            if (firstSkipped.isNull())
                firstSkipped = QByteArray(head.data(), int(head.size()));
            if (headerPossible) {
                readHeader();
            } else {
                ++out.skipped;
                if (out.skippedSample.size() < skippedSampleSize)
                    out.skippedSample.append(
                        NumberedText{recordLine, shownText(QByteArray(head.data(), int(head.size())))});
            }
        }
        if (!blank)
            headerPossible = false;
        device = DeviceInfo();
        imei.clear();
        name.clear();
        groups.clear();
        forAll.clear();
        head.clear();
        for (int i = 0; i < headerUsed; ++i)
            header[size_t(i)].clear();
        headerUsed = 0;
        blank = true;
        nameOverflow = false;
        inHeader = false;
        field = 0;
        separator = 0;
        state = FieldStart;
        recordStarted = false;
    }

    void addDevice() {
        const int row = out.records.size();
        QString text = SpreadsheetText::unmarked(QString::fromUtf8(name.data(), int(name.size())).trimmed());
        if (cutToColumn(text) || nameOverflow)
            out.cutNames.append(row);
        // fromUtf8 reserves a character per byte: twice the room a Cyrillic name needs
        text.squeeze();
        device.name = text;
        if (digitCount(imei) != IMEI_DIGITS)
            out.wrongLength.append(
                NumberedText{row, QString::fromUtf8(imei.data(), int(imei.size())).trimmed()});
        out.records.append(device);
        out.lineNumbers.append(recordLine);
        if (groupsColumn > 0)
            out.groups.append(groupNames());
        if (forAllColumn > 0)
            out.forAll.append(forAllValue());
    }

    QStringList groupNames() {
        QStringList names;
        const QString text =
            SpreadsheetText::unmarked(QString::fromUtf8(groups.data(), int(groups.size())).trimmed());
        for (const QString& part : text.split(QLatin1Char(';'))) {
            QString name = part.trimmed();
            if (name.isEmpty())
                continue;
            cutToColumn(name);
            // rows share the strings of their groups
            auto it = knownGroups.constFind(name);
            if (it == knownGroups.constEnd())
                it = knownGroups.insert(name, name);
            names.append(it.value());
        }
        return names;
    }

    int forAllValue() const {
        const QString value = QString::fromUtf8(forAll.data(), int(forAll.size())).trimmed().toLower();
        if (value == QStringLiteral("да") || value == QStringLiteral("1"))
            return 1;
        if (value == QStringLiteral("нет") || value == QStringLiteral("0"))
            return 0;
        return -1;
    }

    // Finds the columns of groups and of the for-all flag by their titles.
    void readHeader() {
        for (int i = 1; i < headerFields; ++i) {
            const QString title = QString::fromUtf8(header[size_t(i)].data(), int(header[size_t(i)].size()))
                                      .trimmed()
                                      .toLower();
            if (title == QStringLiteral("группы"))
                groupsColumn = i;
            else if (title == QStringLiteral("для всех"))
                forAllColumn = i;
        }
        out.groupsColumn = groupsColumn > 0;
        out.forAllColumn = forAllColumn > 0;
    }

    // Cuts a text to the column's characters (code points, as the database counts them).
    static bool cutToColumn(QString& text) {
        if (text.size() <= NAME_MAX_LENGTH)
            return false;
        int i = 0;
        for (int points = 0; i < text.size() && points < NAME_MAX_LENGTH; ++points)
            i += text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate() ? 2
                                                                                                        : 1;
        if (i == text.size())
            return false;
        text.truncate(i);
        return true;
    }

    static int digitCount(const std::string& field) {
        return int(std::count_if(field.cbegin(), field.cend(), [](char c) { return c >= '0' && c <= '9'; }));
    }

    DeviceFileContents& out;
    const SingleByteTable* const table;
    DeviceInfo device;
    // clear() keeps their room: no allocation per record
    std::string imei;
    std::string name;
    std::string groups;
    std::string forAll;
    std::string header[headerFields];
    int headerUsed = 0; // header fields that may hold text
    std::string head;   // the record's first bytes, for telling which line was skipped
    QHash<QString, QString> knownGroups;
    State state = FieldStart;
    int field = 0;
    int recordLine = 0;
    int groupsColumn = -1;
    int forAllColumn = -1;
    char separator = 0;
    bool blank = true;
    bool recordStarted = false;
    bool lineStarted = false;
    bool notText = false;
    bool headerPossible = true;
    bool inHeader = false;
    bool nameOverflow = false;
    bool sawMultibyte = false;
    bool sawInvalid = false;
    bool invalidFirst = false;
    int continuations = 0;
};

} // namespace DeviceRecords
