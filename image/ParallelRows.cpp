#include "ParallelRows.h"

QThreadPool* bandPool() {
    // Never destroyed: its idle threads end by themselves, and a pool torn down during static
    // destruction could wait on threads the process is already leaving behind.
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
        return p;
    }();
    return pool;
}
