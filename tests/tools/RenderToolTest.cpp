// quasel-tool render and the statistics of quasel-tool info, run as separate processes.
#include "../image/ReferenceRender.h"
#include "../image/SyntheticImage.h"
#include "SanitizerOptions.h"
#include "TestData.h"
#include "ToolRunner.h"

#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

// The environment in which settings are read from `configHome`.
QProcessEnvironment configIn(const QString& configHome) {
    QProcessEnvironment env;
    if (!configHome.isEmpty()) env.insert("XDG_CONFIG_HOME", configHome);
    return env;
}

class RenderToolTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QString write(const QString& name, const QByteArray& bytes) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    static std::vector<uint8_t> rgbBytes(const QImage& picture) {
        const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
        std::vector<uint8_t> out;
        for (int y = 0; y < rgb.height(); ++y)
            out.insert(out.end(), rgb.constScanLine(y), rgb.constScanLine(y) + 3 * rgb.width());
        return out;
    }
    QJsonObject info(const QStringList& args, const QString& configHome = {}) {
        return runToolJson(QStringList{"info"} + args, 0, configIn(configHome));
    }
};

TEST_F(RenderToolTest, WritesWhatTheReferenceComputes) {
    const int64_t w = 37, h = 23;
    const auto px = randomPixels(16, w, h, 11);
    const QString blob = write("frame.raw", rawBlob("RAW2", w, h, px));
    reference::Source source{px.data(), 16, w, h, 0};

    // Given points, PNG and PPM.
    for (QString name : {"out.png", "out.ppm"}) {
        const QString out = dir.filePath(name);
        const ToolRun r = runTool({"render", blob, out, "--black", "1000", "--white", "50000"});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        reference::Settings k;
        k.black = 1000, k.white = 50000;
        const QByteArray file = readFileBytes(out);
        if (name.endsWith(".ppm")) {
            const QByteArray header = QString("P6\n%1 %2\n255\n").arg(w).arg(h).toLatin1();
            ASSERT_TRUE(file.startsWith(header));
            const auto expected = reference::render(source, k);
            ASSERT_EQ(file.size(), header.size() + qsizetype(expected.size()));
            EXPECT_EQ(
                0, std::memcmp(file.constData() + header.size(), expected.data(), expected.size()));
        } else {
            EXPECT_TRUE(file.startsWith("\x89PNG"));
            EXPECT_EQ(rgbBytes(QImage(out)), reference::render(source, k));
        }
    }

    // Automatic points, as info reports them.
    const QJsonObject stats = info({blob});
    const QString out = dir.filePath("auto.png");
    ASSERT_EQ(runTool({"render", blob, out}).exitCode, 0);
    reference::Settings k;
    k.black = stats["autoBlackPoint"].toInteger();
    k.white = stats["autoWhitePoint"].toInteger();
    EXPECT_EQ(rgbBytes(QImage(out)), reference::render(source, k));

    // JPEG: the same size, lossy.
    const QString jpeg = dir.filePath("out.jpg");
    ASSERT_EQ(runTool({"render", blob, jpeg}).exitCode, 0);
    EXPECT_TRUE(readFileBytes(jpeg).startsWith("\xff\xd8"));
    EXPECT_EQ(QImage(jpeg).size(), QSize(w, h));
}

TEST_F(RenderToolTest, PatternWhiteBalanceAndHighlight) {
    // rggb sites of 200 / 100 / 50 with white balance: grey 100 inside.
    const int64_t w = 8, h = 6;
    std::vector<uint8_t> px(size_t(w * h));
    for (int64_t y = 0; y < h; ++y)
        for (int64_t x = 0; x < w; ++x)
            px[size_t(y * w + x)] = (x % 2 == 0 && y % 2 == 0) ? 200 : (x % 2 && y % 2) ? 50 : 100;
    const QString blob = write("bayer.raw", rawBlob("RAW1", w, h, px));
    const QString out = dir.filePath("bayer.png");
    ASSERT_EQ(runTool({"render", blob, out, "--pattern", "rggb", "--awb", "--black", "0", "--white",
                       "255"})
                  .exitCode,
              0);
    const QImage picture(out);
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x)
            EXPECT_EQ(picture.pixel(x, y), qRgb(100, 100, 100));

    // A saturated pixel: red by default, white with --no-highlight; the setting is left alone.
    const QString hot = write("hot.raw", rawBlob("RAW1", 2, 2, {255, 10, 20, 30}));
    ASSERT_EQ(runTool({"render", hot, out, "--black", "0", "--white", "255"}).exitCode, 0);
    EXPECT_EQ(QImage(out).pixel(0, 0), qRgb(255, 0, 0));
    ASSERT_EQ(
        runTool({"render", hot, out, "--black", "0", "--white", "255", "--no-highlight"}).exitCode,
        0);
    EXPECT_EQ(QImage(out).pixel(0, 0), qRgb(255, 255, 255));
    const QByteArray settings =
        readFileBytes(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Quasel/Quasel.conf");
    EXPECT_FALSE(settings.contains("highlightOverexposure"));
}

TEST_F(RenderToolTest, ExtensionsAndFailures) {
    const QString multi = testDataPath("fits/multi.fits");
    REQUIRE_TEST_FILE(multi);
    const QString out = dir.filePath("ext.png");
    ASSERT_EQ(runTool({"render", multi, out, "--extension", "1"}).exitCode, 0);
    EXPECT_EQ(QImage(out).size(), QSize(132, 288));
    EXPECT_EQ(runTool({"render", multi, out, "--extension", "4"}).exitCode, 1);
    EXPECT_EQ(runTool({"render", multi, out, "--extension", "0"}).exitCode, 1);  // no pixels
    EXPECT_EQ(runTool({"render", dir.filePath("missing.fits"), out}).exitCode, 1);
    EXPECT_EQ(runTool({"render", testDataPath("fits/rate.fit"), out}).exitCode, 1);  // a table
    EXPECT_EQ(runTool({"render", multi}).exitCode, 2);
    EXPECT_EQ(runTool({"render", multi, out, "--pattern", "rgbg"}).exitCode, 2);
    EXPECT_EQ(runTool({"render", multi, out, "--black", "dark"}).exitCode, 2);
    EXPECT_EQ(
        runTool({"render", multi, dir.filePath("no/such/dir/x.png"), "--extension", "1"}).exitCode,
        1);
}

TEST_F(RenderToolTest, InfoPrintsTheStatistics) {
    const QString flat =
        write("flat.raw", rawBlob("RAW1", 64, 64, std::vector<uint8_t>(64 * 64, 100)));
    QJsonObject o = info({flat});
    EXPECT_EQ(o["min"].toInteger(), 100);
    EXPECT_EQ(o["max"].toInteger(), 100);
    EXPECT_EQ(o["average"].toInteger(), 100);
    EXPECT_EQ(o["median"].toInteger(), 100);
    EXPECT_EQ(o["q1"].toInteger(), 100);
    EXPECT_EQ(o["q3"].toInteger(), 100);
    EXPECT_EQ(o["autoBlackPoint"].toInteger(), 98);
    EXPECT_EQ(o["autoWhitePoint"].toInteger(), 102);
    EXPECT_EQ(o["isColour"].toBool(), false);
    EXPECT_EQ(o["total4"].toArray(), (QJsonArray{0, 0, 0, 0}));

    // With a pattern: the sums of the sampled cells (64 cells of four 100s, step 4).
    o = info({flat, "--pattern", "rggb"});
    EXPECT_EQ(o["total4"].toArray(), (QJsonArray{6400, 6400, 6400, 6400}));
    EXPECT_EQ(info({flat, "--pattern", "0"})["total4"], o["total4"]);

    // Text output names the keys too.
    const ToolRun text = runTool({"info", flat});
    for (const char* key : {"min: 100", "autoWhitePoint: 102", "isColour: no", "total4: "})
        EXPECT_TRUE(text.out.contains(key)) << key;

    // Children carry their own statistics.
    const QString multi = testDataPath("fits/multi.fits");
    if (QFile::exists(multi)) {
        o = info({multi});
        const QJsonArray children = o["extensions"].toArray();
        ASSERT_EQ(children.size(), 3);
        EXPECT_GT(children[0].toObject()["max"].toInteger(), 0);
    }
}

TEST_F(RenderToolTest, SamplingStepComesFromTheSettings) {
    // A 6 x 6 frame of 3 x 3 cells: step 4 samples the first cell, step 2 the four corner
    // cells (columns and rows 0, 1, 4, 5), step 1 every pixel.
    const int side = 6;
    std::vector<uint8_t> px(side * side);
    for (size_t i = 0; i < px.size(); ++i)
        px[i] = uint8_t(5 * (i + 1));
    const QString frame = write("small.raw", rawBlob("RAW1", side, side, px));
    auto sumOver = [&](std::initializer_list<int> taken) {
        int64_t sum = 0;
        for (int y : taken)
            for (int x : taken)
                sum += px[size_t(y * side + x)];
        return sum;
    };
    const int64_t firstCell = sumOver({0, 1}), corners = sumOver({0, 1, 4, 5});
    const int64_t all = sumOver({0, 1, 2, 3, 4, 5});
    struct Case {
        const char* stored;
        int64_t average;
    };
    const Case cases[] = {{nullptr, firstCell / 4},
                          {"0", all / 36},
                          {"1", all / 36},
                          {"-2", corners / 16},
                          {"2", corners / 16}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "absent");
        QTemporaryDir home;
        if (c.stored) {
            QDir(home.path()).mkpath("Quasel");
            QFile conf(home.filePath("Quasel/Quasel.conf"));
            ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
            conf.write(QByteArray("[General]\nhistogramSample=") + c.stored + "\n");
        }
        EXPECT_EQ(info({frame}, home.path())["average"].toInteger(), c.average);
    }
}

}  // namespace

namespace {

// --json names the path that rendered: the GPU pass on the CPU OpenCL device, or the CPU path
// when the OpenCL loader finds no platform; the picture is the same.
TEST_F(RenderToolTest, JsonNamesThePath) {
    const int64_t w = 29, h = 17;
    const auto px = randomPixels(16, w, h, 5);
    const QString blob = write("frame.raw", rawBlob("RAW2", w, h, px));
    reference::Source source{px.data(), 16, w, h, 0};
    reference::Settings k;
    k.black = 300, k.white = 60000;
    struct Case {
        const char* vendors;  // OCL_ICD_VENDORS, or nullptr for the installed platforms
        bool gpu;
    };
    for (const Case c : {Case{nullptr, true}, Case{"/nonexistent-opencl-vendors", false}}) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QUASEL_OPENCL_DEVICE_TYPE", "cpu");
        // The tool runs the pass on PoCL, which may compile the kernel: see lsan.supp.
        env.insert("LSAN_OPTIONS", env.value("LSAN_OPTIONS") + QUASEL_LSAN_THROUGH_POCL);
        if (c.vendors) env.insert("OCL_ICD_VENDORS", c.vendors);
        process.setProcessEnvironment(env);
        const QString out = dir.filePath("json.ppm");
        process.start(QUASEL_TOOL_PATH,
                      {"render", blob, out, "--black", "300", "--white", "60000", "--json"});
        ASSERT_TRUE(process.waitForFinished(60000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        const QJsonObject o = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
        EXPECT_EQ(o["gpu"].toBool(!c.gpu), c.gpu);
        EXPECT_EQ(o["device"].isString(), c.gpu);
        EXPECT_EQ(o["device"].isNull(), !c.gpu);
        EXPECT_EQ(rgbBytes(QImage(out)), reference::render(source, k));
    }
}

}  // namespace

namespace {

// Renders `blob` with the copy of the tool in `folder` under `env`; the CPU path is taken.
void renderWithToolIn(const QTemporaryDir& folder, const QString& blob,
                      const QProcessEnvironment& env) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(folder.filePath("quasel-tool"),
                  {"render", blob, folder.filePath("out.png"), "--json"});
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    const QJsonObject o = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    EXPECT_FALSE(o["gpu"].toBool(true));
}

// The tool renders once, so it waits for the OpenCL probe when the cache has no answer (at
// most the probe's deadline), and the answer, a failure too, is kept: the next run does not
// ask again. The probe is a stand-in beside a copy of the tool, counting its runs.
TEST_F(RenderToolTest, WaitsForTheProbeOnce) {
    const QString blob = write("frame.raw", rawBlob("RAW1", 2, 2, {10, 20, 30, 40}));
    struct Case {
        const char* name;
        const char* probe;  // the stand-in's shell commands after counting its run
        const char* kept;   // how the kept answer ends
    };
    const Case cases[] = {
        {"answers late", "sleep 0.5; echo ok 0 >&3", "\nnone\n"},
        {"hangs", "exec sleep 30", " did not finish within 3 s and was stopped\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        ASSERT_TRUE(QFile::copy(QUASEL_TOOL_PATH, folder.filePath("quasel-tool")));
        const QString runs = folder.filePath("runs");
        QFile probe(folder.filePath("quasel-decode"));
        ASSERT_TRUE(probe.open(QIODevice::WriteOnly));
        probe.write("#!/bin/sh\necho run >> '" + runs.toUtf8() + "'\n" + c.probe + "\n");
        probe.close();
        probe.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CACHE_HOME", folder.filePath("cache"));
        env.remove("QUASEL_OPENCL_DEVICE_TYPE");
        for (int run = 0; run < 2; ++run)
            renderWithToolIn(folder, blob, env);
        EXPECT_EQ(readFileBytes(runs), "run\n");
        EXPECT_TRUE(readFileBytes(folder.filePath("cache/Quasel/opencl-gpu")).endsWith(c.kept));
    }
}

// A failure kept for over an hour makes the tool's start ask again. It waits for the answer
// after a crash, which comes at once, but not after a timeout, which would likely cost the
// deadline again: it renders on the CPU, and the probe it leaves at exit keeps nothing.
TEST_F(RenderToolTest, DoesNotWaitAgainAfterATimeout) {
    const QString blob = write("frame.raw", rawBlob("RAW1", 2, 2, {10, 20, 30, 40}));
    struct Case {
        const char* name;
        const char* kept;   // the kept failure, seen two hours ago
        const char* probe;  // the stand-in's shell commands after counting its run
        bool waited;        // the probe's answer "none" replaces the kept failure
    };
    const Case cases[] = {
        // Within the deadline, but long after the render.
        {"after a timeout", "timeout", "sleep 2.5; echo ok 0 >&3", false},
        {"after a crash", "failed", "sleep 1; echo ok 0 >&3", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        ASSERT_TRUE(QFile::copy(QUASEL_TOOL_PATH, folder.filePath("quasel-tool")));
        const QString cache = folder.filePath("cache/Quasel/opencl-gpu");
        const auto probeRuns = [&](const QByteArray& body) {
            QFile probe(folder.filePath("quasel-decode"));
            ASSERT_TRUE(probe.open(QIODevice::WriteOnly | QIODevice::Truncate));
            probe.write("#!/bin/sh\necho run >> '" + folder.filePath("runs").toUtf8() + "'\n" +
                        body + "\n");
            probe.close();
            probe.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        };
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CACHE_HOME", folder.filePath("cache"));
        env.remove("QUASEL_OPENCL_DEVICE_TYPE");
        const auto render = [&] { renderWithToolIn(folder, blob, env); };
        // A first run keeps an answer under this machine's key; the test then makes it old.
        probeRuns("echo ok 0 >&3");
        render();
        const QByteArray filled = readFileBytes(cache);
        ASSERT_TRUE(filled.endsWith("\nnone\n")) << filled.toStdString();
        const QByteArray kept = filled.chopped(5) + c.kept + ' ' +
                                QByteArray::number(QDateTime::currentSecsSinceEpoch() - 2 * 3600) +
                                " /stand-in/quasel-decode gave no answer\n";
        writeFileBytes(cache, kept);

        probeRuns(c.probe);
        render();
        EXPECT_EQ(readFileBytes(cache).toStdString(), (c.waited ? filled : kept).toStdString());
    }
}

}  // namespace
