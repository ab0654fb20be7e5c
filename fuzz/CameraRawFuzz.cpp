// Fuzz target: camera RAW bytes as a ".nef" file is opened: LibRaw decodes them from memory in
// the helper program, and the bitmap maps the helper's output.
#include "FuzzSupport.h"
#include "ImageDecoding.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    requireDecodeHelper();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    auto decoded = DecodedImage::initWithCameraRaw(bytes);
    if (!decoded) return 0;
    for (const auto& rep : decoded->representations)
        if (auto bitmap = std::dynamic_pointer_cast<BitmapImageRep>(rep))
            keep(touchBitmap(*bitmap));
    return 0;
}
