// Rendering to the 8-bit picture: the stretch's edge cases, the caches, and the fast render
// compared byte for byte with the plain reference loop on synthetic and real frames.
#include "Dispatch.h"
#include "Image.h"
#include "ReferenceRender.h"
#include "Settings.h"
#include "SyntheticImage.h"
#include "TestData.h"

#include <QDir>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <array>
#include <tuple>

namespace {

class HighlightSetting {
  public:
    explicit HighlightSetting(bool on) { userDefaults().setObject("highlightOverexposure", on); }
    ~HighlightSetting() { userDefaults().removeObject("highlightOverexposure"); }
};

std::vector<uint8_t> pictureBytes(const QImage& picture) {
    std::vector<uint8_t> out;
    for (int y = 0; y < picture.height(); ++y)
        out.insert(out.end(), picture.constScanLine(y),
                   picture.constScanLine(y) + 3 * picture.width());
    return out;
}

// Renders as the viewer does: pattern and white balance in, histogram, points, render.
std::vector<uint8_t> render(Image& image, int64_t code, bool awb, int64_t black, int64_t white) {
    image._debayer = code;
    image._awb = awb;
    image.cached = QImage();
    image.cachedHistogram = QImage();
    image.histogram();
    image._blackPoint = black;
    image._whitePoint = white;
    const QImage picture = image.renderedImage();
    EXPECT_EQ(picture.format(), QImage::Format_RGB888);
    auto out = pictureBytes(picture);
    // The picture is a view of cachedBitmapData, the bytes the export reads.
    if (!out.empty()) {
        EXPECT_EQ(picture.constBits(), image.cachedBitmapData);
    }
    return out;
}

// The reference bytes for the Image's source under the same settings.
std::vector<uint8_t> expected(const Image& image, int64_t code, bool awb, int64_t black,
                              int64_t white, bool highlight) {
    const auto& rep = *image.originalImageRep;
    reference::Source s{rep.bitmapData(), image.bitsPerPixel, image.width, image.height,
                        rep.bitmapFormat};
    reference::Settings k;
    k.debayer = code;
    const auto coef = reference::whiteBalance(image.total4.data(), code, awb);
    k.redCoef = coef.first, k.blueCoef = coef.second;
    k.black = black, k.white = white, k.highlight = highlight;
    return reference::render(s, k);
}

std::array<int, 3> at(const std::vector<uint8_t>& out, size_t p) {
    return {out[3 * p], out[3 * p + 1], out[3 * p + 2]};
}

TEST(StretchTest, EightBitGreyAndItsHighlight) {
    ImagePtr image = syntheticImage(8, 4, 1, {255, 254, 0, 128});
    {
        HighlightSetting on(true);
        const auto out = render(*image, 255, false, 0, 255);
        EXPECT_EQ(at(out, 0), (std::array<int, 3>{255, 0, 0}));
        EXPECT_EQ(at(out, 1), (std::array<int, 3>{254, 254, 254}));
        EXPECT_EQ(at(out, 2), (std::array<int, 3>{0, 0, 0}));
        EXPECT_EQ(at(out, 3), (std::array<int, 3>{128, 128, 128}));
    }
    HighlightSetting off(false);  // read at every render
    const auto out = render(*image, 255, false, 0, 255);
    EXPECT_EQ(at(out, 0), (std::array<int, 3>{255, 255, 255}));
}

TEST(StretchTest, SixteenBitGrey) {
    ImagePtr image = syntheticImage(16, 3, 1, bytesOf16({65534, 32768, 65535}));
    const auto out = render(*image, 255, false, 0, 65535);
    EXPECT_EQ(at(out, 0), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(at(out, 1), (std::array<int, 3>{128, 128, 128}));
    EXPECT_EQ(at(out, 2), (std::array<int, 3>{255, 0, 0}));
}

TEST(StretchTest, PointsClampAndCollapse) {
    ImagePtr image = syntheticImage(8, 4, 1, {10, 20, 200, 255});
    auto out = render(*image, 255, false, 50, 150);
    EXPECT_EQ(at(out, 0)[0], 0);    // below the black point
    EXPECT_EQ(at(out, 2)[0], 255);  // above the white point
    for (auto [black, white] : {std::pair{100, 100}, std::pair{150, 50}}) {
        out = render(*image, 255, false, black, white);
        for (size_t p = 0; p < 3; ++p)
            EXPECT_EQ(at(out, p), (std::array<int, 3>{0, 0, 0}));
        EXPECT_EQ(at(out, 3), (std::array<int, 3>{255, 0, 0}));  // still saturated
    }
    // Colour layouts have no highlight: equal points make everything black.
    ImagePtr colour = syntheticImage(24, 1, 1, {255, 255, 255});
    EXPECT_EQ(at(render(*colour, 255, false, 7, 7), 0), (std::array<int, 3>{0, 0, 0}));
}

TEST(StretchTest, AlphaNeverReachesTheOutput) {
    // Alpha first: bytes 1..3 are the colour; byte 0 (alpha) is 255.
    ImagePtr first = syntheticImage(32, 2, 1, {255, 10, 20, 30, 255, 40, 50, 60}, 1);
    auto out = render(*first, 255, false, 0, 256);
    EXPECT_EQ(out, (std::vector<uint8_t>{10, 20, 30, 40, 50, 60}));
    ImagePtr last = syntheticImage(32, 2, 1, {10, 20, 30, 255, 40, 50, 60, 255}, 0);
    out = render(*last, 255, false, 0, 256);
    EXPECT_EQ(out, (std::vector<uint8_t>{10, 20, 30, 40, 50, 60}));
}

TEST(RenderCacheTest, CachedPictureIsReturnedWithoutRecomputing) {
    ImagePtr image = syntheticImage(8, 4, 4, std::vector<uint8_t>(16, 100));
    render(*image, 255, false, 0, 255);
    const QImage first = image->cached;
    image->_blackPoint = 200;
    const QImage again = image->renderedImage();
    EXPECT_EQ(again.cacheKey(), first.cacheKey());
    EXPECT_EQ(image->cachedBitmapData[0], 100);
}

// Renders at points that turn every sample 100 into `expected`, and checks the bitmap the
// export reads describes the output.
void rerender(Image& image, int64_t black, uint8_t expected) {
    image.cached = QImage();
    image.histogram();  // resets the points at the first call
    image._blackPoint = black;
    image._whitePoint = 200;
    ASSERT_FALSE(image.renderedImage().isNull());
    const auto rep = image.cachedImageRep;
    ASSERT_TRUE(rep);
    EXPECT_EQ(image.cachedPlanes[0], image.cachedBitmapData);
    EXPECT_EQ(rep->bitmapData(), image.cachedBitmapData);
    EXPECT_EQ(rep->pixelsWide, 4);
    EXPECT_EQ(rep->bytesPerRow, 12);
    EXPECT_EQ(rep->bitsPerPixel, 24);
    EXPECT_EQ(image.cachedBitmapData[0], expected);
}

TEST(RenderCacheTest, ReleasedPictureMemoryIsRenderedInPlace) {
    ImagePtr image = syntheticImage(8, 4, 4, std::vector<uint8_t>(16, 100));
    rerender(*image, 0, 128);
    uint8_t* const memory = image->cachedBitmapData;
    const auto rep = image->cachedImageRep;
    rerender(*image, 100, 0);  // nobody holds the first picture
    EXPECT_EQ(image->cachedBitmapData, memory);
    EXPECT_EQ(image->cachedImageRep, rep);
}

TEST(RenderCacheTest, HeldPictureKeepsItsBytesThroughARerender) {
    ImagePtr image = syntheticImage(8, 4, 4, std::vector<uint8_t>(16, 100));
    rerender(*image, 0, 128);
    const QImage shown = image->cached;  // as the viewer holds it
    rerender(*image, 100, 0);
    EXPECT_NE(image->cachedBitmapData, shown.constBits());
    EXPECT_EQ(shown.pixel(3, 3), qRgb(128, 128, 128));
    EXPECT_EQ(image->cached.pixel(3, 3), qRgb(0, 0, 0));
    // The export's bitmap follows the new memory.
    EXPECT_EQ(image->cachedImageRep->bitmapData(), image->cachedBitmapData);
}

TEST(RenderCacheTest, PictureOutlivesItsImage) {
    QImage shown;
    {
        ImagePtr image = syntheticImage(8, 4, 4, std::vector<uint8_t>(16, 100));
        rerender(*image, 0, 128);
        shown = image->renderedImage();
    }
    // The Image and its output are gone; the picture's memory is not. A new Image of the same
    // size renders elsewhere while the picture is held.
    ImagePtr other = syntheticImage(8, 4, 4, std::vector<uint8_t>(16, 100));
    rerender(*other, 100, 0);
    EXPECT_NE(other->cachedBitmapData, shown.constBits());
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(shown.pixel(x, y), qRgb(128, 128, 128));
}

TEST(RenderCacheTest, NoBitmapNoPicture) {
    ImagePtr none = Image::create(QByteArray("nothing to decode here"), ".bin");
    EXPECT_TRUE(none->renderedImage().isNull());
    EXPECT_EQ(none->cachedBitmapData, nullptr);
}

TEST(RenderCacheTest, UnsupportedWidthGivesBlack) {
    ImagePtr image = syntheticImage(40, 3, 2, std::vector<uint8_t>(30, 200));
    ASSERT_TRUE(image);
    const QImage picture = image->renderedImage();
    ASSERT_EQ(picture.size(), QSize(3, 2));
    for (uint8_t b : pictureBytes(picture))
        EXPECT_EQ(b, 0);
}

TEST(RenderCacheTest, BitmapSmallerThanItsSizeIsRefused) {
    ImagePtr image = syntheticImage(16, 8, 8, randomPixels(16, 8, 8, 3));
    image->width = 9;  // claims more pixels than the bitmap holds
    image->size = 72;
    EXPECT_TRUE(image->renderedImage().isNull());
}

// Every layout, pattern, white balance, highlight and set of points against the reference.
using Case = std::tuple<int, std::pair<int, int>>;
class ReferenceTest : public ::testing::TestWithParam<Case> {};

TEST_P(ReferenceTest, EveryByteMatches) {
    const auto [layout, dims] = GetParam();
    const auto [w, h] = dims;
    const int64_t bpp = layout == 33 ? 32 : layout;  // 33: 32 bits, alpha first
    const int64_t format = layout == 33 ? 1 : 0;
    const auto px = randomPixels(bpp, w, h, uint32_t(w * 7 + h + layout));
    ImagePtr image = syntheticImage(bpp, w, h, px, format);
    ASSERT_TRUE(image);
    const bool sixteen = bpp == 16 || bpp == 48;
    const int64_t full = sixteen ? 65535 : 255;
    const bool grey = bpp <= 16;
    const std::vector<int64_t> codes =
        grey ? std::vector<int64_t>{255, 0, 1, 16, 17, 2} : std::vector<int64_t>{255, 0};
    for (bool highlight : {true, false}) {
        HighlightSetting setting(highlight);
        for (int64_t code : codes)
            for (bool awb : {false, true}) {
                // Full scale, the automatic points, equal points, crossed points, a narrow
                // window, and points beyond the sample range.
                image->_debayer = code;
                image->cachedHistogram = QImage();
                image->histogram();
                const std::pair<int64_t, int64_t> points[] = {
                    {0, full},
                    {image->autoBlackPoint, image->autoWhitePoint},
                    {full / 3, full / 3},
                    {full / 2, full / 4},
                    {full / 5, full / 5 + 37},
                    {-full, 2 * full}};
                for (auto [black, white] : points) {
                    SCOPED_TRACE(testing::Message()
                                 << "pattern " << code << " awb " << awb << " highlight "
                                 << highlight << " points " << black << ".." << white);
                    const auto out = render(*image, code, awb, black, white);
                    ASSERT_EQ(out, expected(*image, code, awb, black, white, highlight));
                }
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ReferenceTest,
                         ::testing::Combine(::testing::Values(8, 16, 24, 32, 33, 48),
                                            ::testing::Values(std::pair{1, 1}, std::pair{2, 2},
                                                              std::pair{3, 5}, std::pair{5, 3},
                                                              std::pair{641, 479})));

// The sample files, every image in them, with each pattern and white balance.
TEST(ReferenceTest, RealFiles) {
    registerImageReaders();
    int rendered = 0;
    for (const char* folder : {"fits", "images", "xisf"}) {
        const QDir dir(testDataPath(folder));
        for (const QString& name : dir.entryList(QDir::Files)) {
            const QByteArray bytes = readFileBytes(dir.filePath(name));
            ImagePtr file = Image::create(bytes, "." + QFileInfo(name).suffix());
            std::vector<ImagePtr> images{file};
            images.insert(images.end(), file->extensions.begin(), file->extensions.end());
            for (const ImagePtr& image : images) {
                if (!image->originalImageRep) continue;
                const bool grey = image->bitsPerPixel <= 16;
                for (int64_t code :
                     grey ? std::vector<int64_t>{255, 0, 1, 16, 17} : std::vector<int64_t>{255})
                    for (bool awb : {false, true}) {
                        SCOPED_TRACE(testing::Message() << name.toStdString() << " pattern " << code
                                                        << " awb " << awb);
                        image->_debayer = code;
                        image->cachedHistogram = QImage();
                        image->histogram();
                        const int64_t black = image->autoBlackPoint, white = image->autoWhitePoint;
                        const auto out = render(*image, code, awb, black, white);
                        ASSERT_EQ(out, expected(*image, code, awb, black, white, true));
                        ++rendered;
                    }
            }
        }
    }
    if (rendered == 0) GTEST_SKIP() << "no sample files";
    EXPECT_GE(rendered, 20);
}

}  // namespace

namespace {

// The viewer renders on a thread of the global pool; the render's own bands must not wait
// for pool threads that are all taken.
TEST(RenderThreadsTest, RendersFromAPoolThreadWhenThePoolIsFull) {
    QThreadPool* pool = QThreadPool::globalInstance();
    const int saved = pool->maxThreadCount();
    pool->setMaxThreadCount(1);
    const auto px = randomPixels(16, 641, 479, 9);
    ImagePtr image = syntheticImage(16, 641, 479, px);
    std::vector<uint8_t> out;
    runOnGlobalSync([&] { out = render(*image, 0, true, 100, 60000); });
    pool->setMaxThreadCount(saved);
    EXPECT_EQ(out, expected(*image, 0, true, 100, 60000, true));
}

}  // namespace
