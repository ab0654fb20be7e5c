// Following a star across frames of equal size, on synthetic Gaussian stars of known sigma in
// 16-bit raw blobs, and the measurements and texts the probe makes of them.
//
// The tests that need the image's star probes skip themselves while the probes answer
// nothing (a build without them); they run wherever selectionAt and psfAt are in place.
#include "DriftGraph.h"
#include "ProbeTexts.h"
#include "StarHistory.h"
#include "StarTracking.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr int frameSize = 64;

// A RAW2 blob of frameSize x frameSize with a background of 1000 and, when given, a Gaussian
// star of amplitude 20000 and the given sigma centred at `star` (image pixels, y upward;
// pixel (col, row) has its centre at (col + 0.5, frameSize - row - 0.5)).
ImagePtr starFrame(std::optional<QPointF> star, double sigma = 2.0) {
    registerImageReaders();
    QByteArray blob("RAW2", 4);
    for (uint32_t v : {uint32_t(frameSize), uint32_t(frameSize)})
        for (int i = 0; i < 4; ++i)
            blob.append(char((v >> (8 * i)) & 0xff));
    for (int row = 0; row < frameSize; ++row)
        for (int col = 0; col < frameSize; ++col) {
            double value = 1000;
            if (star) {
                const double dx = col + 0.5 - star->x(), dy = frameSize - row - 0.5 - star->y();
                value += 20000 * std::exp(-(dx * dx + dy * dy) / (2 * sigma * sigma));
            }
            const uint16_t s = uint16_t(std::lround(value));
            blob.append(char(s & 0xff));
            blob.append(char(s >> 8));
        }
    return Image::create(blob, ".raw");
}

// Skips the calling test when this build's image answers no star probe.
#define REQUIRE_STAR_PROBES(image, point)                                    \
    do {                                                                     \
        if (!(image)->selectionAt((point).x(), (point).y()))                 \
            GTEST_SKIP() << "the image's star probes are not in this build"; \
    } while (0)

}  // namespace

TEST(StarTracking, SearchStartsAtTheMarkerRoundedHalvesAwayFromZero) {
    EXPECT_EQ(trackingSearchPoint(QPointF(10.5, 20.5)), QPointF(11, 21));
    EXPECT_EQ(trackingSearchPoint(QPointF(10.49, 20.51)), QPointF(10, 21));
    EXPECT_EQ(trackingSearchPoint(QPointF(-2.5, 0.4)), QPointF(-3, 0));
    const double notANumber = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(trackingSearchPoint(QPointF(notANumber, 1)));
    EXPECT_FALSE(trackingSearchPoint(QPointF(1, std::numeric_limits<double>::infinity())));
    EXPECT_FALSE(trackingSearchPoint(QPointF(1e300, 1)));
}

TEST(StarTracking, ABlankFrameHasNoStarToFollow) {
    ImagePtr blank = starFrame(std::nullopt);
    ASSERT_TRUE(blank->hasPicture());
    EXPECT_FALSE(refindStar(*blank, QPointF(30, 30)));
}

TEST(StarTracking, FollowsAStarMovingOnePixelPerFrame) {
    const QPointF start(30.3, 25.6);
    ImagePtr first = starFrame(start);
    REQUIRE_STAR_PROBES(first, start);

    // Three frames, the star one pixel further in x each time; the marker starts 1.4 px off.
    StarHistory history;
    QPointF marker(31.4, 24.8);
    for (int frame = 0; frame < 3; ++frame) {
        const QPointF truth = start + QPointF(frame, 0);
        ImagePtr image = frame == 0 ? first : starFrame(truth);
        std::optional<QPointF> found = refindStar(*image, marker);
        ASSERT_TRUE(found) << frame;
        EXPECT_NEAR(found->x(), truth.x(), 0.15) << frame;
        EXPECT_NEAR(found->y(), truth.y(), 0.15) << frame;
        history.appendPosition(*found);
        marker = *found;
    }
    std::optional<QPointF> rates = driftRates(history.driftHistory);
    ASSERT_TRUE(rates);
    ProbeTexts::DriftRateTexts texts = ProbeTexts::driftRateTexts(rates, QLocale::c());
    EXPECT_EQ(texts.x, "X 1.0000");
    EXPECT_EQ(texts.y, "Y 0.0000");
    EXPECT_EQ(ProbeTexts::driftRateTexts(rates, QLocale(QLocale::German)).x, "X 1,0000");
}

TEST(StarTracking, MeasuresFwhmAndHfdOfTheTrackedStar) {
    // For a Gaussian both the FWHM and the half-flux diameter are 2 sqrt(2 ln 2) sigma. The
    // probe measures within 4 pixels of the star, so the stars are narrow enough to fit.
    for (double sigma : {1.0, 1.25, 1.5}) {
        const QPointF star(32.5, 31.5);
        ImagePtr image = starFrame(star, sigma);
        REQUIRE_STAR_PROBES(image, star);
        std::optional<QPointF> found = refindStar(*image, star + QPointF(1, -1));
        ASSERT_TRUE(found) << sigma;
        std::optional<PSFResult> r = image->psfAt(found->x(), found->y());
        ASSERT_TRUE(r) << sigma;
        const double expected = 2 * std::sqrt(2 * std::log(2.0)) * sigma;
        EXPECT_NEAR(r->fwhm, expected, 0.05 * expected) << sigma;
        EXPECT_NEAR(r->hfd, expected, 0.05 * expected) << sigma;
        EXPECT_NE(ProbeTexts::widthText(r->fwhm), ProbeTexts::notAvailableText);

        StarHistory history;
        history.appendMeasurement(*r);
        EXPECT_EQ(history.measurementCount(), 1u);
    }
}
