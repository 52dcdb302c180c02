#include "app/csettings.h"
#include "app/mainwindow.h"
#include "core/aside.h"
#include "core/qtcompat.h"
#include "core/qttranslations.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDebug>
#include <QTranslator>

#include <cstdio>
#include <vector>

namespace {

// --help and --version are answered before QApplication exists, which needs a display. Qt's own
// options (-platform xcb) are unknown here and are left to QApplication, which gets the
// arguments untouched (QCoreApplication may take some out of the vector it is given).
void answerHelpOrVersion(int argc, char* argv[]) {
    std::vector<char*> args(argv, argv + argc);
    args.push_back(nullptr);
    QCoreApplication app(argc, args.data());
    QTranslator translator;
    if (loadRussianQtTexts(translator))
        QCoreApplication::installTranslator(&translator);
    const QString settingsLine =
        QStringLiteral("Параметры подключения к базе данных и к серверу хранятся в файле %1 "
                       "в папке, из которой запущена программа; он создаётся при выходе.")
            .arg(CSettings::defaultFileName());
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Администратор Kalvo Orb сервера %1: пользователи, группы "
                       "и устройства в его базе данных MySQL/MariaDB.\n")
            .arg(QStringLiteral(ORB_VERSION)) +
        settingsLine);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    static_cast<void>(parser.parse(QCoreApplication::arguments()));
    if (parser.isSet(help))
        parser.showHelp(0);
    // Qt's options too; process() answers it and ends the program.
    if (parser.isSet(QStringLiteral("help-all")))
        parser.process(QCoreApplication::arguments());
    if (parser.isSet(version)) {
        std::fputs(qPrintable(QStringLiteral("orb-admin %1 (Qt %2)\n%3\n")
                                  .arg(QStringLiteral(ORB_VERSION), QLatin1String(qVersion()), settingsLine)),
                   stdout);
        std::exit(0);
    }
}

} // namespace

int main(int argc, char* argv[]) {
    answerHelpOrVersion(argc, argv);
    QApplication a(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(ORB_VERSION));
    qSetMessagePattern(
        QStringLiteral("%{if-category}%{category}: %{endif}%{message}\n   %{time [hh:mm:ss::z]} : "
                       "[file:///%{file}:%{line} %{function}]"));
    QTranslator translator;
    if (!loadRussianQtTexts(translator))
        qWarning() << "Qt's Russian translations not found in" << QtCompat::translationsPath()
                   << "(package qttranslations5-l10n or qt6-translations-l10n): Qt's own texts stay English";
    a.installTranslator(&translator);
    CSettings::getInstance(CSettings::defaultFileName());

    int code = 0;
    {
        MainWindow w;
        w.show();
        w.loadDatabase();
        code = a.exec();
    }
    return Aside::finish(code);
}
