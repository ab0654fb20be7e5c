// The image window presenting images: settings restored at wake, control ranges per sample
// depth, statistics texts, automatic stretch, a colour image, an image without a picture.
#include "ClickableView.h"
#include "ImageView.h"
#include "ImageWindowTesting.h"
#include "Stepper.h"
#include "TestData.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QLocale>
#include <QSlider>

#include <gtest/gtest.h>

using namespace testing_image_window;

namespace {

// The number as the user's locale groups it, e.g. "4,000".
QString grouped(int64_t value) {
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(qlonglong(value));
}

struct Range {
    int sliderMax, stepperMax;
    double increment;
};

Range rangeOf(QSlider* slider, Stepper* stepper) {
    return {slider->maximum(), int(stepper->maximum()), stepper->increment()};
}

class ImageControllerTest : public ::testing::Test {
  protected:
    WindowSettings settings;
};

}  // namespace

TEST_F(ImageControllerTest, WithoutSettingsAutomaticStretchIsOnPatternRawWhiteBalanceOff) {
    ImageWindow window(uniform16(64, 48, 4660));
    ImageController* c = window.controller;
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->automaticStretch);
    EXPECT_TRUE(c->automaticStretchButton->isChecked());
    EXPECT_FALSE(c->_awb);
    EXPECT_FALSE(c->awbButton->isChecked());
    EXPECT_EQ(c->_debayer, DebayerRaw);
    EXPECT_TRUE(c->rawButton->isChecked());
    for (QAbstractButton* b :
         {c->rggbButton.data(), c->grbgButton.data(), c->gbrgButton.data(), c->bggrButton.data()}) {
        EXPECT_FALSE(b->isChecked());
        EXPECT_TRUE(b->isEnabled());
    }
    EXPECT_FALSE(c->awbButton->isEnabled());  // white balance needs a pattern
}

TEST_F(ImageControllerTest, StoredSettingsAreRestoredAndAStoredWhiteBalanceReachesTheImage) {
    userDefaults().setObject("automaticStretch", false);
    userDefaults().setObject("awb", true);
    userDefaults().setObject("debayer", qlonglong(DebayerGRBG));
    ImagePtr image = uniform16(64, 48, 4660);
    ImageWindow window(image);
    ImageController* c = window.controller;
    EXPECT_FALSE(c->automaticStretch);
    EXPECT_FALSE(c->automaticStretchButton->isChecked());
    EXPECT_TRUE(c->_awb);
    EXPECT_TRUE(c->awbButton->isChecked());
    EXPECT_EQ(c->_debayer, DebayerGRBG);
    EXPECT_TRUE(c->grbgButton->isChecked());
    EXPECT_TRUE(c->awbButton->isEnabled());
    // The new image renders with the white balance the button shows.
    EXPECT_EQ(image->_debayer, DebayerGRBG);
    EXPECT_TRUE(image->_awb);
}

TEST_F(ImageControllerTest, AStoredPatternTheWindowDoesNotOfferReadsAsRaw) {
    userDefaults().setObject("debayer", 5);
    ImageWindow window(uniform16(64, 48, 4660));
    EXPECT_EQ(window.controller->_debayer, DebayerRaw);
    EXPECT_TRUE(window.controller->rawButton->isChecked());
}

TEST_F(ImageControllerTest, RangesSwitchBetweenSixteenAndEightBitImages) {
    ImageWindow window(uniform16(64, 48, 4660));
    ImageController* c = window.controller;
    EXPECT_EQ(c->blackPointSlider->maximum(), 65280);
    EXPECT_EQ(c->whitePointStepper->maximum(), 65280);
    EXPECT_EQ(c->blackPointStepper->increment(), 16);

    // Manual points 4096 and 40960 on the 16-bit image...
    c->toggleAutomaticStretch();  // off: 0 and 65280
    c->blackPointField->setText("4096");
    c->blackPointAction(c->blackPointField);
    c->whitePointField->setText("40960");
    c->whitePointAction(c->whitePointField);
    ASSERT_EQ(c->blackPointSlider->value(), 4096);

    // ...become 16 and 160 on an 8-bit image, with steps of 1.
    c->setCurrentImage(uniform8(64, 48, 100));
    for (auto [slider, stepper] :
         {std::pair{c->blackPointSlider.data(), c->blackPointStepper.data()},
          std::pair{c->whitePointSlider.data(), c->whitePointStepper.data()}}) {
        const Range r = rangeOf(slider, stepper);
        EXPECT_EQ(r.sliderMax, 255);
        EXPECT_EQ(r.stepperMax, 255);
        EXPECT_EQ(r.increment, 1);
    }
    EXPECT_EQ(c->blackPointSlider->value(), 16);
    EXPECT_EQ(c->blackPointStepper->value(), 16);
    EXPECT_EQ(c->whitePointSlider->value(), 160);
    EXPECT_EQ(c->whitePointStepper->value(), 160);
    EXPECT_EQ(c->current->_blackPoint, 16);  // manual stretch uses the converted slider values
    EXPECT_EQ(c->current->_whitePoint, 160);

    // And back: times 256, steps of 16.
    c->setCurrentImage(uniform16(64, 48, 4660));
    EXPECT_EQ(c->whitePointSlider->maximum(), 65280);
    EXPECT_EQ(c->whitePointStepper->increment(), 16);
    EXPECT_EQ(c->blackPointSlider->value(), 4096);
    EXPECT_EQ(c->whitePointSlider->value(), 40960);
    EXPECT_EQ(c->whitePointStepper->value(), 40960);
}

TEST_F(ImageControllerTest, StatisticsOfSixteenAndEightBitFrames) {
    // Every sample 4660 = 0x1234: the quartiles are histogram bins (0x12 << 8 = 4608), shown
    // as approximate; minimum, maximum and mean are exact.
    ImageWindow window(uniform16(4000, 3000, 4660));
    ImageController* c = window.controller;
    EXPECT_EQ(c->frameSizeField->text(), grouped(4000) + " x " + grouped(3000));
    EXPECT_EQ(c->minField->text(), grouped(4660));
    EXPECT_EQ(c->maxField->text(), grouped(4660));
    EXPECT_EQ(c->averageField->text(), grouped(4660));
    for (QLineEdit* f : {c->medianField.data(), c->q1Field.data(), c->q3Field.data()})
        EXPECT_EQ(f->text(), "~ " + grouped(4608));
    EXPECT_FALSE(c->histogramImageView->image().isNull());
    if (QLocale().groupSeparator() == ",") {
        EXPECT_EQ(c->frameSizeField->text(), "4,000 x 3,000");
    }

    c->setCurrentImage(uniform8(64, 48, 100));
    EXPECT_EQ(c->frameSizeField->text(), "64 x 48");
    EXPECT_EQ(c->medianField->text(), "100");
    EXPECT_EQ(c->q1Field->text(), "100");
    EXPECT_EQ(c->minField->text(), "100");
}

TEST_F(ImageControllerTest, AutomaticPointsOfAUniformFrameAreWidenedAndShown) {
    // Bin 18 alone: black 18 - 2, white 18 + 2, shifted up by 8.
    ImageWindow window(uniform16(64, 48, 4660));
    ImageController* c = window.controller;
    EXPECT_EQ(c->current->_blackPoint, 16 << 8);
    EXPECT_EQ(c->current->_whitePoint, 20 << 8);
    EXPECT_EQ(c->blackPointField->text(), "4096");
    EXPECT_EQ(c->whitePointSlider->value(), 5120);
    EXPECT_EQ(c->whitePointStepper->value(), 5120);
    // 4660 lies at (4660 - 4096) / ((5120 - 4096) / 256) = 141 between the points.
    const QImage shown = c->clickableView->image();
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.pixelColor(10, 10), QColor(141, 141, 141));
}

TEST_F(ImageControllerTest, AutomaticStretchOffGivesTheFullRangeAndOnAgainTheHistogramPoints) {
    ImageWindow window(uniform16(64, 48, 4660));
    ImageController* c = window.controller;
    c->automaticStretchButton->click();
    EXPECT_FALSE(c->automaticStretch);
    EXPECT_FALSE(c->automaticStretchButton->isChecked());
    EXPECT_FALSE(userDefaults().defaultsBool("automaticStretch", true));
    EXPECT_EQ(c->current->_blackPoint, 0);
    EXPECT_EQ(c->current->_whitePoint, 65280);
    EXPECT_EQ(c->blackPointField->text(), "0");
    EXPECT_EQ(c->whitePointField->text(), "65280");
    EXPECT_EQ(c->whitePointSlider->value(), 65280);
    EXPECT_EQ(c->whitePointStepper->value(), 65280);
    // 4660 / (65280 / 256) = 18.27...
    EXPECT_EQ(c->clickableView->image().pixelColor(0, 0), QColor(18, 18, 18));

    c->automaticStretchButton->click();
    EXPECT_TRUE(c->automaticStretch);
    EXPECT_TRUE(userDefaults().defaultsBool("automaticStretch", false));
    EXPECT_EQ(c->current->_blackPoint, 4096);
    EXPECT_EQ(c->whitePointField->text(), "5120");
    EXPECT_EQ(c->clickableView->image().pixelColor(0, 0), QColor(141, 141, 141));
}

TEST_F(ImageControllerTest, AColourImageHasSixteenBitRangesNoApproximationAndNoPattern) {
    const QString path = testDataPath("fits/eso_rgb16_im.fits");
    REQUIRE_TEST_FILE(path);
    userDefaults().setObject("debayer", qlonglong(DebayerRGGB));
    registerImageReaders();
    ImagePtr image = Image::create(readFileBytes(path), ".fits");
    ASSERT_EQ(image->bitsPerPixel, 48);
    ImageWindow window(image);
    ImageController* c = window.controller;
    EXPECT_EQ(c->blackPointSlider->maximum(), 65280);
    EXPECT_FALSE(c->medianField->text().startsWith("~"));
    EXPECT_FALSE(c->medianField->text().isEmpty());
    for (QAbstractButton* b : {c->rawButton.data(), c->rggbButton.data(), c->grbgButton.data(),
                               c->gbrgButton.data(), c->bggrButton.data(), c->awbButton.data()})
        EXPECT_FALSE(b->isEnabled());
    EXPECT_EQ(c->_debayer, DebayerRaw);
    EXPECT_FALSE(c->clickableView->image().isNull());
}

TEST_F(ImageControllerTest, AnImageWithoutPictureClearsThePictureAndTheStatistics) {
    ImageWindow window(uniform16(64, 48, 4660));
    ImageController* c = window.controller;
    ASSERT_FALSE(c->clickableView->image().isNull());
    ASSERT_NE(c->minField->text(), "--");

    c->setCurrentImage(imageOf("not a picture at all"));
    EXPECT_TRUE(c->clickableView->image().isNull());
    for (QLineEdit* f :
         {c->frameSizeField.data(), c->minField.data(), c->maxField.data(), c->averageField.data(),
          c->medianField.data(), c->q1Field.data(), c->q3Field.data()})
        EXPECT_EQ(f->text(), "--") << f->objectName().toStdString();
    EXPECT_TRUE(c->histogramImageView->image().isNull());
}

TEST_F(ImageControllerTest, NoImageDisablesTheZoomButtonsAndAnImageEnablesThemAgain) {
    ImageWindow window(uniform16(64, 48, 4660));
    ImageController* c = window.controller;
    c->setCurrentImage(nullptr);
    for (QAbstractButton* b : {c->zoomInButton.data(), c->zoomOutButton.data(),
                               c->zoomToFitButton.data(), c->actualSizeButton.data()})
        EXPECT_FALSE(b->isEnabled());
    EXPECT_TRUE(c->clickableView->image().isNull());
    // Every action without an image leaves things alone.
    c->toggleAutomaticStretch();
    c->whitePointAction(c->whitePointField);
    EXPECT_TRUE(c->automaticStretch);

    c->setCurrentImage(uniform16(64, 48, 4660));
    for (QAbstractButton* b : {c->zoomInButton.data(), c->zoomOutButton.data(),
                               c->zoomToFitButton.data(), c->actualSizeButton.data()})
        EXPECT_TRUE(b->isEnabled());
}
