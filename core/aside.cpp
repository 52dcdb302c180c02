#include "core/aside.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

#if defined(__SANITIZE_THREAD__)
#define ORB_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ORB_TSAN 1
#endif
#endif

#ifdef ORB_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace {

// What a job was given happened before it runs. Qt hands jobs to its threads under locks of its
// own, which ThreadSanitizer does not see; a job's results come back under a standard mutex.
#ifdef ORB_TSAN
char handOver;
#endif

inline void handOut() {
#ifdef ORB_TSAN
    __tsan_release(&handOver);
#endif
}

inline void takeOver() {
#ifdef ORB_TSAN
    __tsan_acquire(&handOver);
#endif
}

// Runs the `done` of finished jobs on the main thread; lives as long as the process.
class Courier : public QObject {
    Q_OBJECT

public:
    static Courier* instance() {
        static Courier* const courier = [] {
            auto* c = new Courier;
            if (QCoreApplication* app = QCoreApplication::instance())
                c->moveToThread(app->thread());
            return c;
        }();
        return courier;
    }

    // From the job's thread.
    void post(QPointer<QObject> context, std::function<void()> done) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            finished.push_back({std::move(context), std::move(done)});
        }
        QMetaObject::invokeMethod(this, "deliver", Qt::QueuedConnection);
    }

private slots:
    void deliver() {
        std::deque<std::pair<QPointer<QObject>, std::function<void()>>> now;
        {
            std::lock_guard<std::mutex> lock(mutex);
            now.swap(finished);
        }
        for (auto& [context, done] : now) {
            if (context)
                done();
        }
    }

private:
    std::mutex mutex;
    std::deque<std::pair<QPointer<QObject>, std::function<void()>>> finished;
};

class Job : public QRunnable {
public:
    Job(std::function<void()> work, QObject* context, std::function<void()> done)
        : work(std::move(work))
        , context(context)
        , done(std::move(done))
        , courier(this->done ? Courier::instance() : nullptr) {}

    void run() override {
        takeOver();
        work();
        work = nullptr;
        if (courier)
            courier->post(std::move(context), std::move(done));
    }

private:
    std::function<void()> work;
    QPointer<QObject> context;
    std::function<void()> done;
    Courier* const courier;
};

} // namespace

Aside::Aside(int threads)
    : pool(new QThreadPool) {
    pool->setMaxThreadCount(threads);
    // a lane's connection stays with its one thread
    pool->setExpiryTimeout(-1);
}

Aside::~Aside() {
    pool->waitForDone();
    delete pool;
}

Aside& Aside::shared() {
    // never destroyed: the end of the program does not wait for work nobody wants
    static Aside* const threads = new Aside(qMax(2, QThread::idealThreadCount()));
    return *threads;
}

std::unique_ptr<Aside> Aside::lane() {
    return std::unique_ptr<Aside>(new Aside(1));
}

namespace {
std::mutex abandonedMutex;
std::vector<Aside*> abandoned;
std::atomic<bool> programEnding{false};
} // namespace

void Aside::abandon(std::unique_ptr<Aside> lane) {
    static const bool watched = [] {
        if (QCoreApplication::instance())
            qAddPostRoutine(&Aside::endOfProgram);
        return true;
    }();
    Q_UNUSED(watched)
    Aside* const given = lane.release();
    {
        std::lock_guard<std::mutex> lock(abandonedMutex);
        abandoned.push_back(given);
    }
    // The lane's last job hands it to the main thread, which deletes it once it is idle, unless
    // the end of the program has taken it meanwhile: whoever takes it out of the list deletes it.
    given->run(
        Courier::instance(), [] {},
        [given] {
            {
                std::lock_guard<std::mutex> lock(abandonedMutex);
                const auto it = std::find(abandoned.begin(), abandoned.end(), given);
                if (it == abandoned.end())
                    return;
                abandoned.erase(it);
            }
            delete given;
        });
}

bool Aside::ending() {
    return programEnding.load();
}

// From QCoreApplication's destructor, before anything static is destroyed.
void Aside::endOfProgram() {
    static_cast<void>(waitForAbandoned());
}

// Whether every lane given up ended in time.
bool Aside::waitForAbandoned() {
    static QDeadlineTimer deadline;
    static bool started = false;
    std::vector<Aside*> lanes;
    {
        std::lock_guard<std::mutex> lock(abandonedMutex);
        lanes.swap(abandoned);
    }
    // Half a second: with the window's own teardown the program still ends within a second of
    // its close.
    if (!std::exchange(started, true))
        deadline = QDeadlineTimer(500);
    bool ended = true;
    for (Aside* lane : lanes) {
        if (lane->pool->waitForDone(int(deadline.remainingTime())))
            delete lane;
        else
            ended = false;
    }
    programEnding = true;
    return ended;
}

int Aside::finish(int code) {
    if (!waitForAbandoned()) {
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}

void Aside::run(std::function<void()> work) {
    run(nullptr, std::move(work), {});
}

void Aside::run(QObject* context, std::function<void()> work, std::function<void()> done) {
    auto* job = new Job(std::move(work), context, std::move(done));
    handOut();
    pool->start(job);
}

void Aside::forEach(int parts, const std::function<void(int)>& part) {
    if (parts <= 1) {
        if (parts == 1)
            part(0);
        return;
    }
    // Parts are taken by whoever is free, the calling thread too: a busy pool only makes it slower.
    struct Shared {
        std::atomic<int> next{0};
        std::mutex mutex;
        std::condition_variable ended;
        int done = 0;
    };
    const auto shared = std::make_shared<Shared>();
    const std::function<void(int)>* const body = &part;
    const auto take = [shared, body, parts] {
        for (int i; (i = shared->next.fetch_add(1)) < parts;) {
            (*body)(i);
            std::lock_guard<std::mutex> lock(shared->mutex);
            if (++shared->done == parts)
                shared->ended.notify_all();
        }
    };
    for (int helper = 1; helper < qMin(parts, pool->maxThreadCount() + 1); ++helper)
        run(take);
    take();
    std::unique_lock<std::mutex> lock(shared->mutex);
    shared->ended.wait(lock, [&] { return shared->done == parts; });
}

#include "aside.moc"
