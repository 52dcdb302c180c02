#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

namespace bench {

// Ticks every 5 ms on the GUI thread; the longest gap between two ticks is the longest stall
// a person would have seen.
class Heartbeat : public QObject {
public:
    Heartbeat() {
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, &Heartbeat::tick);
        timer.start(5);
        clock.start();
        reset();
    }
    void reset() {
        last = clock.nsecsElapsed();
        longest = 0;
    }
    // The longest gap since reset(), the one still open included.
    double longestMs() {
        tick();
        return double(longest) / 1e6;
    }

private:
    void tick() {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    }

    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
};

} // namespace bench
