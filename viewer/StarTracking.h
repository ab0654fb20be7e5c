// Finding the selected star again on a new frame of the same size.
//
// The search starts at the star's last marked position rounded to whole pixels (halves away
// from zero) and takes the centroid that the image finds near it.
#pragma once

#include "Image.h"

#include <QPointF>

#include <optional>

// `marker` rounded to whole pixels, or none when it is not finite or lies far beyond any image.
std::optional<QPointF> trackingSearchPoint(QPointF marker);

// The star near `marker` on `image` (its `selectionAt` at the search point), or none.
std::optional<QPointF> refindStar(const Image& image, QPointF marker);
