#include "DriftGraph.h"

#include "Settings.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include <algorithm>
#include <cmath>

using namespace DriftGraph;

namespace {

bool isFinite(QPointF p) {
    return std::isfinite(p.x()) && std::isfinite(p.y());
}

// One curve: the deviation of one coordinate from the first position, limited to the graph.
template <typename Coordinate>
void strokeCurve(QPainter& painter, const std::vector<QPointF>& positions, double r,
                 Coordinate coordinate, const QColor& colour) {
    const double first = coordinate(positions.front());
    QPainterPath path;
    path.moveTo(0, height / 2.0);
    for (size_t i = 1; i < positions.size(); ++i) {
        if (!isFinite(positions[i])) continue;
        const double y = height / 2.0 + height / 2.0 * (first - coordinate(positions[i])) / r;
        path.lineTo(2.0 * double(i), std::clamp(y, 0.0, double(height)));
    }
    painter.setPen(QPen(colour, 1));
    painter.drawPath(path);
}

}  // namespace

QColor DriftGraph::secondaryLabelColor() {
    return QGuiApplication::palette().color(QPalette::PlaceholderText);
}

double DriftGraph::range(const std::vector<QPointF>& positions) {
    double r = minimumRange;
    if (positions.empty() || !isFinite(positions.front())) return r;
    const QPointF first = positions.front();
    for (const QPointF& p : positions) {
        for (double d : {std::fabs(first.x() - p.x()), std::fabs(first.y() - p.y())})
            if (std::isfinite(d)) r = std::max(r, d);
    }
    return r;
}

QImage drawDrift(const std::vector<QPointF>& positions, const QColor& gridColour) {
    QImage picture(width, height, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    if (positions.empty() || !isFinite(positions.front())) return picture;

    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(0, height);  // y upward from here on
    painter.scale(1, -1);

    const double r = range(positions);
    const double middle = height / 2.0;

    // One line per whole pixel of deviation; past `denseRange` every `step`-th one, so the
    // lines stay a point apart and a wild range cannot make the loop run away: r is finite,
    // so n is at most 50 beyond `denseRange`.
    const double step = r > denseRange ? std::ceil(r / denseRange) : 1;
    const int64_t n = int64_t(std::trunc(r) / step);
    QPainterPath grid;
    for (int64_t k = -n; k <= n; ++k) {
        const double y = middle - middle * (double(k) * step) / r;
        grid.moveTo(0, y);
        grid.lineTo(width, y);
    }
    painter.setPen(QPen(gridColour, 1));
    painter.drawPath(grid);
    painter.drawLine(QPointF(0, middle), QPointF(width, middle));

    strokeCurve(
        painter, positions, r, [](QPointF p) { return p.x(); }, blueColor());
    strokeCurve(
        painter, positions, r, [](QPointF p) { return p.y(); }, redColor());
    painter.end();
    return picture;
}

std::optional<QPointF> driftRates(const std::vector<QPointF>& positions) {
    const size_t count = positions.size();
    if (count < 2) return std::nullopt;
    for (const QPointF& p : positions)
        if (!isFinite(p)) return std::nullopt;

    // Deviations from the first position give the same slopes as the absolute positions
    // and keep a constant coordinate at exactly 0.
    const QPointF first = positions.front();
    double st = 0, stt = 0, sx = 0, stx = 0, sy = 0, sty = 0;
    for (size_t i = 0; i < count; ++i) {
        const double t = double(i);
        const double x = positions[i].x() - first.x(), y = positions[i].y() - first.y();
        st += t;
        stt += t * t;
        sx += x;
        stx += t * x;
        sy += y;
        sty += t * y;
    }
    const double n = double(count);
    const double d = n * stt - st * st;
    if (!(d > 0)) return std::nullopt;
    const QPointF rates((n * stx - st * sx) / d, (n * sty - st * sy) / d);
    if (!isFinite(rates)) return std::nullopt;
    return rates;
}
