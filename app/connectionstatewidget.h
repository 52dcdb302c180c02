#pragma once

#include <QPixmap>
#include <QWidget>

class QPushButton;

namespace Ui {
class ConnectionStateWidget;
}

// One connection in the status bar: online/offline picture, a lock when encrypted,
// a button to re-enter its settings, a main text and an extra text.
class ConnectionStateWidget : public QWidget {
    Q_OBJECT

public:
    explicit ConnectionStateWidget(QWidget* parent = nullptr);
    ~ConnectionStateWidget() override;

    void setConnected(bool connected);
    void setText(const QString& text);
    // "SQL 10.0.0.5:3306" as the main text; "SQL не подключено" while no host is set.
    void setEndpoint(const QString& name, const QString& host, int port);
    void setExtText(const QString& text);
    // The same with the whole story as its tooltip.
    void setExtText(const QString& text, const QString& toolTip);
    // A lock while connected, with `details` as its tooltip; empty: no lock.
    void setEncryption(const QString& details);
    QPushButton* connectionButton() const;

private:
    Ui::ConnectionStateWidget* ui;
    QPixmap onlinePixmap;
    QPixmap offlinePixmap;
    bool connected = false;
    QString encryption;

    void showLock();
};

// Registers the pictures of the static orbgui library (idempotent).
void initOrbIcons();
