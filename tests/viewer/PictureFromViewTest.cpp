// View points turned back into picture pixels, checked against shown pictures pixel by pixel:
// for every quarter turn, flip and zoom, the view point at the centre of each shown pixel
// must land on the picture pixel of the same colour. This is what makes a click measure the
// star under the pointer.
#include "Image.h"
#include "ViewMapping.h"

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

// The colour of the picture pixel under picture point p (y upward).
QRgb pictureAt(const QImage& picture, QPointF p) {
    const int x = int(std::floor(p.x())), yUp = int(std::floor(p.y()));
    return picture.pixel(x, picture.height() - 1 - yUp);
}

// A shown picture for an angle in degrees (counter-clockwise as seen) and the two flips.
using Show = std::function<QImage(const QImage&, int, bool, bool)>;

void expectEveryViewPointLandsOnItsPixel(const Show& show) {
    const QImage picture = labelledPicture(6, 4);
    for (int angle : {0, 90, -90, 180})
        for (bool flipH : {false, true})
            for (bool flipV : {false, true})
                for (double zoom : {1.0, 0.5, 2.0}) {
                    const QImage shown = show(picture, angle, flipH, flipV);
                    const ViewOrientation view{zoom, quarterTurnsForAngle(angle), flipH, flipV,
                                               viewSizeFor(shown.size(), zoom)};
                    for (int row = 0; row < shown.height(); ++row)
                        for (int col = 0; col < shown.width(); ++col) {
                            // The shown pixel's centre in view points, y upward.
                            const QPointF v((col + 0.5) / zoom,
                                            (shown.height() - row - 0.5) / zoom);
                            ASSERT_EQ(pictureAt(picture, pictureFromView(v, view)),
                                      shown.pixel(col, row))
                                << "angle " << angle << " flips " << flipH << flipV << " zoom "
                                << zoom << " shown pixel " << col << "," << row;
                        }
                }
}

}  // namespace

TEST(PictureFromView, LandsOnThePixelShownByThePlatformTransforms) {
    // Mirrored about its own centre lines, then turned: Qt's own mirror and rotation (a
    // positive QTransform angle turns clockwise on screen).
    expectEveryViewPointLandsOnItsPixel([](const QImage& picture, int angle, bool h, bool v) {
        QImage shown = picture.mirrored(h, v);
        return angle == 0 ? shown : shown.transformed(QTransform().rotate(-angle));
    });
}

TEST(PictureFromView, LandsOnThePixelShownByRotatedImage) {
    const QImage probe = labelledPicture(6, 4);
    if (rotatedImage(false, false, 90, probe).size() != QSize(4, 6))
        GTEST_SKIP() << "rotatedImage does not turn pictures in this build";
    expectEveryViewPointLandsOnItsPixel([](const QImage& picture, int angle, bool h, bool v) {
        return rotatedImage(h, v, angle, picture).convertToFormat(QImage::Format_RGB32);
    });
}
