#include "HistoryGraph.h"

#include "Settings.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <functional>

using namespace HistoryGraph;

namespace {

// A value of one curve: its number, or none when the entry adds no point.
using Usable = std::function<std::optional<double>(size_t)>;

// Strokes one curve of `count` entries scaled to `scale`.
void strokeCurve(QPainter& painter, size_t count, const Usable& usable, double scale,
                 const QColor& colour) {
    if (count == 0) return;
    QPainterPath path;
    path.moveTo(0, usable(0).value_or(0) * height / scale);
    for (size_t i = 1; i < count; ++i)
        if (std::optional<double> v = usable(i)) path.lineTo(2.0 * double(i), *v * height / scale);
    painter.setPen(QPen(colour, 1));
    painter.drawPath(path);
}

// The largest of `floor` and every usable value.
double scaleOf(size_t count, const Usable& usable, double floor) {
    double scale = floor;
    for (size_t i = 0; i < count; ++i)
        if (std::optional<double> v = usable(i)) scale = std::max(scale, *v);
    return scale;
}

// A width is usable when it is a finite number greater than 0.
Usable widths(const std::vector<double>& values) {
    return [&values](size_t i) -> std::optional<double> {
        double v = values[i];
        if (std::isfinite(v) && v > 0) return v;
        return std::nullopt;
    };
}

}  // namespace

QImage drawHistoryGraph(const StarHistory& history) {
    QImage picture(width, height, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(0, height);  // y upward from here on
    painter.scale(1, -1);

    // The three lists have equal lengths; draw no further than the shortest regardless.
    const size_t count = std::min(
        {history.fwhmHistory.size(), history.hfdHistory.size(), history.peakHistory.size()});

    const Usable fwhm = widths(history.fwhmHistory);
    strokeCurve(painter, count, fwhm, scaleOf(count, fwhm, widthFloor), blueColor());

    const Usable hfd = widths(history.hfdHistory);
    strokeCurve(painter, count, hfd, scaleOf(count, hfd, widthFloor), redColor());

    const Usable peak = [&history](size_t i) -> std::optional<double> {
        const std::optional<int64_t>& p = history.peakHistory[i];
        if (p && *p >= 1) return double(*p);
        return std::nullopt;
    };
    strokeCurve(painter, count, peak, scaleOf(count, peak, peakFloor), Qt::white);
    painter.end();
    return picture;
}
