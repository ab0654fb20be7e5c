// View points turned back into image pixels: the worked cases of the marker view, and every
// combination of quarter turn, flips and zoom checked against a displayed picture, pixel by
// pixel.
#include "Image.h"
#include "PictureFromView.h"

#include <gtest/gtest.h>

#include <QTransform>

#include <cmath>
#include <functional>

namespace {

// A picture whose every pixel has its own colour.
QImage labelledPicture(int w, int h) {
    QImage picture(w, h, QImage::Format_RGB32);
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x)
            picture.setPixel(x, row, qRgb(x, row, 77));
    return picture;
}

// The colour of the picture pixel under image point p (y upward).
QRgb pictureAt(const QImage& picture, QPointF p) {
    const int x = int(std::floor(p.x())), yUp = int(std::floor(p.y()));
    return picture.pixel(x, picture.height() - 1 - yUp);
}

// The picture as the marker view shows it: mirrored about its own centre lines, then turned
// counter-clockwise (as seen) by `rotation` degrees. Built with the platform's transforms.
QImage displayedPicture(const QImage& picture, int rotation, bool flipH, bool flipV) {
    QImage shown = picture.mirrored(flipH, flipV);
    if (rotation != 0) shown = shown.transformed(QTransform().rotate(-rotation));
    return shown;
}

using Display = std::function<QImage(const QImage&, int, bool, bool)>;

// For every displayed pixel: the view point at its centre, turned back, lands on the picture
// pixel of the same colour.
void expectEveryViewPointLandsOnItsPixel(const Display& display) {
    const QImage picture = labelledPicture(6, 4);
    for (int rotation : {0, 90, -90})
        for (bool flipH : {false, true})
            for (bool flipV : {false, true})
                for (double zoom : {1.0, 0.5, 2.0}) {
                    const QImage shown = display(picture, rotation, flipH, flipV);
                    ViewPresentation view{zoom, rotation, flipH, flipV,
                                          QSizeF(shown.width() / zoom, shown.height() / zoom)};
                    for (int row = 0; row < shown.height(); ++row)
                        for (int col = 0; col < shown.width(); ++col) {
                            // The pixel's centre in view points, y upward.
                            const QPointF v((col + 0.5) / zoom,
                                            (shown.height() - row - 0.5) / zoom);
                            const QPointF p = pictureFromView(v, view);
                            ASSERT_EQ(pictureAt(picture, p), shown.pixel(col, row))
                                << "rotation " << rotation << " flips " << flipH << flipV
                                << " zoom " << zoom << " view pixel " << col << "," << row;
                        }
                }
}

}  // namespace

TEST(PictureFromView, WorkedCasesOfTheMarkerView) {
    // Rotation 90, zoom 2, a view of 300 x 400: the mark of (100, 60) is drawn at (270, 50).
    EXPECT_EQ(pictureFromView(QPointF(270, 50), {2, 90, false, false, QSizeF(300, 400)}),
              QPointF(100, 60));
    // Rotation -90, zoom 2, a view of 400 x 300: drawn at (30, 250).
    EXPECT_EQ(pictureFromView(QPointF(30, 250), {2, -90, false, false, QSizeF(400, 300)}),
              QPointF(100, 60));
    // No rotation: a drag from (10, 20) to (40, 60) at zoom 2.
    EXPECT_EQ(pictureFromView(QRectF(10, 20, 30, 40), {2, 0, false, false, QSizeF(500, 500)}),
              QRectF(20, 40, 60, 80));
    // Rotation 90, zoom 1, a view of 300 x 400: the outline of (10, 20, 30, 40) is drawn at
    // origin (240, 10), size 40 x 30.
    EXPECT_EQ(pictureFromView(QRectF(240, 10, 40, 30), {1, 90, false, false, QSizeF(300, 400)}),
              QRectF(10, 20, 30, 40));
    EXPECT_EQ(pictureFromView(QRectF(10, 240, 30, 40), {1, -90, false, false, QSizeF(400, 300)}),
              QRectF(20, 10, 40, 30));
}

TEST(PictureFromView, FlipsMirrorThePicture) {
    // A 200 x 100 picture at zoom 1: mirrored left to right, view point (10, 20) shows the
    // image point (190, 20); mirrored top to bottom, (10, 80).
    const QSizeF size(200, 100);
    EXPECT_EQ(pictureFromView(QPointF(10, 20), {1, 0, true, false, size}), QPointF(190, 20));
    EXPECT_EQ(pictureFromView(QPointF(10, 20), {1, 0, false, true, size}), QPointF(10, 80));
    EXPECT_EQ(pictureFromView(QRectF(10, 20, 30, 5), {1, 0, true, true, size}),
              QRectF(160, 75, 30, 5));
}

TEST(PictureFromView, EveryViewPointLandsOnItsPixel) {
    expectEveryViewPointLandsOnItsPixel(displayedPicture);
}

TEST(PictureFromView, AgreesWithTheRotatedPictureTheViewShows) {
    // The marker view shows what rotatedImage makes; the same check against it.
    const QImage probe = labelledPicture(6, 4);
    if (rotatedImage(false, false, 90, probe).size() != QSize(4, 6))
        GTEST_SKIP() << "rotatedImage does not turn pictures in this build yet";
    expectEveryViewPointLandsOnItsPixel([](const QImage& picture, int rotation, bool h, bool v) {
        return rotatedImage(h, v, rotation, picture).convertToFormat(QImage::Format_RGB32);
    });
}

TEST(PictureFromView, RectanglesCoverTheSamePixelsAsTheirCorners) {
    // A dragged rectangle turned back equals the rectangle spanned by its turned corners.
    for (int rotation : {0, 90, -90})
        for (bool flipH : {false, true})
            for (bool flipV : {false, true}) {
                const ViewPresentation view{1.5, rotation, flipH, flipV, QSizeF(300, 200)};
                const QRectF r(30, 40, 50, 20);
                const QPointF a = pictureFromView(r.topLeft(), view);
                const QPointF b = pictureFromView(r.bottomRight(), view);
                const QRectF expected = QRectF(a, b).normalized();
                const QRectF got = pictureFromView(r, view);
                EXPECT_NEAR(got.x(), expected.x(), 1e-9) << rotation << flipH << flipV;
                EXPECT_NEAR(got.y(), expected.y(), 1e-9) << rotation << flipH << flipV;
                EXPECT_NEAR(got.width(), expected.width(), 1e-9) << rotation << flipH << flipV;
                EXPECT_NEAR(got.height(), expected.height(), 1e-9) << rotation << flipH << flipV;
            }
}
