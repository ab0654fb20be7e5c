// The drift graph read back pixel by pixel, and the least-squares drift rates against
// slopes worked out by hand.
#include "DriftGraph.h"
#include "GraphPixels.h"
#include "ProbeTexts.h"
#include "Settings.h"

#include <gtest/gtest.h>

#include <limits>

using namespace GraphPixels;

namespace {

const QColor grid(128, 128, 128);  // a grid colour that no curve shares

std::vector<QPointF> track(size_t count, double xPerFrame, double yPerFrame) {
    std::vector<QPointF> positions;
    for (size_t i = 0; i < count; ++i)
        positions.push_back(QPointF(100 + xPerFrame * double(i), 50 + yPerFrame * double(i)));
    return positions;
}

}  // namespace

TEST(DriftRates, ThreeFramesMovingOnePixelInX) {
    std::vector<QPointF> positions{{10, 20.7}, {11, 20.7}, {12, 20.7}};
    std::optional<QPointF> rates = driftRates(positions);
    ASSERT_TRUE(rates);
    EXPECT_DOUBLE_EQ(rates->x(), 1.0);
    EXPECT_EQ(rates->y(), 0.0);
    ProbeTexts::DriftRateTexts texts = ProbeTexts::driftRateTexts(rates, QLocale::c());
    EXPECT_EQ(texts.x, "X 1.0000");
    EXPECT_EQ(texts.y, "Y 0.0000");
    texts = ProbeTexts::driftRateTexts(rates, QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(texts.x, "X 1,0000");
    EXPECT_EQ(texts.y, "Y 0,0000");
}

TEST(DriftRates, SlopeOfTheLeastSquaresLine) {
    // y = 0, 1, 0, 1 at t = 0..3: mean t 1.5, mean y 0.5, sum of (t - 1.5)(y - 0.5) = 1,
    // sum of (t - 1.5)^2 = 5, slope 0.2. x on an exact line of slope -0.37.
    std::vector<QPointF> positions{{7, 0}, {7 - 0.37, 1}, {7 - 0.74, 0}, {7 - 1.11, 1}};
    std::optional<QPointF> rates = driftRates(positions);
    ASSERT_TRUE(rates);
    EXPECT_NEAR(rates->x(), -0.37, 1e-12);
    EXPECT_NEAR(rates->y(), 0.2, 1e-12);
    ProbeTexts::DriftRateTexts texts = ProbeTexts::driftRateTexts(rates, QLocale::c());
    EXPECT_EQ(texts.x, "X -0.3700");
    EXPECT_EQ(texts.y, "Y 0.2000");
}

TEST(DriftRates, FewerThanTwoPositionsHaveNoRate) {
    EXPECT_FALSE(driftRates({}));
    EXPECT_FALSE(driftRates({QPointF(10, 20)}));
    const double notANumber = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(driftRates({QPointF(10, 20), QPointF(notANumber, 21)}));
    ProbeTexts::DriftRateTexts texts = ProbeTexts::driftRateTexts(driftRates({QPointF(10, 20)}));
    EXPECT_EQ(texts.x, "X --");
    EXPECT_EQ(texts.y, "Y --");
}

TEST(DriftRates, LargeRatesAreNotGrouped) {
    std::optional<QPointF> rates = driftRates({QPointF(0, 0), QPointF(1234.56789, -2500)});
    ProbeTexts::DriftRateTexts texts =
        ProbeTexts::driftRateTexts(rates, QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(texts.x, "X 1234,5679");
    EXPECT_EQ(texts.y, "Y -2500,0000");
}

TEST(DriftGraph, IsFourHundredByHundredAndEmptyWithoutPositions) {
    QImage graph = drawDrift({}, grid);
    EXPECT_EQ(graph.size(), QSize(400, 100));
    EXPECT_TRUE(isTransparent(graph));
}

TEST(DriftGraph, SmallDriftDrawsThreeGridLines) {
    // Deviations under 1.05 px: R = 1.05, lines for k = -1, 0, 1 at 50 -+ 50/1.05.
    QImage graph = drawDrift(track(3, 0.3, -0.2), grid);
    std::vector<double> lines = strokeHeights(graph, 300, grid);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NEAR(lines[0], 50 - 50 / 1.05, 0.6);
    EXPECT_NEAR(lines[1], 50, 0.6);
    EXPECT_NEAR(lines[2], 50 + 50 / 1.05, 0.6);
}

TEST(DriftGraph, OneGridLinePerPixelOfDeviation) {
    // The star wanders 3.5 px in y: R = 3.5, lines for k = -3..3 at 50 - 50 k / 3.5.
    std::vector<QPointF> positions{{10, 10}, {10, 12}, {10, 13.5}, {10, 11}};
    QImage graph = drawDrift(positions, grid);
    std::vector<double> lines = strokeHeights(graph, 300, grid);
    ASSERT_EQ(lines.size(), 7u);
    for (int k = -3; k <= 3; ++k)
        EXPECT_NEAR(lines[size_t(3 - k)], 50 - 50.0 * k / 3.5, 0.6) << k;
}

TEST(DriftGraph, CurvesFollowTheDeviationDownwardForLargerCoordinates) {
    // 101 frames drifting 1 px in x and -0.5 px in y over the history: R = 1.05. At frame 50
    // (x = 100) the X curve lies at 50 - 50 * 0.5 / 1.05 and the Y curve at
    // 50 + 50 * 0.25 / 1.05.
    QImage graph = drawDrift(track(101, 0.01, -0.005), grid);
    EXPECT_NEAR(strokeHeights(graph, 100, blueColor()).at(0), 50 - 25 / 1.05, 0.8);
    EXPECT_NEAR(strokeHeights(graph, 20, blueColor()).at(0), 50 - 5 / 1.05, 0.8);
    EXPECT_NEAR(strokeHeights(graph, 100, redColor()).at(0), 50 + 12.5 / 1.05, 0.8);
    // The curves end at x = 200.
    EXPECT_TRUE(strokeHeights(graph, 210, blueColor()).empty());

    // Moving toward smaller y draws the Y curve upward, reaching the top at the largest
    // deviation (R = 2 here).
    graph = drawDrift(track(3, 0, -1), grid);
    EXPECT_TRUE(strokedNear(graph, 3.5, 99, redColor()));
}

TEST(DriftGraph, AFullHistorySpansTheWholeWidth) {
    QImage graph = drawDrift(track(201, 0.001, 0.002), grid);
    EXPECT_FALSE(strokeHeights(graph, 399, blueColor()).empty());
    EXPECT_FALSE(strokeHeights(graph, 399, redColor()).empty());
}

TEST(DriftGraph, WildPositionsStayInsideAndKeepTheGridSparse) {
    // A jump of 10^12 px: rather than 2 x 10^12 grid lines, one every point, which fill the
    // height as one band.
    const double notANumber = std::numeric_limits<double>::quiet_NaN();
    std::vector<QPointF> positions{{0, 0}, {1e12, 0}, {notANumber, notANumber}, {0, 0}};
    QImage graph = drawDrift(positions, grid);
    std::vector<double> lines = strokeHeights(graph, 300, grid);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NEAR(lines[0], 50, 1);

    // Without the grid: the jump reaches the bottom edge, the position that is not finite
    // adds no point: the curve climbs straight from (2, 0) to the fourth frame at (6, 50), so
    // column 5 spans 37.5 to 50.
    const QColor noGrid(0, 0, 0, 0);
    graph = drawDrift(positions, noGrid);
    EXPECT_TRUE(strokedNear(graph, 2, 0.5, blueColor()));
    EXPECT_NEAR(strokeHeights(graph, 5, blueColor()).at(0), (37.5 + 50) / 2, 2);

    // A deviation too large for a double lies on the edge.
    positions = {{-1.5e308, 0}, {1.5e308, 0}, {0, 0}};
    EXPECT_EQ(DriftGraph::range(positions), 1.5e308);
    graph = drawDrift(positions, noGrid);
    EXPECT_TRUE(strokedNear(graph, 2, 0.5, blueColor()));
    EXPECT_FALSE(driftRates(positions).has_value());
}
