#pragma once

#include "app/connectattempt.h"
#include "db/confighandler.h"

#include <QObject>
#include <QString>

#include <optional>

class ConnectionStateWidget;
class OrbServerHandler;
class QStatusBar;
class RefreshCoordinator;
class TabContext;
class TableRefresher;

// The window's connections: the database from the settings dialog through the integrity check
// and root's password to the tables, its state in the status bar, and the link to the tracking
// server. Settings are tried by a connect attempt aside; the window itself keeps no connection.
class ConnectionKeeper : public QObject {
    Q_OBJECT

public:
    // What the keeper works on; all of it belongs to the window.
    struct Parts {
        TabContext* context;
        ConfigHandler* db;
        OrbServerHandler* orb;
        TableRefresher* refresher;
        RefreshCoordinator* tables;
        QWidget* central;
        QStatusBar* statusBar;
        ConnectionStateWidget* sqlState;
        ConnectionStateWidget* orbState;
    };

    ConnectionKeeper(const Parts& parts, QObject* parent);

    // Start-up: connection dialog, database, integrity check, root password, tables.
    void loadDatabase();
    // A complete refresh; while the database is out of reach, a new connection first.
    void refresh();
    // Before a change: whether the database can be reached, trying the settings in use anew
    // when it was lost; when it cannot, the person has been told.
    bool ready();

public slots:
    void checkConnectionStates();
    void reconnectToDb();
    void reconnectToOrb();
    // A statement failed because the database server went away, `why` as the server said.
    void lost(const QString& why);
    void refreshFailed(const QString& error);
    // New rows are in the tables: the database answers.
    void refreshed();

signals:
    // No usable database: the window empties its tables.
    void tablesDropped();

private:
    std::optional<ConnectAttempt::Outcome> attempt(const SqlConnectionSettings& sql, bool check);
    bool open(const ConnectAttempt::Outcome& tried);
    void databaseOpened(const ConnectAttempt::Outcome& checked);
    bool editConnectionSettings();
    void useDbSettings(const SqlConnectionSettings& sql);
    void changeRootPassword();
    void dropTables();
    void showLoadError(const QString& err);
    void showConnectFailure(const SqlConnectionSettings& sql, const QString& serverText);
    bool comeBack(bool firstAside);
    void showMessage(const QString& text, const QString& details = QString(), int timeout = 0);
    void showOffline(const QString& text, const QString& details);
    QWidget* window() const;

    const Parts parts;
    // Settings in use that passed their check.
    bool databaseOpen = false;
    // Set when a statement failed because the database server went away; cleared by a new connection.
    bool databaseLost = false;
    QString lostWhy;
    QString tlsSession; // of the attempt that connected last
};
