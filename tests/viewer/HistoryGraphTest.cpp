// The history graph read back pixel by pixel: where each curve lies for histories whose
// heights follow from the scale rule (largest value, at least 5 pixels or 1000 counts).
#include "GraphPixels.h"
#include "HistoryGraph.h"
#include "Settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace GraphPixels;

namespace {

const double notANumber = std::numeric_limits<double>::quiet_NaN();

StarHistory historyOf(const std::vector<PSFResult>& measurements) {
    StarHistory history;
    for (const PSFResult& r : measurements)
        history.appendMeasurement(r);
    return history;
}

StarHistory constantHistory(size_t count, PSFResult r) {
    return historyOf(std::vector<PSFResult>(count, r));
}

// The single height at which column x crosses `colour`; NaN when it crosses none or several.
double heightAt(const QImage& graph, int x, const QColor& colour) {
    std::vector<double> h = strokeHeights(graph, x, colour);
    return h.size() == 1 ? h[0] : notANumber;
}

}  // namespace

TEST(HistoryGraph, IsTwoHundredByHundredAndTransparentWithoutMeasurements) {
    QImage graph = drawHistoryGraph(StarHistory());
    EXPECT_EQ(graph.size(), QSize(200, 100));
    EXPECT_TRUE(isTransparent(graph));
}

TEST(HistoryGraph, SmallValuesAreScaledToTheFloors) {
    // FWHM 3 of a floor of 5 -> 60; HFD 4 -> 80; peak 500 of a floor of 1000 -> 50. After 150
    // measurements the 101 kept span the whole width.
    QImage graph = drawHistoryGraph(constantHistory(150, {3, 4, 500}));
    for (int x : {0, 3, 60, 120, 196, 199}) {
        EXPECT_NEAR(heightAt(graph, x, blueColor()), 60, 0.6) << x;
        EXPECT_NEAR(heightAt(graph, x, redColor()), 80, 0.6) << x;
        EXPECT_NEAR(heightAt(graph, x, Qt::white), 50, 0.6) << x;
    }
}

TEST(HistoryGraph, LargestValueSetsTheScaleAndTouchesTheTop) {
    // 50 entries of FWHM 10 then one of 20: the scale is 20, the line lies at 50 and the
    // last point (x = 100) on the top edge. A first peak of 8000 then 2000s: the peak line
    // lies at 25.
    std::vector<PSFResult> m(50, PSFResult{10, 1, 2000});
    m[0].peak = 8000;
    m.push_back({20, 1, 2000});
    QImage graph = drawHistoryGraph(historyOf(m));
    for (int x : {10, 50, 90}) {
        EXPECT_NEAR(heightAt(graph, x, blueColor()), 50, 0.6) << x;
        EXPECT_NEAR(heightAt(graph, x, Qt::white), 25, 0.6) << x;
    }
    // The last segment climbs from (98, 50) to (100, 100): column 99 spans 75 to 100.
    EXPECT_NEAR(heightAt(graph, 99, blueColor()), 87.5, 2);
    EXPECT_GT(coverage(graph, 99, 99, blueColor()) + coverage(graph, 100, 99, blueColor()), 0);
    // HFD 1 of the floor 5 -> 20; nothing is drawn past the last entry.
    EXPECT_NEAR(heightAt(graph, 50, redColor()), 20, 0.6);
    EXPECT_TRUE(strokeHeights(graph, 110, blueColor()).empty());
}

TEST(HistoryGraph, EntriesWithoutUsableValuesAreSkippedAfterTheFirst) {
    // Unusable widths (0, negative, not a number) and peaks (below 1, not a number) between
    // usable ones: the curves run straight through at the usable height, never dipping.
    std::vector<PSFResult> m;
    for (int i = 0; i < 40; ++i) {
        if (i % 4 == 1)
            m.push_back({-1, 0, 0.5});
        else if (i % 4 == 2)
            m.push_back({notANumber, notANumber, notANumber});
        else
            m.push_back({3, 4, 500});
    }
    QImage graph = drawHistoryGraph(historyOf(m));
    for (int x = 1; x < 78; ++x) {
        EXPECT_NEAR(heightAt(graph, x, blueColor()), 60, 0.6) << x;
        EXPECT_NEAR(heightAt(graph, x, redColor()), 80, 0.6) << x;
        EXPECT_NEAR(heightAt(graph, x, Qt::white), 50, 0.6) << x;
    }
}

TEST(HistoryGraph, AnUnusableFirstEntryStartsTheCurveAtHeightZero) {
    // First FWHM "N/A" (0) then 3s: the curve rises from (0, 0) to (2, 60) while the peak
    // curve stays at 50.
    std::vector<PSFResult> m{{0, 4, 500}};
    for (int i = 0; i < 10; ++i)
        m.push_back({3, 4, 500});
    QImage graph = drawHistoryGraph(historyOf(m));
    EXPECT_TRUE(strokedNear(graph, 0.5, 1, blueColor()));
    EXPECT_NEAR(heightAt(graph, 10, blueColor()), 60, 0.6);
    EXPECT_NEAR(heightAt(graph, 10, Qt::white), 50, 0.6);

    // First peak without a number then 500s: from (0, 0) to (2, 50); such a measurement
    // never raises a scale.
    m[0] = {3, 4, std::numeric_limits<double>::quiet_NaN()};
    graph = drawHistoryGraph(historyOf(m));
    EXPECT_TRUE(strokedNear(graph, 0.5, 1, Qt::white));
    EXPECT_NEAR(heightAt(graph, 10, blueColor()), 60, 0.6);
    EXPECT_NEAR(heightAt(graph, 10, Qt::white), 50, 0.6);
}
