#pragma once

#include <QString>

// Spreadsheets take a cell beginning with = + - @, a tab or a carriage return for a formula.
// Such a text is written behind an apostrophe, which they show as text; the reader drops
// exactly that apostrophe. Texts that already begin with apostrophes before such a character
// get one more, so that every text reads back as it was.
namespace SpreadsheetText {

inline bool needsMark(const QString& text) {
    int i = 0;
    while (i < text.size() && text.at(i) == QLatin1Char('\''))
        ++i;
    if (i == text.size())
        return false;
    const ushort c = text.at(i).unicode();
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

inline QString marked(const QString& text) {
    return needsMark(text) ? QLatin1Char('\'') + text : text;
}

inline QString unmarked(const QString& text) {
    return text.startsWith(QLatin1Char('\'')) && needsMark(text) ? text.mid(1) : text;
}

} // namespace SpreadsheetText
