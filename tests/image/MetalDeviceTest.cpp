// The compute device and the kernel's program: "useGPU" false asks for no device, both are
// made once under racing threads, and a kernel that fails to build leaves the CPU path with
// one log line.
#include "Image.h"
#include "MetalDevice.h"
#include "Settings.h"
#include "SyntheticImage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace {

void onCpuDevice(bool useGPU, const QByteArray& source = {}) {
    qputenv("QUASEL_OPENCL_DEVICE_TYPE", "cpu");
    userDefaults().setVolatileObject("useGPU", useGPU);
    resetMetalForTesting(source);
}

// An 8-bit grey frame rendered at points 0 and 255: the samples come back as grey bytes.
bool rendersTheSamples(Image& image) {
    image._blackPoint = 0;
    image._whitePoint = 256;
    image.cached = QImage();
    const QImage picture = image.renderedImage();
    if (picture.size() != QSize(4, 1)) return false;
    for (int p = 0; p < 4; ++p)
        for (int c = 0; c < 3; ++c)
            if (picture.constScanLine(0)[3 * p + c] != 10 * (p + 1)) return false;
    return true;
}

TEST(MetalDeviceTest, UseGPUFalseAsksForNoDevice) {
    onCpuDevice(false);
    const int lookups = metalDeviceLookupsForTesting();
    EXPECT_EQ(metalDevice(), nullptr);
    EXPECT_EQ(metalLibrary(), nullptr);
    ImagePtr image = syntheticImage(8, 4, 1, {10, 20, 30, 40});
    EXPECT_TRUE(rendersTheSamples(*image));
    EXPECT_FALSE(image->stretchedOnGPU);
    // Storing true takes effect at the next start only.
    userDefaults().setVolatileObject("useGPU", true);
    EXPECT_EQ(metalDevice(), nullptr);
    EXPECT_EQ(metalDeviceLookupsForTesting(), lookups);
}

TEST(MetalDeviceTest, MadeOnceWhileThreadsRace) {
    onCpuDevice(true);
    const int lookups = metalDeviceLookupsForTesting();
    constexpr int threads = 12;
    std::atomic<int> waiting{threads};
    std::vector<const MetalDevice*> devices(threads);
    std::vector<cl_program> libraries(threads);
    std::vector<std::thread> running;
    for (int i = 0; i < threads; ++i)
        running.emplace_back([&, i] {
            --waiting;
            while (waiting.load() > 0)
                std::this_thread::yield();
            // Half ask for the program first, which makes the device on its way.
            if (i % 2) libraries[size_t(i)] = metalLibrary();
            devices[size_t(i)] = metalDevice();
            if (!(i % 2)) libraries[size_t(i)] = metalLibrary();
        });
    for (auto& t : running)
        t.join();
    ASSERT_NE(devices[0], nullptr) << "no CPU OpenCL device: is PoCL installed?";
    EXPECT_FALSE(devices[0]->name.isEmpty());
    EXPECT_NE(libraries[0], nullptr);
    for (int i = 1; i < threads; ++i) {
        EXPECT_EQ(devices[size_t(i)], devices[0]);
        EXPECT_EQ(libraries[size_t(i)], libraries[0]);
    }
    EXPECT_EQ(metalDeviceLookupsForTesting(), lookups + 1);
}

std::mutex logMutex;
QStringList logLines;
void collect(QtMsgType, const QMessageLogContext&, const QString& message) {
    std::lock_guard<std::mutex> lock(logMutex);
    logLines << message;
}

// Kernels that cannot serve: the render takes the CPU path every time, without a crash.
struct BrokenCase {
    const char* source;
    int logLines;  // lines logged over all renders
};
class BrokenKernelTest : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenKernelTest, RendersOnTheCpu) {
    onCpuDevice(true, GetParam().source);
    logLines.clear();
    QtMessageHandler previous = qInstallMessageHandler(collect);
    for (int i = 0; i < 3; ++i) {
        ImagePtr image = syntheticImage(8, 4, 1, {10, 20, 30, 40});
        EXPECT_TRUE(rendersTheSamples(*image));
        EXPECT_FALSE(image->stretchedOnGPU);
        EXPECT_EQ(image->metalBitmapData, nullptr);
    }
    qInstallMessageHandler(previous);
    EXPECT_NE(metalDevice(), nullptr);
    ASSERT_EQ(logLines.size(), GetParam().logLines) << logLines.join("\n").toStdString();
    if (GetParam().logLines) {
        EXPECT_TRUE(logLines[0].contains("stretch kernel failed to build"))
            << logLines[0].toStdString();
        EXPECT_FALSE(logLines[0].contains('\n'));
    }
    onCpuDevice(true);  // the carried kernel again for the tests that follow
}

INSTANTIATE_TEST_SUITE_P(
    Sources, BrokenKernelTest,
    ::testing::Values(BrokenCase{"kernel void stretch(global uchar* out) { this is not C }", 1},
                      BrokenCase{"kernel void other(global uchar* out) { out[0] = 1; }", 0}));

TEST(MetalDeviceTest, TheCarriedKernelRenders) {
    onCpuDevice(true);
    ImagePtr image = syntheticImage(8, 4, 1, {10, 20, 30, 40});
    EXPECT_TRUE(rendersTheSamples(*image));
    EXPECT_TRUE(image->stretchedOnGPU);
    EXPECT_NE(image->metalBitmapData, nullptr);
}

}  // namespace
