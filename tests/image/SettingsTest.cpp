// User-defaults readers and the dispatch helpers.
#include "Dispatch.h"
#include "Settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
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

// Arrays written here are read back by a new process: this test binary run again on this test
// alone, handed the settings directory (the common main gives every process a fresh one).
TEST(UserDefaults, ArraysSurviveARestart) {
    const std::pair<QString, QVariantList> arrays[] = {
        {"testEmpty", {}},
        {"testFrame", {10.0, 20.5, 800.0, -600.0}},
        {"testOne", {7.25}},
        {"testMixed", {qlonglong(1) << 40, -2.5e10, QString("text")}},
    };
    const QByteArray handedOver = qgetenv("QUASEL_TEST_SETTINGS_HOME");
    if (handedOver.isEmpty()) {
        for (const auto& [key, array] : arrays)
            userDefaults().setObject(key, array);
        userDefaults().synchronize();
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QUASEL_TEST_SETTINGS_HOME", qEnvironmentVariable("XDG_CONFIG_HOME"));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=UserDefaults.ArraysSurviveARestart"});
        ASSERT_TRUE(child.waitForFinished(60000));
        EXPECT_EQ(child.exitCode(), 0) << child.readAll().toStdString();
        for (const auto& [key, array] : arrays)
            userDefaults().removeObject(key);
        return;
    }
    qputenv("XDG_CONFIG_HOME", handedOver);  // before this process first opens the store
    for (const auto& [key, array] : arrays) {
        SCOPED_TRACE(key.toStdString());
        const QVariant stored = userDefaults().objectForKey(key);
        ASSERT_EQ(stored.typeId(), QMetaType::QVariantList);
        const QVariantList read = userDefaults().defaultsArray(key, {99});
        ASSERT_EQ(read.size(), array.size());
        for (qsizetype i = 0; i < read.size(); ++i) {
            const bool text = array[i].typeId() == QMetaType::QString;
            EXPECT_EQ(read[i].typeId() == QMetaType::QString, text) << i;
            EXPECT_EQ(text ? read[i] : read[i].toDouble(), text ? array[i] : array[i].toDouble());
        }
    }
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
