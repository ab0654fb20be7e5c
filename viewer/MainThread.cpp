#include "MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

void runOnMainSync(const std::function<void()>& work) {
    if (!work) return;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        work();
        return;
    }
    // A call event dropped unrun (the application going away) still releases the caller.
    QMetaObject::invokeMethod(
        app, [&work] { work(); }, Qt::BlockingQueuedConnection);
}
