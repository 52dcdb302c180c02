#include "app/connectionsettingsdialog.h"

#include "ui_connectionsettingsdialog.h"

ConnectionSettingsDialog::ConnectionSettingsDialog(QWidget* parent, const SqlConnectionSettings& dbSettings,
                                                   const OrbHostSettings& orbSettings, bool showDb,
                                                   bool showOrb)
    : QDialog(parent)
    , ui(new Ui::ConnectionSettingsDialog) {
    ui->setupUi(this);
    ui->ipEdit->setText(dbSettings.ip);
    ui->portEdit->setValue(dbSettings.port);
    ui->dbEdit->setText(dbSettings.db);
    ui->userEdit->setText(dbSettings.user);
    ui->pwEdit->setText(dbSettings.password);
    ui->orbIpEdit->setText(orbSettings.host);
    ui->orbPortEdit->setValue(orbSettings.port);
    if (!showDb)
        ui->dbGroup->hide();
    if (!showOrb)
        ui->orbGroup->hide();
    adjustSize();
}

ConnectionSettingsDialog::~ConnectionSettingsDialog() {
    delete ui;
}

SqlConnectionSettings ConnectionSettingsDialog::getDbSettings() const {
    SqlConnectionSettings s;
    s.ip = ui->ipEdit->text();
    s.port = ui->portEdit->value();
    s.db = ui->dbEdit->text();
    s.user = ui->userEdit->text();
    s.password = ui->pwEdit->text();
    return s;
}

OrbHostSettings ConnectionSettingsDialog::getOrbSettings() const {
    OrbHostSettings s;
    s.host = ui->orbIpEdit->text();
    s.port = ui->orbPortEdit->value();
    return s;
}
