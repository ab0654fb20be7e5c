// Fuzz target: any file's bytes as the viewer opens them: the decoder registry (raw frame
// blob, FITS, XISF, then Qt's picture readers), then the histogram and the rendered picture
// of the Image and of every further HDU. Tile-compressed HDUs are decoded by the helper
// program, as in the viewer.
#include "FuzzSupport.h"
#include "Image.h"

#include <QCoreApplication>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Qt's image plugins are found through the application object.
    static QCoreApplication app(*argc, *argv);
    registerImageReaders();
    requireDecodeHelper();
    return 0;
}

static void exercise(Image& image) {
    if (!image.hasPicture()) return;
    keep(touchBitmap(*image.originalImageRep));
    const QImage histogram = image.histogram();
    const QImage picture = image.renderedImage();
    keep(uint64_t(histogram.width()) + uint64_t(picture.sizeInBytes()));
    if (!picture.isNull()) keep(picture.constBits()[picture.sizeInBytes() - 1]);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    ImagePtr image = Image::create(bytes, QStringLiteral(".fits"));
    exercise(*image);
    for (const ImagePtr& ext : image->extensions)
        exercise(*ext);
    return 0;
}
