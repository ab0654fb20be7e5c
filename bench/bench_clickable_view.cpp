// The marker view with a 6000 x 4000 frame: turning the picture once, then painting a window's
// worth of it at zoom 0.25 (magnified four times) and the whole of it at zoom to fit.
#include "ClickableView.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

namespace {

QImage bigPicture() {
    QImage picture(6000, 4000, QImage::Format_RGB888);
    for (int y = 0; y < picture.height(); ++y) {
        uchar* row = picture.scanLine(y);
        for (int x = 0; x < picture.width() * 3; ++x)
            row[x] = static_cast<uchar>((x ^ y) & 0xff);
    }
    return picture;
}

const QImage& picture() {
    static const QImage p = bigPicture();
    return p;
}

// Turning: made once per picture or orientation change.
void BM_SetImageTurned(benchmark::State& state) {
    for (auto _ : state) {
        ClickableView view;
        view.scale = 1;
        view.angle = 90;
        view.setImage(picture());
        benchmark::DoNotOptimize(view.displayedPicture().constBits());
    }
}
BENCHMARK(BM_SetImageTurned)->Unit(benchmark::kMillisecond);

// A zoom change keeps the turned picture: only the frame changes.
void BM_SetImageSameOrientation(benchmark::State& state) {
    ClickableView view;
    view.angle = 90;
    view.scale = 1;
    view.setImage(picture());
    for (auto _ : state) {
        view.scale = view.scale == 1 ? 0.25 : 1;
        view.setImage(view.image());
    }
}
BENCHMARK(BM_SetImageSameOrientation)->Unit(benchmark::kMicrosecond);

// Painting a 1200 x 800 window into the view at `scale`, at the view's centre.
void paintWindow(benchmark::State& state, double scale) {
    ClickableView view;
    view.scale = scale;
    view.angle = 90;
    view.pointMarker = QPointF(3000, 2000);
    view.setImage(picture());
    QImage target(1200, 800, QImage::Format_RGB32);
    const QSize frame = view.size();
    const QRect window(std::max(0, frame.width() / 2 - 600), std::max(0, frame.height() / 2 - 400),
                       std::min(1200, frame.width()), std::min(800, frame.height()));
    for (auto _ : state) {
        view.render(&target, QPoint(), QRegion(window), QWidget::DrawChildren);
        benchmark::DoNotOptimize(target.constBits());
    }
}

void BM_PaintZoomQuarter(benchmark::State& state) {
    paintWindow(state, 0.25);
}
BENCHMARK(BM_PaintZoomQuarter)->Unit(benchmark::kMillisecond);

void BM_PaintFit(benchmark::State& state) {
    paintWindow(state, 5.0);
}
BENCHMARK(BM_PaintFit)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
