#pragma once

#include <QPixmap>
#include <QWidget>

class QPushButton;

namespace Ui {
class ConnectionStateWidget;
}

// One connection in the status bar: online/offline picture, a button to
// re-enter its settings, a main text and an extra text.
class ConnectionStateWidget : public QWidget {
    Q_OBJECT

public:
    explicit ConnectionStateWidget(QWidget* parent = nullptr);
    ~ConnectionStateWidget() override;

    void setConnected(bool connected);
    void setText(const QString& text);
    void setExtText(const QString& text);
    QPushButton* connectionButton() const;

private:
    Ui::ConnectionStateWidget* ui;
    QPixmap onlinePixmap;
    QPixmap offlinePixmap;
};

// Registers the pictures of the static orbgui library (idempotent).
void initOrbIcons();
