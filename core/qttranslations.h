#pragma once

#include "core/qtcompat.h"

#include <QLocale>
#include <QTranslator>

// Qt's own texts (standard buttons, the file dialog, --help) in Russian like the program's own,
// whatever the system's language. Debian's qttranslations5-l10n and qt6-translations-l10n put
// qt_ru.qm into Qt's translations folder; it pulls in qtbase_ru.qm from beside it. False when
// they are missing: Qt's texts then stay English.
inline bool loadRussianQtTexts(QTranslator& translator) {
    return translator.load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qt"),
                           QStringLiteral("_"), QtCompat::translationsPath());
}
