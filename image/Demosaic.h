// Demosaicing of a colour-filter (Bayer) frame into 8-bit RGB, shared by `Image::demosaic8`,
// `Image::demosaic16` and the render.
#pragma once

#include "OutputRows.h"

#include <cstdint>

// Demosaics the packed grey frame `source` (bytesPerSample 1 or 2, native byte order) of
// width x height pixels with colour-filter code `pattern` into the targets, stretching
// between the points and dividing red and blue by the coefficients when both are above 0.
// Frames narrower or lower than 2 pixels have no neighbours to interpolate from and come out
// grey.
void demosaicFrame(const uint8_t* source, int bytesPerSample, int64_t width, int64_t height,
                   int64_t pattern, int64_t blackPoint, int64_t whitePoint, float redCoef,
                   float blueCoef, const RowTargets& targets);

// Whether inner rows of 16-bit frames may take the vector loop on processors that have it
// (the default). The plain loop gives the same bytes; switching lets both be compared.
void setDemosaicVectorRows(bool allowed);
