// orb-screenshots: renders the program's windows with sample data to PNG files.

#include "screenshots.h"

#include "core/qttranslations.h"
#include "db/confighandler.h"
#include "db/mariadbdriver.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDebug>
#include <QFile>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <QTimer>
#include <QTranslator>
#include <QWidget>

#include <utility>
#include <vector>

bool loadSampleData(QSqlDatabase& db, const SqlConnectionSettings& settings, const QString& schemaFile,
                    QString* error);

namespace {

std::vector<std::pair<QString, ScreenshotSection>>& sections() {
    static std::vector<std::pair<QString, ScreenshotSection>> list;
    return list;
}

const QString setupConnection = QStringLiteral("screenshots-setup");

// Starts (or finds) the private server and returns its port, or -1.
int startServer(const QString& dir, QString* error) {
    QProcess script;
    script.start(QStringLiteral("bash"),
                 {QStringLiteral(ORB_SOURCE_DIR "/tools/mariadb-local.sh"), QStringLiteral("start"), dir});
    if (!script.waitForFinished(120000) || script.exitCode() != 0) {
        *error = QString::fromLocal8Bit(script.readAllStandardError());
        return -1;
    }
    return QString::fromLatin1(script.readAllStandardOutput()).trimmed().toInt();
}

void stopServer(const QString& dir) {
    QProcess::execute(QStringLiteral("bash"), {QStringLiteral(ORB_SOURCE_DIR "/tools/mariadb-local.sh"),
                                               QStringLiteral("stop"), dir});
}

} // namespace

bool registerScreenshotSection(const char* name, const ScreenshotSection& section) {
    sections().emplace_back(QString::fromUtf8(name), section);
    return true;
}

ConfigHandler* ScreenshotContext::handler() {
    if (ownHandler)
        return ownHandler.get();
    auto made = std::make_unique<ConfigHandler>();
    made->setConnectionSettings(settings);
    if (made->connectToDatabase() != 0) {
        qCritical().noquote() << "cannot connect:" << made->lastErrorText();
        return nullptr;
    }
    try {
        made->checkDatabase();
    } catch (const QString& e) {
        qCritical().noquote() << "database check failed:" << e;
        return nullptr;
    }
    ownHandler = std::move(made);
    return ownHandler.get();
}

void ScreenshotContext::dropHandler() {
    ownHandler.reset();
}

bool ScreenshotContext::save(QWidget* widget, const QString& name) {
    widget->show();
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
    const QString path = outDir.filePath(name + QStringLiteral(".png"));
    if (!widget->grab().save(path, "PNG")) {
        qWarning().noquote() << "cannot write" << path;
        return false;
    }
    written << path;
    return true;
}

void onNextModal(const std::function<void(QWidget* modal)>& fn) {
    QTimer::singleShot(10, [fn] {
        if (QWidget* modal = QApplication::activeModalWidget())
            fn(modal);
        else
            onNextModal(fn);
    });
}

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orb-screenshots"));
    // Qt's own texts (Cancel and the like) as the program loads them.
    QTranslator qtTranslator;
    if (loadRussianQtTexts(qtTranslator))
        QApplication::installTranslator(&qtTranslator);

    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral(
        "Renders the program's windows with sample data to PNG files in <folder>. By default it starts a "
        "private MariaDB server (tools/mariadb-local.sh) and fills a database with sample rows; with --port "
        "it "
        "uses the given server instead, in a database of its own that it creates there."));
    cli.addHelpOption();
    cli.addPositionalArgument(QStringLiteral("folder"), QStringLiteral("Where the PNG files go (created)."));
    const QCommandLineOption only(QStringLiteral("only"), QStringLiteral("Run only these sections."),
                                  QStringLiteral("section[,section]"));
    const QCommandLineOption serverDir(QStringLiteral("mariadb-dir"),
                                       QStringLiteral("Data folder of the private server."),
                                       QStringLiteral("dir"), QStringLiteral(ORB_SCREENSHOTS_MARIADB_DIR));
    const QCommandLineOption keep(QStringLiteral("keep-server"),
                                  QStringLiteral("Leave the private server running afterwards."));
    const QCommandLineOption host(QStringLiteral("host"), QStringLiteral("Server host (with --port)."),
                                  QStringLiteral("host"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Use this server, not a private one."),
                                  QStringLiteral("port"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("Server user."),
                                  QStringLiteral("user"), QStringLiteral("orb"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("Server password."),
                                      QStringLiteral("password"), QStringLiteral("orb-test-pw"));
    const QCommandLineOption database(QStringLiteral("db"),
                                      QStringLiteral("Database to create and fill (dropped first!)."),
                                      QStringLiteral("name"), QStringLiteral("orb_screenshots"));
    cli.addOptions({only, serverDir, keep, host, port, user, password, database});
    cli.process(app);
    QTextStream out(stdout);
    if (cli.positionalArguments().size() != 1) {
        out << "usage: orb-screenshots [options] <folder>; sections:";
        for (const auto& s : sections())
            out << ' ' << s.first;
        out << '\n';
        return 2;
    }

    ScreenshotContext context;
    context.outDir.setPath(cli.positionalArguments().at(0));
    if (!context.outDir.mkpath(QStringLiteral("."))) {
        qCritical().noquote() << "cannot create" << context.outDir.path();
        return 1;
    }

    SqlConnectionSettings settings;
    settings.ip = cli.value(host);
    settings.user = cli.value(user);
    settings.password = cli.value(password);
    settings.db = cli.value(database);
    if (!QRegularExpression(QStringLiteral("^[A-Za-z0-9_]{1,64}$")).match(settings.db).hasMatch()) {
        qCritical().noquote() << "database names are made of letters, digits and '_':" << settings.db;
        return 2;
    }
    const QString dir = cli.value(serverDir);
    bool startedServer = false;
    if (cli.isSet(port)) {
        settings.port = cli.value(port).toInt();
    } else {
        const bool wasRunning = QFile::exists(dir + QStringLiteral("/port"));
        QString error;
        settings.port = startServer(dir, &error);
        if (settings.port <= 0) {
            qCritical().noquote() << "the private MariaDB server did not start:\n" << error;
            return 1;
        }
        startedServer = !wasRunning && !cli.isSet(keep);
    }

    int rc = 0;
    {
        QSqlDatabase setup = QSqlDatabase::addDatabase(mariaDbDriverName(), setupConnection);
        setup.setHostName(settings.ip);
        setup.setPort(settings.port);
        setup.setUserName(settings.user);
        setup.setPassword(settings.password);
        QString error;
        if (!setup.open()) {
            error = setup.lastError().text();
        } else {
            QSqlQuery q(setup);
            const QString name = settings.db;
            if (!q.exec(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(name)) ||
                !q.exec(QStringLiteral("CREATE DATABASE `%1` CHARACTER SET utf8mb4").arg(name)) ||
                !q.exec(QStringLiteral("USE `%1`").arg(name)))
                error = q.lastError().text();
            else
                loadSampleData(setup, settings, QStringLiteral(ORB_SOURCE_DIR "/db/schema.sql"), &error);
        }
        setup.close();
        setup = QSqlDatabase();
        QSqlDatabase::removeDatabase(setupConnection);
        if (!error.isEmpty()) {
            qCritical().noquote() << "cannot prepare the sample database:" << error;
            rc = 1;
        }
    }

    if (rc == 0) {
        context.settings = settings;
        if (!context.handler())
            rc = 1;
        const QStringList wanted = cli.value(only).split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const auto& s : sections()) {
            if (rc != 0 || (!wanted.isEmpty() && !wanted.contains(s.first)))
                continue;
            out << "== " << s.first << " ==\n";
            out.flush();
            if (!s.second(context))
                rc = 1;
        }
        context.dropHandler();
    }
    for (const QString& path : qAsConst(context.written))
        out << path << '\n';

    if (startedServer)
        stopServer(dir);
    return rc;
}
