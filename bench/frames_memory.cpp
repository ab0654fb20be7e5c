// Peak and resident memory of the image window as further frames are loaded into it (README.md,
// "Memory"): frames_memory FILE [N] opens FILE in an image window (scroll view 1200 x 800),
// paints it, then loads FILE N more times (12 by default) through the window's own loading,
// painting each, and prints VmHWM and VmRSS after the first frame and after the last.
#include "CenteringView.h"
#include "ClickableView.h"
#include "Document.h"
#include "Image.h"
#include "ImageController.h"
#include "ImageDecoding.h"

#include <QApplication>
#include <QFile>

#include <cstdio>
#include <memory>

namespace {

// The named field of /proc/self/status, in kB; 0 when it cannot be read.
long statusKB(const char* field) {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) return 0;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    return 0;
}

void settle(ImageController& controller) {
    QApplication::processEvents();
    controller.clickableView->repaint();
    QApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: frames_memory FILE [N]\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int further = argc > 2 ? std::atoi(argv[2]) : 12;
    registerImageReaders();
    auto document = std::make_unique<Document>();
    document->makeWindowControllers();
    document->showWindows();
    auto* controller = qobject_cast<ImageController*>(document->partControllers.value(0));
    if (!controller) return 1;
    controller->scrollView->setFixedSize(1200, 800);
    controller->loadImageFromPanel(true, path);
    settle(*controller);
    const long firstPeak = statusKB("VmHWM"), firstRss = statusKB("VmRSS");
    for (int i = 0; i < further; ++i) {
        controller->loadImageFromPanel(true, path);
        settle(*controller);
    }
    const long lastPeak = statusKB("VmHWM"), lastRss = statusKB("VmRSS");
    std::printf("first frame: VmHWM %ld kB, VmRSS %ld kB\n", firstPeak, firstRss);
    std::printf("after %d more: VmHWM %ld kB, VmRSS %ld kB (peak growth %.1f %%)\n", further,
                lastPeak, lastRss, 100.0 * (lastPeak - firstPeak) / double(firstPeak));
    std::fflush(stdout);
    std::_Exit(0);  // no teardown: it is not what is measured
}
