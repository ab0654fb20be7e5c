// White-balance coefficients and the demosaic's neighbour rules at every site and edge.
#include "Demosaic.h"
#include "Image.h"
#include "ReferenceRender.h"
#include "SyntheticImage.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>

namespace {

// An 8-bit frame of w x h with the value of each site given by its colour under `code`.
std::vector<uint8_t> siteFrame(int64_t code, int64_t w, int64_t h, uint8_t red, uint8_t green,
                               uint8_t blue) {
    std::vector<uint8_t> px(size_t(w * h));
    for (int64_t y = 0; y < h; ++y)
        for (int64_t x = 0; x < w; ++x) {
            const int64_t phase = code ^ (((x & 1) << 4) | (y & 1));
            px[size_t(y * w + x)] = phase == 0 ? red : phase == 17 ? blue : green;
        }
    return px;
}

// Renders with the given pattern and points; white balance as asked.
std::vector<uint8_t> renderBytes(const ImagePtr& image, int64_t code, bool awb, int64_t black,
                                 int64_t white) {
    image->_debayer = code;
    image->_awb = awb;
    image->cached = QImage();
    image->cachedHistogram = QImage();
    image->histogram();
    image->_blackPoint = black;
    image->_whitePoint = white;
    const QImage picture = image->renderedImage();
    std::vector<uint8_t> out;
    for (int y = 0; y < picture.height(); ++y)
        out.insert(out.end(), picture.constScanLine(y),
                   picture.constScanLine(y) + 3 * picture.width());
    return out;
}

std::array<int, 3> pixel(const std::vector<uint8_t>& out, int64_t w, int64_t x, int64_t y) {
    const size_t p = size_t(3 * (y * w + x));
    return {out[p], out[p + 1], out[p + 2]};
}

TEST(WhiteBalanceTest, CoefficientsPerPattern) {
    struct Case {
        int64_t code;
        float red, blue;
    };
    // total4 = 10, 20, 30, 40: the colour's mean over the mean of the two greens.
    const Case cases[] = {{0, 20.f / 50, 80.f / 50},
                          {1, 60.f / 50, 40.f / 50},
                          {16, 40.f / 50, 60.f / 50},
                          {17, 80.f / 50, 20.f / 50}};
    ImagePtr image = syntheticImage(8, 2, 2, {1, 2, 3, 4});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        image->total4 = {10, 20, 30, 40};
        image->_debayer = c.code;
        image->_awb = true;
        image->updateWhiteBalance();
        EXPECT_FLOAT_EQ(image->redCoef, c.red);
        EXPECT_FLOAT_EQ(image->blueCoef, c.blue);
    }
}

TEST(WhiteBalanceTest, MissingSumsOrSettingsGiveZero) {
    struct Case {
        const char* what;
        std::array<uint64_t, 4> total4;
        int64_t code;
        bool awb;
    };
    const Case cases[] = {
        {"white balance off", {10, 20, 30, 40}, 0, false},
        {"raw", {10, 20, 30, 40}, 255, true},
        {"unknown code", {10, 20, 30, 40}, 2, true},
        {"t1 = 1", {10, 1, 30, 40}, 0, true},
        {"t0 = 0", {0, 20, 30, 40}, 0, true},
        {"t2 = 0", {10, 20, 0, 40}, 0, true},
        {"t3 = 0", {10, 20, 30, 0}, 0, true},
    };
    ImagePtr image = syntheticImage(8, 2, 2, {1, 2, 3, 4});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        image->redCoef = image->blueCoef = 1.0f;
        image->total4 = c.total4;
        image->_debayer = c.code;
        image->_awb = c.awb;
        image->updateWhiteBalance();
        EXPECT_EQ(image->redCoef, 0.0f);
        EXPECT_EQ(image->blueCoef, 0.0f);
    }
    image->total4 = {10, 2, 30, 40};  // t1 = 2 is enough
    image->_debayer = 0;
    image->_awb = true;
    image->updateWhiteBalance();
    EXPECT_GT(image->redCoef, 0.0f);
}

TEST(DemosaicTest, BalancedFrameRendersGrey) {
    const int64_t w = 8, h = 6;
    ImagePtr image = syntheticImage(8, w, h, siteFrame(0, w, h, 200, 100, 50));
    const auto out = renderBytes(image, 0, true, 0, 255);
    const uint64_t unit = image->total4[3];
    ASSERT_GT(unit, 0u);
    EXPECT_EQ(image->total4[0], 4 * unit);
    EXPECT_EQ(image->total4[1], 2 * unit);
    EXPECT_EQ(image->total4[2], 2 * unit);
    EXPECT_FLOAT_EQ(image->redCoef, 2.0f);
    EXPECT_FLOAT_EQ(image->blueCoef, 0.5f);
    for (int64_t y = 1; y < h - 1; ++y)
        for (int64_t x = 1; x < w - 1; ++x)
            EXPECT_EQ(pixel(out, w, x, y), (std::array<int, 3>{100, 100, 100})) << x << "," << y;
}

TEST(DemosaicTest, UnbalancedFrameKeepsItsColours) {
    const int64_t w = 8, h = 6;
    ImagePtr image = syntheticImage(8, w, h, siteFrame(0, w, h, 200, 100, 50));
    const auto out = renderBytes(image, 0, false, 0, 255);
    EXPECT_EQ(image->redCoef, 0.0f);
    for (int64_t y = 1; y < h - 1; ++y)
        for (int64_t x = 1; x < w - 1; ++x)
            EXPECT_EQ(pixel(out, w, x, y), (std::array<int, 3>{200, 100, 50})) << x << "," << y;
}

TEST(DemosaicTest, OppositePatternsSwapRedAndBlue) {
    const int64_t w = 9, h = 7;
    ImagePtr image = syntheticImage(16, w, h, randomPixels(16, w, h, 5));
    const auto pairs = {std::pair<int64_t, int64_t>{0, 17}, {1, 16}};
    for (auto [a, b] : pairs) {
        const auto outA = renderBytes(image, a, false, 0, 65535);
        const auto outB = renderBytes(image, b, false, 0, 65535);
        for (int64_t p = 0; p < w * h; ++p) {
            EXPECT_EQ(outA[size_t(3 * p)], outB[size_t(3 * p + 2)]) << p;
            EXPECT_EQ(outA[size_t(3 * p + 1)], outB[size_t(3 * p + 1)]) << p;
            EXPECT_EQ(outA[size_t(3 * p + 2)], outB[size_t(3 * p)]) << p;
        }
    }
}

// A 5 x 5 frame of distinct values; with points 0 and 256 every channel value < 256 comes out
// as itself, so each expectation names the neighbours it takes.
class NeighbourRules : public ::testing::Test {
  protected:
    static constexpr int64_t w = 5, h = 5;
    std::vector<uint8_t> px;
    void SetUp() override {
        for (int64_t i = 0; i < w * h; ++i)
            px.push_back(uint8_t(10 + 9 * i));
    }
    int v(int64_t x, int64_t y) const { return px[size_t(y * w + x)]; }
    std::array<int, 3> rendered(int64_t code, int64_t x, int64_t y) {
        ImagePtr image = syntheticImage(8, w, h, px);
        return pixel(renderBytes(image, code, false, 0, 256), w, x, y);
    }
};

TEST_F(NeighbourRules, RedSitesAtTheCornersOfRggb) {
    // Top-left: B = DR, G = (D + Rt) >> 1.
    EXPECT_EQ(rendered(0, 0, 0), (std::array<int, 3>{v(0, 0), (v(0, 1) + v(1, 0)) >> 1, v(1, 1)}));
    // Top-right: B = DL, G = (D + L) >> 1.
    EXPECT_EQ(rendered(0, 4, 0), (std::array<int, 3>{v(4, 0), (v(4, 1) + v(3, 0)) >> 1, v(3, 1)}));
    // Bottom-left: B = UR.
    EXPECT_EQ(rendered(0, 0, 4), (std::array<int, 3>{v(0, 4), (v(0, 3) + v(1, 4)) >> 1, v(1, 3)}));
    // Bottom-right: B = UL.
    EXPECT_EQ(rendered(0, 4, 4), (std::array<int, 3>{v(4, 4), (v(4, 3) + v(3, 4)) >> 1, v(3, 3)}));
}

TEST_F(NeighbourRules, RedSitesOnTheEdgesOfRggb) {
    // Top edge: G = (L + Rt + D) / 3, B = (DL + DR) >> 1.
    EXPECT_EQ(rendered(0, 2, 0), (std::array<int, 3>{v(2, 0), (v(1, 0) + v(3, 0) + v(2, 1)) / 3,
                                                     (v(1, 1) + v(3, 1)) >> 1}));
    // Bottom edge: G = (L + Rt + U) / 3, B = (UL + UR) >> 1.
    EXPECT_EQ(rendered(0, 2, 4), (std::array<int, 3>{v(2, 4), (v(1, 4) + v(3, 4) + v(2, 3)) / 3,
                                                     (v(1, 3) + v(3, 3)) >> 1}));
    // Left edge: G = (Rt + D + U) / 3, B = (UR + DR) >> 1.
    EXPECT_EQ(rendered(0, 0, 2), (std::array<int, 3>{v(0, 2), (v(1, 2) + v(0, 3) + v(0, 1)) / 3,
                                                     (v(1, 1) + v(1, 3)) >> 1}));
    // Right edge: G = (L + D + U) / 3, B = (UL + DL) >> 1.
    EXPECT_EQ(rendered(0, 4, 2), (std::array<int, 3>{v(4, 2), (v(3, 2) + v(4, 3) + v(4, 1)) / 3,
                                                     (v(3, 1) + v(3, 3)) >> 1}));
    // Inside: G from the four edge neighbours, B from the four diagonals.
    EXPECT_EQ(rendered(0, 2, 2),
              (std::array<int, 3>{v(2, 2), (v(1, 2) + v(3, 2) + v(2, 1) + v(2, 3)) >> 2,
                                  (v(1, 1) + v(3, 1) + v(1, 3) + v(3, 3)) >> 2}));
}

TEST_F(NeighbourRules, BlueSitesTakeRedFromTheDiagonals) {
    // bggr puts blue at even columns of even rows. First column, not a corner: R = (UR + DR) >> 1.
    EXPECT_EQ(rendered(17, 0, 2), (std::array<int, 3>{(v(1, 1) + v(1, 3)) >> 1,
                                                      (v(0, 1) + v(0, 3) + v(1, 2)) / 3, v(0, 2)}));
    // Corners: R is the one diagonal there is.
    EXPECT_EQ(rendered(17, 0, 0), (std::array<int, 3>{v(1, 1), (v(0, 1) + v(1, 0)) >> 1, v(0, 0)}));
    EXPECT_EQ(rendered(17, 4, 4), (std::array<int, 3>{v(3, 3), (v(4, 3) + v(3, 4)) >> 1, v(4, 4)}));
    // Top edge and inside.
    EXPECT_EQ(rendered(17, 2, 0), (std::array<int, 3>{(v(1, 1) + v(3, 1)) >> 1,
                                                      (v(2, 1) + v(1, 0) + v(3, 0)) / 3, v(2, 0)}));
    EXPECT_EQ(rendered(17, 2, 2),
              (std::array<int, 3>{(v(1, 1) + v(3, 1) + v(1, 3) + v(3, 3)) >> 2,
                                  (v(1, 2) + v(3, 2) + v(2, 1) + v(2, 3)) >> 2, v(2, 2)}));
}

TEST_F(NeighbourRules, GreenSitesTakeTheirRowAndColumn) {
    // rggb: (1, 0) is green on a red row: R across the row, B down the column.
    EXPECT_EQ(rendered(0, 1, 0), (std::array<int, 3>{(v(0, 0) + v(2, 0)) >> 1, v(1, 0), v(1, 1)}));
    EXPECT_EQ(rendered(0, 1, 2),
              (std::array<int, 3>{(v(0, 2) + v(2, 2)) >> 1, v(1, 2), (v(1, 1) + v(1, 3)) >> 1}));
    EXPECT_EQ(rendered(0, 1, 4), (std::array<int, 3>{(v(0, 4) + v(2, 4)) >> 1, v(1, 4), v(1, 3)}));
    // (0, 1) is green on a blue row: R down the column, B across the row.
    EXPECT_EQ(rendered(0, 0, 1), (std::array<int, 3>{(v(0, 0) + v(0, 2)) >> 1, v(0, 1), v(1, 1)}));
    EXPECT_EQ(rendered(0, 4, 3), (std::array<int, 3>{(v(4, 2) + v(4, 4)) >> 1, v(4, 3), v(3, 3)}));
    // grbg: (0, 0) is green on a red row, in the first column: R = Rt, B = D.
    EXPECT_EQ(rendered(16, 0, 0), (std::array<int, 3>{v(1, 0), v(0, 0), v(0, 1)}));
    // gbrg: (0, 0) is green on a blue row: R = D, B = Rt.
    EXPECT_EQ(rendered(1, 0, 0), (std::array<int, 3>{v(0, 1), v(0, 0), v(1, 0)}));
    // gbrg: (4, 4) green on a blue row in the last column and row: R = U, B = L.
    EXPECT_EQ(rendered(1, 4, 4), (std::array<int, 3>{v(4, 3), v(4, 4), v(3, 4)}));
}

TEST(DemosaicTest, UnknownCodeGivesZeroChannels) {
    ImagePtr image = syntheticImage(8, 4, 4, std::vector<uint8_t>(16, 120));
    // Points -256 and 256: channel value 0 renders as 128, so the zeros are visible.
    const auto out = renderBytes(image, 2, false, -256, 256);
    for (uint8_t b : out)
        EXPECT_EQ(b, 128);
}

TEST(DemosaicTest, FramesTooSmallToDemosaicRenderAsRaw) {
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 6}, std::pair{6, 1}}) {
        std::vector<uint8_t> px(size_t(w * h));
        for (size_t i = 0; i < px.size(); ++i)
            px[i] = uint8_t(40 * i);
        px[0] = 255;
        ImagePtr image = syntheticImage(8, w, h, px);
        const auto out = renderBytes(image, 0, true, 0, 255);
        reference::Source s{px.data(), 8, w, h, 0};
        reference::Settings k;
        k.black = 0, k.white = 255;
        EXPECT_EQ(out, reference::render(s, k)) << w << "x" << h;
        EXPECT_EQ(pixel(out, w, 0, 0), (std::array<int, 3>{255, 0, 0}));
    }
}

TEST(DemosaicTest, PublicEntryPointsMatchTheRender) {
    const int64_t w = 13, h = 11;
    const auto px8 = randomPixels(8, w, h, 21);
    const auto px16 = randomPixels(16, w, h, 22);
    for (int64_t code : {0, 1, 16, 17}) {
        ImagePtr image8 = syntheticImage(8, w, h, px8);
        const auto viaRender = renderBytes(image8, code, true, 10, 200);
        std::vector<uint8_t> direct(size_t(w * h * 3));
        image8->demosaic8(px8.data(), direct.data(), w, h);
        EXPECT_EQ(direct, viaRender);

        ImagePtr image16 = syntheticImage(16, w, h, px16);
        const auto viaRender16 = renderBytes(image16, code, true, 1000, 60000);
        std::vector<uint16_t> samples(size_t(w * h));
        std::memcpy(samples.data(), px16.data(), px16.size());
        image16->demosaic16(samples.data(), direct.data(), w, h);
        EXPECT_EQ(direct, viaRender16);
    }
}

// 16-bit rows take an eight-pixel vector loop where the processor has one and the plain loop
// for the rest of the row; both loops, over widths around the loop's steps, against the
// reference. Bright patches put channel values at the top of the tables.
TEST(DemosaicTest, VectorAndPlainRowsMatchTheReference) {
    struct Restore {
        ~Restore() { setDemosaicVectorRows(true); }
    } restore;
    const std::pair<int64_t, int64_t> sizes[] = {{3, 3},  {9, 4},   {10, 5},  {11, 4},
                                                 {17, 6}, {18, 3},  {19, 5},  {26, 4},
                                                 {27, 3}, {266, 4}, {531, 5}, {641, 4}};
    for (bool vector : {true, false}) {
        setDemosaicVectorRows(vector);
        for (auto [w, h] : sizes) {
            auto px = randomPixels(16, w, h, uint32_t(w * 31 + h));
            for (int64_t p = 0; p < w * h; p += 7) {
                const uint16_t top = p % 3 ? 65535 : 0;
                std::memcpy(&px[size_t(2 * p)], &top, 2);
            }
            ImagePtr image = syntheticImage(16, w, h, px);
            for (int64_t code : {0, 1, 16, 17})
                for (auto [black, white] :
                     {std::pair<int64_t, int64_t>{0, 65535}, {20000, 40000}}) {
                    SCOPED_TRACE(testing::Message() << "vector " << vector << " " << w << "x" << h
                                                    << " pattern " << code << " points " << black);
                    const auto out = renderBytes(image, code, true, black, white);
                    reference::Source s{px.data(), 16, w, h, 0};
                    reference::Settings k;
                    k.debayer = code;
                    const auto coef = reference::whiteBalance(image->total4.data(), code, true);
                    k.redCoef = coef.first, k.blueCoef = coef.second;
                    k.black = black, k.white = white;
                    ASSERT_EQ(out, reference::render(s, k));
                }
        }
    }
}

}  // namespace
