// Following a selected star across frames of equal size in a real image window: the marker
// and the recorded positions, the drift rates in the user's locale, the drift graph's grid,
// the end of the selection on a frame of another size or without the star, the guide-line
// settings, and the tool panels hiding while the application is inactive.
#include "GuideLines.h"
#include "ImageView.h"
#include "StarFields.h"
#include "ToolPanel.h"

#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace testing_image_window;
using namespace star_fields;

namespace {

struct DriftSettings {
    DriftSettings() { clear(); }
    ~DriftSettings() { clear(); }
    static void clear() {
        for (const QString& key : {GuideLines::x1Key, GuideLines::y1Key, GuideLines::x2Key,
                                   GuideLines::y2Key, QStringLiteral("hidePanels")})
            userDefaults().removeObject(key);
    }
};

// Restores the default locale at the end of a test.
struct LocaleGuard {
    QLocale saved;
    ~LocaleGuard() { QLocale::setDefault(saved); }
};

ImagePtr frameWithStarAt(QPointF star, int w = 64, int h = 48) {
    return starField(w, h, {{star}});
}

class DriftControlsTest : public ::testing::Test {
  protected:
    // A window showing a star at `star`, selected by a click on it.
    void openWithSelectedStar(QPointF star) {
        window = std::make_unique<ImageWindow>(frameWithStarAt(star));
        c = window->controller;
        QTest::mouseClick(c->clickableView, Qt::LeftButton, {},
                          clickPointOf(c->clickableView, star));
        ASSERT_TRUE(c->selectedStar);
    }

    WindowSettings settings;
    DriftSettings driftSettings;
    std::unique_ptr<ImageWindow> window;
    ImageController* c = nullptr;
};

// Heights (y upward) of the rows of column x that are not transparent.
std::vector<int> paintedRows(const QImage& picture, int x) {
    std::vector<int> rows;
    for (int row = 0; row < picture.height(); ++row)
        if (qAlpha(picture.pixel(x, row)) > 0) rows.push_back(picture.height() - 1 - row);
    return rows;
}

}  // namespace

TEST_F(DriftControlsTest, TheMarkerFollowsTheStarAndTheRatesAreItsSlope) {
    openWithSelectedStar({30.5, 20.5});
    c->showDrift();
    ASSERT_TRUE(c->driftPanel->isVisible());

    for (int frame = 1; frame <= 3; ++frame) {
        const QPointF star(30.5 + frame, 20.5);
        c->setCurrentImage(frameWithStarAt(star));
        ASSERT_TRUE(c->selectedStar) << frame;
        EXPECT_NEAR(c->selectedStar->x(), star.x(), 0.05) << frame;
        EXPECT_NEAR(c->selectedStar->y(), star.y(), 0.05) << frame;
        ASSERT_TRUE(c->clickableView->pointMarker);
        EXPECT_TRUE(crossDrawnAt(grabbed(c->clickableView), widgetPointOf(c->clickableView, star),
                                 greenColor()))
            << frame;
        if (frame == 1) {
            // One position has no slope.
            EXPECT_EQ(c->driftAXField->text(), "X --");
            EXPECT_EQ(c->driftBXField->text(), "Y --");
        }
    }
    EXPECT_EQ(c->history.driftHistory.size(), 3u);
    EXPECT_EQ(c->driftAXField->text(), "X 1.0000");
    EXPECT_EQ(c->driftBXField->text(), "Y 0.0000");
    // Each frame measured the star again: the click and three frames.
    EXPECT_EQ(c->history.measurementCount(), 4u);
    EXPECT_EQ(c->driftImageView->image().size(), QSize(400, 100));
}

TEST_F(DriftControlsTest, RatesUseTheDecimalSeparatorOfTheUsersLocale) {
    LocaleGuard guard;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    openWithSelectedStar({30.5, 20.5});
    c->showDrift();
    for (int frame = 1; frame <= 3; ++frame)
        c->setCurrentImage(frameWithStarAt({30.5 + frame, 20.5 - 0.5 * frame}));
    EXPECT_EQ(c->driftAXField->text(), "X 1,0000");
    EXPECT_EQ(c->driftBXField->text(), "Y -0,5000");
}

TEST_F(DriftControlsTest, ADriftUnderOnePixelDrawsThreeGridLines) {
    openWithSelectedStar({30.5, 20.5});
    c->showDrift();
    for (int frame = 1; frame <= 3; ++frame)
        c->setCurrentImage(frameWithStarAt({30.5 + 0.2 * frame, 20.5}));
    const QImage graph = c->driftImageView->image();
    ASSERT_EQ(graph.size(), QSize(400, 100));

    // Deviations stay under 1.05 pixels: the range is 1.05 and the lines for k = -1, 0 and 1
    // lie at 50 - 50 k / 1.05. Column 300 is beyond the curves (2 points per frame).
    const std::vector<double> expected = {50 - 50 / 1.05, 50, 50 + 50 / 1.05};
    const std::vector<int> rows = paintedRows(graph, 300);
    ASSERT_FALSE(rows.empty());
    for (double line : expected) {
        const bool drawn = std::any_of(rows.begin(), rows.end(),
                                       [&](int y) { return std::fabs(y + 0.5 - line) < 1.5; });
        EXPECT_TRUE(drawn) << line;
    }
    for (int y : rows) {
        const bool onALine = std::any_of(expected.begin(), expected.end(), [&](double line) {
            return std::fabs(y + 0.5 - line) < 1.5;
        });
        EXPECT_TRUE(onALine) << y;
    }
}

TEST_F(DriftControlsTest, PositionsAreKeptWhileThePanelIsHiddenAndDrawnOnceItShows) {
    openWithSelectedStar({30.5, 20.5});
    ASSERT_FALSE(c->driftPanel->isVisible());
    c->setCurrentImage(frameWithStarAt({31.5, 20.5}));
    c->setCurrentImage(frameWithStarAt({32.5, 20.5}));
    EXPECT_EQ(c->history.driftHistory.size(), 2u);
    EXPECT_TRUE(c->driftImageView->image().isNull());
    EXPECT_EQ(c->driftAXField->text(), "X --");

    // Showing the panel draws nothing by itself; the next frame brings the graph up to date.
    window->document().partWindows.value(0)->findChild<QPushButton*>("driftButton")->click();
    EXPECT_TRUE(c->driftPanel->isVisible());
    EXPECT_TRUE(c->driftImageView->image().isNull());
    c->setCurrentImage(frameWithStarAt({33.5, 20.5}));
    EXPECT_EQ(c->driftAXField->text(), "X 1.0000");
    EXPECT_FALSE(c->driftImageView->image().isNull());
}

TEST_F(DriftControlsTest, AFrameOfAnotherSizeEndsTheSelection) {
    openWithSelectedStar({30.5, 20.5});
    c->setCurrentImage(frameWithStarAt({30.5, 20.5}, 64, 50));
    EXPECT_FALSE(c->selectedStar);
    EXPECT_FALSE(c->clickableView->pointMarker);
    EXPECT_EQ(c->fwhmField->text(), "--");
    EXPECT_TRUE(c->detailImageView->image().isNull());
    EXPECT_TRUE(c->history.driftHistory.empty());
}

TEST_F(DriftControlsTest, AFrameWithoutTheStarEndsTheSelectionButKeepsAMarkedRectangle) {
    openWithSelectedStar({30.5, 20.5});
    c->setCurrentImage(frameWithStarAt({31.5, 20.5}));
    c->setCurrentImage(starField(64, 48, {}));
    EXPECT_FALSE(c->selectedStar);
    EXPECT_FALSE(c->clickableView->pointMarker);
    EXPECT_EQ(c->hfdField->text(), "--");
    EXPECT_EQ(c->history.driftHistory.size(), 1u);  // kept until the next click

    c->draggedWithRect(QRectF(2, 2, 10, 10), true);
    ASSERT_TRUE(c->clickableView->frameMarker);
    c->setCurrentImage(starField(64, 48, {}));
    EXPECT_TRUE(c->clickableView->frameMarker);
}

TEST_F(DriftControlsTest, GuideLinesStoreTheSelectedStarAndAreRemovedWithoutOne) {
    openWithSelectedStar({30.5, 20.5});
    const QPointF star = *c->selectedStar;
    QWidget* mainWindow = window->document().partWindows.value(0);
    mainWindow->findChild<QPushButton*>("guideLines1Button")->click();
    EXPECT_DOUBLE_EQ(userDefaults().defaultsDouble("guideX1", -1), star.x());
    EXPECT_DOUBLE_EQ(userDefaults().defaultsDouble("guideY1", -1), star.y());
    EXPECT_FALSE(userDefaults().objectForKey("guideX2").isValid());

    // The marker view draws the first cross in blue through the stored point, where the star's
    // own point marker stands.
    const QImage shot = grabbed(c->clickableView);
    const QPointF cross = widgetPointOf(c->clickableView, star);
    EXPECT_TRUE(colourNear(shot, QPointF(2, cross.y()), blueColor()));

    c->setGuideLines2();
    EXPECT_DOUBLE_EQ(userDefaults().defaultsDouble("guideX2", -1), star.x());

    c->deselected();
    mainWindow->findChild<QPushButton*>("guideLines1Button")->click();
    EXPECT_FALSE(userDefaults().objectForKey("guideX1").isValid());
    EXPECT_FALSE(userDefaults().objectForKey("guideY1").isValid());
    EXPECT_TRUE(userDefaults().objectForKey("guideX2").isValid());
}

TEST_F(DriftControlsTest, PanelsHideWhileTheApplicationIsInactiveUnlessToldOtherwise) {
    window = std::make_unique<ImageWindow>(frameWithStarAt({30.5, 20.5}));
    c = window->controller;
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    ASSERT_TRUE(app);

    c->showDrift();
    c->showBahtinov();
    ASSERT_TRUE(c->driftPanel->isVisible());
    ASSERT_TRUE(c->bahtinovPanel->isVisible());
    EXPECT_TRUE(c->driftPanel->isWindow());
    emit app->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_FALSE(c->driftPanel->isVisible());
    EXPECT_FALSE(c->bahtinovPanel->isVisible());
    emit app->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_TRUE(c->driftPanel->isVisible());
    EXPECT_TRUE(c->bahtinovPanel->isVisible());

    // A panel the user closed stays closed.
    c->bahtinovPanel->close();
    emit app->applicationStateChanged(Qt::ApplicationInactive);
    emit app->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_FALSE(c->bahtinovPanel->isVisible());

    // The setting is read each time a panel is brought up.
    userDefaults().setObject("hidePanels", false);
    c->showDrift();
    emit app->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_TRUE(c->driftPanel->isVisible());
    emit app->applicationStateChanged(Qt::ApplicationActive);
}
