#include "Dispatch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QThread>
#include <QThreadPool>

#include <future>

void runOnGlobalSync(const std::function<void()>& work) {
    std::promise<void> done;
    QThreadPool::globalInstance()->start([&] {
        work();
        done.set_value();
    });
    done.get_future().wait();
}

void runOnGlobalAfter(std::function<void()> work, double seconds) {
    // The delay counts from this call: a closure that waits for a free pool thread sleeps
    // only what is left of it.
    const qint64 delay = seconds > 0 ? qint64(seconds * 1000.0) : 0;
    QElapsedTimer clock;
    clock.start();
    QThreadPool::globalInstance()->start([work = std::move(work), delay, clock] {
        const qint64 left = delay - clock.elapsed();
        if (left > 0) QThread::msleep(static_cast<unsigned long>(left));
        work();
    });
}

void runOnMainAsync(std::function<void()> work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}
