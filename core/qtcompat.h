#pragma once

// What differs between Qt 5.15 and Qt 6, in one place: the rest of the code is the same for
// both (the build picks one with -DORB_QT_MAJOR=5|6).

#include <QByteArray>
#include <QLibraryInfo>
#include <QSettings>
#include <QSqlQuery>
#include <QString>
#include <QtGlobal>

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QStringDecoder>
#include <QStringEncoder>
#else
#include <QTextCodec>
#include <QTextDecoder>

#include <memory>
#endif

namespace QtCompat {

inline QString translationsPath() {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    return QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
}

// Qt 6 reads and writes INI files as UTF-8; Qt 5 writes non-ASCII text as \x escapes and reads
// plain bytes as Latin-1. With UTF-8 set here, both builds write the same settings.conf and
// read each other's (escapes are still read).
inline void useUtf8(QSettings& settings) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    Q_UNUSED(settings);
#else
    settings.setIniCodec("UTF-8");
#endif
}

// A kept prepared statement is handed out as a copy sharing its prepared state; Qt 6 deprecates
// copying a query, yet still shares that state.
inline void shareQuery(QSqlQuery& to, const QSqlQuery& from) {
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    to = from;
    QT_WARNING_POP
}

// Text in a Unicode encoding named like "UTF-16LE".
inline QByteArray encode(const QString& text, const char* encoding) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QStringEncoder encoder(encoding);
    return encoder.encode(text);
#else
    return QTextCodec::codecForName(encoding)->fromUnicode(text);
#endif
}

// Decodes an encoding named like "UTF-16LE" or "Windows-1251" piece by piece (a character may
// straddle two pieces). A byte order mark is decoded as a character: the caller skips the leading
// one. Qt 5 has Windows-1251 among its own codecs; Qt 6 has it only when built with ICU (Debian's
// is), so available() says whether an encoding other than Unicode can be read.
class TextDecoder {
public:
    static bool available(const char* encoding) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        return QStringDecoder(encoding).isValid();
#else
        return QTextCodec::codecForName(encoding) != nullptr;
#endif
    }

    explicit TextDecoder(const char* encoding)
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        : m_decoder(encoding, QStringConverter::Flag::ConvertInitialBom){}
#else
        : m_decoder(QTextCodec::codecForName(encoding)->makeDecoder(QTextCodec::IgnoreHeader)) {
    }
#endif

        QString decode(const char* data, int size) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        return m_decoder.decode(QByteArrayView(data, size));
#else
        return m_decoder->toUnicode(data, size);
#endif
    }

private:
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QStringDecoder m_decoder;
#else
    std::unique_ptr<QTextDecoder> m_decoder;
#endif
};

} // namespace QtCompat
