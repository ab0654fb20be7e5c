// The stepper: limits, steps by the arrows and keys, and which changes announce a user action.
#include "Stepper.h"

#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <limits>

namespace {

// A stepper set up like a 16-bit stretch-point stepper.
struct SixteenBitStepper {
    Stepper stepper;
    SixteenBitStepper() {
        stepper.setMinimum(0);
        stepper.setMaximum(65280);
        stepper.setIncrement(16);
        stepper.setValue(1000);
    }
};

}  // namespace

TEST(Stepper, ArrowsStepByTheIncrementAndStopAtTheLimits) {
    SixteenBitStepper s;
    QSignalSpy activated(&s.stepper, &Stepper::activated);
    QSignalSpy changed(&s.stepper, &Stepper::valueChanged);
    auto* up = s.stepper.findChild<QToolButton*>("stepUp");
    auto* down = s.stepper.findChild<QToolButton*>("stepDown");
    ASSERT_NE(up, nullptr);
    ASSERT_NE(down, nullptr);

    QTest::mouseClick(up, Qt::LeftButton);
    EXPECT_EQ(s.stepper.value(), 1016);
    QTest::mouseClick(down, Qt::LeftButton);
    QTest::mouseClick(down, Qt::LeftButton);
    EXPECT_EQ(s.stepper.value(), 984);
    EXPECT_EQ(activated.count(), 3);
    EXPECT_EQ(changed.count(), 3);
    EXPECT_EQ(changed.last().at(0).toDouble(), 984);

    s.stepper.setValue(65270);
    s.stepper.stepUp();
    EXPECT_EQ(s.stepper.value(), 65280);
    // Pinned at the maximum: the press still counts as the user's action.
    changed.clear();
    s.stepper.stepUp();
    EXPECT_EQ(s.stepper.value(), 65280);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(activated.count(), 5);

    s.stepper.setValue(5);
    s.stepper.stepDown();
    EXPECT_EQ(s.stepper.value(), 0);
}

TEST(Stepper, ValuesSetByCodeAreNotUserActions) {
    SixteenBitStepper s;
    QSignalSpy activated(&s.stepper, &Stepper::activated);
    QSignalSpy changed(&s.stepper, &Stepper::valueChanged);
    s.stepper.setValue(4096);
    s.stepper.setValue(4096);  // no change, no announcement
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(activated.count(), 0);
}

TEST(Stepper, ValuesAreHeldWithinTheLimits) {
    SixteenBitStepper s;
    s.stepper.setValue(70000);
    EXPECT_EQ(s.stepper.value(), 65280);
    s.stepper.setValue(-3);
    EXPECT_EQ(s.stepper.value(), 0);
    // Switching to 8-bit ranges: a value above the new maximum comes down to it.
    s.stepper.setValue(4096);
    s.stepper.setMaximum(255);
    EXPECT_EQ(s.stepper.value(), 255);
    // A minimum above the maximum takes the maximum along.
    s.stepper.setMinimum(300);
    EXPECT_EQ(s.stepper.maximum(), 300);
    EXPECT_EQ(s.stepper.value(), 300);
}

TEST(Stepper, UnusableNumbersAreIgnored) {
    SixteenBitStepper s;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    s.stepper.setValue(nan);
    s.stepper.setMaximum(nan);
    s.stepper.setMinimum(nan);
    s.stepper.setIncrement(nan);
    s.stepper.setIncrement(0);
    s.stepper.setIncrement(-16);
    EXPECT_EQ(s.stepper.value(), 1000);
    EXPECT_EQ(s.stepper.minimum(), 0);
    EXPECT_EQ(s.stepper.maximum(), 65280);
    EXPECT_EQ(s.stepper.increment(), 16);
}

TEST(Stepper, IntegerValueTruncatesTowardZero) {
    Stepper stepper;
    stepper.setMinimum(-10);
    stepper.setValue(4.9);
    EXPECT_EQ(stepper.integerValue(), 4);
    stepper.setValue(-4.9);
    EXPECT_EQ(stepper.integerValue(), -4);
}

TEST(Stepper, UpAndDownKeysStep) {
    SixteenBitStepper s;
    QSignalSpy activated(&s.stepper, &Stepper::activated);
    QTest::keyClick(&s.stepper, Qt::Key_Up);
    EXPECT_EQ(s.stepper.value(), 1016);
    QTest::keyClick(&s.stepper, Qt::Key_Down);
    QTest::keyClick(&s.stepper, Qt::Key_Down);
    EXPECT_EQ(s.stepper.value(), 984);
    QTest::keyClick(&s.stepper, Qt::Key_A);
    EXPECT_EQ(s.stepper.value(), 984);
    EXPECT_EQ(activated.count(), 3);
}
