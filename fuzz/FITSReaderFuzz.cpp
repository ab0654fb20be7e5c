// Fuzz target: a FITS file's bytes through FITSImageRep, every HDU (images and tables).
// Tile-compressed HDUs are decoded by the helper program, as in the viewer.
#include "FITSImageRep.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    requireDecodeHelper();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    auto rep = FITSImageRep::initWithData(bytes, 1);
    if (!rep) return 0;
    keep(touchBitmap(*rep));
    for (const auto& ext : rep->extensions) {
        keep(touchBitmap(*ext));
        if (ext->tabledata) keep(uint64_t(ext->tabledata->size()));
    }
    return 0;
}
