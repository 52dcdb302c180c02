#pragma once

#include "db/confighandler.h"
#include "link/orbserverhandler.h"

#include <QDialog>

namespace Ui {
class ConnectionSettingsDialog;
}

// Asks for the database connection and/or the tracking server's endpoint.
class ConnectionSettingsDialog : public QDialog {
    Q_OBJECT

public:
    ConnectionSettingsDialog(QWidget* parent, const SqlConnectionSettings& dbSettings,
                             const OrbHostSettings& orbSettings, bool showDb, bool showOrb);
    ~ConnectionSettingsDialog() override;

    SqlConnectionSettings getDbSettings() const;
    OrbHostSettings getOrbSettings() const;
    // What the connection in use says of the change journal; empty: nothing to say.
    void setJournalState(const QString& text);

private slots:
    void on_tlsCheck_toggled(bool checked);
    void on_tlsCaEdit_textChanged(const QString& text);
    void on_tlsCaButton_clicked();

private:
    void showTlsState();

    Ui::ConnectionSettingsDialog* ui;
    // What the form does not show (the timeouts) stays as given.
    const SqlConnectionSettings given;
};
