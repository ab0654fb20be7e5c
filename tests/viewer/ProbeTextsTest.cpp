// The star probe's field texts, case by case.
#include "ProbeTexts.h"

#include <gtest/gtest.h>

#include <limits>

using namespace ProbeTexts;

namespace {
const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double infinity = std::numeric_limits<double>::infinity();
}  // namespace

TEST(ProbeTexts, WidthsShowNotAvailableUnlessPositive) {
    struct Case {
        double width;
        const char* text;
    };
    for (Case c :
         {Case{3.0, "3.00"}, Case{2.3456, "2.35"}, Case{1234.5, "1234.50"}, Case{0.0, "N/A"},
          Case{-1.5, "N/A"}, Case{notANumber, "N/A"}, Case{infinity, "N/A"}})
        EXPECT_EQ(widthText(c.width, QLocale::c()), c.text) << c.width;
    EXPECT_EQ(widthText(2.5, QLocale(QLocale::German, QLocale::Germany)), "2,50");
}

TEST(ProbeTexts, PeaksTruncateTowardZeroOrShowDashes) {
    struct Case {
        double peak;
        const char* text;
    };
    for (Case c : {Case{1234.9, "1234"}, Case{-5.7, "-5"}, Case{-0.5, "0"}, Case{0.0, "0"},
                   Case{65535, "65535"}, Case{notANumber, "--"}, Case{infinity, "--"},
                   Case{-infinity, "--"}, Case{1e19, "--"}, Case{-1e19, "--"}})
        EXPECT_EQ(peakText(c.peak), c.text) << c.peak;
    EXPECT_EQ(truncatedInteger(9.2e18), int64_t(9.2e18));
    // A peak without a number beside measured widths: only the peak field shows "--".
    MeasurementTexts texts = measurementTexts({2.5, -1, notANumber}, QLocale::c());
    EXPECT_EQ(texts.fwhm, "2.50");
    EXPECT_EQ(texts.hfd, "N/A");
    EXPECT_EQ(texts.peak, "--");
    EXPECT_FALSE(truncatedInteger(9223372036854775808.0));
}

TEST(ProbeTexts, RectangleShowsCornerAndSize) {
    // Dragged from view point (10, 20) to (40, 60) at zoom 2.
    EXPECT_EQ(rectangleText(QRectF(20, 40, 60, 80)), "[20, 40] \u2192 [60, 80]");
    EXPECT_EQ(rectangleText(QRectF(20.9, 40.99, 0.5, 7.5)), "[20, 40] \u2192 [0, 7]");
    EXPECT_EQ(rectangleText(QRectF(notANumber, 0, 1, 1)), "[--, 0] \u2192 [1, 1]");
}

TEST(ProbeTexts, PixelValuesOfGreyAndColourPixels) {
    PixelValue colour{true, 0, {12, 34, 56}, 34};
    EXPECT_EQ(pixelValueText(QPointF(5.5, 7.9), colour), "[5, 7] \u2192 (12, 34, 56)");
    PixelValue grey{false, 40000, {0, 0, 0}, 156};
    EXPECT_EQ(pixelValueText(QPointF(5, 7), grey), "[5, 7] \u2192 40000");
}

TEST(ProbeTexts, DriftRatesRoundingToZeroShowNoSign) {
    EXPECT_EQ(driftRateTexts(QPointF(-0.00001, 0.00004), QLocale::c()).x, "X 0.0000");
    EXPECT_EQ(driftRateTexts(QPointF(-0.00001, 0.00004), QLocale::c()).y, "Y 0.0000");
    EXPECT_EQ(driftRateTexts(QPointF(-0.00006, 0), QLocale::c()).x, "X -0.0001");
    EXPECT_EQ(driftRateTexts(QPointF(notANumber, 1), QLocale::c()).x, "X --");
    EXPECT_EQ(driftRateTexts(QPointF(notANumber, 1), QLocale::c()).y, "Y 1.0000");
}
