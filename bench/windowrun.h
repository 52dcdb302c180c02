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
    WindowRun(int devices, const DelayRelay* relay, int timeoutMs, bool closeInRefresh);
    ~WindowRun();

    void run(QSqlDatabase& stats);
    void close();

    const QVector<Row>& rows() const { return measure.rows; }
    qint64 startupRssKiB = -1;
    qint64 closedAtNs = -1; // steady clock
    double closingMs = -1;  // the window's close and destruction
    bool closedWhileRefreshing = false;

private:
    // Each returns false when a step failed and the run ends there.
    bool startUp();
    bool tableSteps(QSqlDatabase& stats);
    bool changeSteps(const QString& addImei);
    void journalSteps(QSqlDatabase& stats);
    void closeDuringRefresh();

    const int devices;
    const bool closeInRefresh;
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
