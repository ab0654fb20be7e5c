#include "StarTracking.h"

#include <cmath>

std::optional<QPointF> trackingSearchPoint(QPointF marker) {
    constexpr double farOut = 1e15;  // whole numbers are still exact doubles well past this
    if (!(std::isfinite(marker.x()) && std::isfinite(marker.y()))) return std::nullopt;
    if (std::fabs(marker.x()) > farOut || std::fabs(marker.y()) > farOut) return std::nullopt;
    return QPointF(std::round(marker.x()), std::round(marker.y()));
}

std::optional<QPointF> refindStar(const Image& image, QPointF marker) {
    const std::optional<QPointF> start = trackingSearchPoint(marker);
    if (!start) return std::nullopt;
    return image.selectionAt(start->x(), start->y());
}
