#pragma once

// The window section's harness: its database and clock, what a step measures, the answers to
// the dialogs it opens, and keys and clicks sent as a person would.

#include "heartbeat.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>
#include <Qt>

#include <deque>
#include <functional>

class QKeySequence;
class QPoint;
class QTableView;
class QWidget;

namespace windowbench {

inline const QString WINDOW_DB = QStringLiteral("orb_window");
inline const QString STATS_CONNECTION = QStringLiteral("bench-window-stats");
constexpr int USERS = 2000;
constexpr int GROUPS = 200; // besides Admin
constexpr int JOURNAL_ROWS = 1000000;

// One clock for the whole section, so that times taken in different places compare.
qint64 nowNs();
// CLOCK_MONOTONIC, which another process can read too.
qint64 steadyNs();

class DelayRelay;

struct Counters {
    qint64 questions = 0;
    qint64 executes = 0;
    qint64 selects = 0;
    qint64 busy = 0;    // the program's connections running a command at the reading
    qint64 reading = 0; // which reading this is

    Counters minus(const Counters& o, qint64 times = 1) const {
        return {questions - times * o.questions, executes - times * o.executes, selects - times * o.selects,
                busy, reading};
    }
};

// The server's global statement counters, read on a connection of the benchmark's own.
class ServerCounters {
public:
    ServerCounters();
    // What the server received since `before`, without the readings' own statements.
    Counters since(const Counters& before) const;
    Counters read() const;
    // Nothing reached the server between the two readings but the second reading itself.
    bool quiet(const Counters& earlier, const Counters& later) const;

private:
    Counters own;
    mutable qint64 readings = 0;
};

// Answers the modal windows as they show, one expected step after the other. A window no step
// expects is noted and closed, so that nothing waits for a person who is not there.
class Answerer : public QObject {
public:
    using Action = std::function<void(QWidget*)>;

    Answerer();
    ~Answerer() override;

    void expect(const char* className, Action action) { steps.push_back({className, std::move(action)}); }
    bool idle() const;

    qint64 lastShownNs = 0;
    QStringList problems;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Step {
        QByteArray className;
        Action action;
    };

    void answer(const QPointer<QWidget>& w);

    std::deque<Step> steps;
};

struct Row {
    QString name;
    double openMs = -1;   // to the dialog showing
    double resultMs = -1; // from the keystroke, click or OK to the result on screen
    double stallMs = -1;
    qint64 peakMiB = -1; // resident memory's high-water mark when the operation is over
    Counters statements;
    qint64 turns = -1;
    QString failure;
};

class Measure {
public:
    Measure(Answerer& answerer, const ServerCounters& counters, const DelayRelay* relay, int timeoutMs)
        : answerer(answerer)
        , counters(counters)
        , relay(relay)
        , timeoutMs(timeoutMs) {}

    void begin(const QString& name);
    // The OK that sends the change: the result time counts from here.
    void commit();
    // Waits until shown() holds and the window has painted what it holds, then notes the row.
    bool finish(const std::function<bool()>& shown);
    // Work that goes on behind a result already shown (a refresh after a change) belongs to the
    // step too: waits until no statement has reached the server for half a second.
    void settle();
    void fail(const QString& name, const QString& why);

    QVector<Row> rows;
    // What the table shows, for a step that timed out.
    std::function<QString()> describe;

private:
    Answerer& answerer;
    const ServerCounters& counters;
    const DelayRelay* const relay;
    const int timeoutMs;
    bench::Heartbeat heartbeat;
    Row row;
    Counters before;
    qint64 turnsBefore = 0;
    qint64 startNs = 0;
    qint64 commitNs = 0;
};

// ---- driving the window

void sendKey(QWidget* w, int key, Qt::KeyboardModifiers modifiers, const QString& text);
// What the key of a window-wide shortcut does; a key event sent straight to a widget does not
// go through the shortcut map.
void triggerShortcut(QWidget* window, const QKeySequence& key);
void click(QWidget* w, const QPoint& pos);
void clickOk(QWidget* dialog);
// What the table's first rows show in one column: from row 0 to the bottom of the viewport, so
// that a row at the top is found also when the view keeps a place further down.
QStringList topTexts(const QTableView* view, int column);

// Counts the paint events of a widget.
class PaintCounter : public QObject {
public:
    PaintCounter(QWidget* w, int* count);

protected:
    bool eventFilter(QObject*, QEvent* event) override;

private:
    int* const count;
};

} // namespace windowbench
