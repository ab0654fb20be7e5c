// Fuzz target: an XISF file's bytes through XISFImageRep (header XML and pixel block).
#include "FuzzSupport.h"
#include "XISFImageRep.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    auto rep = XISFImageRep::initWithBytes(bytes);
    if (rep) keep(touchBitmap(*rep) + uint64_t(rep->metadata.size()));
    return 0;
}
