// Start-up: the tabbing preference, the readers in order, the update check off the main thread;
// and the controllers' lock.
#include "BaseController.h"
#include "FITSImageRep.h"
#include "ImageDecoding.h"
#include "QSAppDelegate.h"
#include "RawImageRep.h"
#include "Settings.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>

namespace {

int indexOfClass(const char* name) {
    const auto classes = registeredImageRepClasses();
    for (size_t i = 0; i < classes.size(); ++i)
        if (std::strcmp(classes[i].name, name) == 0) return int(i);
    return -1;
}

}  // namespace

TEST(QSAppDelegateTest, StartUpWritesTheTabbingKeyRegistersReadersAndStartsTheCheck) {
    userDefaults().removeObject(QSAppDelegate::tabbingKey());
    QSAppDelegate delegate;
    std::promise<bool> ranOffMain;
    std::atomic<int> runs{0};
    QThread* mainThread = QThread::currentThread();
    delegate.startUpdateCheck = [&] {
        if (runs.fetch_add(1) == 0) ranOffMain.set_value(QThread::currentThread() != mainThread);
    };
    delegate.applicationDidFinishLaunching();

    EXPECT_EQ(userDefaults().defaultsInteger(QSAppDelegate::tabbingKey(), 0), 1);
    EXPECT_EQ(QSAppDelegate::tabbingKey(),
              "NSWindowTabbingShoudShowTabBarKey-Quasel.PanelWindow-(null)-(null)-HT-FS");
    const int raw = indexOfClass(RawImageRep::imageRepClass().name);
    const int fits = indexOfClass(FITSImageRep::imageRepClass().name);
    ASSERT_GE(raw, 0);
    ASSERT_GE(fits, 0);
    EXPECT_LT(raw, fits);

    auto result = ranOffMain.get_future();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(result.get());
    EXPECT_EQ(runs.load(), 1);

    // Without an update check start-up still completes.
    QSAppDelegate plain;
    plain.applicationDidFinishLaunching();
    EXPECT_EQ(userDefaults().defaultsInteger(QSAppDelegate::tabbingKey(), 0), 1);
}

TEST(BaseControllerTest, LockHoldsOffASecondHolderUntilUnlock) {
    BaseController controller;
    controller.lock();
    std::atomic<bool> acquired{false};
    std::thread other([&] {
        std::lock_guard<BaseController> hold(controller);
        acquired = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(acquired.load());
    controller.unlock();
    other.join();
    EXPECT_TRUE(acquired.load());
    controller.lock();  // free again after the guard
    controller.unlock();
}
