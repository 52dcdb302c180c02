#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <memory>

namespace bench {

// Runs the event loop until done() or the time-out; false on time-out.
template <typename Done>
bool waitFor(Done done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

// Runs the event loop for `ms` milliseconds.
inline void runFor(int ms) {
    QElapsedTimer since;
    since.start();
    waitFor([&] { return since.elapsed() >= ms; }, 2 * ms);
}

// How long `object` takes to go, in ms: what closing it in the middle of its work costs.
template <typename T>
qint64 msToDestroy(std::unique_ptr<T>& object) {
    QElapsedTimer closing;
    closing.start();
    object.reset();
    return closing.elapsed();
}

} // namespace bench
