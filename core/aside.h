#pragma once

#include <functional>
#include <memory>

class QObject;
class QThreadPool;

// The one way the program runs work off the GUI thread: jobs on the threads of a QThreadPool,
// and what is to follow a job posted back to the main thread's event loop.
//
// Nobody waits for a job whose result is no longer wanted: the shared threads are never
// destroyed, and a lane given up (abandon) ends after its jobs by itself, so closing the program
// waits for neither.
class Aside {
public:
    // Threads for computing, one per core.
    static Aside& shared();
    // One thread running its jobs one after another, so that what they keep between them (a
    // database connection) stays on one thread.
    static std::unique_ptr<Aside> lane();
    // Returns at once; the lane's thread ends after the jobs given, and the lane goes with it.
    // When the program ends, a lane still busy is given a second at most.
    static void abandon(std::unique_ptr<Aside> lane);
    // Past that second: what a job leaves behind is left to the system, since Qt's own
    // registries may be gone already.
    static bool ending();
    // For main() after its event loop, with the windows gone: gives busy lanes what is left of
    // the second, then ends the process with `code` at once if one is still busy, so that a job
    // answered late never runs into the statics torn down on the way out. Else returns `code`.
    static int finish(int code);

    // Waits for the jobs given.
    ~Aside();
    Aside(const Aside&) = delete;
    Aside& operator=(const Aside&) = delete;

    void run(std::function<void()> work);
    // Then `done` on the main thread, unless `context` is gone by then.
    void run(QObject* context, std::function<void()> work, std::function<void()> done);
    // part(0) to part(parts - 1) on these threads and the calling one; returns when all are done.
    void forEach(int parts, const std::function<void(int)>& part);

private:
    explicit Aside(int threads);
    static void endOfProgram();
    static bool waitForAbandoned();

    QThreadPool* const pool;
};
