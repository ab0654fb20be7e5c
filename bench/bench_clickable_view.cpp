// The marker view with a 6000 x 4000 frame: handing it the picture turned (at full size, and
// reduced to a 1200 x 800 view, which draws the view-sized copy), then painting a window's worth
// of it at zoom 0.25 (magnified four times), at full size, reduced by 1.1, and the whole of it
// at zoom to fit; a new picture reduced to a 1000-point view and painted, and a live window
// resize at fit.
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

// A new picture or orientation, at full size and reduced to fit a 1200 x 800 view.
void setImageTurned(benchmark::State& state, double scale) {
    for (auto _ : state) {
        ClickableView view;
        view.scale = scale;
        view.angle = 90;
        view.setImage(picture());
        benchmark::DoNotOptimize(view.frameSize());
    }
}

void BM_SetImageTurned(benchmark::State& state) {
    setImageTurned(state, 1);
}
BENCHMARK(BM_SetImageTurned)->Unit(benchmark::kMillisecond);

void BM_SetImageTurnedFit(benchmark::State& state) {
    setImageTurned(state, 5);
}
BENCHMARK(BM_SetImageTurnedFit)->Unit(benchmark::kMillisecond);

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

// Painting a 1200 x 800 window into the view at `scale`, at the view's centre, or, with
// `moving`, alternately there and 2400 points to the right (a scroll to a part not painted).
void paintWindow(benchmark::State& state, double scale, bool moving = false) {
    ClickableView view;
    view.scale = scale;
    view.angle = 90;
    view.pointMarker = QPointF(3000, 2000);
    view.setImage(picture());
    QImage target(1200, 800, QImage::Format_RGB32);
    const QSize frame = view.size();
    const QRect window(std::max(0, frame.width() / 2 - 600), std::max(0, frame.height() / 2 - 400),
                       std::min(1200, frame.width()), std::min(800, frame.height()));
    const QRect moved = window.translated(std::min(2400, frame.width() - window.right() - 1), 0);
    bool there = false;
    for (auto _ : state) {
        there = moving && !there;
        view.render(&target, QPoint(), QRegion(there ? moved : window), QWidget::DrawChildren);
        benchmark::DoNotOptimize(target.constBits());
    }
}

void BM_PaintZoomQuarter(benchmark::State& state) {
    paintWindow(state, 0.25);
}
BENCHMARK(BM_PaintZoomQuarter)->Unit(benchmark::kMillisecond);

void BM_PaintActualSize(benchmark::State& state) {
    paintWindow(state, 1);
}
BENCHMARK(BM_PaintActualSize)->Unit(benchmark::kMillisecond);

void BM_PaintActualSizeScrolled(benchmark::State& state) {
    paintWindow(state, 1, true);
}
BENCHMARK(BM_PaintActualSizeScrolled)->Unit(benchmark::kMillisecond);

// Reduced by 1.1: an averaged copy would take more bytes than the picture, so none is kept and
// every paint averages the exposed part from the picture.
void BM_PaintJustReduced(benchmark::State& state) {
    paintWindow(state, 1.1);
}
BENCHMARK(BM_PaintJustReduced)->Unit(benchmark::kMillisecond);

void BM_PaintFit(benchmark::State& state) {
    paintWindow(state, 5.0);
}
BENCHMARK(BM_PaintFit)->Unit(benchmark::kMillisecond);

// A new picture of 24 megapixels shown reduced to a 1000 x 667 view (zoom 6), unturned or
// turned a quarter, and the whole view painted: the averaging of the whole picture.
void BM_ReduceNewPicture(benchmark::State& state) {
    // Two pictures alike but for their identity, so that each one handed in is drawn afresh.
    const QImage pictures[2] = {picture(), picture().copy()};
    ClickableView view;
    view.scale = 6;
    view.angle = static_cast<double>(state.range(0));
    QImage target(1000, 1000, QImage::Format_RGB32);
    int next = 0;
    for (auto _ : state) {
        view.setImage(pictures[next]);
        next = 1 - next;
        view.render(&target, QPoint(), QRegion(view.rect()), QWidget::DrawChildren);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_ReduceNewPicture)->Arg(0)->Arg(90)->Unit(benchmark::kMillisecond)->UseRealTime();

// A window resized at zoom to fit, one step of a live resize: the zoom that fits a view a few
// points wider or narrower than the last, the picture set again, the whole view painted;
// unturned or turned a quarter.
void BM_ResizeStepAtFit(benchmark::State& state) {
    ClickableView view;
    view.scale = 6;
    view.angle = static_cast<double>(state.range(0));
    view.setImage(picture());
    QImage target(1100, 1000, QImage::Format_RGB32);
    int step = 0;
    for (auto _ : state) {
        step = (step + 1) % 40;
        view.scale = 6000.0 / (980 + 3 * step);
        view.setImage(view.image());
        view.render(&target, QPoint(), QRegion(view.rect()), QWidget::DrawChildren);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_ResizeStepAtFit)->Arg(0)->Arg(90)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
