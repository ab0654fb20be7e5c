// The colour-filter pattern radios and the white-balance button: the choice reaches the radios,
// the settings and the picture 0.1 s after the click, in the order of the clicks.
#include "ClickableView.h"
#include "ImageWindowTesting.h"

#include <QAbstractButton>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace testing_image_window;

namespace {

// An 8-bit colour-filter frame laid out RGGB from the top-left pixel: red sites 200, green
// 100, blue 20. Pixel (32, 32) is a red site.
ImagePtr rggbFrame() {
    return imageOf(rawBlob8(64, 64, [](int x, int y) -> uint8_t {
        if (x % 2 == 0 && y % 2 == 0) return 200;
        if (x % 2 == 1 && y % 2 == 1) return 20;
        return 100;
    }));
}

class ColourControlsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<ImageWindow>(rggbFrame());
        c = window->controller;
        ASSERT_TRUE(c);
        c->toggleAutomaticStretch();  // 0 to 255: samples render as they are
    }

    QColor shown(int x = 32, int y = 32) const {
        return c->clickableView->image().pixelColor(x, y);
    }

    WindowSettings settings;
    std::unique_ptr<ImageWindow> window;
    ImageController* c = nullptr;
};

}  // namespace

TEST_F(ColourControlsTest, APatternTakesEffectATenthOfASecondAfterTheClick) {
    EXPECT_EQ(shown(), QColor(200, 200, 200));  // raw: grey
    c->rggbButton->click();
    EXPECT_EQ(c->_debayer, DebayerRaw);  // not yet
    EXPECT_EQ(c->current->_debayer, DebayerRaw);

    waitForLaterTasks();
    EXPECT_EQ(c->_debayer, DebayerRGGB);
    EXPECT_EQ(c->current->_debayer, DebayerRGGB);
    EXPECT_TRUE(c->rggbButton->isChecked());
    for (QAbstractButton* b :
         {c->rawButton.data(), c->grbgButton.data(), c->gbrgButton.data(), c->bggrButton.data()})
        EXPECT_FALSE(b->isChecked());
    EXPECT_TRUE(c->awbButton->isEnabled());
    EXPECT_EQ(userDefaults().defaultsInteger("debayer", -1), DebayerRGGB);
    // The red site shows its own red, green and blue from its neighbours.
    const QColor pixel = shown();
    EXPECT_NEAR(pixel.red(), 200, 2);
    EXPECT_NEAR(pixel.green(), 100, 2);
    EXPECT_NEAR(pixel.blue(), 20, 2);
    // The statistics are those of the 2 x 2 cells: every cell mean is (200 + 2 x 100 + 20) / 4.
    EXPECT_EQ(c->minField->text(), "105");
    EXPECT_EQ(c->maxField->text(), "105");
}

TEST_F(ColourControlsTest, ClicksInQuickSuccessionApplyInTheirOrder) {
    c->rggbButton->click();
    c->bggrButton->click();
    waitForLaterTasks();
    EXPECT_EQ(c->_debayer, DebayerBGGR);
    EXPECT_TRUE(c->bggrButton->isChecked());
    EXPECT_FALSE(c->rggbButton->isChecked());
    EXPECT_EQ(userDefaults().defaultsInteger("debayer", -1), DebayerBGGR);
    // Read as BGGR, the 200 site is blue.
    const QColor pixel = shown();
    EXPECT_GT(pixel.blue(), pixel.green());
    EXPECT_GT(pixel.green(), pixel.red());

    c->rawButton->click();
    waitForLaterTasks();
    EXPECT_EQ(c->_debayer, DebayerRaw);
    EXPECT_FALSE(c->awbButton->isEnabled());
    EXPECT_EQ(shown(), QColor(200, 200, 200));
    EXPECT_EQ(userDefaults().defaultsInteger("debayer", -1), DebayerRaw);
}

TEST_F(ColourControlsTest, APatternKeepsTheManualPointsTheSlidersShow) {
    c->blackPointField->setText("10");
    c->blackPointAction(c->blackPointField);
    c->whitePointField->setText("250");
    c->whitePointAction(c->whitePointField);
    c->gbrgButton->click();
    waitForLaterTasks();
    EXPECT_EQ(c->current->_blackPoint, 10);
    EXPECT_EQ(c->current->_whitePoint, 250);
    EXPECT_EQ(c->blackPointField->text(), "10");
}

TEST_F(ColourControlsTest, WhiteBalanceFollowsTheButtonATenthOfASecondLater) {
    c->rggbButton->click();
    waitForLaterTasks();
    const QColor before = shown();
    const qint64 histogramKey = c->current->cachedHistogram.cacheKey();

    c->awbButton->click();
    EXPECT_FALSE(c->_awb);  // not yet
    EXPECT_FALSE(c->current->_awb);
    waitForLaterTasks();
    EXPECT_TRUE(c->_awb);
    EXPECT_TRUE(c->current->_awb);
    EXPECT_TRUE(userDefaults().defaultsBool("awb", false));
    // Balanced, the red and blue channels come close to the green one.
    const QColor balanced = shown();
    EXPECT_LT(std::abs(balanced.red() - balanced.green()),
              std::abs(before.red() - before.green()) / 4);
    EXPECT_LT(std::abs(balanced.blue() - balanced.green()),
              std::abs(before.blue() - before.green()) / 4);
    EXPECT_EQ(c->current->cachedHistogram.cacheKey(), histogramKey);  // statistics stay

    c->awbButton->click();
    waitForLaterTasks();
    EXPECT_FALSE(c->current->_awb);
    EXPECT_FALSE(userDefaults().defaultsBool("awb", true));
    EXPECT_EQ(shown(), before);
}

TEST_F(ColourControlsTest, ThePatternSurvivesANewImage) {
    c->rggbButton->click();
    waitForLaterTasks();
    ImagePtr next = rggbFrame();
    c->setCurrentImage(next);
    EXPECT_EQ(next->_debayer, DebayerRGGB);
    EXPECT_TRUE(c->rggbButton->isChecked());
    EXPECT_NEAR(shown().red(), 200, 2);
}
