#pragma once

#include "import/spreadsheettext.h"

#include <QByteArray>
#include <QString>

// One field of the program's CSV files: UTF-8, quoted per RFC 4180 where a separator, a quote
// or a line break needs it, and a text a spreadsheet would take for a formula behind an
// apostrophe (SpreadsheetText).
namespace CsvField {

inline void append(QByteArray& out, const QString& text) {
    const QByteArray utf8 = SpreadsheetText::marked(text).toUtf8();
    bool quote = false;
    for (const char c : utf8) {
        if (c == ',' || c == ';' || c == '"' || c == '\n' || c == '\r') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        out += utf8;
        return;
    }
    out += '"';
    for (const char c : utf8) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

} // namespace CsvField
