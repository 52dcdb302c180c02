#pragma once

#include "db/confighandler.h"

#include <QObject>
#include <QString>

#include <memory>

class Aside;
struct RefreshLink;

// Reads everything the three tables show on a thread and database connection of its own, so
// that a complete refresh never blocks the GUI thread. Lives in the thread that creates it.
class TableRefresher : public QObject {
    Q_OBJECT

public:
    explicit TableRefresher(QObject* parent = nullptr);
    // Returns at once: a refresh still running is left to end on its own thread, which then closes
    // its connection; its result is dropped.
    ~TableRefresher() override;

    // Used from the next refresh on, which connects anew.
    void setConnectionSettings(const SqlConnectionSettings& settings);
    // Starts a refresh; one asked for while another runs follows it once. The names of the
    // devices shown now are lent to the new rows where unchanged.
    void refresh(const DeviceNames& shown = {});
    bool isRefreshing() const;

signals:
    void refreshed(const TablesSnapshot& snapshot);
    void refreshFailed(const QString& error);
    void refreshingChanged(bool refreshing);

private:
    void start();

    std::unique_ptr<Aside> lane;
    const std::shared_ptr<RefreshLink> link; // used on the lane's thread only
    SqlConnectionSettings settings;
    bool settingsChanged = true;
    DeviceNames shown;
    bool running = false;
    bool again = false;
};
