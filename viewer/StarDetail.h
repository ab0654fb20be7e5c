// The magnified detail of the selected star: its 9 x 9-pixel neighbourhood of the rendered
// picture at 20 points per pixel, a green crosshair on the star, and either two circles
// (diameter FWHM in blue, HFD in red, in image pixels) or the row and column profiles of the
// display levels (row in blue, column in red).
//
// The picture is 180 x 180 on a transparent background; what lies beyond the rendered
// picture's edge stays transparent. Pixels are magnified without smoothing. The overlay is
// drawn in coordinates with y upward, like the image coordinates of the star.
//
// Profiles span the levels lo to hi of the neighbourhood over the height 10 to 170. A flat
// neighbourhood (hi equal to lo) draws both profiles flat at the bottom margin; pixels
// without a level add no point.
#pragma once

#include "Image.h"

#include <QImage>
#include <QPointF>

#include <cstdint>
#include <functional>
#include <optional>

namespace StarDetail {

constexpr int size = 180;             // points across and up
constexpr int pixelsAcross = 9;       // image pixels across the detail
constexpr int magnification = 20;     // points per image pixel
constexpr int crosshairArm = 50;      // points from the star to each crosshair end
constexpr double profileMargin = 10;  // points below and above the profiles

// The display level (0..255) of the pixel under image point (x, y), or none; what
// `Image::valueAt` gives as its level.
using LevelAt = std::function<std::optional<int64_t>(double x, double y)>;

// `image`'s levels through `valueAt`. The function refers to `image`: use it while the image
// lives.
LevelAt levelsOf(const Image& image);

}  // namespace StarDetail

// The detail of the star at `star` (image pixels, y upward) in `rendered` (the stretched
// picture, same size as the image). Circles come from `measurement` (none, or a width that is
// not a finite positive number, draws no circle); profiles, when `showStarProfile` is true,
// from `levelAt`. A null picture when `rendered` is null or `star` is not finite (or lies far
// beyond any picture).
QImage drawStarDetail(const QImage& rendered, QPointF star,
                      const std::optional<PSFResult>& measurement, bool showStarProfile,
                      const StarDetail::LevelAt& levelAt);

// The same for `image`: its rendered picture, its levels and the setting "showStarProfile"
// (default false). A null picture when the image has no rendered picture.
QImage drawStarDetail(Image& image, QPointF star, const std::optional<PSFResult>& measurement);
