#include "app/constants.h"
#include "app/csettings.h"
#include "app/mainwindow.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char* argv[]) {
    QApplication a(argc, argv);
    qSetMessagePattern(
        QStringLiteral("%{if-category}%{category}: %{endif}%{message}\n   %{time [hh:mm:ss::z]} : "
                       "[file:///%{file}:%{line} %{function}]"));
    QTranslator translator;
    translator.load(QStringLiteral("qt_") + QLocale::system().name(),
                    QLibraryInfo::location(QLibraryInfo::TranslationsPath));
    a.installTranslator(&translator);
    CSettings::getInstance(SETTINGS_FILE_NAME);

    MainWindow w;
    w.show();
    w.loadDatabase();
    return a.exec();
}
