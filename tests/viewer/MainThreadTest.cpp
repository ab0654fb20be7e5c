// runOnMainSync: work reaches the main thread and the caller waits for it.
#include "MainThread.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

TEST(MainThread, OnTheMainThreadRunsAtOnce) {
    bool ran = false;
    QThread* where = nullptr;
    runOnMainSync([&] {
        ran = true;
        where = QThread::currentThread();
    });
    EXPECT_TRUE(ran);
    EXPECT_EQ(where, QCoreApplication::instance()->thread());
}

TEST(MainThread, FromAnotherThreadRunsOnMainAndWaits) {
    QThread* const mainThread = QCoreApplication::instance()->thread();
    std::vector<int> order;  // written only on the main thread
    std::atomic<bool> allOnMain{true};
    std::atomic<int> seenAfterReturn{0};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        for (int i = 0; i < 5; ++i) {
            runOnMainSync([&, i] {
                if (QThread::currentThread() != mainThread) allOnMain = false;
                QThread::msleep(2);
                order.push_back(i);
            });
            // Returning means the work is done: the main thread has appended entry i.
            seenAfterReturn += 1;
        }
        finished = true;
    });
    // The main thread serves the queued calls until the worker is through.
    while (!finished)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    EXPECT_TRUE(allOnMain);
    EXPECT_EQ(seenAfterReturn, 5);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}
