#include "MainThread.h"

#include "Dispatch.h"

#include <QCoreApplication>
#include <QThread>

void runOnMainSync(const std::function<void()>& work) {
    if (!work) return;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        work();
        return;
    }
    // A call event dropped unrun (the application going away) still releases the caller.
    runOnMainBlocking(work);
}
