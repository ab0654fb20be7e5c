// Start-up: the tabbing preference, the readers in order, the update checker;
// and the controllers' lock.
#include "BaseController.h"
#include "FITSImageRep.h"
#include "ImageDecoding.h"
#include "QSAppDelegate.h"
#include "RawImageRep.h"
#include "Settings.h"
#include "UpdateChecker.h"
#include "XISFImageRep.h"

#include <QCoreApplication>
#include <QThreadPool>

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

TEST(QSAppDelegateTest, StartUpWritesTheTabbingKeyRegistersReadersAndMakesTheChecker) {
    userDefaults().removeObject(QSAppDelegate::tabbingKey());
    // No request may leave the test: the check stops before reading anything.
    userDefaults().setObject("checkVersion", false);
    QSAppDelegate delegate;
    EXPECT_EQ(delegate.updateChecker(), nullptr);
    delegate.applicationDidFinishLaunching();

    EXPECT_EQ(userDefaults().defaultsInteger(QSAppDelegate::tabbingKey(), 0), 1);
    EXPECT_EQ(QSAppDelegate::tabbingKey(),
              "NSWindowTabbingShoudShowTabBarKey-Quasel.PanelWindow-(null)-(null)-HT-FS");
    const int raw = indexOfClass(RawImageRep::imageRepClass().name);
    const int fits = indexOfClass(FITSImageRep::imageRepClass().name);
    const int xisf = indexOfClass(XISFImageRep::imageRepClass().name);
    ASSERT_GE(raw, 0);
    ASSERT_GE(fits, 0);
    ASSERT_GE(xisf, 0);
    EXPECT_LT(raw, fits);
    EXPECT_LT(fits, xisf);

    // The checker belongs to the application, so a check still running outlives the delegate.
    UpdateChecker* checker = delegate.updateChecker();
    ASSERT_TRUE(checker);
    EXPECT_EQ(checker->parent(), QCoreApplication::instance());
    EXPECT_EQ(checker->productName, "Quasel");
    QThreadPool::globalInstance()->waitForDone();
    userDefaults().removeObject("checkVersion");
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
