// Guide-line pairs in the settings: stored from the selected star, removed without one.
#include "GuideLines.h"
#include "Settings.h"

#include <QSettings>

#include <gtest/gtest.h>

using namespace GuideLines;

TEST(GuideLines, StoresTheSelectedStarAndRemovesThePairWithoutOne) {
    setGuideLines1(QPointF(120.5, 80.25));
    EXPECT_DOUBLE_EQ(userDefaults().defaultsDouble("guideX1", -1), 120.5);
    EXPECT_DOUBLE_EQ(userDefaults().defaultsDouble("guideY1", -1), 80.25);
    EXPECT_EQ(storedGuideLines(x1Key, y1Key), QPointF(120.5, 80.25));
    // Written through to the store that the next launch reads.
    userDefaults().synchronize();
    QSettings store("Quasel", "Quasel");
    EXPECT_DOUBLE_EQ(store.value("guideX1").toDouble(), 120.5);

    setGuideLines1(std::nullopt);
    EXPECT_FALSE(userDefaults().objectForKey("guideX1").isValid());
    EXPECT_FALSE(userDefaults().objectForKey("guideY1").isValid());
    EXPECT_DOUBLE_EQ(userDefaults().defaultsDouble("guideX1", -1), -1);
    EXPECT_FALSE(storedGuideLines(x1Key, y1Key));
}

TEST(GuideLines, TheTwoPairsAreIndependent) {
    setGuideLines1(QPointF(1, 2));
    setGuideLines2(QPointF(3, 4));
    EXPECT_EQ(storedGuideLines(x2Key, y2Key), QPointF(3, 4));
    setGuideLines2(std::nullopt);
    EXPECT_FALSE(storedGuideLines(x2Key, y2Key));
    EXPECT_EQ(storedGuideLines(x1Key, y1Key), QPointF(1, 2));
    setGuideLines1(std::nullopt);
}

TEST(GuideLines, APairWithANegativeValueDrawsNoCross) {
    userDefaults().setObject("guideX1", 10.0);
    userDefaults().setObject("guideY1", -1.0);
    EXPECT_FALSE(storedGuideLines(x1Key, y1Key));
    userDefaults().setObject("guideY1", 0.0);
    EXPECT_EQ(storedGuideLines(x1Key, y1Key), QPointF(10, 0));
    userDefaults().removeObject("guideY1");
    EXPECT_FALSE(storedGuideLines(x1Key, y1Key));
    userDefaults().removeObject("guideX1");
}
