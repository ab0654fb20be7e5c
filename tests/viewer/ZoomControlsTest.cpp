// Zoom and orientation of the image window: zoom limits, fit with and without a quarter turn,
// the rotation pair, the fit and actual-size states 0.1 s later, corner inspection, and the
// point kept in the middle while zooming.
#include "CenteringView.h"
#include "ClickableView.h"
#include "ImageWindowTesting.h"
#include "ViewMapping.h"

#include <QAbstractButton>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <cmath>

using namespace testing_image_window;

namespace {

const ImagePtr& bigFrame() {
    // One 4000 x 3000 frame for the whole suite; its rendering does not change here.
    static const ImagePtr image = uniform16(4000, 3000, 4660);
    return image;
}

class ZoomControlsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<ImageWindow>(bigFrame());
        c = window->controller;
        ASSERT_TRUE(c);
        c->scrollView->setFixedSize(1010, 760);
    }

    // The image point under the middle of the visible area.
    QPointF middlePoint() const {
        const QPointF middle = c->scrollView->boundsRect().center();
        return pictureFromView(toYUp(middle, c->clickableView->frameSize().height()),
                               c->clickableView->orientation());
    }

    WindowSettings settings;
    std::unique_ptr<ImageWindow> window;
    ImageController* c = nullptr;
};

}  // namespace

TEST_F(ZoomControlsTest, ZoomInStopsAtAQuarterAndZoomOutAtEight) {
    c->zoom = 0.3;
    c->zoomInButton->click();
    EXPECT_EQ(c->zoom, 0.25);
    EXPECT_EQ(c->clickableView->scale, 0.25);
    EXPECT_FALSE(c->zoomToFit);
    c->zoomInButton->click();
    EXPECT_EQ(c->zoom, 0.25);
    // The view is laid out again: a 4000 x 3000 picture at four points per pixel.
    EXPECT_EQ(c->clickableView->frameSize(), QSizeF(16000, 12000));
    waitForLaterTasks();
    EXPECT_FALSE(c->zoomToFitButton->isChecked());
    EXPECT_FALSE(c->actualSizeButton->isChecked());

    c->zoom = 6;
    c->zoomOutButton->click();
    EXPECT_EQ(c->zoom, 8);
    c->zoomOutButton->click();
    EXPECT_EQ(c->zoom, 8);
    EXPECT_EQ(c->clickableView->frameSize(), QSizeF(500, 375));
}

TEST_F(ZoomControlsTest, FitUsesTheScrollViewFrameLessTenAndSwapsTheSidesWhenTurned) {
    c->zoomToFitButton->click();
    EXPECT_TRUE(c->zoomToFit);
    EXPECT_DOUBLE_EQ(c->zoom, std::max(4000.0 / 1000, 3000.0 / 750));

    c->rotateCCWButton->click();
    EXPECT_EQ(c->rotation, 90);
    EXPECT_DOUBLE_EQ(c->zoom, std::max(3000.0 / 1000, 4000.0 / 750));  // 5.333...
    EXPECT_EQ(c->clickableView->angle, 90);
    EXPECT_EQ(c->clickableView->scale, c->zoom);
    EXPECT_NEAR(c->clickableView->frameSize().width(), 3000 / c->zoom, 1e-9);
    EXPECT_NEAR(c->clickableView->frameSize().height(), 750, 1e-9);

    // A resize of the window fits again while fitting is on.
    c->scrollView->setFixedSize(510, 410);
    EXPECT_DOUBLE_EQ(c->zoom, std::max(3000.0 / 500, 4000.0 / 400));
    c->zoomActualSizeAction();
    c->scrollView->setFixedSize(1010, 760);
    EXPECT_EQ(c->zoom, 1);
}

TEST_F(ZoomControlsTest, FitInAScrollViewSmallerThanItsMarginStaysFinite) {
    c->scrollView->setFixedSize(4, 4);
    c->zoomToFitAction();
    EXPECT_TRUE(std::isfinite(c->zoom));
    EXPECT_GT(c->zoom, 0);
    EXPECT_EQ(c->zoom, 4000);  // at most the whole picture per point
    EXPECT_GE(c->clickableView->frameSize().width(), 0);
}

TEST_F(ZoomControlsTest, TheRotationButtonsActAsAPair) {
    c->rotateCCWButton->click();
    EXPECT_EQ(c->rotation, 90);
    c->rotateCWButton->click();
    EXPECT_FALSE(c->rotateCCWButton->isChecked());
    EXPECT_TRUE(c->rotateCWButton->isChecked());
    EXPECT_EQ(c->rotation, -90);
    EXPECT_EQ(c->clickableView->angle, -90);
    c->rotateCWButton->click();
    EXPECT_EQ(c->rotation, 0);
    EXPECT_FALSE(c->rotateCWButton->isChecked());
    EXPECT_FALSE(c->rotateCCWButton->isChecked());
}

TEST_F(ZoomControlsTest, FlipsReachTheMarkerViewAndPersistAcrossImages) {
    c->flipHorizontallyButton->click();
    c->flipVerticallyButton->click();
    EXPECT_TRUE(c->clickableView->flipHorizontally);
    EXPECT_TRUE(c->clickableView->flipVertically);
    c->rotateCWButton->click();
    c->setCurrentImage(uniform16(400, 300, 1000));
    EXPECT_TRUE(c->clickableView->flipHorizontally);
    EXPECT_TRUE(c->clickableView->flipVertically);
    EXPECT_EQ(c->clickableView->angle, -90);
    c->flipVerticallyButton->click();
    EXPECT_FALSE(c->clickableView->flipVertically);
}

TEST_F(ZoomControlsTest, FitAndActualSizeStatesFollowATenthOfASecondLater) {
    ASSERT_TRUE(c->zoomToFitButton->isChecked());
    c->actualSizeButton->click();
    EXPECT_EQ(c->zoom, 1);
    EXPECT_TRUE(c->zoomToFitButton->isChecked());  // not yet
    waitForLaterTasks();
    EXPECT_FALSE(c->zoomToFitButton->isChecked());
    EXPECT_TRUE(c->actualSizeButton->isChecked());

    c->zoomToFitButton->click();
    waitForLaterTasks();
    EXPECT_TRUE(c->zoomToFitButton->isChecked());
    EXPECT_FALSE(c->actualSizeButton->isChecked());
}

TEST_F(ZoomControlsTest, CornerInspectionDisablesTheZoomButtonsAndKeepsTheZoom) {
    c->actualSizeButton->click();
    c->inspectCornersButton->click();
    const QAbstractButton* zoomButtons[] = {c->zoomInButton, c->zoomOutButton, c->zoomToFitButton,
                                            c->actualSizeButton};
    for (const QAbstractButton* b : zoomButtons)
        EXPECT_FALSE(b->isEnabled());
    EXPECT_TRUE(c->clickableView->inspectCornersState);
    EXPECT_EQ(c->zoom, 1);

    // A new image enables them again, inspection or not.
    c->setCurrentImage(bigFrame());
    for (const QAbstractButton* b : zoomButtons)
        EXPECT_TRUE(b->isEnabled());

    c->inspectCornersButton->click();
    EXPECT_FALSE(c->clickableView->inspectCornersState);
    for (const QAbstractButton* b : zoomButtons)
        EXPECT_TRUE(b->isEnabled());
    EXPECT_EQ(c->zoom, 1);
}

TEST_F(ZoomControlsTest, ZoomKeepsTheSelectedStarInTheMiddle) {
    c->zoom = 2;
    c->selectedStar = QPointF(1200, 800);
    c->zoomInButton->click();
    ASSERT_EQ(c->zoom, 1);
    const QPointF middle = c->scrollView->boundsRect().center();
    EXPECT_NEAR(middle.x(), 1200, 1);
    EXPECT_NEAR(middle.y(), 3000 - 800, 1);  // y counted down from the top of the view
    c->selectedStar.reset();
}

TEST_F(ZoomControlsTest, ZoomKeepsTheMiddleOfATurnedAndMirroredView) {
    c->actualSizeButton->click();
    c->rotateCCWButton->click();
    c->flipHorizontallyButton->click();
    c->scrollView->horizontalScrollBar()->setValue(500);
    c->scrollView->verticalScrollBar()->setValue(1700);
    const QPointF before = middlePoint();
    c->zoomInButton->click();
    EXPECT_NEAR(middlePoint().x(), before.x(), 1);
    EXPECT_NEAR(middlePoint().y(), before.y(), 1);
    // Each step may round the scroll position by a point, that is `zoom` image pixels.
    c->zoomOutButton->click();
    c->zoomOutButton->click();
    ASSERT_EQ(c->zoom, 2);
    EXPECT_NEAR(middlePoint().x(), before.x(), 2 * c->zoom + 1);
    EXPECT_NEAR(middlePoint().y(), before.y(), 2 * c->zoom + 1);
}

TEST_F(ZoomControlsTest, ZoomInNeverShrinksThePictureAndZoomOutNeverGrowsIt) {
    struct Step {
        double from;
        bool in;
        double to;
    };
    const Step steps[] = {
        {0.016, true, 0.016},   // a small picture fitted past the limit stays as it is
        {0.25, true, 0.25},     // at the limit
        {0.4, true, 0.25},      // stops at the limit
        {2, true, 1},           // halved
        {20, true, 10},         // halved, however far out
        {20, false, 20},        // a huge picture fitted past the limit stays as it is
        {8, false, 8},          // at the limit
        {5, false, 8},          // stops at the limit
        {0.5, false, 1},        // doubled
        {0.016, false, 0.032},  // doubled, however far in
    };
    for (const Step& s : steps) {
        c->zoom = s.from;
        (s.in ? c->zoomInButton : c->zoomOutButton)->click();
        EXPECT_DOUBLE_EQ(c->zoom, s.to) << s.from << (s.in ? " in" : " out");
        EXPECT_EQ(c->clickableView->scale, c->zoom);
    }

    // A 10 x 10 picture fitted to the view keeps its size on zoom in.
    c->setCurrentImage(uniform16(10, 10, 500));
    c->zoomToFitButton->click();
    const QSizeF fitted = c->clickableView->frameSize();
    ASSERT_LT(c->zoom, 0.25);
    c->zoomInButton->click();
    EXPECT_EQ(c->clickableView->frameSize(), fitted);
    EXPECT_FALSE(c->zoomToFit);
}

TEST_F(ZoomControlsTest, FitButtonShowsTheFitStateWhenThereIsNothingToFit) {
    const ImagePtr undecodable = imageOf(QByteArray("no picture in these bytes"));
    ASSERT_TRUE(undecodable);

    // Zoomed in first: pressing fit without a picture fits nothing and the button goes back off.
    c->zoomInButton->click();
    waitForLaterTasks();
    const double zoomed = c->zoom;
    c->setCurrentImage(undecodable);
    ASSERT_TRUE(c->zoomToFitButton->isEnabled());
    c->zoomToFitButton->click();
    waitForLaterTasks();
    EXPECT_FALSE(c->zoomToFit);
    EXPECT_FALSE(c->zoomToFitButton->isChecked());
    // The next image opens as the button showed: at the kept zoom, not fitted.
    c->setCurrentImage(uniform16(64, 48, 500));
    EXPECT_EQ(c->zoom, zoomed);
    EXPECT_FALSE(c->zoomToFitButton->isChecked());

    // Still fitting: the button that a click turned off comes back on, and the next image fits.
    c->zoomToFitButton->click();
    ASSERT_TRUE(c->zoomToFit);
    waitForLaterTasks();
    c->setCurrentImage(undecodable);
    c->zoomToFitButton->click();
    waitForLaterTasks();
    EXPECT_TRUE(c->zoomToFit);
    EXPECT_TRUE(c->zoomToFitButton->isChecked());
    c->setCurrentImage(bigFrame());
    EXPECT_DOUBLE_EQ(c->zoom, std::max(4000.0 / 1004, 3000.0 / 754));
}
