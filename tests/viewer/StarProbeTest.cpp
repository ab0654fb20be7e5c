// The star probe in a real image window, driven by the mouse on the marker view: clicks on
// synthetic Gaussian stars of known sigma, empty sky, the history limit, a failed
// measurement, a dragged rectangle, clicks in turned, zoomed and mirrored views, the pixel
// readout of grey and colour pictures, and the detail's profiles over a flat neighbourhood.
#include "GraphPixels.h"
#include "ImageView.h"
#include "StarFields.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>

#include <gtest/gtest.h>

using namespace testing_image_window;
using namespace star_fields;

namespace {

// The probe's own settings, removed before and after each test.
struct ProbeSettings {
    ProbeSettings() { clear(); }
    ~ProbeSettings() { clear(); }
    static void clear() {
        for (const char* key : {"showStarProfile", "markerSize", "showCrosshair", "guideX1",
                                "guideY1", "guideX2", "guideY2"})
            userDefaults().removeObject(key);
    }
};

double fieldNumber(const QLineEdit* field) {
    bool ok = false;
    const double v = QLocale().toDouble(field->text(), &ok);
    return ok ? v : std::nan("");
}

// A mouse move without buttons, as the window system reports hovering.
void hover(ClickableView* view, QPoint at) {
    QMouseEvent move(QEvent::MouseMove, QPointF(at), view->mapToGlobal(QPointF(at)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view, &move);
}

void leave(ClickableView* view) {
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(view, &event);
}

// Sets the window's zoom (image pixels per point) without following the window's size.
void setZoom(ImageController* c, double zoom) {
    c->zoomActualSize();
    while (c->zoom > zoom)
        c->zoomIn();
    while (c->zoom < zoom)
        c->zoomOut();
}

class StarProbeTest : public ::testing::Test {
  protected:
    WindowSettings settings;
    ProbeSettings probeSettings;
};

struct StarCase {
    double sigma;
    QPointF offset;  // from the middle of pixel (30, 20)
};

void PrintTo(const StarCase& c, std::ostream* os) {
    *os << "sigma " << c.sigma << " offset " << c.offset.x() << "," << c.offset.y();
}

class ClickOnAStar : public StarProbeTest, public ::testing::WithParamInterface<StarCase> {};

}  // namespace

TEST_P(ClickOnAStar, MarksTheCentroidAndShowsFwhmAndHfdOfTheGaussian) {
    const StarCase& sc = GetParam();
    const QPointF centre = QPointF(30.5, 20.5) + sc.offset;
    ImageWindow window(starField(64, 48, {{centre, sc.sigma}}));
    ImageController* c = window.controller;
    setZoom(c, 0.5);
    ClickableView* view = c->clickableView;

    // A click two pixels beside the star.
    QTest::mouseClick(view, Qt::LeftButton, {}, clickPointOf(view, centre + QPointF(2, -1.5)));

    ASSERT_TRUE(c->selectedStar);
    EXPECT_NEAR(c->selectedStar->x(), centre.x(), 0.05);
    EXPECT_NEAR(c->selectedStar->y(), centre.y(), 0.05);
    EXPECT_TRUE(crossDrawnAt(grabbed(view), widgetPointOf(view, centre), greenColor()));

    const double fwhm = gaussianFwhm(sc.sigma), hfd = gaussianHfd(sc.sigma);
    EXPECT_NEAR(fieldNumber(c->fwhmField), fwhm, 0.05 * fwhm);
    EXPECT_NEAR(fieldNumber(c->hfdField), hfd, 0.05 * hfd);
    EXPECT_NEAR(fieldNumber(c->peakField), 30000, 0.15 * 30000);
    EXPECT_EQ(c->history.measurementCount(), 1u);
    EXPECT_EQ(c->detailImageView->image().size(), QSize(180, 180));
}

INSTANTIATE_TEST_SUITE_P(Stars, ClickOnAStar,
                         ::testing::Values(StarCase{1.2, {0, 0}}, StarCase{1.2, {0.3, 0.2}},
                                           StarCase{1.0, {0, 0}}, StarCase{1.0, {-0.3, 0.3}}));

TEST_F(StarProbeTest, AClickOnEmptySkyOrTheRightButtonClearsTheSelection) {
    ImageWindow window(starField(64, 48, {{{40.5, 20.5}}}));
    ImageController* c = window.controller;
    setZoom(c, 0.5);
    ClickableView* view = c->clickableView;
    QTest::mouseClick(view, Qt::LeftButton, {}, clickPointOf(view, {40.5, 20.5}));
    ASSERT_TRUE(c->selectedStar);
    const QImage graph = c->psfImageView->image();
    ASSERT_FALSE(graph.isNull());

    QTest::mouseClick(view, Qt::LeftButton, {}, clickPointOf(view, {15.5, 24.5}));
    EXPECT_FALSE(c->selectedStar);
    EXPECT_FALSE(view->pointMarker);
    for (QLineEdit* field : {c->fwhmField.data(), c->hfdField.data(), c->peakField.data()})
        EXPECT_EQ(field->text(), "--");
    EXPECT_TRUE(c->detailImageView->image().isNull());
    EXPECT_EQ(c->psfImageView->image().cacheKey(), graph.cacheKey());
    EXPECT_FALSE(crossDrawnAt(grabbed(view), widgetPointOf(view, {40.5, 20.5}), greenColor()));

    // The right button deselects as well.
    QTest::mouseClick(view, Qt::LeftButton, {}, clickPointOf(view, {40.5, 20.5}));
    ASSERT_TRUE(c->selectedStar);
    QTest::mouseClick(view, Qt::RightButton, {}, clickPointOf(view, {10.5, 10.5}));
    EXPECT_FALSE(c->selectedStar);
    EXPECT_FALSE(view->pointMarker);
    EXPECT_EQ(c->fwhmField->text(), "--");
}

TEST_F(StarProbeTest, HistoriesStartAfreshAtEveryClickAndKeepTheLast101Measurements) {
    ImageWindow window(starField(64, 48, {{{40.5, 20.5}}}));
    ImageController* c = window.controller;
    ClickableView* view = c->clickableView;
    for (int i = 0; i < 2; ++i)
        QTest::mouseClick(view, Qt::LeftButton, {}, clickPointOf(view, {40.5, 20.5}));
    EXPECT_EQ(c->history.measurementCount(), 1u);

    // Every re-render measures the star again.
    for (int i = 0; i < 149; ++i)
        c->applyWhiteBalance();
    EXPECT_EQ(c->history.measurementCount(), 101u);
    EXPECT_EQ(c->history.hfdHistory.size(), 101u);
    EXPECT_EQ(c->history.peakHistory.size(), 101u);

    // Equal HFDs below 5 pixels lie at HFD / 5 of the height, across the whole width (drawn
    // over the FWHM curve at nearly the same height, so the pixels mix the two colours).
    const QImage graph = c->psfImageView->image();
    const double height = c->history.hfdHistory.back() * 100 / 5;
    auto redNear = [&](int x, double yUp) {
        for (int y = int(yUp) - 1; y <= int(yUp) + 1; ++y) {
            const QRgb p = GraphPixels::storedAt(graph, x, y);
            if (qRed(p) > 100 && qRed(p) > qBlue(p)) return true;
        }
        return false;
    };
    for (int x : {1, 100, 198})
        EXPECT_TRUE(redNear(x, height)) << x;
    EXPECT_FALSE(redNear(100, height + 10));
}

TEST_F(StarProbeTest, AFailedMeasurementRecordsNothingAndShowsNoNumbers) {
    // The right star is measured; the left one lies so near the edge that the measuring window
    // does not fit, although a click beside it still finds its centroid.
    ImageWindow window(starField(64, 48, {{{40.5, 20.5}}, {{3.5, 30.5}}}));
    ImageController* c = window.controller;
    setZoom(c, 0.5);
    ClickableView* view = c->clickableView;
    QTest::mouseClick(view, Qt::LeftButton, {}, clickPointOf(view, {40.5, 20.5}));
    ASSERT_EQ(c->history.measurementCount(), 1u);
    ASSERT_NE(c->fwhmField->text(), "--");

    QTest::mouseClick(view, Qt::LeftButton, {}, clickPointOf(view, {11.5, 30.5}));
    ASSERT_TRUE(c->selectedStar);
    ASSERT_LT(c->selectedStar->x(), 5);
    EXPECT_EQ(c->history.measurementCount(), 0u);
    for (QLineEdit* field : {c->fwhmField.data(), c->hfdField.data(), c->peakField.data()})
        EXPECT_EQ(field->text(), "--");
    c->applyWhiteBalance();
    EXPECT_EQ(c->history.measurementCount(), 0u);
    EXPECT_TRUE(GraphPixels::isTransparent(c->psfImageView->image()));
    // The detail still shows where the star is, without circles.
    EXPECT_FALSE(c->detailImageView->image().isNull());
}

TEST_F(StarProbeTest, ADragMarksTheImageRectangleAndShowsItsCornerAndSize) {
    ImageWindow window(starField(200, 160, {{{100.5, 80.5}}}));
    ImageController* c = window.controller;
    setZoom(c, 2);
    ClickableView* view = c->clickableView;
    QTest::mouseClick(view, Qt::LeftButton, {}, clickPointOf(view, {100.5, 80.5}));
    ASSERT_TRUE(c->selectedStar);
    const QPointF star = *c->selectedStar;

    // From view point (10, 20) to (40, 60); the view is 80 points high.
    ASSERT_EQ(view->frameSize(), QSizeF(100, 80));
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(10, 80 - 20));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(40, 80 - 60));
    EXPECT_EQ(c->selectedPixelField->text(), QString::fromUtf8("[20, 40] \u2192 [60, 80]"));
    ASSERT_TRUE(view->frameMarker);
    EXPECT_EQ(*view->frameMarker, QRectF(20, 40, 60, 80));
    EXPECT_FALSE(view->pointMarker);
    EXPECT_EQ(c->selectedStar, star);  // the star stays selected
    EXPECT_EQ(c->history.measurementCount(), 0u);

    // The outline's corners in the grabbed view (y downward).
    const QImage shot = grabbed(view);
    for (QPointF corner : {QPointF(10, 60), QPointF(40, 60), QPointF(10, 20), QPointF(40, 20)})
        EXPECT_TRUE(colourNear(shot, corner, greenColor())) << corner.x() << "," << corner.y();
}

TEST_F(StarProbeTest, TurnedAndZoomedClicksProbeThePixelUnderThePointer) {
    // Sample value = 10 x column + row from the bottom, and a star at (100.5, 60.5).
    const int w = 160, h = 120;
    auto sample = [](int x, int yUp) {
        const double dx = x + 0.5 - 100.5, dy = yUp + 0.5 - 60.5;
        return uint16_t(10 * x + yUp + 30000 * std::exp(-(dx * dx + dy * dy) / 2.88));
    };
    ImagePtr image =
        imageOf(rawBlob16(w, h, [&](int x, int row) { return sample(x, h - 1 - row); }));
    ImageWindow window(image);
    ImageController* c = window.controller;
    setZoom(c, 2);
    c->rotateCCWButton->click();
    ASSERT_EQ(c->rotation, 90);
    ClickableView* view = c->clickableView;
    ASSERT_EQ(view->frameSize(), QSizeF(60, 80));

    // View point (a, b) probes image point (2b, 2(W - a)) with W = 60. The screen pixel whose
    // corner is view point (30, 50) shows image pixels 98, 99 by 58, 59 reduced; the readout
    // names the one under its centre (99, 59) that lies right of and below it as drawn.
    hover(view, QPoint(30, 80 - 50));
    EXPECT_EQ(c->selectedPixelField->text(),
              QString::fromUtf8("[98, 58] \u2192 ") + QString::number(sample(98, 58)));
    hover(view, QPoint(7, 80 - 3));
    EXPECT_EQ(c->selectedPixelField->text(),
              QString::fromUtf8("[4, 104] \u2192 ") + QString::number(10 * 4 + 104));

    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(30, 80 - 50));
    ASSERT_TRUE(c->selectedStar);
    EXPECT_NEAR(c->selectedStar->x(), 100.5, 0.1);
    EXPECT_NEAR(c->selectedStar->y(), 60.5, 0.1);
    // Its mark is drawn where the click was: view (W - 60.5 / 2, 100.5 / 2).
    EXPECT_TRUE(crossDrawnAt(grabbed(view), QPointF(60 - 30.25, 80 - 50.25), greenColor()));
}

TEST_F(StarProbeTest, AClickOnTheStarAsShownSelectsItInEveryOrientation) {
    const QPointF star(45.5, 20.5);
    ImageWindow window(starField(64, 48, {{star, 1.2, 40000}}));
    ImageController* c = window.controller;
    setZoom(c, 0.5);
    ClickableView* view = c->clickableView;
    struct Orientation {
        QAbstractButton* turn;  // or none
        bool flipH, flipV;
    };
    for (const Orientation& o : {Orientation{nullptr, false, false},
                                 {nullptr, true, false},
                                 {nullptr, false, true},
                                 {c->rotateCCWButton, true, false},
                                 {c->rotateCWButton, false, true},
                                 {c->rotateCWButton, true, true}}) {
        if (o.turn && !o.turn->isChecked()) o.turn->click();
        if (!o.turn) {
            if (c->rotateCCWButton->isChecked()) c->rotateCCWButton->click();
            if (c->rotateCWButton->isChecked()) c->rotateCWButton->click();
        }
        if (c->flipHorizontallyButton->isChecked() != o.flipH) c->flipHorizontallyButton->click();
        if (c->flipVerticallyButton->isChecked() != o.flipV) c->flipVerticallyButton->click();
        setZoom(c, 0.5);

        // The star as drawn: the middle of its bright (or overexposed, red) pixels.
        const QImage shot = grabbed(view);
        QPointF sum;
        int count = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                const QRgb p = shot.pixel(x, y);
                if (std::max({qRed(p), qGreen(p), qBlue(p)}) > 200) {
                    sum += QPointF(x + 0.5, y + 0.5);
                    ++count;
                }
            }
        ASSERT_GT(count, 0);
        const QPointF shown = sum / count;
        QTest::mouseClick(view, Qt::LeftButton, {}, shown.toPoint());
        const std::string where = "rotation " + std::to_string(c->rotation) + " flips " +
                                  std::to_string(o.flipH) + std::to_string(o.flipV);
        ASSERT_TRUE(c->selectedStar) << where;
        EXPECT_NEAR(c->selectedStar->x(), star.x(), 0.1) << where;
        EXPECT_NEAR(c->selectedStar->y(), star.y(), 0.1) << where;
        // The mark sits on the star as shown.
        EXPECT_TRUE(crossDrawnAt(grabbed(view), shown, greenColor())) << where;
    }
}

TEST_F(StarProbeTest, HoveringReadsOutTheColourPixelAndLeavingShowsNoValue) {
    // A 24-bit RGB picture whose pixel (x, y from the bottom) holds (x, y, 77).
    const int w = 20, h = 16;
    QByteArray blob("RAW3");
    appendLE32(blob, w);
    appendLE32(blob, h);
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x) {
            blob.append(char(x * 10));
            blob.append(char((h - 1 - row) * 10));
            blob.append(char(77));
        }
    ImageWindow window(imageOf(blob));
    ImageController* c = window.controller;
    setZoom(c, 0.5);
    ClickableView* view = c->clickableView;

    hover(view, clickPointOf(view, {5.5, 7.5}));
    EXPECT_EQ(c->selectedPixelField->text(), QString::fromUtf8("[5, 7] \u2192 (50, 70, 77)"));
    leave(view);
    EXPECT_EQ(c->selectedPixelField->text(), "--");
}

TEST_F(StarProbeTest, ProfilesOfAFlatNeighbourhoodLieOnTheBottomMargin) {
    // Samples 260 to 500 all have the display level 1: the profiles have no height to span.
    userDefaults().setObject("showStarProfile", true);
    ImageWindow window(starField(64, 48, {{{30.5, 20.5}, 1.2, 240}}, 260));
    ImageController* c = window.controller;
    ClickableView* view = c->clickableView;
    QTest::mouseClick(view, Qt::LeftButton, {}, clickPointOf(view, {30.5, 20.5}));
    ASSERT_TRUE(c->selectedStar);
    const QImage detail = c->detailImageView->image();
    ASSERT_EQ(detail.size(), QSize(180, 180));
    // The column profile, drawn last, runs along the margin 10 points up (rows 169 and 170
    // from the top), over the magnified picture.
    auto reddish = [&](int x, int row) {
        const QRgb p = detail.pixel(x, row);
        return qRed(p) >= std::max(qGreen(p), qBlue(p)) + 25;
    };
    for (int x : {15, 90, 165})
        EXPECT_TRUE(reddish(x, 169) || reddish(x, 170)) << x;
    EXPECT_FALSE(reddish(15, 100));
}
