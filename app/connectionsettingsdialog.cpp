#include "app/connectionsettingsdialog.h"

#include "ui_connectionsettingsdialog.h"

#include <QFileDialog>
#include <QFileInfo>

ConnectionSettingsDialog::ConnectionSettingsDialog(QWidget* parent, const SqlConnectionSettings& dbSettings,
                                                   const OrbHostSettings& orbSettings, bool showDb,
                                                   bool showOrb)
    : QDialog(parent)
    , ui(new Ui::ConnectionSettingsDialog)
    , given(dbSettings) {
    ui->setupUi(this);
    ui->ipEdit->setText(dbSettings.ip);
    ui->portEdit->setValue(dbSettings.port);
    ui->dbEdit->setText(dbSettings.db);
    ui->userEdit->setText(dbSettings.user);
    ui->pwEdit->setText(dbSettings.password);
    ui->rememberPasswordCheck->setChecked(dbSettings.rememberPassword);
    ui->tlsCheck->setChecked(dbSettings.tls);
    ui->tlsCaEdit->setText(dbSettings.tlsCaFile);
    showTlsState();
    ui->journalLabel->hide();
    // a password that was not kept is asked for at once
    if (showDb && dbSettings.password.isEmpty() && !dbSettings.user.isEmpty())
        ui->pwEdit->setFocus();
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
    SqlConnectionSettings s = given;
    s.ip = ui->ipEdit->text();
    s.port = ui->portEdit->value();
    s.db = ui->dbEdit->text();
    s.user = ui->userEdit->text();
    s.password = ui->pwEdit->text();
    s.rememberPassword = ui->rememberPasswordCheck->isChecked();
    s.tls = ui->tlsCheck->isChecked();
    s.tlsCaFile = ui->tlsCaEdit->text().trimmed();
    return s;
}

void ConnectionSettingsDialog::setJournalState(const QString& text) {
    ui->journalLabel->setText(text);
    ui->journalLabel->setVisible(!text.isEmpty());
    adjustSize();
}

OrbHostSettings ConnectionSettingsDialog::getOrbSettings() const {
    OrbHostSettings s;
    s.host = ui->orbIpEdit->text();
    s.port = ui->orbPortEdit->value();
    return s;
}

void ConnectionSettingsDialog::on_tlsCheck_toggled(bool) {
    showTlsState();
}

void ConnectionSettingsDialog::on_tlsCaEdit_textChanged(const QString&) {
    showTlsState();
}

void ConnectionSettingsDialog::on_tlsCaButton_clicked() {
    const QString file = QFileDialog::getOpenFileName(
        this, QStringLiteral("Сертификат CA"), QFileInfo(ui->tlsCaEdit->text()).absolutePath(),
        QStringLiteral("Сертификаты (*.pem *.crt *.cer);;Все файлы (*)"));
    if (!file.isEmpty())
        ui->tlsCaEdit->setText(file);
}

// The CA file only counts with TLS on; without one, the dialog says what that means.
void ConnectionSettingsDialog::showTlsState() {
    const bool tls = ui->tlsCheck->isChecked();
    ui->tlsCaLabel->setEnabled(tls);
    ui->tlsCaEdit->setEnabled(tls);
    ui->tlsCaButton->setEnabled(tls);
    ui->tlsNoteLabel->setVisible(tls && ui->tlsCaEdit->text().trimmed().isEmpty());
}
