#pragma once

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QVariant>

#include <initializer_list>
#include <utility>

struct OrbHostSettings;
struct SqlConnectionSettings;

// settings.conf and every key in it: [sql] the database connection, [orb] the tracking server,
// [window] the window as it was left. One instance for the process, created on first use and
// never deleted; every value written reaches the disk at once.
class CSettings {
public:
    // The window as it was left: what is missing or unreadable is empty, or -1.
    struct Window {
        QByteArray geometry;
        int tab = -1;
        QByteArray usersHeader;
        QByteArray groupsHeader;
        QByteArray devicesHeader;
    };

    static QString defaultFileName();
    // Opens the file; later calls return the first instance whatever they name.
    static CSettings* getInstance(const QString& fileName);

    // Missing keys read as their defaults.
    static SqlConnectionSettings sql();
    // The password only when it is to be kept.
    static void setSql(const SqlConnectionSettings& sql);
    // The password is not to be kept: gone from the file now, not only at exit.
    static void forgetPassword();
    static OrbHostSettings orb();
    static void setOrb(const OrbHostSettings& orb);
    static Window window();
    static void setWindow(const Window& window);
    // The folder of the last imported or exported device list; empty when none.
    static QString fileFolder();
    static void setFileFolder(const QString& folder);

private:
    explicit CSettings(const QString& fileName);
    // The instance; one bound to no file when none was opened.
    static CSettings& any();
    static QVariant read(const QString& key, const QVariant& defaultValue = QVariant());
    static int seconds(const QString& key, int fallback);
    // Sets the values, then writes the file once.
    static void write(std::initializer_list<std::pair<QString, QVariant>> values);
    void restrictToOwner();

    QSettings file;
    static CSettings* instance;
};
