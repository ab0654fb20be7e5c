// Image::valueAt, selectionAt and psfAt: a star of known centre in a 16-bit FITS file written
// by CFITSIO and in raw blobs, read back in the viewer's picture coordinates (y upward, pixel
// i spanning [i, i + 1)), and the pixel layouts of the readout.
#include "Image.h"
#include "ImageDecoding.h"
#include "solvan_raw_utils.h"

#include <gtest/gtest.h>

#include "FitsFiles.h"
#include "TestData.h"

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int W = 64, H = 48;
// The star's centre in picture coordinates: the middle of column 40, bitmap row 17.
constexpr double starX = 40.5, starY = H - 17 - 0.5;
constexpr double sigma = 1.2;  // narrow enough for the probe's 9 x 9 window

// The star sampled at pixel centres; (column, row) with rows counted from the top.
double starValue(int column, int row, double background, double amplitude) {
    const double px = column + 0.5, py = H - row - 0.5;  // the pixel's centre in the picture
    const double r2 = (px - starX) * (px - starX) + (py - starY) * (py - starY);
    return std::round(background + amplitude * std::exp(-r2 / (2 * sigma * sigma)));
}

QByteArray rawBlob(const char* tag, int bytesPerPixel,
                   const std::function<void(uint8_t*, int, int)>& put) {
    QByteArray blob(12 + W * H * bytesPerPixel, '\0');
    auto* p = reinterpret_cast<uint8_t*>(blob.data());
    std::memcpy(p, tag, 4);
    p[4] = W, p[8] = H;
    for (int row = 0; row < H; ++row)
        for (int col = 0; col < W; ++col)
            put(p + 12 + (row * W + col) * bytesPerPixel, col, row);
    return blob;
}

// A 16-bit FITS file of the star written by CFITSIO; first FITS row = top bitmap row.
QByteArray fitsStar16() {
    std::vector<unsigned short> pixels(W * H);
    for (int row = 0; row < H; ++row)
        for (int col = 0; col < W; ++col)
            pixels[row * W + col] = static_cast<unsigned short>(starValue(col, row, 1000, 40000));
    pixels[0] = 1111;            // top-left
    pixels[(H - 1) * W] = 2222;  // bottom-left
    pixels[W - 1] = 3333;        // top-right
    const QByteArray bytes = writeFits([&](fitsfile* f, int* status) {
        addImage(f, status, USHORT_IMG, {W, H}, TUSHORT, pixels);
    });
    EXPECT_FALSE(bytes.isEmpty());
    return bytes;
}

struct Loaded {
    const char* name;
    std::function<QByteArray()> bytes;
    const char* format;
    double background, amplitude;
};

const std::vector<Loaded>& loadedStars() {
    static const std::vector<Loaded> cases = {
        {"FITS16", fitsStar16, ".fits", 1000, 40000},
        {"RAW2",
         [] {
             return rawBlob("RAW2", 2, [](uint8_t* p, int c, int r) {
                 const int v = int(starValue(c, r, 1000, 40000));
                 p[0] = uint8_t(v), p[1] = uint8_t(v >> 8);
             });
         },
         ".raw", 1000, 40000},
        {"RAW1",
         [] {
             return rawBlob("RAW1", 1, [](uint8_t* p, int c, int r) {
                 p[0] = uint8_t(starValue(c, r, 20, 200));
             });
         },
         ".raw", 20, 200},
        {"RAW3",
         [] {
             return rawBlob("RAW3", 3, [](uint8_t* p, int c, int r) {
                 p[0] = p[1] = p[2] = uint8_t(starValue(c, r, 20, 200));
             });
         },
         ".raw", 20, 200},
    };
    return cases;
}

void PrintTo(const Loaded& c, std::ostream* os) {
    *os << c.name;
}

class ProbeOnLoadedStar : public ::testing::TestWithParam<Loaded> {
  protected:
    void SetUp() override {
        registerImageReaders();
        image = Image::create(GetParam().bytes(), GetParam().format);
        ASSERT_TRUE(image->hasPicture());
        ASSERT_EQ(image->width, W);
        ASSERT_EQ(image->height, H);
    }
    ImagePtr image;
};

TEST_P(ProbeOnLoadedStar, ValueUnderThePointerIsThePixelContainingIt) {
    const Loaded& c = GetParam();
    const int64_t peak = int64_t(c.background + c.amplitude);
    // Anywhere inside the star's pixel [40, 41) x [30, 31) reads it.
    for (auto [x, y] : {std::pair{starX, starY}, {40.0, 30.0}, {40.999, 30.999}}) {
        const std::optional<PixelValue> v = image->valueAt(x, y);
        ASSERT_TRUE(v) << x << ", " << y;
        const int64_t sample = v->isColour ? v->rgb[0] : v->grey;
        EXPECT_EQ(sample, peak) << x << ", " << y;
    }
    // Its neighbours above and to the right.
    const std::optional<PixelValue> above = image->valueAt(starX, starY + 1);
    const std::optional<PixelValue> right = image->valueAt(starX + 1, starY);
    ASSERT_TRUE(above && right);
    const int64_t expected = int64_t(starValue(40, 16, c.background, c.amplitude));
    EXPECT_EQ(above->isColour ? above->rgb[1] : above->grey, expected);
    EXPECT_EQ(right->isColour ? right->rgb[2] : right->grey, expected);
}

TEST_P(ProbeOnLoadedStar, SelectionMovesAClickToTheStarsCentre) {
    for (auto [dx, dy] : {std::pair{0.0, 0.0}, {2.2, -1.6}, {-3.1, 2.4}}) {
        const std::optional<QPointF> p = image->selectionAt(starX + dx, starY + dy);
        ASSERT_TRUE(p) << dx << ", " << dy;
        EXPECT_NEAR(p->x(), starX, 0.05);
        EXPECT_NEAR(p->y(), starY, 0.05);
    }
}

TEST_P(ProbeOnLoadedStar, PsfAtTheSelectedPointMeasuresTheStar) {
    const Loaded& c = GetParam();
    const std::optional<QPointF> p = image->selectionAt(starX + 1.2, starY - 0.7);
    ASSERT_TRUE(p);
    const std::optional<PSFResult> psf = image->psfAt(p->x(), p->y());
    ASSERT_TRUE(psf);
    EXPECT_NEAR(psf->peak, c.amplitude, 0.01 * c.amplitude);
    const double fwhm = 2 * std::sqrt(2 * std::log(2.0)) * sigma;
    EXPECT_NEAR(psf->fwhm, fwhm, 0.05 * fwhm);
    const double hfd = 2 * sigma * std::sqrt(M_PI / 2);  // twice the mean radius
    EXPECT_NEAR(psf->hfd, hfd, 0.05 * hfd);
}

INSTANTIATE_TEST_SUITE_P(Files, ProbeOnLoadedStar, ::testing::ValuesIn(loadedStars()),
                         [](const ::testing::TestParamInfo<Loaded>& info) {
                             return std::string(info.param.name);
                         });

TEST(Probe, PsfAtAPixelCentreIsTheMeasurementCentredOnThatPixel) {
    registerImageReaders();
    ImagePtr image = Image::create(fitsStar16(), ".fits");
    ASSERT_TRUE(image->hasPicture());
    const auto* pixels = image->originalImageRep->bitmapData();
    for (auto [col, row] : {std::pair{40, 17}, {41, 18}, {20, 30}}) {
        const std::optional<PSFResult> psf = image->psfAt(col + 0.5, H - row - 0.5);
        ASSERT_TRUE(psf);
        double fwhm = 0, hfd = 0, peak = 0;
        ASSERT_EQ(
            solvan_measure_psf(SOLVAN_RAW_MONO16, pixels, col, row, 4, W, H, &fwhm, &hfd, &peak),
            SOLVAN_OK);
        EXPECT_EQ(psf->fwhm, fwhm);
        EXPECT_EQ(psf->hfd, hfd);
        EXPECT_EQ(psf->peak, peak);
    }
}

TEST(Probe, CornersOfALoadedSixteenBitFile) {
    registerImageReaders();
    ImagePtr image = Image::create(fitsStar16(), ".fits");
    struct Case {
        double x, y;
        int64_t grey;  // -1: nothing
    };
    for (Case c : {Case{0.5, 0.5, 2222}, Case{0, 0, 2222}, Case{0.5, H - 0.5, 1111},
                   Case{0.2, H - 1e-9, 1111}, Case{W - 0.5, H - 0.5, 3333}, Case{0.5, H, -1},
                   Case{-0.001, 0.5, -1}, Case{W, 0.5, -1}, Case{0.5, -0.001, -1}, Case{NAN, 3, -1},
                   Case{3, INFINITY, -1}, Case{1e300, 3, -1}}) {
        const std::optional<PixelValue> v = image->valueAt(c.x, c.y);
        if (c.grey < 0) {
            EXPECT_FALSE(v) << c.x << ", " << c.y;
            continue;
        }
        ASSERT_TRUE(v) << c.x << ", " << c.y;
        EXPECT_FALSE(v->isColour);
        EXPECT_EQ(v->grey, c.grey);
        EXPECT_EQ(v->level, c.grey >> 8);
    }
}

TEST(Probe, StarTooNearTheEdgeOrNoStarAnswersNothing) {
    registerImageReaders();
    ImagePtr blank =
        Image::create(rawBlob("RAW2", 2, [](uint8_t* p, int, int) { p[0] = 100; }), ".raw");
    ASSERT_TRUE(blank->hasPicture());
    EXPECT_FALSE(blank->selectionAt(30, 20));
    ImagePtr image = Image::create(fitsStar16(), ".fits");
    EXPECT_FALSE(image->selectionAt(5, 20));    // radius 10 reaches past the left edge
    EXPECT_FALSE(image->psfAt(3.5, 20));        // radius 4 reaches past the left edge
    EXPECT_TRUE(image->psfAt(4.5, 20.5));       // centred on column 4: the window just fits
    EXPECT_TRUE(image->psfAt(W - 4.5, 20.5));   // centred on column W - 5: it just fits
    EXPECT_FALSE(image->psfAt(W - 3.5, 20.5));  // centred on column W - 4: one column out
    EXPECT_FALSE(image->psfAt(NAN, 20));
}

// ---- Readout of every pixel layout, on bitmaps described directly.

ImagePtr imageOver(std::vector<uint8_t> pixels, int w, int h, int bps, int spp, bool alpha,
                   int64_t bitmapFormat, int bpp) {
    registerImageReaders();
    ImagePtr image = Image::create(QByteArray("RAW1\1\0\0\0\1\0\0\0\0", 13), ".raw");
    auto rep = std::make_shared<OwnedBitmapImageRep>();
    rep->pixels = std::move(pixels);
    uint8_t* planes[1] = {rep->pixels.data()};
    EXPECT_TRUE(rep->describe(planes, w, h, bps, spp, alpha, false,
                              spp > 1 ? ColorSpace::DeviceRGB : ColorSpace::CalibratedWhite,
                              bitmapFormat, int64_t(w) * bpp / 8, bpp, rep->pixels.size()));
    image->originalImageRep = rep;
    image->width = w;
    image->height = h;
    image->size = int64_t(w) * h;
    image->bitsPerPixel = bpp;
    return image;
}

TEST(Probe, ValueOfEachPixelLayout) {
    {  // 48-bit (65535, 0, 0): level trunc(65535 / 3) / 256 = 85
        std::vector<uint8_t> px = {0xff, 0xff, 0, 0, 0, 0};
        std::optional<PixelValue> v = imageOver(px, 1, 1, 16, 3, false, 0, 48)->valueAt(0.5, 0.5);
        ASSERT_TRUE(v);
        EXPECT_TRUE(v->isColour);
        EXPECT_EQ(v->rgb, (std::array<int64_t, 3>{65535, 0, 0}));
        EXPECT_EQ(v->level, 85);
    }
    {  // 32-bit, alpha first: bytes (255, 10, 20, 30) read as (10, 20, 30), level 20
        std::vector<uint8_t> px = {255, 10, 20, 30};
        std::optional<PixelValue> v =
            imageOver(px, 1, 1, 8, 4, true, BitmapFormatAlphaFirst, 32)->valueAt(0, 0);
        ASSERT_TRUE(v);
        EXPECT_EQ(v->rgb, (std::array<int64_t, 3>{10, 20, 30}));
        EXPECT_EQ(v->level, 20);
    }
    {  // 32-bit, alpha last: the same bytes read as (255, 10, 20), level 95
        std::vector<uint8_t> px = {255, 10, 20, 30};
        std::optional<PixelValue> v =
            imageOver(px, 1, 1, 8, 4, true, BitmapFormatAlphaNonpremultiplied, 32)->valueAt(0, 0);
        ASSERT_TRUE(v);
        EXPECT_EQ(v->rgb, (std::array<int64_t, 3>{255, 10, 20}));
        EXPECT_EQ(v->level, 95);
    }
    {  // 24-bit (200, 201, 203): level 201
        std::vector<uint8_t> px = {200, 201, 203};
        std::optional<PixelValue> v = imageOver(px, 1, 1, 8, 3, false, 0, 24)->valueAt(0, 0);
        ASSERT_TRUE(v);
        EXPECT_EQ(v->rgb, (std::array<int64_t, 3>{200, 201, 203}));
        EXPECT_EQ(v->level, 201);
    }
    {  // 16-bit 0x1234: level 0x12
        uint16_t s = 0x1234;
        std::vector<uint8_t> px(2);
        std::memcpy(px.data(), &s, 2);
        std::optional<PixelValue> v = imageOver(px, 1, 1, 16, 1, false, 0, 16)->valueAt(0, 0);
        ASSERT_TRUE(v);
        EXPECT_FALSE(v->isColour);
        EXPECT_EQ(v->grey, 0x1234);
        EXPECT_EQ(v->level, 0x12);
    }
}

TEST(Probe, FortyBitPixelsAnswerNothing) {
    ImagePtr image = imageOver(std::vector<uint8_t>(30 * 30 * 5, 7), 30, 30, 8, 4, true, 0, 40);
    EXPECT_FALSE(image->valueAt(3, 3));
    EXPECT_FALSE(image->selectionAt(15, 15));
    EXPECT_FALSE(image->psfAt(15, 15));
}

TEST(Probe, ColourStarInAlphaFirstPixels) {
    // ARGB: alpha 255 in byte 0 would spoil the measurement if it were counted.
    std::vector<uint8_t> px(size_t(W) * H * 4);
    for (int row = 0; row < H; ++row)
        for (int col = 0; col < W; ++col) {
            uint8_t* p = px.data() + (row * W + col) * 4;
            p[0] = 255;
            p[1] = p[2] = p[3] = uint8_t(starValue(col, row, 20, 200));
        }
    ImagePtr image = imageOver(px, W, H, 8, 4, true, BitmapFormatAlphaFirst, 32);
    const std::optional<QPointF> p = image->selectionAt(starX - 2, starY + 1);
    ASSERT_TRUE(p);
    EXPECT_NEAR(p->x(), starX, 0.05);
    EXPECT_NEAR(p->y(), starY, 0.05);
    const std::optional<PSFResult> psf = image->psfAt(p->x(), p->y());
    ASSERT_TRUE(psf);
    EXPECT_NEAR(psf->peak, 200, 2);
}

TEST(Probe, NoPictureAnswersNothing) {
    registerImageReaders();
    ImagePtr image = Image::create(QByteArray("not an image"), ".txt");
    ASSERT_FALSE(image->hasPicture());
    EXPECT_FALSE(image->valueAt(0, 0));
    EXPECT_FALSE(image->selectionAt(0, 0));
    EXPECT_FALSE(image->psfAt(0, 0));
}

}  // namespace
