#include "app/connectionstatewidget.h"

#include "ui_connectionstatewidget.h"

void initOrbIcons() {
    static const bool done = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    Q_UNUSED(done)
}

namespace {
// The form loads connect.png in setupUi, so the resources must be there first.
QWidget* withIcons(QWidget* parent) {
    initOrbIcons();
    return parent;
}
} // namespace

ConnectionStateWidget::ConnectionStateWidget(QWidget* parent)
    : QWidget(withIcons(parent))
    , ui(new Ui::ConnectionStateWidget) {
    ui->setupUi(this);
    onlinePixmap.load(QStringLiteral(":/icons/icons/online.png"));
    offlinePixmap.load(QStringLiteral(":/icons/icons/offline.png"));
}

ConnectionStateWidget::~ConnectionStateWidget() {
    delete ui;
}

void ConnectionStateWidget::setConnected(bool connected) {
    ui->iconLabel->setPixmap(connected ? onlinePixmap : offlinePixmap);
    ui->iconLabel->setToolTip(connected ? QStringLiteral("Подключено") : QStringLiteral("Нет связи"));
    this->connected = connected;
    showLock();
}

void ConnectionStateWidget::setEncryption(const QString& details) {
    encryption = details;
    showLock();
}

// A connection that is gone is not shown as encrypted.
void ConnectionStateWidget::showLock() {
    ui->lockLabel->setToolTip(encryption);
    ui->lockLabel->setVisible(connected && !encryption.isEmpty());
}

void ConnectionStateWidget::setText(const QString& text) {
    ui->textLabel->setText(text);
}

void ConnectionStateWidget::setEndpoint(const QString& name, const QString& host, int port) {
    if (host.trimmed().isEmpty())
        setText(name + QStringLiteral(" не подключено"));
    else if (port <= 0)
        setText(name + QLatin1Char(' ') + host);
    else
        setText(QStringLiteral("%1 %2:%3").arg(name, host, QString::number(port)));
}

void ConnectionStateWidget::setExtText(const QString& text) {
    setExtText(text, QString());
}

void ConnectionStateWidget::setExtText(const QString& text, const QString& toolTip) {
    ui->extTextLabel->setText(text);
    ui->extTextLabel->setToolTip(toolTip);
}

QPushButton* ConnectionStateWidget::connectionButton() const {
    return ui->connectionBtn;
}
