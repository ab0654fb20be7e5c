// The star probe's history graph: FWHM, HFD and peak of the selected star's measurements.
//
// A 200 x 100 picture on a transparent background, drawn in coordinates with y upward.
// Entry i lies at x = 2i, so `StarHistory::maxMeasurements` entries span the whole width.
// Each curve is scaled to the largest of its values and a floor (FWHM and HFD 5 pixels,
// peak 1000), so a value equal to the scale touches the top edge. The first entry always
// starts its curve (at height 0 when it holds no usable value); a later entry without a
// usable value (a width not greater than 0, a peak below 1 or without a number) adds no
// point, and the curve goes on from the last point drawn.
#pragma once

#include "StarHistory.h"

#include <QImage>

namespace HistoryGraph {

constexpr int width = 200;          // points
constexpr int height = 100;         // points
constexpr double widthFloor = 5;    // smallest FWHM and HFD scale, pixels
constexpr double peakFloor = 1000;  // smallest peak scale, sample units

}  // namespace HistoryGraph

// The graph of `history`'s measurements: FWHM in `blueColor`, HFD in `redColor`, peak in white.
QImage drawHistoryGraph(const StarHistory& history);
