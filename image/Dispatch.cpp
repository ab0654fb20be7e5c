#include "Dispatch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>

#include <condition_variable>
#include <mutex>

namespace {

std::mutex handOffMutex;  // orders every hand-off where ThreadSanitizer sees it (Dispatch.h)

// Called by the sender once the closure is built, and by the receiver before it touches it.
void handOff() {
    std::lock_guard<std::mutex> lock(handOffMutex);
}

// A closure for a pool thread; the pool deletes it after it has run.
class PoolParcel : public QRunnable {
  public:
    explicit PoolParcel(std::function<void()> work) : work_(std::move(work)) { handOff(); }
    void run() override {
        handOff();
        work_();
        handOff();  // for waitForPool
    }

  private:
    std::function<void()> work_;  // the closure to run
};

// A closure for the main thread. `finished` (when given) is told once the event is gone, run
// or dropped, so a waiting sender is always released.
struct Completion {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;  // guarded by mutex
};

class MainParcel : public QEvent {
  public:
    static const QEvent::Type kind;

    MainParcel(std::function<void()> work, Completion* finished)
        : QEvent(kind), work_(std::move(work)), finished_(finished) {
        handOff();
    }
    ~MainParcel() override {
        if (!finished_) return;
        std::lock_guard<std::mutex> lock(finished_->mutex);
        finished_->done = true;
        finished_->changed.notify_all();
    }
    void run() { work_(); }

  private:
    std::function<void()> work_;  // the closure to run
    Completion* finished_;        // the waiting sender's, or nullptr
};

const QEvent::Type MainParcel::kind = QEvent::Type(QEvent::registerEventType());

// Receives the parcels on the main thread.
class MainReceiver : public QObject {
  public:
    bool event(QEvent* e) override {
        handOff();  // before the event is read: it was built on another thread
        if (e->type() != MainParcel::kind) return QObject::event(e);
        static_cast<MainParcel*>(e)->run();
        return true;
    }
};

// Posts `work` to the main thread; false when there is no application to run it.
bool postToMain(std::function<void()> work, Completion* finished) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return false;
    // Made once, on whichever thread asks first, and moved to the main thread. Kept for the
    // process: events still queued for it must find it.
    static MainReceiver* receiver = [app] {
        auto* r = new MainReceiver;
        r->moveToThread(app->thread());
        return r;
    }();
    QCoreApplication::postEvent(receiver, new MainParcel(std::move(work), finished));
    return true;
}

}  // namespace

void runOnGlobalSync(const std::function<void()>& work) {
    Completion finished;
    QThreadPool::globalInstance()->start(new PoolParcel([&] {
        work();
        std::lock_guard<std::mutex> lock(finished.mutex);
        finished.done = true;
        finished.changed.notify_all();
    }));
    std::unique_lock<std::mutex> lock(finished.mutex);
    finished.changed.wait(lock, [&] { return finished.done; });
}

void runOnGlobalAfter(std::function<void()> work, double seconds) {
    // The delay counts from this call: a closure that waits for a free pool thread sleeps
    // only what is left of it.
    const qint64 delay = seconds > 0 ? qint64(seconds * 1000.0) : 0;
    QElapsedTimer clock;
    clock.start();
    runOnPool(*QThreadPool::globalInstance(), [work = std::move(work), delay, clock] {
        const qint64 left = delay - clock.elapsed();
        if (left > 0) QThread::msleep(static_cast<unsigned long>(left));
        work();
    });
}

void runOnPool(QThreadPool& pool, std::function<void()> work, int priority) {
    pool.start(new PoolParcel(std::move(work)), priority);
}

void waitForPool(QThreadPool& pool) {
    pool.waitForDone();
    handOff();
}

void runOnMainAsync(std::function<void()> work) {
    postToMain(std::move(work), nullptr);
}

void runOnMainBlocking(const std::function<void()>& work) {
    Completion finished;
    if (!postToMain([&work] { work(); }, &finished)) {
        work();
        return;
    }
    std::unique_lock<std::mutex> lock(finished.mutex);
    finished.changed.wait(lock, [&] { return finished.done; });
}
