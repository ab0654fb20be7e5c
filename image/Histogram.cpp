// Placeholder until the statistics land: resets the range and reports no picture.
#include "Image.h"

QImage Image::histogram() {
    if (!cachedHistogram.isNull()) return cachedHistogram;
    min = 65535;
    max = 0;
    return {};
}
