#pragma once

// The window section's run: the real main window driven step by step, each step measured.

#include "windowharness.h"

#include <QString>

#include <memory>

class MainWindow;
class QLineEdit;
class QSqlDatabase;
class QTabWidget;
class QTableView;

namespace windowbench {

class WindowRun {
public:
    // Closing: after start-up, the window closed in the middle of a refresh or of a change.
    enum class Closing { Never, InRefresh, InChange };
    WindowRun(int devices, const DelayRelay* relay, int timeoutMs, Closing closing);
    ~WindowRun();

    void run(QSqlDatabase& stats);
    void close();

    const QVector<Row>& rows() const { return measure.rows; }
    qint64 startupRssKiB = -1;
    qint64 closedAtNs = -1;   // steady clock
    double closingMs = -1;    // the window's close and destruction
    double sessionEndMs = -1; // from the close until the session's event loop ended
    bool closedWhileBusy = false;
    int serverDevices = 0; // the tracking server's list; 0: no server

private:
    // Each returns false when a step failed and the run ends there.
    bool startUp();
    bool tableSteps(QSqlDatabase& stats);
    bool changeSteps(const QString& addImei);
    bool bulkSteps(QSqlDatabase& stats);
    void journalSteps(QSqlDatabase& stats);
    void closeDuringRefresh();
    void closeDuringChange(QSqlDatabase& stats);
    bool serverListStep();

    const int devices;
    const Closing closing;
    Answerer answerer;
    ServerCounters counters;
    Measure measure;
    std::unique_ptr<MainWindow> window;
    QTableView* table = nullptr;
    QLineEdit* filter = nullptr;
    QTabWidget* tabs = nullptr;
};

// A 15-digit IMEI with a leading zero and a right check digit (the dialog would ask about a
// wrong one) that no device has yet.
QString freeImei(QSqlDatabase& db);

} // namespace windowbench
