// The drift graph of a tracked star and its drift rates.
//
// A 400 x 100 picture on a transparent background, drawn in coordinates with y upward. The
// star's deviation from its first position is plotted against the frame index, 2 points per
// frame, so `StarHistory::maxPositions` positions span the whole width: X in `blueColor`, Y
// in `redColor`, both about the centre line at height 50. The vertical range R is the
// largest deviation in either axis, at least `minimumRange` pixels, so that a deviation of R
// reaches an edge; a star moving toward larger x or y draws its curve downward. Behind the
// curves lies a grid with one horizontal line per whole pixel of deviation; once R exceeds
// `denseRange`, lines are kept only every so many pixels so that they stay at least one point
// apart.
//
// The drift rates are the slopes, in pixels per frame, of straight lines fitted by least
// squares to the positions against their index in the history.
#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>

#include <optional>
#include <vector>

namespace DriftGraph {

constexpr int width = 400;             // points
constexpr int height = 100;            // points
constexpr double minimumRange = 1.05;  // smallest vertical range, pixels of deviation
constexpr double denseRange = 50;      // beyond this range grid lines would be under 1 point apart

// The grid's colour: the platform's secondary text colour (the palette's placeholder text).
QColor secondaryLabelColor();

// The vertical range R of `positions` (see above); deviations that are not finite are left
// out (their points are drawn at the edge).
double range(const std::vector<QPointF>& positions);

}  // namespace DriftGraph

// The drift graph of `positions` (oldest first). Positions that are not finite add no point.
QImage drawDrift(const std::vector<QPointF>& positions,
                 const QColor& gridColour = DriftGraph::secondaryLabelColor());

// The X and Y drift rates of `positions`, or none when there are fewer than two positions or
// a position is not finite (the fit then has no slope).
std::optional<QPointF> driftRates(const std::vector<QPointF>& positions);
