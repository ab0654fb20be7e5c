// The bookkeeping of the selected star's histories: equal lengths, sliding limits, clearing.
#include "StarHistory.h"

#include <gtest/gtest.h>

#include <limits>

TEST(StarHistory, KeepsTheLast101MeasurementsOf150) {
    StarHistory history;
    for (int i = 0; i < 150; ++i)
        history.appendMeasurement({1.0 + i, 2.0 + i, 1000.0 + i});
    ASSERT_EQ(history.measurementCount(), 101u);
    ASSERT_EQ(history.hfdHistory.size(), 101u);
    ASSERT_EQ(history.peakHistory.size(), 101u);
    // Measurements 49 .. 149 remain, oldest first.
    EXPECT_DOUBLE_EQ(history.fwhmHistory.front(), 50.0);
    EXPECT_DOUBLE_EQ(history.fwhmHistory.back(), 150.0);
    EXPECT_DOUBLE_EQ(history.hfdHistory.front(), 51.0);
    EXPECT_EQ(history.peakHistory.front(), 1049);
    EXPECT_EQ(history.peakHistory.back(), 1149);
}

TEST(StarHistory, HoldsTheMeasuredNumbers) {
    // Widths as measured (also when not positive, so the graph can leave them out); peaks
    // truncated toward zero; a peak that is no integer is held as no value.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    StarHistory history;
    history.appendMeasurement({2.345, 3.456, 1234.9});
    history.appendMeasurement({-1, 0, -7.8});
    history.appendMeasurement({nan, 1, nan});
    history.appendMeasurement({1, 1, inf});
    history.appendMeasurement({1, 1, 1e19});
    EXPECT_DOUBLE_EQ(history.fwhmHistory[0], 2.345);
    EXPECT_DOUBLE_EQ(history.hfdHistory[0], 3.456);
    EXPECT_EQ(history.peakHistory[0], 1234);
    EXPECT_DOUBLE_EQ(history.fwhmHistory[1], -1);
    EXPECT_EQ(history.peakHistory[1], -7);
    EXPECT_FALSE(history.peakHistory[2].has_value());
    EXPECT_FALSE(history.peakHistory[3].has_value());
    EXPECT_FALSE(history.peakHistory[4].has_value());
}

TEST(StarHistory, KeepsTheLast201PositionsAndMovesTheReference) {
    StarHistory history;
    for (int i = 0; i < 201; ++i)
        history.appendPosition(QPointF(i, -i));
    EXPECT_EQ(history.driftHistory.size(), 201u);
    EXPECT_EQ(history.driftHistory.front(), QPointF(0, 0));
    // The 202nd frame drops the first position.
    history.appendPosition(QPointF(201, -201));
    EXPECT_EQ(history.driftHistory.size(), 201u);
    EXPECT_EQ(history.driftHistory.front(), QPointF(1, -1));
    EXPECT_EQ(history.driftHistory.back(), QPointF(201, -201));
}

TEST(StarHistory, ClearEmptiesAllFourAndStartsAfresh) {
    StarHistory history;
    history.appendMeasurement({3, 4, 500});
    history.appendPosition(QPointF(1, 2));
    history.clear();
    EXPECT_EQ(history.measurementCount(), 0u);
    EXPECT_TRUE(history.hfdHistory.empty());
    EXPECT_TRUE(history.peakHistory.empty());
    EXPECT_TRUE(history.driftHistory.empty());
    // Two clicks on the same star: the second starts the histories afresh.
    history.appendMeasurement({3, 4, 500});
    EXPECT_EQ(history.measurementCount(), 1u);
}
