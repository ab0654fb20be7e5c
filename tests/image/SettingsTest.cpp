// User-defaults readers and the dispatch helpers.
#include "Dispatch.h"
#include "Settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

TEST(UserDefaults, AbsentKeysGiveTheCallersDefault) {
    UserDefaults& d = userDefaults();
    d.removeObject("testAbsent");
    EXPECT_TRUE(d.defaultsBool("testAbsent", true));
    EXPECT_FALSE(d.defaultsBool("testAbsent", false));
    EXPECT_EQ(d.defaultsDouble("testAbsent", -1.0), -1.0);
    EXPECT_EQ(d.defaultsInteger("testAbsent", 4), 4);
    EXPECT_EQ(d.defaultsArray("testAbsent", {1, 2}), (QVariantList{1, 2}));
}

TEST(UserDefaults, StoredZeroIsNotReplacedByTheDefault) {
    UserDefaults& d = userDefaults();
    d.setObject("testZero", 0);
    EXPECT_FALSE(d.defaultsBool("testZero", true));
    EXPECT_EQ(d.defaultsDouble("testZero", 5.0), 0.0);
    EXPECT_EQ(d.defaultsInteger("testZero", 5), 0);
    d.setObject("testFalse", false);
    EXPECT_FALSE(d.defaultsBool("testFalse", true));
    d.removeObject("testZero");
    d.removeObject("testFalse");
}

TEST(UserDefaults, ReadingsOfStoredValues) {
    UserDefaults& d = userDefaults();
    d.setObject("testNumber", 12.75);
    EXPECT_TRUE(d.defaultsBool("testNumber", false));
    EXPECT_EQ(d.defaultsDouble("testNumber", 0), 12.75);
    EXPECT_EQ(d.defaultsInteger("testNumber", 0), 12);
    d.setObject("testText", "YES");
    EXPECT_TRUE(d.defaultsBool("testText", false));
    d.setObject("testList", QVariantList{1.0, 2.0, 3.0, 4.0});
    EXPECT_EQ(d.defaultsArray("testList", {}).size(), 4);
    d.synchronize();
    // Values survive a round trip through the store on disk.
    EXPECT_EQ(d.defaultsArray("testList", {}).value(3).toDouble(), 4.0);
    // An array has no number reading: the default answers.
    EXPECT_EQ(d.defaultsInteger("testList", 9), 9);
    for (const char* k : {"testNumber", "testText", "testList"})
        d.removeObject(k);
}

TEST(UserDefaults, VolatileValuesShadowTheStoreWithoutWritingIt) {
    UserDefaults& d = userDefaults();
    d.setObject("testShadow", true);
    d.setVolatileObject("testShadow", false);
    EXPECT_FALSE(d.defaultsBool("testShadow", true));
    d.synchronize();
    QSettings store("Quasel", "Quasel");
    EXPECT_TRUE(store.value("testShadow").toBool());  // the stored value is untouched
    d.setVolatileObject("testShadow", QVariant());
    EXPECT_TRUE(d.defaultsBool("testShadow", false));
    d.removeObject("testShadow");
}

TEST(Dispatch, GlobalSyncRunsElsewhereAndWaits) {
    std::atomic<bool> ran{false};
    QThread* worker = nullptr;
    runOnGlobalSync([&] {
        worker = QThread::currentThread();
        QThread::msleep(20);
        ran = true;
    });
    EXPECT_TRUE(ran);
    EXPECT_NE(worker, QThread::currentThread());
}

TEST(Dispatch, GlobalAfterReturnsFirstAndRunsOnce) {
    std::atomic<int> runs{0};
    std::atomic<QThread*> worker{nullptr};
    runOnGlobalAfter(
        [&] {
            worker = QThread::currentThread();
            ++runs;
        },
        0.1);
    EXPECT_EQ(runs.load(), 0);
    for (int i = 0; i < 200 && runs.load() == 0; ++i)
        QThread::msleep(5);
    QThread::msleep(50);
    EXPECT_EQ(runs.load(), 1);
    EXPECT_NE(worker.load(), QThread::currentThread());
}

TEST(Dispatch, MainAsyncRunsOnTheMainThreadLater) {
    bool ran = false;
    QThread* where = nullptr;
    runOnMainAsync([&] {
        ran = true;
        where = QThread::currentThread();
    });
    EXPECT_FALSE(ran);
    for (int i = 0; i < 100 && !ran; ++i)
        QCoreApplication::processEvents();
    EXPECT_TRUE(ran);
    EXPECT_EQ(where, QCoreApplication::instance()->thread());
}
