// The image window with a 6000 x 4000 16-bit frame: presenting it (histogram, automatic
// points, render, the picture handed to the marker view, statistics), one re-render after the
// white-point slider is let go, and painting the visible part at zoom 0.25 and at fit.
#include "CenteringView.h"
#include "ClickableView.h"
#include "Document.h"
#include "Image.h"
#include "ImageController.h"
#include "ImageDecoding.h"

#include <QApplication>
#include <QSlider>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

namespace {

// A sky-like background with noise and a gradient, as a raw frame blob.
QByteArray skyBlob(uint32_t w, uint32_t h) {
    QByteArray bytes("RAW2");
    for (uint32_t v : {w, h})
        for (int i = 0; i < 4; ++i)
            bytes.append(char((v >> (8 * i)) & 0xff));
    bytes.resize(12 + qsizetype(w) * h * 2);
    auto* samples = reinterpret_cast<uint16_t*>(bytes.data() + 12);
    uint32_t noise = 12345;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            noise = noise * 1664525u + 1013904223u;
            samples[size_t(y) * w + x] = uint16_t(1500 + x / 8 + y / 16 + (noise >> 24));
        }
    return bytes;
}

struct Window {
    std::unique_ptr<Document> document;
    ImageController* controller = nullptr;
    ImagePtr image;

    Window() {
        registerImageReaders();
        image = Image::create(skyBlob(6000, 4000), ".raw");
        document = std::make_unique<Document>();
        document->image = image;
        document->makeWindowControllers();
        document->showWindows();
        controller = qobject_cast<ImageController*>(document->partControllers.value(0));
        controller->scrollView->setFixedSize(1200, 800);
    }
};

std::unique_ptr<Window> theWindow;  // made by the first benchmark that runs

Window& window() {
    if (!theWindow) theWindow = std::make_unique<Window>();
    return *theWindow;
}

void BM_ShowImage(benchmark::State& state) {
    Window& w = window();
    for (auto _ : state) {
        w.controller->showImage(*w.image);
        benchmark::DoNotOptimize(w.controller->clickableView->image().constBits());
    }
}
BENCHMARK(BM_ShowImage)->Unit(benchmark::kMillisecond);

// Let go of the white-point slider at a new value: points written, render, picture handed on.
void BM_RerenderAfterSliderRelease(benchmark::State& state) {
    Window& w = window();
    QSlider* slider = w.controller->whitePointSlider;
    int value = 8000;
    for (auto _ : state) {
        value = value == 8000 ? 9000 : 8000;
        slider->setSliderDown(true);
        slider->setSliderPosition(value);
        slider->setSliderDown(false);
        benchmark::DoNotOptimize(w.controller->clickableView->image().constBits());
    }
    w.controller->toggleAutomaticStretch();  // back to automatic points
}
BENCHMARK(BM_RerenderAfterSliderRelease)->Unit(benchmark::kMillisecond);

// Painting the scroll view's visible area, as a window expose does.
void paintVisible(benchmark::State& state, bool fit) {
    Window& w = window();
    if (fit)
        w.controller->zoomToFitAction();
    else {
        w.controller->zoom = 0.5;
        w.controller->zoomInAction();  // 0.25
    }
    QWidget* viewport = w.controller->scrollView->viewport();
    QImage target(viewport->size(), QImage::Format_RGB32);
    for (auto _ : state) {
        viewport->render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}

void BM_PaintZoomQuarter(benchmark::State& state) {
    paintVisible(state, false);
}
BENCHMARK(BM_PaintZoomQuarter)->Unit(benchmark::kMillisecond);

void BM_PaintFit(benchmark::State& state) {
    paintVisible(state, true);
}
BENCHMARK(BM_PaintFit)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // Settings of the benchmark's own, so the user's stored choices neither steer nor change.
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Quasel");
    QCoreApplication::setApplicationName("Quasel");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    theWindow.reset();  // the widgets go before the application
    return 0;
}
