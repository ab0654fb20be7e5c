// The compute device and the kernel's program: "useGPU" false asks for no device, both are
// made once under racing threads, and a kernel that fails to build leaves the CPU path with
// one log line. The platforms are loaded only when the OpenCL probe finds a usable GPU-type
// device (or CPU devices are asked for); its answer is kept until what can change it changes
// (the GPU device nodes one can open among it), a failure for an hour only; renders never
// wait for it.
#include "DecodeHelper.h"
#include "Image.h"
#include "MetalDevice.h"
#include "SanitizerOptions.h"
#include "Settings.h"
#include "SyntheticImage.h"
#include "TestData.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

// The pass runs on PoCL here, which may compile the kernel (cold cache): see lsan.supp.
QUASEL_LSAN_FOLLOW_POCL_STACKS()

namespace {

void onCpuDevice(bool useGPU, const QByteArray& source = {}) {
    qputenv("QUASEL_OPENCL_DEVICE_TYPE", "cpu");
    userDefaults().setVolatileObject("useGPU", useGPU);
    resetMetalForTesting(source);
}

// An 8-bit grey frame rendered at points 0 and 255: the samples come back as grey bytes. The
// points are written after the histogram, which resets them, as the viewer does.
bool rendersTheSamples(Image& image) {
    image.histogram();
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

// A private cache folder, a private copy of the installed vendor files (so the platforms this
// process may load stay the same) and a stand-in for the probe program that counts its runs.
class DeviceDecisionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name :
             {"XDG_CACHE_HOME", "OCL_ICD_VENDORS", "OCL_ICD_FILENAMES", "OCL_ICD_DEFAULT_PLATFORM",
              "QUASEL_OPENCL_DEVICE_TYPE", "POCL_DEVICES", "RUSTICL_ENABLE", "CUDA_VISIBLE_DEVICES",
              "ROCR_VISIBLE_DEVICES", "HIP_VISIBLE_DEVICES", "ZE_AFFINITY_MASK",
              "FAKE_OPENCL_GPU"}) {
            saved.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
            qunsetenv(name);
        }
        qputenv("XDG_CACHE_HOME", dir.filePath("cache").toUtf8());
        vendors = dir.filePath("vendors");
        QDir().mkpath(vendors);
        for (const QString& name : QDir("/etc/OpenCL/vendors").entryList({"*.icd"}, QDir::Files))
            QFile::copy("/etc/OpenCL/vendors/" + name, vendors + "/" + name);
        qputenv("OCL_ICD_VENDORS", vendors.toUtf8());
        userDefaults().setVolatileObject("useGPU", true);
        logLines.clear();
        previous = qInstallMessageHandler(collect);
    }
    void TearDown() override {
        qInstallMessageHandler(previous);
        for (const Saved& v : saved)
            v.set ? qputenv(v.name, v.value) : qunsetenv(v.name);
        DecodeHelper::setPath({});
        setGpuNodeFolderForTesting({});
        resetMetalForTesting();
    }
    // The probe program becomes a shell script running `body` after counting its run.
    void probeRuns(const QByteArray& body) {
        const QString script = dir.filePath("probe");
        QFile file(script);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\necho run >> '" + dir.filePath("runs").toUtf8() + "'\n" + body +
                   "\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        DecodeHelper::setPath(script.toStdString());
    }
    int runs() {
        QFile file(dir.filePath("runs"));
        return file.open(QIODevice::ReadOnly) ? int(file.readAll().count('\n')) : 0;
    }
    // Looks for the device as a new process would, once the probe has answered: whether the
    // platforms were asked.
    bool platformsAsked() {
        resetMetalForTesting();
        const int before = metalDeviceLookupsForTesting();
        metalDevice();
        waitForMetalProbe();
        metalDevice();
        return metalDeviceLookupsForTesting() != before;
    }
    // A change of what the probe's key is made from, and whether it makes a start ask again.
    struct Change {
        const char* what;
        std::function<void()> make;
        bool asksAgain;
    };
    // Makes each change in turn after one probe has run: a start after it finds the platforms
    // not worth asking (no GPU), and has run the probe again exactly when the change asks
    // again. Returns the number of probe runs expected so far.
    template <size_t N>
    int expectProbeRunsAfter(const Change (&changes)[N]) {
        EXPECT_FALSE(platformsAsked());
        int expected = 1;
        for (const Change& change : changes) {
            change.make();
            expected += change.asksAgain;
            EXPECT_FALSE(platformsAsked());
            EXPECT_EQ(runs(), expected) << change.what;
        }
        return expected;
    }
    QString cacheFile() const { return dir.filePath("cache/Quasel/opencl-gpu"); }
    // Whether the cache comes to end with `end` while the probe runs in the background (within
    // a bound far above the probe's deadline).
    bool cacheComesToEndWith(const QByteArray& end) {
        for (int i = 0; i < 1000; ++i) {
            if (readFileBytes(cacheFile()).endsWith(end)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    struct Saved {
        const char* name;
        QByteArray value;
        bool set;
    };
    QList<Saved> saved;
    QTemporaryDir dir;
    QString vendors;
    QtMessageHandler previous = nullptr;
};

// What the probe does, and what two starts in a row make of it: the first runs the probe,
// the second reads its answer, a failure too, from the cache.
struct ProbeCase {
    const char* body;    // the stand-in's shell commands, or nullptr for a missing program
    bool asked;          // the platforms are loaded in process
    const char* logged;  // part of the one line logged at each start, or nullptr
    const char* kept;    // how the kept answer begins: a failure says whether it ran out of time
};
class ProbeAnswerTest : public DeviceDecisionTest,
                        public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(ProbeAnswerTest, DecidesAndRemembers) {
    const ProbeCase c = GetParam();
    if (c.body)
        probeRuns(c.body);
    else
        DecodeHelper::setPath(dir.filePath("absent").toStdString());
    for (int start = 0; start < 2; ++start)
        EXPECT_EQ(platformsAsked(), c.asked) << "start " << start;
    EXPECT_EQ(runs(), c.body ? 1 : 0);
    ASSERT_EQ(logLines.size(), c.logged ? 2 : 0) << logLines.join("\n").toStdString();
    for (const QString& line : logLines)
        EXPECT_TRUE(line.contains(c.logged) && !line.contains('\n')) << line.toStdString();
    const QByteArray text = readFileBytes(cacheFile());
    const QByteArray kept = text.mid(text.lastIndexOf('\n', text.size() - 2) + 1);
    EXPECT_TRUE(kept.startsWith(c.kept)) << kept.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Probes, ProbeAnswerTest,
    ::testing::Values(ProbeCase{"echo ok 2 >&3", true, nullptr, "gpu\n"},
                      ProbeCase{"echo ok 0 >&3", false, nullptr, "none\n"},
                      ProbeCase{"kill -SEGV $$", false, "crashed (signal 11", "failed "},
                      ProbeCase{"echo hello >&3", false, "unexpected report \"hello\"", "failed "},
                      // Its report pipe closed, it lingers: the deadline still holds.
                      ProbeCase{"exec 3>&-; exec sleep 30", false, "did not finish within 3 s",
                                "timeout "},
                      // Ended by its CPU time limit (the helper sets it on itself).
                      ProbeCase{"kill -XCPU $$", false, "exceeded its CPU time limit", "timeout "},
                      ProbeCase{nullptr, false, "cannot start", "failed "}));

TEST_F(DeviceDecisionTest, AsksAgainWhenThePlatformsChange) {
    probeRuns("echo ok 0 >&3");
    const QString icd = vendors + "/other.icd";
    const QString other = dir.filePath("other-vendors");
    QDir().mkpath(other);
    const Change changes[] = {
        {"a file that is no vendor file",
         [&] { QFile(vendors + "/notes.txt").open(QIODevice::WriteOnly); }, false},
        {"a vendor file added",
         [&] {
             QFile f(icd);
             ASSERT_TRUE(f.open(QIODevice::WriteOnly));
             f.write("libOpenCL-absent.so\n");
         },
         true},
        {"a vendor file's time",
         [&] {
             QFile f(icd);
             ASSERT_TRUE(f.open(QIODevice::ReadWrite));
             f.setFileTime(QDateTime::currentDateTime().addDays(1), QFile::FileModificationTime);
         },
         true},
        {"OCL_ICD_VENDORS", [&] { qputenv("OCL_ICD_VENDORS", other.toUtf8()); }, true},
        {"OCL_ICD_FILENAMES", [] { qputenv("OCL_ICD_FILENAMES", "/usr/lib/absent.so"); }, true},
        {"OCL_ICD_DEFAULT_PLATFORM", [] { qputenv("OCL_ICD_DEFAULT_PLATFORM", "1"); }, true},
        {"POCL_DEVICES", [] { qputenv("POCL_DEVICES", "basic"); }, true},
        {"RUSTICL_ENABLE", [] { qputenv("RUSTICL_ENABLE", "radeonsi"); }, true},
        {"CUDA_VISIBLE_DEVICES set empty", [] { qputenv("CUDA_VISIBLE_DEVICES", ""); }, true},
        {"CUDA_VISIBLE_DEVICES", [] { qputenv("CUDA_VISIBLE_DEVICES", "1"); }, true},
        {"ROCR_VISIBLE_DEVICES", [] { qputenv("ROCR_VISIBLE_DEVICES", "0"); }, true},
        {"HIP_VISIBLE_DEVICES", [] { qputenv("HIP_VISIBLE_DEVICES", "0"); }, true},
        {"ZE_AFFINITY_MASK", [] { qputenv("ZE_AFFINITY_MASK", "0.0"); }, true},
        {"a variable that chooses nothing", [] { qputenv("OCL_NOTHING", "1"); }, false},
    };
    int expected = expectProbeRunsAfter(changes);
    qunsetenv("OCL_NOTHING");
    // The user's groups (which device files can be opened): changed for a moment where this
    // process may change them.
    std::vector<gid_t> groups(size_t(getgroups(0, nullptr)));
    groups.resize(size_t(getgroups(int(groups.size()), groups.data())));
    std::vector<gid_t> more = groups;
    more.push_back(gid_t(54321));
    if (setgroups(more.size(), more.data()) == 0) {
        EXPECT_FALSE(platformsAsked());
        EXPECT_EQ(runs(), ++expected) << "a group added";
        ASSERT_EQ(setgroups(groups.size(), groups.data()), 0);
        EXPECT_FALSE(platformsAsked());
        EXPECT_EQ(runs(), ++expected) << "the group taken away";
    }
    // The boot (a driver loaded since): the key holds the boot's id.
    const QByteArray boot = readFileBytes("/proc/sys/kernel/random/boot_id").trimmed();
    ASSERT_FALSE(boot.isEmpty());
    EXPECT_TRUE(readFileBytes(cacheFile()).contains(boot));
}

// The first picture comes while the probe still runs, on the CPU; the probe's "yes" arrives
// later, and the next render looks for the device.
TEST_F(DeviceDecisionTest, RendersDoNotWaitForTheProbe) {
    const QString release = dir.filePath("release");
    probeRuns("while [ ! -e '" + release.toUtf8() + "' ]; do sleep 0.02; done; echo ok 1 >&3");
    resetMetalForTesting();
    const int before = metalDeviceLookupsForTesting();
    ImagePtr image = syntheticImage(8, 4, 1, {10, 20, 30, 40});
    EXPECT_TRUE(rendersTheSamples(*image));
    EXPECT_FALSE(image->stretchedOnGPU);
    EXPECT_EQ(metalLibrary(), nullptr);
    EXPECT_EQ(metalDevice(), nullptr);
    EXPECT_EQ(metalDeviceLookupsForTesting(), before);
    // A render that had waited would have seen the probe stopped at its deadline.
    EXPECT_TRUE(logLines.isEmpty()) << logLines.join("\n").toStdString();
    EXPECT_FALSE(QFile::exists(cacheFile()));
    writeFileBytes(release, "");
    waitForMetalProbe();
    EXPECT_TRUE(readFileBytes(cacheFile()).endsWith("\ngpu\n"));
    EXPECT_TRUE(rendersTheSamples(*image));
    EXPECT_EQ(metalDeviceLookupsForTesting(), before + 1);
    EXPECT_EQ(runs(), 1);
}

// The probe's answer arrives on its thread while other threads render: every picture has the
// samples, and the platforms are asked once, after the answer.
TEST_F(DeviceDecisionTest, TheAnswerArrivesWhileThreadsRender) {
    probeRuns("sleep 0.2; echo ok 1 >&3");
    resetMetalForTesting();
    const int before = metalDeviceLookupsForTesting();
    std::atomic<bool> answered{false};
    std::atomic<int> renders{0}, wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            // Until the answer is in, and a few renders after it.
            for (int after = 0; after < 3; after += answered.load()) {
                ImagePtr image = syntheticImage(8, 4, 1, {10, 20, 30, 40});
                wrong += !rendersTheSamples(*image);
                ++renders;
            }
        });
    waitForMetalProbe();
    answered = true;
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GE(renders.load(), 12);
    EXPECT_EQ(metalDeviceLookupsForTesting(), before + 1);
    EXPECT_EQ(runs(), 1);
}

// The probe counts only the GPU-type devices that the lookup would pick (a platform offering
// one device of the kind FAKE_OPENCL_GPU names): a "yes" is never followed by no device.
TEST_F(DeviceDecisionTest, TheProbeCountsOnlyUsableDevices) {
    const QString fake = dir.filePath("fake-vendors");
    QDir().mkpath(fake);
    writeFileBytes(fake + "/fake.icd", QByteArray(FAKE_OPENCL_PLATFORM) + "\n");
    qputenv("OCL_ICD_VENDORS", fake.toUtf8());
    for (const auto& [kind, count] :
         {std::pair{"usable", 1L}, std::pair{"unavailable", 0L}, std::pair{"no-compiler", 0L}}) {
        SCOPED_TRACE(kind);
        qputenv("FAKE_OPENCL_GPU", kind);
        std::string failure;
        EXPECT_EQ(DecodeHelper::countOpenCLGpus(failure), count) << failure;
    }
}

// Tests and benchmarks run the pass on PoCL: asking for CPU devices loads the platforms
// without the probe.
TEST_F(DeviceDecisionTest, CpuDevicesSkipTheProbe) {
    probeRuns("echo ok 0 >&3");
    qputenv("QUASEL_OPENCL_DEVICE_TYPE", "cpu");
    resetMetalForTesting();
    const MetalDevice* device = metalDevice();
    ASSERT_NE(device, nullptr) << "no CPU OpenCL device: is PoCL installed?";
    EXPECT_NE(metalLibrary(), nullptr);
    EXPECT_EQ(runs(), 0);
    EXPECT_TRUE(logLines.isEmpty());
}

// The real probe counts the GPU-type devices this process finds itself.
TEST_F(DeviceDecisionTest, TheProbeCountsGpuDevices) {
    qunsetenv("OCL_ICD_VENDORS");
    cl_uint platforms = 0, gpus = 0;
    std::vector<cl_platform_id> ids(16);
    if (clGetPlatformIDs(cl_uint(ids.size()), ids.data(), &platforms) != CL_SUCCESS) platforms = 0;
    for (cl_uint i = 0; i < std::min<cl_uint>(platforms, 16); ++i) {
        cl_uint n = 0;
        if (clGetDeviceIDs(ids[i], CL_DEVICE_TYPE_GPU, 0, nullptr, &n) == CL_SUCCESS) gpus += n;
    }
    std::string failure;
    EXPECT_EQ(DecodeHelper::countOpenCLGpus(failure), long(gpus)) << failure;
    qputenv("OCL_ICD_VENDORS", dir.filePath("none").toUtf8());
    EXPECT_EQ(DecodeHelper::countOpenCLGpus(failure), 0) << failure;
}

// A kept answer as an earlier start left it: a probe that ran to its end holds for good, a
// failure for an hour from when it was seen; an old one, or one stamped ahead of the clock,
// makes the start ask again in the background, and the new answer replaces it.
struct KeptCase {
    const char* what;
    bool previousLayout;  // kept under the key of the version before the device nodes
    const char* line;     // the kept answer; "%t" is the time it was seen
    qint64 age;           // seconds since then, also the age of the file
    bool askedAgain;      // the probe runs again and its answer replaces the kept one
    bool gpuAtOnce;       // the platforms are asked at the first call
    const char* logged;   // part of the one line logged at the start, or nullptr
};
class KeptAnswerTest : public DeviceDecisionTest, public ::testing::WithParamInterface<KeptCase> {};

TEST_P(KeptAnswerTest, HoldsOrExpires) {
    const KeptCase c = GetParam();
    probeRuns("echo ok 0 >&3");
    EXPECT_FALSE(platformsAsked());
    const QByteArray filled = readFileBytes(cacheFile());
    ASSERT_TRUE(filled.endsWith("\nnone\n")) << filled.toStdString();
    QByteArray key = filled.chopped(5);
    if (c.previousLayout) {
        // The layout before: no line of device nodes.
        QList<QByteArray> lines = key.split('\n');
        ASSERT_EQ(lines[0], "OpenCL probe 3");
        lines[0] = "OpenCL probe 2";
        lines.removeIf([](const QByteArray& l) { return l.startsWith("devices"); });
        key = lines.join('\n');
    }
    const qint64 seen = QDateTime::currentSecsSinceEpoch() - c.age;
    const QByteArray kept = key + QByteArray(c.line).replace("%t", QByteArray::number(seen)) + '\n';
    writeFileBytes(cacheFile(), kept);
    {
        // The file as old as its answer.
        QFile file(cacheFile());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.setFileTime(QDateTime::fromSecsSinceEpoch(seen), QFile::FileModificationTime);
    }

    const QString release = dir.filePath("release");
    probeRuns("while [ ! -e '" + release.toUtf8() + "' ]; do sleep 0.02; done; echo ok 1 >&3");
    logLines.clear();
    resetMetalForTesting();
    const int before = metalDeviceLookupsForTesting();
    metalDevice();  // never waits for the probe
    EXPECT_EQ(metalDeviceLookupsForTesting() != before, c.gpuAtOnce);
    writeFileBytes(release, "");
    if (c.askedAgain) {
        EXPECT_TRUE(cacheComesToEndWith("\ngpu\n")) << readFileBytes(cacheFile()).toStdString();
        metalDevice();
        EXPECT_EQ(metalDeviceLookupsForTesting(), before + 1);
        EXPECT_EQ(runs(), 2);
    } else {
        waitForMetalProbe();
        EXPECT_EQ(readFileBytes(cacheFile()).toStdString(), kept.toStdString());
        EXPECT_EQ(runs(), 1);
    }
    ASSERT_EQ(logLines.size(), c.logged ? 1 : 0) << logLines.join("\n").toStdString();
    if (c.logged) {
        EXPECT_TRUE(logLines[0].contains(c.logged)) << logLines[0].toStdString();
    }
}

constexpr qint64 kMinutes = 60;
INSTANTIATE_TEST_SUITE_P(
    Ages, KeptAnswerTest,
    ::testing::Values(
        KeptCase{"a recent timeout", false, "timeout %t /p did not finish within 3 s",
                 50 * kMinutes, false, false, "/p did not finish within 3 s at an earlier start"},
        KeptCase{"a recent crash", false, "failed %t /p crashed (signal 11)", 10 * kMinutes, false,
                 false, "/p crashed (signal 11) at an earlier start"},
        KeptCase{"an old timeout", false, "timeout %t /p did not finish within 3 s", 61 * kMinutes,
                 true, false, nullptr},
        KeptCase{"an old crash", false, "failed %t /p crashed (signal 11)", 2 * 60 * kMinutes, true,
                 false, nullptr},
        KeptCase{"a timeout ahead of the clock", false, "timeout %t /p did not finish",
                 -60 * kMinutes, true, false, nullptr},
        KeptCase{"a failure without a time", false, "failed /p crashed (signal 11)", 0, true, false,
                 nullptr},
        KeptCase{"a day-old none", false, "none", 24 * 60 * kMinutes, false, false, nullptr},
        KeptCase{"a day-old gpu", false, "gpu", 24 * 60 * kMinutes, false, true, nullptr},
        KeptCase{"the previous version's none", true, "none", 0, true, false, nullptr},
        KeptCase{"the previous version's failure", true, "failed /p did not finish within 3 s", 0,
                 true, false, nullptr}),
    [](const ::testing::TestParamInfo<KeptCase>& info) {
        std::string name;
        for (const char* p = info.param.what; *p; ++p)
            if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
        return name;
    });

// The key holds the GPU device nodes the user can open: a login seat grants them by an ACL,
// which the groups do not show. Nodes in a folder of the test's stand in for /dev.
TEST_F(DeviceDecisionTest, AsksAgainWhenTheOpenableGpuNodesChange) {
    const QString dev = dir.filePath("dev");
    QDir().mkpath(dev + "/dri");
    setGpuNodeFolderForTesting(dev);
    probeRuns("echo ok 0 >&3");
    const auto node = [&](const char* name) {
        return [=] { writeFileBytes(dev + '/' + name, ""); };
    };
    const Change changes[] = {
        {"a card node", node("dri/card0"), false},
        {"a render node", node("dri/renderD128"), true},
        {"a second render node", node("dri/renderD129"), true},
        {"AMD's compute node", node("kfd"), true},
        {"an NVIDIA node", node("nvidia0"), true},
        {"NVIDIA's control node", node("nvidiactl"), true},
        {"a folder of NVIDIA's", [&] { QDir().mkpath(dev + "/nvidia-caps"); }, false},
        {"a node of no GPU", node("video0"), false},
        // Listed, but this user cannot open it.
        {"a render node that cannot be opened",
         [&] { QFile::link(dev + "/absent", dev + "/dri/renderD130"); }, false},
        {"it can be opened", node("absent"), true},
        {"a render node gone", [&] { QFile::remove(dev + "/dri/renderD129"); }, true},
        {"the same nodes made anew in another order",
         [&] {
             for (const char* name : {"nvidiactl", "nvidia0", "kfd", "dri/renderD128"}) {
                 QFile::remove(dev + '/' + name);
                 node(name)();
             }
         },
         false},
    };
    int expected = expectProbeRunsAfter(changes);
    // Permissions bind only a user other than root.
    if (geteuid() != 0) {
        QFile::setPermissions(dev + "/kfd", QFileDevice::ReadOwner);
        EXPECT_FALSE(platformsAsked());
        EXPECT_EQ(runs(), ++expected) << "a node that cannot be written";
    }
}

}  // namespace
