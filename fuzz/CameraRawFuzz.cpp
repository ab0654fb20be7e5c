// Fuzz target: camera RAW bytes decoded by LibRaw from memory, as a ".nef" file is opened.
#include "FuzzSupport.h"
#include "ImageDecoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    auto decoded = DecodedImage::initWithCameraRaw(bytes);
    if (!decoded) return 0;
    for (const auto& rep : decoded->representations)
        if (auto bitmap = std::dynamic_pointer_cast<BitmapImageRep>(rep))
            keep(touchBitmap(*bitmap));
    return 0;
}
