// Histogram sampling, statistics, automatic points and the histogram picture.
#include "Histogram.h"
#include "Image.h"
#include "ImageDecoding.h"
#include "SyntheticImage.h"
#include "TestData.h"

#include <QGuiApplication>
#include <QPalette>

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace {

// The sampling pass written out plainly, one sample at a time.
struct PlainCounts {
    uint64_t bins[256] = {};
    uint64_t total4[4] = {};
    uint64_t sum = 0, n = 0;
    int64_t min = 65535, max = 0;
};

int64_t sampleOf(const std::vector<uint8_t>& px, int64_t bpp, int64_t i) {
    if (bpp == 16 || bpp == 48) return px[size_t(2 * i)] | (int64_t(px[size_t(2 * i + 1)]) << 8);
    return px[size_t(i)];
}

// n is the number of samples taken: four for each grey cell visited, (size / hs) / hs colour
// pixels; a frame that walk takes nothing from is walked again with every sample (grey samples
// counted once each, pattern or not) or pixel.
PlainCounts plainCounts(const std::vector<uint8_t>& px, int64_t bpp, int64_t w, int64_t h,
                        int64_t debayer, int64_t hs, int64_t format = 0) {
    PlainCounts c;
    const bool grey = bpp == 8 || bpp == 16;
    if (grey ? (w < 2 || h < 2) : (w * h / hs) / hs == 0) {
        const int shift = (bpp == 16 || bpp == 48) ? 8 : 0;
        for (int64_t p = 0; p < w * h; ++p) {
            int64_t v = sampleOf(px, bpp, p);
            if (!grey) {
                const int64_t first = bpp == 32 ? 4 * p + (format & 1) : 3 * p;
                v = (sampleOf(px, bpp, first) + sampleOf(px, bpp, first + 1) +
                     sampleOf(px, bpp, first + 2)) /
                    3;
            }
            c.bins[v >> shift] += 1;
            c.min = std::min(c.min, v);
            c.max = std::max(c.max, v);
            c.sum += uint64_t(v);
            c.n += 1;
        }
        return c;
    }
    const int shift = (bpp == 16 || bpp == 48) ? 8 : 0;
    if (bpp == 8 || bpp == 16) {
        for (int64_t cy = 0; cy < h / 2; ++cy)
            for (int64_t cx = 0; cx < w / 2; ++cx) {
                if (cy % hs != 0 || cx % hs != 0) continue;
                c.n += 4;
                const int64_t p[4] = {sampleOf(px, bpp, 2 * cy * w + 2 * cx),
                                      sampleOf(px, bpp, 2 * cy * w + 2 * cx + 1),
                                      sampleOf(px, bpp, (2 * cy + 1) * w + 2 * cx),
                                      sampleOf(px, bpp, (2 * cy + 1) * w + 2 * cx + 1)};
                if (debayer == 255) {
                    for (int64_t v : p) {
                        c.min = std::min(c.min, v);
                        c.max = std::max(c.max, v);
                        c.bins[v >> shift] += 1;
                    }
                } else {
                    for (int i = 0; i < 4; ++i)
                        c.total4[i] += uint64_t(p[i] >> shift);
                    const int64_t m = (p[0] + p[1] + p[2] + p[3]) >> 2;
                    c.min = std::min(c.min, m);
                    c.max = std::max(c.max, m);
                    c.bins[m >> shift] += 4;
                }
                c.sum += uint64_t(p[0] + p[1] + p[2] + p[3]);
            }
    } else {
        c.n = uint64_t((w * h / hs) / hs);
        for (uint64_t k = 0; k < c.n; ++k) {
            const int64_t p = int64_t(k) * hs * hs;
            int64_t first = 3 * p;
            if (bpp == 32) first = 4 * p + (format & 1);
            const int64_t v = (sampleOf(px, bpp, first) + sampleOf(px, bpp, first + 1) +
                               sampleOf(px, bpp, first + 2)) /
                              3;
            c.bins[v >> shift] += 1;
            c.min = std::min(c.min, v);
            c.max = std::max(c.max, v);
            c.sum += uint64_t(v);
        }
    }
    return c;
}

using Case = std::tuple<int, std::pair<int, int>>;  // bits per pixel, (width, height)

class SamplingTest : public ::testing::TestWithParam<Case> {};

TEST_P(SamplingTest, MatchesThePlainWalkForEveryStepAndPattern) {
    const auto [bpp, dims] = GetParam();
    const auto [w, h] = dims;
    for (int64_t format : {0, 1}) {
        if (format == 1 && bpp != 32) continue;
        const auto px = randomPixels(bpp, w, h, uint32_t(w * 31 + h + bpp));
        ImagePtr image = syntheticImage(bpp, w, h, px, format);
        ASSERT_TRUE(image && image->originalImageRep);
        for (int64_t hs : {1, 2, 3, 4, 7}) {
            for (int64_t debayer : {255, 0, 17}) {
                SCOPED_TRACE(testing::Message()
                             << "step " << hs << " pattern " << debayer << " format " << format);
                HistogramCounts fast;
                const bool ok =
                    countHistogram(*image->originalImageRep, w, h, bpp, debayer, hs, fast);
                const PlainCounts plain = plainCounts(px, bpp, w, h, debayer, hs, format);
                const bool grey = bpp == 8 || bpp == 16;
                ASSERT_TRUE(ok);
                EXPECT_EQ(fast.n, plain.n);
                EXPECT_EQ(fast.sum, plain.sum);
                EXPECT_EQ(fast.min, plain.min);
                EXPECT_EQ(fast.max, plain.max);
                for (int i = 0; i < 4; ++i)
                    EXPECT_EQ(fast.total4[size_t(i)], plain.total4[i]);
                for (int b = 0; b < 256; ++b)
                    ASSERT_EQ(fast.bins[size_t(b)], plain.bins[b]) << b;
                EXPECT_EQ(fast.colour, !grey);
                // A grey walk counts n samples in its bins, whatever the frame's sides.
                if (grey) {
                    uint64_t binned = 0;
                    for (uint64_t b : fast.bins)
                        binned += b;
                    EXPECT_EQ(binned, fast.n);
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, SamplingTest,
                         ::testing::Combine(::testing::Values(8, 16, 24, 32, 48),
                                            ::testing::Values(std::pair{1, 1}, std::pair{2, 2},
                                                              std::pair{3, 5}, std::pair{17, 1},
                                                              std::pair{1, 40}, std::pair{64, 48},
                                                              std::pair{641, 479})));

// Statistics and automatic points from the plain bins, with the thresholds written out.
struct PlainStatistics {
    int64_t average, q1, median, q3, black, white;
};

PlainStatistics plainStatistics(const PlainCounts& c, bool sixteen) {
    PlainStatistics s{};
    s.average = int64_t(c.sum / c.n);
    // A quartile is never below the first sample, however few there are.
    const uint64_t T1 = std::max<uint64_t>(c.n / 4, 1), T2 = std::max<uint64_t>(c.n / 2, 1),
                   T3 = std::max<uint64_t>(c.n / 2 + c.n / 4, 1);
    auto firstAtLeast = [&](uint64_t t) {
        uint64_t cum = 0;
        for (int b = 0; b < 256; ++b) {
            cum += c.bins[b];
            if (cum >= t) return int64_t(b);
        }
        return int64_t(-1000);
    };
    s.q1 = firstAtLeast(T1), s.median = firstAtLeast(T2), s.q3 = firstAtLeast(T3);
    const uint64_t tb = uint64_t(c.n * 0.004), tw = uint64_t(c.n * 0.002);
    s.black = 256;
    uint64_t cum = 0;
    for (int b = 0; b < 256; ++b) {
        cum += c.bins[b];
        if (cum > tb) {
            s.black = b;
            break;
        }
    }
    s.white = -1;
    for (int b = 255; b >= 0; --b) {
        uint64_t above = 0;
        for (int i = b; i < 256; ++i)
            above += c.bins[i];
        if (above > tw) {
            s.white = b;
            break;
        }
    }
    if (std::abs(s.white - s.black) <= 3) {
        if (s.black >= 2)
            s.black -= 2;
        else
            s.white += 2;
        if (s.white > 253)
            s.black -= 2;
        else
            s.white += 2;
    }
    const int64_t f = sixteen ? 256 : 1;
    s.q1 *= f, s.median *= f, s.q3 *= f, s.black *= f, s.white *= f;
    return s;
}

TEST(HistogramTest, StatisticsFollowTheBinsForEveryLayout) {
    for (int bpp : {8, 16, 24, 32, 48})
        for (auto [w, h] : {std::pair{64, 48}, std::pair{101, 77}, std::pair{640, 480}})
            for (int64_t debayer : {255, 16}) {
                SCOPED_TRACE(testing::Message()
                             << bpp << " bits " << w << "x" << h << " pattern " << debayer);
                // A skewed distribution so the quartiles and points fall apart.
                std::mt19937 rng(uint32_t(bpp + w));
                std::vector<uint8_t> px = randomPixels(bpp, w, h, uint32_t(w + bpp));
                for (auto& b : px)
                    b = uint8_t((b * (rng() % 256)) >> 8);
                ImagePtr image = syntheticImage(bpp, w, h, px);
                image->_debayer = debayer;
                ASSERT_FALSE(image->histogram().isNull());
                const PlainCounts c = plainCounts(px, bpp, w, h, debayer, 4);
                const PlainStatistics s = plainStatistics(c, bpp == 16 || bpp == 48);
                EXPECT_EQ(image->min, c.min);
                EXPECT_EQ(image->max, c.max);
                EXPECT_EQ(image->average, s.average);
                EXPECT_EQ(image->q1, s.q1);
                EXPECT_EQ(image->median, s.median);
                EXPECT_EQ(image->q3, s.q3);
                EXPECT_EQ(image->autoBlackPoint, s.black);
                EXPECT_EQ(image->autoWhitePoint, s.white);
                EXPECT_EQ(image->isColour, bpp > 16);
                const int64_t full = (bpp == 16 || bpp == 48) ? 65535 : 255;
                EXPECT_EQ(image->_blackPoint, full);
                EXPECT_EQ(image->_whitePoint, full);
            }
}

TEST(HistogramTest, SixteenBitFrameOnTheSamplingGrid) {
    const int64_t w = 64, h = 48;  // multiples of 8: every sampled cell is whole
    std::vector<uint16_t> samples(size_t(w * h));
    std::mt19937 rng(7);
    for (auto& s : samples)
        s = uint16_t(rng());
    const auto px = bytesOf16(samples);

    HistogramCounts raw;
    ImagePtr image = syntheticImage(16, w, h, px);
    ASSERT_TRUE(countHistogram(*image->originalImageRep, w, h, 16, 255, 4, raw));
    uint64_t total = 0;
    for (uint64_t b : raw.bins)
        total += b;
    EXPECT_EQ(total, uint64_t(w * h / 16));

    ASSERT_FALSE(image->histogram().isNull());
    for (int64_t q : {image->q1, image->median, image->q3})
        EXPECT_EQ(q % 256, 0) << q;
    EXPECT_LE(image->autoWhitePoint, 65280);

    // With a pattern the bins still add up to n, and min/max are cell means.
    HistogramCounts cells;
    ASSERT_TRUE(countHistogram(*image->originalImageRep, w, h, 16, 0, 4, cells));
    total = 0;
    for (uint64_t b : cells.bins)
        total += b;
    EXPECT_EQ(total, uint64_t(w * h / 16));
    int64_t lo = 65535, hi = 0;
    for (int64_t cy = 0; cy < h / 2; cy += 4)
        for (int64_t cx = 0; cx < w / 2; cx += 4) {
            auto s = [&](int64_t x, int64_t y) { return int64_t(samples[size_t(y * w + x)]); };
            const int64_t m = (s(2 * cx, 2 * cy) + s(2 * cx + 1, 2 * cy) + s(2 * cx, 2 * cy + 1) +
                               s(2 * cx + 1, 2 * cy + 1)) >>
                              2;
            lo = std::min(lo, m), hi = std::max(hi, m);
        }
    EXPECT_EQ(cells.min, lo);
    EXPECT_EQ(cells.max, hi);

    // total4 grows by the same amounts at every pass with a pattern.
    image->_debayer = 0;
    image->cachedHistogram = QImage();
    image->histogram();
    const auto once = image->total4;
    EXPECT_GT(once[0], 0u);
    image->cachedHistogram = QImage();
    image->histogram();
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(image->total4[i], 2 * once[i]);
}

TEST(HistogramTest, FlatFrameWidensItsPoints) {
    ImagePtr image = syntheticImage(8, 64, 64, std::vector<uint8_t>(64 * 64, 100));
    ASSERT_FALSE(image->histogram().isNull());
    EXPECT_EQ(image->min, 100);
    EXPECT_EQ(image->max, 100);
    EXPECT_EQ(image->average, 100);
    EXPECT_EQ(image->q1, 100);
    EXPECT_EQ(image->median, 100);
    EXPECT_EQ(image->q3, 100);
    EXPECT_EQ(image->autoBlackPoint, 98);
    EXPECT_EQ(image->autoWhitePoint, 102);
    EXPECT_EQ(image->_blackPoint, 255);
    EXPECT_EQ(image->_whitePoint, 255);
}

TEST(HistogramTest, WideningNearTheTopMovesTheBlackPoint) {
    // All 254: black 254 -> 252 (first step), white 254 > 253 -> black 250.
    ImagePtr image = syntheticImage(8, 64, 64, std::vector<uint8_t>(64 * 64, 254));
    ASSERT_FALSE(image->histogram().isNull());
    EXPECT_EQ(image->autoBlackPoint, 250);
    EXPECT_EQ(image->autoWhitePoint, 254);
    // All 1: black 1 < 2 -> white 1 + 2 = 3, then white 3 <= 253 -> 5.
    image = syntheticImage(8, 64, 64, std::vector<uint8_t>(64 * 64, 1));
    ASSERT_FALSE(image->histogram().isNull());
    EXPECT_EQ(image->autoBlackPoint, 1);
    EXPECT_EQ(image->autoWhitePoint, 5);
}

TEST(HistogramTest, FramesWithoutPictureKeepTheirStatistics) {
    struct Case {
        const char* what;
        ImagePtr image;
    };
    const Case cases[] = {
        {"all zero", syntheticImage(8, 64, 64, std::vector<uint8_t>(64 * 64, 0))},
        {"one row, all zero", syntheticImage(16, 64, 1, std::vector<uint8_t>(128, 0))},
        {"40-bit pixels", syntheticImage(40, 8, 8, std::vector<uint8_t>(8 * 8 * 5, 50))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(c.image);
        c.image->average = c.image->q1 = c.image->median = c.image->q3 = 77;
        EXPECT_TRUE(c.image->histogram().isNull());
        EXPECT_TRUE(c.image->cachedHistogram.isNull());
        EXPECT_EQ(c.image->average, 77);
        EXPECT_EQ(c.image->q1, 77);
        EXPECT_EQ(c.image->median, 77);
        EXPECT_EQ(c.image->q3, 77);
    }
    // Without a bitmap the range is reset all the same.
    ImagePtr none = Image::create(QByteArray("not a picture at all"), ".bin");
    none->min = 5, none->max = 9;
    EXPECT_TRUE(none->histogram().isNull());
    EXPECT_EQ(none->min, 65535);
    EXPECT_EQ(none->max, 0);
}

TEST(HistogramTest, FramesWithASideOfOnePixelTakeEverySample) {
    const struct {
        int bpp, w, h;
    } cases[] = {{8, 2000, 1}, {16, 2000, 1}, {16, 1, 2000}, {8, 1, 1},  {16, 1, 1},
                 {16, 3, 1},   {8, 1, 5},     {16, 1, 5},    {24, 2, 1}, {48, 3, 5}};
    for (const auto& c : cases) {
        for (int64_t debayer : {255, 0}) {
            SCOPED_TRACE(testing::Message()
                         << c.bpp << " bits " << c.w << "x" << c.h << " pattern " << debayer);
            // A slow ramp from 1000 (a spectrum's shape), in the sample's own range.
            const int64_t n = int64_t(c.w) * c.h * (c.bpp / 8 % 3 == 0 ? 3 : 1);
            const bool sixteen = c.bpp == 16 || c.bpp == 48;
            std::vector<uint16_t> values;
            for (int64_t i = 0; i < n; ++i)
                values.push_back(uint16_t(sixteen ? 1000 + 17 * i : 10 + (i * 7) % 200));
            std::vector<uint8_t> px;
            for (uint16_t v : values) {
                px.push_back(uint8_t(v));
                if (sixteen) px.push_back(uint8_t(v >> 8));
            }
            ImagePtr image = syntheticImage(c.bpp, c.w, c.h, px);
            ASSERT_TRUE(image);
            image->_debayer = debayer;
            ASSERT_FALSE(image->histogram().isNull());
            // Grey: the frame's own extremes and mean, straight from its samples.
            if (c.bpp == 8 || c.bpp == 16) {
                int64_t sum = 0;
                for (uint16_t v : values)
                    sum += v;
                EXPECT_EQ(image->min, *std::min_element(values.begin(), values.end()));
                EXPECT_EQ(image->max, *std::max_element(values.begin(), values.end()));
                EXPECT_EQ(image->average, sum / n);
            }
            EXPECT_LE(image->min, image->average);
            EXPECT_LE(image->average, image->max);
            // The quartiles are bins (of 256 at 16 bits) that hold samples of the frame.
            const int64_t unit = sixteen ? 256 : 1;
            for (int64_t q : {image->q1, image->median, image->q3}) {
                EXPECT_GE(q, image->min / unit * unit);
                EXPECT_LE(q, image->max);
            }
            const PlainStatistics s =
                plainStatistics(plainCounts(px, c.bpp, c.w, c.h, debayer, 4), sixteen);
            EXPECT_EQ(image->median, s.median);
            EXPECT_EQ(image->autoBlackPoint, s.black);
            EXPECT_EQ(image->autoWhitePoint, s.white);
            // The automatic points lie about the frame's range, not at the type's ends.
            const int64_t bin = sixteen ? 256 : 1;
            EXPECT_GE(image->autoBlackPoint, image->min / bin * bin - 2 * bin);
            EXPECT_LE(image->autoWhitePoint, (image->max / bin + 2) * bin);
            EXPECT_LT(image->autoBlackPoint, image->autoWhitePoint);
        }
    }
}

TEST(HistogramTest, ThreeByThreeFrameHasAHistogramOfItsFirstCell) {
    // Pixels 10, 20, ..., 90 row by row; the one cell taken is 10, 20 over 40, 50.
    std::vector<uint8_t> px;
    for (int i = 1; i <= 9; ++i)
        px.push_back(uint8_t(10 * i));
    ImagePtr image = syntheticImage(8, 3, 3, px);
    HistogramCounts c;
    ASSERT_TRUE(countHistogram(*image->originalImageRep, 3, 3, 8, 255, 4, c));
    EXPECT_EQ(c.n, 4u);
    ASSERT_FALSE(image->histogram().isNull());
    EXPECT_EQ(image->min, 10);
    EXPECT_EQ(image->max, 50);
    EXPECT_EQ(image->average, 30);
    // Thresholds 1, 2 and 3 of the four samples.
    EXPECT_EQ(image->q1, 10);
    EXPECT_EQ(image->median, 20);
    EXPECT_EQ(image->q3, 40);
    EXPECT_EQ(image->autoBlackPoint, 10);
    EXPECT_EQ(image->autoWhitePoint, 50);
}

// The mean of the samples at the given columns and rows of a 16-bit bitmap.
double meanOf(const Image& image, const std::vector<int64_t>& columns,
              const std::vector<int64_t>& rows) {
    const uint8_t* data = image.originalImageRep->bitmapData();
    const int64_t stride = image.originalImageRep->bytesPerRow;
    double sum = 0;
    for (int64_t y : rows)
        for (int64_t x : columns)
            sum += data[y * stride + 2 * x] | (data[y * stride + 2 * x + 1] << 8);
    return sum / double(columns.size() * rows.size());
}

TEST(HistogramTest, MeanOfAFrameWhoseSidesAreNoMultipleOfTheCellStep) {
    // 10 x 10, values 1000 + 600 i for pixel i: cells 0 and 4 of the 5 each way are taken,
    // that is columns and rows 0, 1, 8 and 9.
    std::vector<uint16_t> samples;
    for (int i = 0; i < 100; ++i)
        samples.push_back(uint16_t(1000 + 600 * i));
    ImagePtr small = syntheticImage(16, 10, 10, bytesOf16(samples));
    ASSERT_FALSE(small->histogram().isNull());
    EXPECT_EQ(meanOf(*small, {0, 1, 8, 9}, {0, 1, 8, 9}), 30700.0);
    EXPECT_EQ(small->average, 30700);
    EXPECT_EQ(small->max, 60400);
    EXPECT_EQ(small->min, 1000);

    // The 20 x 21 sample frame: cells 0, 4 and 8 of the 10 each way, so columns and rows
    // 0, 1, 8, 9, 16 and 17.
    const QString path = testDataPath("fits/scale.fits");
    REQUIRE_TEST_FILE(path);
    registerImageReaders();
    ImagePtr frame = Image::create(readFileBytes(path), ".fits");
    ASSERT_TRUE(frame->hasPicture());
    ASSERT_EQ(frame->width, 20);
    ASSERT_EQ(frame->height, 21);
    ASSERT_EQ(frame->bitsPerPixel, 16);
    ASSERT_FALSE(frame->histogram().isNull());
    const std::vector<int64_t> taken = {0, 1, 8, 9, 16, 17};
    EXPECT_EQ(frame->average, int64_t(meanOf(*frame, taken, taken)));
    EXPECT_LE(frame->average, frame->max);
    EXPECT_GE(frame->average, frame->min);
}

TEST(HistogramTest, FramesOnTheSamplingGridKeepTheStatisticsOfSizeOverStepSquared) {
    // Sides that are multiples of 2 x step: every cell is whole and n = (size / step) / step.
    for (int bpp : {8, 16})
        for (auto [w, h] : {std::pair{8, 8}, std::pair{64, 48}, std::pair{640, 480}})
            for (int64_t debayer : {255, 0}) {
                SCOPED_TRACE(testing::Message()
                             << bpp << " bits " << w << "x" << h << " pattern " << debayer);
                std::vector<uint8_t> px = randomPixels(bpp, w, h, uint32_t(w + 3 * bpp));
                ImagePtr image = syntheticImage(bpp, w, h, px);
                image->_debayer = debayer;
                ASSERT_FALSE(image->histogram().isNull());
                PlainCounts c = plainCounts(px, bpp, w, h, debayer, 4);
                ASSERT_EQ(c.n, uint64_t((w * h / 4) / 4));
                const PlainStatistics s = plainStatistics(c, bpp == 16);
                EXPECT_EQ(image->average, s.average);
                EXPECT_EQ(image->q1, s.q1);
                EXPECT_EQ(image->median, s.median);
                EXPECT_EQ(image->q3, s.q3);
                EXPECT_EQ(image->autoBlackPoint, s.black);
                EXPECT_EQ(image->autoWhitePoint, s.white);
            }
}

TEST(HistogramTest, ThirtyTwoBitPixelsLeaveTheAlphaOut) {
    for (int64_t format : {0, 1}) {
        SCOPED_TRACE(format ? "alpha first" : "alpha last");
        std::vector<uint8_t> px;
        for (int i = 0; i < 32 * 32; ++i) {
            const uint8_t colour[3] = {30, 60, 90};
            if (format) px.push_back(255);
            px.insert(px.end(), colour, colour + 3);
            if (!format) px.push_back(255);
        }
        ImagePtr image = syntheticImage(32, 32, 32, px, format);
        ASSERT_FALSE(image->histogram().isNull());
        EXPECT_EQ(image->min, 60);
        EXPECT_EQ(image->max, 60);
        EXPECT_TRUE(image->isColour);
    }
}

TEST(HistogramTest, CachedPictureIsReturnedUnchanged) {
    ImagePtr image = syntheticImage(8, 64, 64, std::vector<uint8_t>(64 * 64, 100));
    const QImage first = image->histogram();
    image->min = 1, image->_blackPoint = 3;
    const QImage second = image->histogram();
    EXPECT_EQ(first.cacheKey(), second.cacheKey());
    EXPECT_EQ(image->min, 1);
    EXPECT_EQ(image->_blackPoint, 3);
}

TEST(HistogramTest, PictureHeightsAreLogarithmic) {
    // 8-bit 64 x 64, step 4: the 256 sampled pixels carry 0..255, one per bin (M = 1).
    std::vector<uint8_t> px(64 * 64, 0);
    int next = 0;
    for (int cy = 0; cy < 32; cy += 4)
        for (int cx = 0; cx < 32; cx += 4)
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx)
                    px[size_t((2 * cy + dy) * 64 + 2 * cx + dx)] = uint8_t(next++);
    ImagePtr image = syntheticImage(8, 64, 64, px);
    const QImage picture = image->histogram();
    ASSERT_EQ(picture.size(), QSize(256, 128));
    const double top = 127 * std::log(2.0) / (std::log(2.0) + 1) + 1;  // every column's height
    const QColor text = QGuiApplication::palette().color(QPalette::Text);
    const int filledRow = int(128 - top) + 2, emptyRow = int(128 - top) - 2;
    for (int x : {20, 128, 240}) {
        EXPECT_EQ(picture.pixelColor(x, filledRow).rgb(), text.rgb()) << x;
        EXPECT_EQ(picture.pixelColor(x, filledRow).alpha(), 255) << x;
        EXPECT_EQ(picture.pixelColor(x, emptyRow).alpha(), 0) << x;
    }

    // A column with count 0 stands 1 high.
    image = syntheticImage(8, 64, 64, std::vector<uint8_t>(64 * 64, 100));
    const QImage flat = image->histogram();
    EXPECT_EQ(flat.pixelColor(30, 127).alpha(), 255);
    EXPECT_EQ(flat.pixelColor(30, 125).alpha(), 0);
}

}  // namespace
