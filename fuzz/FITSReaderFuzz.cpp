// Fuzz target: a FITS file's bytes through FITSImageRep, every HDU (images and tables).
// Tile-compressed HDUs are decoded by the helper program, as in the viewer.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    requireDecodeHelper();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    readFitsFile(data, size);
    return 0;
}
