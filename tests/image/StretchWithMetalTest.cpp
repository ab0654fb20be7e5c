// The GPU pass, run on a CPU OpenCL device (PoCL), against the CPU path byte for byte: every
// layout, size, pattern, white balance, highlight setting and pair of points, the sample
// files, white-balance coefficients far from 1, and many threads rendering at once.
#include "Image.h"
#include "MetalDevice.h"
#include "ReferenceRender.h"
#include "SanitizerOptions.h"
#include "Settings.h"
#include "SyntheticImage.h"
#include "TestData.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <tuple>

// The pass runs on PoCL here, which may compile the kernel (cold cache): see lsan.supp.
QUASEL_LSAN_FOLLOW_POCL_STACKS()

namespace {

// The path for the renders that follow: the GPU pass on the CPU OpenCL device, or the CPU
// path ("useGPU" false, so no device is looked for).
void choosePath(bool gpu) {
    qputenv("QUASEL_OPENCL_DEVICE_TYPE", "cpu");
    userDefaults().setVolatileObject("useGPU", gpu);
    resetMetalForTesting();
}

struct Settings {
    int64_t code;        // DebayerPattern
    bool awb;            // white balance wanted
    bool highlight;      // "highlightOverexposure"
    int64_t black = -1;  // -1 with white -1: the automatic points
    int64_t white = -1;
};

std::string describe(const Settings& s) {
    return "pattern " + std::to_string(s.code) + " awb " + std::to_string(s.awb) + " highlight " +
           std::to_string(s.highlight) + " points " + std::to_string(s.black) + ".." +
           std::to_string(s.white);
}

// A fresh render at the image's points, as packed bytes.
std::vector<uint8_t> renderBytes(Image& image) {
    image.cached = QImage();
    const QImage picture = image.renderedImage();
    std::vector<uint8_t> out;
    for (int y = 0; y < picture.height(); ++y)
        out.insert(out.end(), picture.constScanLine(y),
                   picture.constScanLine(y) + 3 * picture.width());
    return out;
}

// Renders as the viewer does (pattern in, histogram, points, render) and returns the bytes.
std::vector<uint8_t> render(Image& image, const Settings& s) {
    userDefaults().setVolatileObject("highlightOverexposure", s.highlight);
    image._debayer = s.code;
    image._awb = s.awb;
    image.cachedHistogram = QImage();
    image.histogram();
    const bool automatic = s.black == -1 && s.white == -1;
    image._blackPoint = automatic ? image.autoBlackPoint : s.black;
    image._whitePoint = automatic ? image.autoWhitePoint : s.white;
    auto out = renderBytes(image);
    userDefaults().setVolatileObject("highlightOverexposure", QVariant());
    return out;
}

// One image (made afresh for each path) and the renders to make of it.
struct Job {
    std::string name;
    std::function<ImagePtr()> make;
    std::vector<Settings> sequence;
};

// Renders every job's sequence on a fresh image with the CPU path, then on another fresh image
// with the GPU pass (both see the same histogram passes, so the same white balance), and
// expects the same bytes from every render; later GPU renders reuse the first buffers.
void expectSameOnBothPaths(const std::vector<Job>& jobs) {
    choosePath(false);
    std::vector<std::vector<std::vector<uint8_t>>> cpu;
    for (const Job& job : jobs) {
        ImagePtr image = job.make();
        ASSERT_TRUE(image);
        cpu.emplace_back();
        for (const Settings& s : job.sequence) {
            cpu.back().push_back(render(*image, s));
            EXPECT_FALSE(image->stretchedOnGPU);
        }
    }
    choosePath(true);
    ASSERT_NE(metalDevice(), nullptr) << "no CPU OpenCL device: is PoCL installed?";
    for (size_t j = 0; j < jobs.size(); ++j) {
        SCOPED_TRACE(jobs[j].name);
        ImagePtr image = jobs[j].make();
        _cl_mem* buffer = nullptr;
        for (size_t i = 0; i < jobs[j].sequence.size(); ++i) {
            SCOPED_TRACE(describe(jobs[j].sequence[i]));
            const auto out = render(*image, jobs[j].sequence[i]);
            EXPECT_TRUE(image->stretchedOnGPU);
            ASSERT_EQ(out, cpu[j][i]);
            if (i == 0) buffer = image->metalCachedBitmapData;
            EXPECT_EQ(image->metalCachedBitmapData, buffer);
        }
    }
}

void expectSameOnBothPaths(const std::function<ImagePtr()>& make,
                           const std::vector<Settings>& sequence) {
    expectSameOnBothPaths({Job{"", make, sequence}});
}

// Every pattern (with an unknown code), white balance and highlight setting, and six pairs of
// points: full scale, automatic, equal, crossed, a narrow window, beyond the sample range.
std::vector<Settings> everySetting(int64_t bitsPerPixel) {
    const int64_t full = bitsPerPixel == 16 || bitsPerPixel == 48 ? 65535 : 255;
    const std::vector<int64_t> codes = bitsPerPixel <= 16
                                           ? std::vector<int64_t>{255, 0, 1, 16, 17, 2}
                                           : std::vector<int64_t>{255, 0};
    const std::pair<int64_t, int64_t> points[] = {{0, full},
                                                  {-1, -1},
                                                  {full / 3, full / 3},
                                                  {full / 2, full / 4},
                                                  {full / 5, full / 5 + 37},
                                                  {-full, 2 * full}};
    std::vector<Settings> all;
    for (bool highlight : {true, false})
        for (int64_t code : codes)
            for (bool awb : {false, true})
                for (auto [black, white] : points)
                    all.push_back({code, awb, highlight, black, white});
    return all;
}

// Layout codes: bits per pixel, with 33 for 32 bits whose alpha comes first.
ImagePtr syntheticFrame(int layout, int64_t w, int64_t h, const std::vector<uint8_t>& pixels) {
    return syntheticImage(layout == 33 ? 32 : layout, w, h, pixels, layout == 33 ? 1 : 0);
}

using Case = std::tuple<int, std::pair<int, int>>;
class StretchWithMetalTest : public ::testing::TestWithParam<Case> {};

TEST_P(StretchWithMetalTest, EveryByteMatchesTheCpuPath) {
    const auto [layout, dims] = GetParam();
    const auto [w, h] = dims;
    const int64_t bpp = layout == 33 ? 32 : layout;
    const auto pixels = randomPixels(bpp, w, h, uint32_t(w * 13 + h + layout));
    expectSameOnBothPaths([&] { return syntheticFrame(layout, w, h, pixels); }, everySetting(bpp));
}

INSTANTIATE_TEST_SUITE_P(Layouts, StretchWithMetalTest,
                         ::testing::Combine(::testing::Values(8, 16, 24, 32, 33, 48),
                                            ::testing::Values(std::pair{1, 1}, std::pair{2, 2},
                                                              std::pair{3, 5},
                                                              std::pair{641, 479})));

// The pass reads the samples where the bitmap holds them: no second copy on a device that
// shares the host's memory.
TEST(SourceBufferTest, IsTheBitmapsOwnMemory) {
    choosePath(true);
    ASSERT_NE(metalDevice(), nullptr) << "no CPU OpenCL device: is PoCL installed?";
    ImagePtr image = syntheticFrame(16, 64, 48, randomPixels(16, 64, 48, 7));
    render(*image, {DebayerRaw, false, true});
    ASSERT_TRUE(image->stretchedOnGPU);
    void* host = nullptr;
    ASSERT_EQ(
        clGetMemObjectInfo(image->metalBitmapData, CL_MEM_HOST_PTR, sizeof host, &host, nullptr),
        CL_SUCCESS);
    EXPECT_EQ(host, image->originalImageRep->bitmapData());
}

// A 24-megapixel frame of each layout, with one setting each: the grid spans many groups.
class LargeFrameTest : public ::testing::TestWithParam<int> {};

TEST_P(LargeFrameTest, MatchesTheCpuPath) {
    const int layout = GetParam();
    const int64_t bpp = layout == 33 ? 32 : layout, w = 6000, h = 4000;
    std::vector<uint8_t> pixels(size_t(w * h * bpp / 8));
    uint64_t state = 0x9e3779b97f4a7c15u + uint64_t(layout);
    for (size_t i = 0; i + 8 <= pixels.size(); i += 8) {  // xorshift: quick for 144 MB
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        std::memcpy(&pixels[i], &state, 8);
    }
    const Settings s{bpp <= 16 ? DebayerRGGB : DebayerRaw, true, true};
    expectSameOnBothPaths([&] { return syntheticFrame(layout, w, h, pixels); }, {s});
}

INSTANTIATE_TEST_SUITE_P(Layouts, LargeFrameTest, ::testing::Values(8, 16, 24, 32, 33, 48));

// Every 16-bit value through the demosaic with white-balance coefficients from 2^-50 (values
// held at 2^62) to beyond 10^6, and points up to the pass's limit of 2^40: the kernel's
// integer emulation of the float division and of the double stretch against the CPU.
TEST(WhiteBalanceTest, EveryValueWithExtremeCoefficients) {
    std::vector<uint16_t> samples(65536);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = uint16_t(i * 40503u);  // every value once, scattered over the sites
    const auto pixels = bytesOf16(samples);
    const std::array<uint64_t, 4> sums[] = {{200, 100, 100, 50},
                                            {3, 1000, 1000, 7},
                                            {1000000000000, 2, 2, 1000000000000000},
                                            {123456789, 987654321, 55555, 3},
                                            {1, 1 << 24, 1 << 24, 3},
                                            {1, uint64_t(1) << 50, uint64_t(1) << 50, 1}};
    const std::pair<int64_t, int64_t> points[] = {{0, 65535},
                                                  {1000, int64_t(1) << 40},
                                                  {-(int64_t(1) << 40), int64_t(1) << 40},
                                                  {int64_t(1) << 39, (int64_t(1) << 40) - 1},
                                                  {7, 9}};
    for (const auto& total : sums)
        for (int64_t code : {0, 1, 16, 17}) {
            std::vector<std::vector<uint8_t>> outs[2];
            for (bool gpu : {false, true}) {
                choosePath(gpu);
                ImagePtr image = syntheticImage(16, 256, 256, pixels);
                image->_debayer = code;
                image->_awb = true;
                image->histogram();
                image->total4 = total;
                for (auto [black, white] : points) {
                    image->_blackPoint = black;
                    image->_whitePoint = white;
                    outs[gpu].push_back(renderBytes(*image));
                    EXPECT_EQ(image->stretchedOnGPU, gpu);
                }
            }
            for (size_t i = 0; i < outs[0].size(); ++i) {
                SCOPED_TRACE(testing::Message() << "sums " << total[0] << " " << total[3]
                                                << " pattern " << code << " points #" << i);
                EXPECT_TRUE(outs[0][i] == outs[1][i]);
            }
        }
}

// Points beyond +-2^40 are left to the CPU path, which still gives the picture.
TEST(WhiteBalanceTest, PointsBeyondTheLimitTakeTheCpuPath) {
    choosePath(true);
    ImagePtr image = syntheticImage(8, 4, 4, std::vector<uint8_t>(16, 100));
    const auto out = render(*image, {DebayerRaw, false, true, -(int64_t(1) << 41), 0});
    EXPECT_FALSE(image->stretchedOnGPU);
    EXPECT_EQ(out, std::vector<uint8_t>(48, 255));
    render(*image, {DebayerRaw, false, true, 0, 255});
    EXPECT_TRUE(image->stretchedOnGPU);
}

// The sample files: every image in them, with each pattern and white balance.
TEST(SampleFilesTest, EveryRenderingImageMatches) {
    registerImageReaders();
    std::vector<Job> jobs;
    for (const char* folder : {"fits", "images", "xisf"}) {
        const QDir dir(testDataPath(folder));
        for (const QString& name : dir.entryList(QDir::Files)) {
            const QByteArray bytes = readFileBytes(dir.filePath(name));
            const QString format = "." + QFileInfo(name).suffix();
            ImagePtr probe = Image::create(bytes, format);
            for (size_t index = 0; index <= probe->extensions.size(); ++index) {
                auto make = [bytes, format, index]() -> ImagePtr {
                    ImagePtr file = Image::create(bytes, format);
                    return index == 0 ? file : file->extensions[index - 1];
                };
                const ImagePtr image = make();
                if (!image->originalImageRep) continue;
                Job job{name.toStdString() + " image " + std::to_string(index), make, {}};
                const bool grey = image->bitsPerPixel <= 16;
                for (int64_t code :
                     grey ? std::vector<int64_t>{255, 0, 1, 16, 17} : std::vector<int64_t>{255})
                    for (bool awb : {false, true})
                        job.sequence.push_back({code, awb, true});
                jobs.push_back(job);
            }
        }
    }
    if (jobs.empty()) GTEST_SKIP() << "no sample files";
    EXPECT_GE(jobs.size(), 15u);
    expectSameOnBothPaths(jobs);
}

// Threads rendering different images at once, each several times. Each image gets its
// pattern and histogram first; the threads then change only the points, as the stretch
// sliders do, so that they run the GPU pass alone. The expected bytes come from the plain
// one-thread reference loop, which the CPU path equals (RenderTest).
TEST(ThreadsTest, ManyImagesRenderAtOnce) {
    constexpr int threads = 8;
    const std::pair<int64_t, int64_t> points[] = {{100, 200}, {0, 255}, {3000, 60000}};
    struct Frame {
        ImagePtr image;
        std::vector<std::vector<uint8_t>> expected;  // per pair of points
    };
    // The frames of thread i, on the path chosen before.
    auto makeFrames = [](std::vector<Frame>& frames) {
        for (int i = 0; i < threads; ++i) {
            const int layout = std::array{8, 16, 24, 32, 33, 48}[i % 6];
            const int64_t bpp = layout == 33 ? 32 : layout, w = 97 + 31 * i, h = 61 + 17 * i;
            ImagePtr image = syntheticFrame(layout, w, h, randomPixels(bpp, w, h, uint32_t(i)));
            image->_debayer = std::array<int64_t, 4>{DebayerRGGB, 17, DebayerRaw, 2}[i % 4];
            image->_awb = i % 3 != 0;
            image->histogram();
            frames.push_back({image, {}});
        }
    };
    choosePath(true);
    std::vector<Frame> frames;
    makeFrames(frames);
    for (Frame& f : frames) {
        const Image& im = *f.image;
        const auto& rep = *im.originalImageRep;
        reference::Source source{rep.bitmapData(), im.bitsPerPixel, im.width, im.height,
                                 rep.bitmapFormat};
        reference::Settings k;
        k.debayer = im._debayer;
        std::tie(k.redCoef, k.blueCoef) =
            reference::whiteBalance(im.total4.data(), im._debayer, im._awb);
        for (auto [black, white] : points) {
            k.black = black, k.white = white;
            f.expected.push_back(reference::render(source, k));
        }
    }
    std::vector<int> mismatches(threads, 0), onGPU(threads, 0);
    std::vector<std::thread> running;
    for (int i = 0; i < threads; ++i)
        running.emplace_back([&, i] {
            Image& image = *frames[size_t(i)].image;
            for (int round = 0; round < 3; ++round)
                for (size_t k = 0; k < std::size(points); ++k) {
                    std::tie(image._blackPoint, image._whitePoint) = points[k];
                    mismatches[size_t(i)] += renderBytes(image) != frames[size_t(i)].expected[k];
                    onGPU[size_t(i)] += image.stretchedOnGPU;
                }
        });
    for (auto& t : running)
        t.join();
    for (int i = 0; i < threads; ++i) {
        EXPECT_EQ(mismatches[size_t(i)], 0) << "thread " << i;
        EXPECT_EQ(onGPU[size_t(i)], 3 * int(std::size(points))) << "thread " << i;
    }
}

}  // namespace
