// Test helpers for the image window: synthetic frames as raw blobs, and a real "Image" window
// (built by the layout through a Document) showing one of them.
#pragma once

#include "Document.h"
#include "Image.h"
#include "ImageController.h"
#include "ImageDecoding.h"
#include "PanelWindow.h"
#include "Settings.h"

#include <QApplication>
#include <QByteArray>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>

#include <cstdint>
#include <functional>
#include <memory>

namespace testing_image_window {

inline void appendLE32(QByteArray& bytes, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes.append(char((v >> (8 * i)) & 0xff));
}

// A raw frame blob of `w` x `h` samples, `sample(x, y)` with y counted from the top row.
inline QByteArray rawBlob16(int w, int h, const std::function<uint16_t(int, int)>& sample) {
    QByteArray bytes("RAW2");
    appendLE32(bytes, uint32_t(w));
    appendLE32(bytes, uint32_t(h));
    bytes.reserve(12 + qsizetype(w) * h * 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint16_t v = sample(x, y);
            bytes.append(char(v & 0xff));  // native order of the machines we run on
            bytes.append(char(v >> 8));
        }
    return bytes;
}

inline QByteArray rawBlob8(int w, int h, const std::function<uint8_t(int, int)>& sample) {
    QByteArray bytes("RAW1");
    appendLE32(bytes, uint32_t(w));
    appendLE32(bytes, uint32_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            bytes.append(char(sample(x, y)));
    return bytes;
}

inline ImagePtr imageOf(const QByteArray& bytes) {
    registerImageReaders();
    return Image::create(bytes, ".raw");
}

inline ImagePtr uniform16(int w, int h, uint16_t value) {
    return imageOf(rawBlob16(w, h, [value](int, int) { return value; }));
}

inline ImagePtr uniform8(int w, int h, uint8_t value) {
    return imageOf(rawBlob8(w, h, [value](int, int) { return value; }));
}

// The settings the image window reads and writes, removed before and after each test.
struct WindowSettings {
    WindowSettings() { clear(); }
    ~WindowSettings() { clear(); }
    static void clear() {
        for (const char* key : {"automaticStretch", "awb", "debayer"})
            userDefaults().removeObject(key);
    }
};

// The panel choices and window frames the panel window reads and writes, removed before and
// after each test.
struct PanelSettings {
    PanelSettings() { clear(); }
    ~PanelSettings() { clear(); }
    static void clear() {
        for (const char* key :
             {"leftPanels", "rightPanels", "bottomPanels", "miniView", "normalFrame", "miniFrame"})
            userDefaults().removeObject(key);
    }
};

// A document whose main window shows `image`, built and shown the way the program does it.
class ImageWindow {
  public:
    explicit ImageWindow(const ImagePtr& image) : document_(std::make_unique<Document>()) {
        document_->image = image;
        document_->makeWindowControllers();
        document_->showWindows();
        controller = qobject_cast<ImageController*>(document_->partControllers.value(0));
    }

    ~ImageWindow() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w)) delete box;
        document_.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    ImageWindow(const ImageWindow&) = delete;
    ImageWindow& operator=(const ImageWindow&) = delete;

    Document& document() { return *document_; }

    ImageController* controller = nullptr;

  private:
    std::unique_ptr<Document> document_;
};

// Lets the tasks that follow an action by 0.1 s run: waits until no image window has one
// waiting (at most 20 s). A fixed wait missed them on a loaded machine, where the timer that
// runs them fires late.
inline void waitForLaterTasks() {
    auto waiting = [] {
        for (QWidget* window : QApplication::topLevelWidgets())
            for (const ImageController* c : window->findChildren<ImageController*>())
                if (c->hasLaterTasks()) return true;
        return false;
    };
    QElapsedTimer clock;
    clock.start();
    while (waiting() && clock.elapsed() < 20000)
        QTest::qWait(5);
}

// The alert shown now, or nullptr.
inline QMessageBox* visibleAlert() {
    for (QWidget* w : QApplication::allWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
    return nullptr;
}

}  // namespace testing_image_window
