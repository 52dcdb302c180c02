#pragma once

#include "db/confighandler.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <memory>

class RefreshWorker;
struct RefreshExchange;

// Reads everything the three tables show on a thread and database connection of its own, so
// that a complete refresh never blocks the GUI thread. Lives in the thread that creates it.
class TableRefresher : public QObject {
    Q_OBJECT

public:
    explicit TableRefresher(QObject* parent = nullptr);
    // Waits for a running refresh; its connection is closed in its own thread.
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
    void finish();

    QThread thread;
    RefreshWorker* worker = nullptr; // lives in `thread`, deleted there when it ends
    const std::shared_ptr<RefreshExchange> exchange;
    bool running = false;
    bool again = false;
};
