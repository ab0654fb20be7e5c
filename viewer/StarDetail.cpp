#include "StarDetail.h"

#include "Settings.h"

#include <QPainter>
#include <QPainterPath>
#include <QRect>

#include <cmath>
#include <vector>

using namespace StarDetail;

namespace {

// Stars further out than this are off any picture; their pixel numbers stay well within int.
constexpr double farOut = 1e9;

// A circle of diameter `width` image pixels around `centre`, unless the width is unusable.
void strokeCircle(QPainter& painter, QPointF centre, double width, const QColor& colour) {
    if (!(std::isfinite(width) && width > 0)) return;
    const double radius = width * magnification / 2;
    painter.setPen(QPen(colour, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, radius, radius);
}

// One profile: the levels along a row or column, from position -4 to 4, at x = 20 per
// position plus the margin and y from lo (bottom margin) to hi (top margin).
void strokeProfile(QPainter& painter, const std::vector<std::optional<int64_t>>& levels, int64_t lo,
                   int64_t hi, const QColor& colour) {
    const double span = size - 2 * profileMargin;
    QPainterPath path;
    bool started = false;
    for (size_t i = 0; i < levels.size(); ++i) {
        if (!levels[i]) continue;
        const double x = double(i) * magnification + profileMargin;
        // A flat neighbourhood has no height to spread over: it lies on the bottom margin.
        const double y = hi > lo ? double(*levels[i] - lo) * span / double(hi - lo) + profileMargin
                                 : profileMargin;
        if (started) {
            path.lineTo(x, y);
        } else {
            path.moveTo(x, y);
            started = true;
        }
    }
    painter.setPen(QPen(colour, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
}

void drawProfiles(QPainter& painter, QPointF star, const LevelAt& levelAt) {
    if (!levelAt) return;
    const int64_t ix = int64_t(std::trunc(star.x()));
    const int64_t iy = int64_t(std::trunc(star.y()));
    const int reach = pixelsAcross / 2;
    std::vector<std::optional<int64_t>> row, column;
    int64_t lo = 65535, hi = 0;
    bool any = false;
    for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
            std::optional<int64_t> level = levelAt(double(ix + dx), double(iy + dy));
            if (level) {
                lo = std::min(lo, *level);
                hi = std::max(hi, *level);
                any = true;
            }
            if (dy == 0) row.push_back(level);
            if (dx == 0) column.push_back(level);
        }
    }
    if (!any) return;
    strokeProfile(painter, row, lo, hi, blueColor());
    strokeProfile(painter, column, lo, hi, redColor());
}

}  // namespace

LevelAt StarDetail::levelsOf(const Image& image) {
    return [&image](double x, double y) -> std::optional<int64_t> {
        std::optional<PixelValue> value = image.valueAt(x, y);
        if (!value) return std::nullopt;
        return value->level;
    };
}

QImage drawStarDetail(const QImage& rendered, QPointF star,
                      const std::optional<PSFResult>& measurement, bool showStarProfile,
                      const LevelAt& levelAt) {
    if (rendered.isNull()) return {};
    if (!(std::isfinite(star.x()) && std::isfinite(star.y()))) return {};
    if (std::fabs(star.x()) > farOut || std::fabs(star.y()) > farOut) return {};

    // The pixel that holds the star (halves away from zero) and the 9 x 9 square around it.
    const int reach = pixelsAcross / 2;
    const int cx = int(std::round(star.x() - 0.5));
    const int cy = int(std::round(star.y() - 0.5));
    // The square in the picture's rows, counted downward from the top.
    const QRect square(cx - reach, rendered.height() - 1 - (cy + reach), pixelsAcross,
                       pixelsAcross);
    const QRect inside = square & rendered.rect();

    QImage picture(size, size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    if (!inside.isEmpty()) {
        // Whole pixels to whole 20 x 20 squares, copied without smoothing.
        const QRect target((inside.x() - square.x()) * magnification,
                           (inside.y() - square.y()) * magnification,
                           inside.width() * magnification, inside.height() * magnification);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(target, rendered, inside);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }

    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(0, size);  // y upward from here on
    painter.scale(1, -1);

    const QPointF centre((star.x() - cx + reach) * magnification,
                         (star.y() - cy + reach) * magnification);
    painter.setPen(QPen(greenColor(), 1));
    painter.drawLine(centre - QPointF(crosshairArm, 0), centre + QPointF(crosshairArm, 0));
    painter.drawLine(centre - QPointF(0, crosshairArm), centre + QPointF(0, crosshairArm));

    if (showStarProfile) {
        drawProfiles(painter, star, levelAt);
    } else if (measurement) {
        strokeCircle(painter, centre, measurement->fwhm, blueColor());
        strokeCircle(painter, centre, measurement->hfd, redColor());
    }
    painter.end();
    return picture;
}

QImage drawStarDetail(Image& image, QPointF star, const std::optional<PSFResult>& measurement) {
    const QImage rendered = image.renderedImage();
    if (rendered.isNull()) return {};
    const bool showStarProfile = userDefaults().defaultsBool("showStarProfile", false);
    return drawStarDetail(rendered, star, measurement, showStarProfile,
                          StarDetail::levelsOf(image));
}
