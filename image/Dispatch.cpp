#include "Dispatch.h"

#include <QCoreApplication>
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
    unsigned long ms = seconds > 0 ? static_cast<unsigned long>(seconds * 1000.0) : 0;
    QThreadPool::globalInstance()->start([work = std::move(work), ms] {
        if (ms > 0) QThread::msleep(ms);
        work();
    });
}

void runOnMainAsync(std::function<void()> work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}
