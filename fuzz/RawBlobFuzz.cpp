// Fuzz target: a raw frame blob ("RAW1", "RAW2", "RAW3" header and packed rows).
#include "FuzzSupport.h"
#include "RawImageRep.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly `size` bytes on the heap, so a read past the blob is caught.
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    auto rep = RawImageRep::initWithBytes(bytes);
    if (rep) keep(touchBitmap(*rep));
    return 0;
}
