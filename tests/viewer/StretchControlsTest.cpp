// The black- and white-point controls: the slider renders only when let go (or moved by the
// keyboard), the stepper keeps to steps of 16 on 16-bit images, a typed value is used as typed.
#include "ClickableView.h"
#include "ImageWindowTesting.h"
#include "Stepper.h"

#include <QLineEdit>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace testing_image_window;

namespace {

// Sample x * 16 in column x: with black 0 and white 992 column 31 (496) renders at
// 496 / (992 / 256) = 128 and column 62 (992) at 256, held at 255.
ImagePtr ramp16() {
    return imageOf(rawBlob16(64, 32, [](int x, int) { return uint16_t(x * 16); }));
}

// The centre of the slider's knob, in the slider's coordinates.
QPoint knobCentre(QSlider* slider) {
    QStyleOptionSlider opt;
    opt.initFrom(slider);
    opt.orientation = slider->orientation();
    opt.minimum = slider->minimum();
    opt.maximum = slider->maximum();
    opt.sliderPosition = slider->sliderPosition();
    opt.sliderValue = slider->value();
    opt.singleStep = slider->singleStep();
    opt.pageStep = slider->pageStep();
    opt.subControls = QStyle::SC_All;
    return slider->style()
        ->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, slider)
        .center();
}

class StretchControlsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<ImageWindow>(ramp16());
        c = window->controller;
        ASSERT_TRUE(c);
        c->toggleAutomaticStretch();  // manual: black 0, white 65280
        ASSERT_EQ(c->current->_blackPoint, 0);
    }

    qint64 shownKey() const { return c->clickableView->image().cacheKey(); }
    QColor shownAt(int x) const { return c->clickableView->image().pixelColor(x, 5); }

    WindowSettings settings;
    std::unique_ptr<ImageWindow> window;
    ImageController* c = nullptr;
};

}  // namespace

TEST_F(StretchControlsTest, DraggingTheSliderMovesStepperAndFieldAndRendersOnRelease) {
    QSlider* slider = c->whitePointSlider;
    const qint64 before = shownKey();
    slider->setSliderDown(true);
    slider->setSliderPosition(1000);
    EXPECT_EQ(c->whitePointStepper->value(), 992);
    EXPECT_EQ(c->whitePointField->text(), "992");
    EXPECT_EQ(c->current->_whitePoint, 65280);  // not yet
    EXPECT_EQ(shownKey(), before);

    slider->setSliderDown(false);  // the release
    EXPECT_EQ(c->current->_whitePoint, 992);
    EXPECT_NE(shownKey(), before);
    EXPECT_EQ(shownAt(31), QColor(128, 128, 128));
    EXPECT_EQ(shownAt(62), QColor(255, 255, 255));
    EXPECT_FALSE(c->automaticStretch);
    EXPECT_FALSE(c->automaticStretchButton->isChecked());
}

TEST_F(StretchControlsTest, AMouseDragRendersOnlyWhenTheButtonIsReleased) {
    QSlider* slider = c->whitePointSlider;
    const QPoint knob = knobCentre(slider);
    const qint64 before = shownKey();
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, knob);
    QMouseEvent move(QEvent::MouseMove, QPointF(knob - QPoint(slider->width() / 3, 0)),
                     slider->mapToGlobal(QPointF(knob - QPoint(slider->width() / 3, 0))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(slider, &move);
    ASSERT_TRUE(slider->isSliderDown());
    ASSERT_LT(slider->value(), 65280);
    const int64_t shownValue = c->whitePointField->text().toLongLong();
    EXPECT_EQ(shownValue % 16, 0);
    EXPECT_EQ(c->whitePointStepper->value(), shownValue);
    EXPECT_EQ(shownKey(), before);
    EXPECT_EQ(c->current->_whitePoint, 65280);

    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier,
                        knob - QPoint(slider->width() / 3, 0));
    EXPECT_EQ(c->current->_whitePoint, shownValue);
    EXPECT_NE(shownKey(), before);
}

TEST_F(StretchControlsTest, KeysOnTheSliderRenderAtOnce) {
    QSlider* slider = c->whitePointSlider;
    slider->setFocus();
    const qint64 before = shownKey();
    QTest::keyClick(slider, Qt::Key_Left);  // 65279, shown on the step of 16 below
    EXPECT_EQ(c->current->_whitePoint, 65264);
    EXPECT_EQ(c->whitePointField->text(), "65264");
    EXPECT_NE(shownKey(), before);

    QTest::keyClick(slider, Qt::Key_Home);
    EXPECT_EQ(c->current->_whitePoint, 0);
    EXPECT_EQ(c->whitePointStepper->value(), 0);
}

TEST_F(StretchControlsTest, ATypedValueIsUsedAsTypedEvenBeyondTheSliderRange) {
    const qint64 before = shownKey();
    c->whitePointField->setText("1000");
    QTest::keyClick(c->whitePointField, Qt::Key_Return);
    EXPECT_EQ(c->current->_whitePoint, 1000);
    EXPECT_EQ(c->whitePointSlider->value(), 1000);
    EXPECT_EQ(c->whitePointStepper->value(), 1000);
    EXPECT_NE(shownKey(), before);
    // 496 / (1000 / 256) = 126.97
    EXPECT_EQ(shownAt(31), QColor(126, 126, 126));

    c->whitePointField->setText("70000 ADU");
    QTest::keyClick(c->whitePointField, Qt::Key_Return);
    EXPECT_EQ(c->current->_whitePoint, 70000);
    EXPECT_EQ(c->whitePointSlider->value(), 65280);

    // Black above white is taken as typed too: every pixel renders black.
    c->blackPointField->setText("2000");
    QTest::keyClick(c->blackPointField, Qt::Key_Return);
    c->whitePointField->setText("1000");
    QTest::keyClick(c->whitePointField, Qt::Key_Return);
    EXPECT_EQ(c->current->_blackPoint, 2000);
    EXPECT_EQ(shownAt(62), QColor(0, 0, 0));
}

TEST_F(StretchControlsTest, TheStepperKeepsToStepsOfSixteenOnSixteenBitImages) {
    c->whitePointField->setText("1000");
    QTest::keyClick(c->whitePointField, Qt::Key_Return);
    auto* up = c->whitePointStepper->findChild<QToolButton*>("stepUp");
    ASSERT_TRUE(up);
    QTest::mouseClick(up, Qt::LeftButton);  // 1016, down to the step: 1008
    EXPECT_EQ(c->current->_whitePoint, 1008);
    EXPECT_EQ(c->whitePointField->text(), "1008");
    EXPECT_EQ(c->whitePointSlider->value(), 1008);
}

TEST_F(StretchControlsTest, EightBitControlsStepByOne) {
    c->setCurrentImage(imageOf(rawBlob8(64, 32, [](int x, int) { return uint8_t(x * 4); })));
    ASSERT_EQ(c->whitePointStepper->maximum(), 255);
    c->whitePointField->setText("101");
    QTest::keyClick(c->whitePointField, Qt::Key_Return);
    auto* up = c->whitePointStepper->findChild<QToolButton*>("stepUp");
    QTest::mouseClick(up, Qt::LeftButton);
    EXPECT_EQ(c->current->_whitePoint, 102);
    c->whitePointSlider->setFocus();
    QTest::keyClick(c->whitePointSlider, Qt::Key_Left);
    EXPECT_EQ(c->current->_whitePoint, 101);
}
