// Memory the marker view keeps beside the picture it is given (README.md, "Memory"):
// view_memory [RATIO [WIDTH HEIGHT]] shows a WIDTH x HEIGHT picture (8000 x 6000 by default) in
// a 1600 x 1000 scroll view on a screen of device pixel ratio RATIO (2 by default, offscreen),
// at zooms from 0.5 to 8, paints the scroll view's inside at that ratio, and prints for each
// zoom the heap the view holds then (bytes in use by the allocator, taken before the picture is
// handed in and after the paint) and the bytes of the copies the view says it keeps.
#include "ClickableView.h"

#include <QApplication>
#include <QScrollArea>
#include <QTemporaryFile>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Bytes the allocator has handed out and not had back, mapped blocks included.
double heapBytes() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<double>(m.uordblks + m.hblkhd);
}

}  // namespace

int main(int argc, char** argv) {
    const double ratio = argc > 1 ? std::atof(argv[1]) : 2.0;
    const int width = argc > 3 ? std::atoi(argv[2]) : 8000;
    const int height = argc > 3 ? std::atoi(argv[3]) : 6000;
    // One offscreen screen of the ratio asked for.
    QTemporaryFile screens;
    if (!screens.open()) return 1;
    screens.write(QByteArray("{\"screens\": [{\"name\": \"s\", \"width\": 3840, \"height\": 2400, "
                             "\"dpr\": ") +
                  QByteArray::number(ratio) + "}]}");
    screens.flush();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screens.fileName().toLocal8Bit());
    QApplication app(argc, argv);

    QImage picture(width, height, QImage::Format_RGB888);
    if (picture.isNull()) return 1;
    for (int y = 0; y < height; ++y) {
        uchar* row = picture.scanLine(y);
        for (int x = 0; x < width * 3; ++x)
            row[x] = static_cast<uchar>((x ^ y) & 0xff);
    }
    std::printf("picture %d x %d (%.1f MB as 24-bit, %.1f MB as 32-bit), ratio %g\n", width, height,
                width * 3.0 * height / 1e6, width * 4.0 * height / 1e6, ratio);
    std::printf("zoom   view (points)    heap MB  kept MB\n");
    // 1.1 and 2.2 are just above ratios 1 and 2: reduced, yet an averaged copy at 4 bytes a
    // device pixel would outweigh the picture's 3 bytes a pixel.
    for (double zoom : {0.5, 0.75, 1.0, 1.1, 1.25, 1.5, 1.75, 2.0, 2.2, 3.0, 5.0, 8.0}) {
        QScrollArea area;
        area.resize(1600, 1000);
        auto* view = new ClickableView;
        area.setWidget(view);
        area.show();
        QApplication::processEvents();
        // The scroll view's inside painted at the screen's ratio, as a window on it paints (the
        // offscreen platform's own window surface stays at one pixel per point).
        QImage device(area.viewport()->size() * ratio, QImage::Format_RGB32);
        device.setDevicePixelRatio(ratio);
        device.fill(0);
        const double before = heapBytes();
        view->scale = zoom;
        view->setImage(picture);
        QApplication::processEvents();
        area.viewport()->render(&device);
        std::printf("%-6g %6.0f x %-6.0f %8.1f %8.1f\n", zoom, view->frameSize().width(),
                    view->frameSize().height(), (heapBytes() - before) / 1e6,
                    view->keptBytes() / 1e6);
    }
    return 0;
}
