#include "DevicePixels.h"

#include "ParallelRows.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>

namespace {

// Whole pixels up to `v`, counted from an edge; a value a rounding error short of an edge
// counts as on it, so a centre that lies exactly on an edge between shown pixels (at a zoom
// such as 3/2, whose steps are no exact doubles) falls on the same side wherever it is asked.
double pixelIndex(double v) {
    return std::floor(v + 1e-9 * std::max(1.0, std::abs(v)));
}

// The first shown pixel under device pixel `i`: the one whose square covers its centre when
// magnified, the first whose centre lies inside it when reduced.
double firstUnder(int i, double s) {
    return s > 1 ? std::max(0.0, std::ceil(i * s - 0.5)) : pixelIndex((i + 0.5) * s);
}

// Where the shown pixels lie in the picture, both counted y down as stored: shown pixel
// (u, v) is picture pixel origin + u * column + v * row (each step one pixel along x or y).
struct Axes {
    QPoint origin, column, row;
    bool columnsAlongX() const { return column.y() == 0; }
    QPoint at(int u, int v) const { return origin + u * column + v * row; }
};

Axes axesOf(QSize picture, const PictureTurn& turn) {
    const QSize shown = turn.shownSize(picture);
    // Through the one mapping, which counts y up on both sides.
    auto at = [&](int u, int v) {
        const QPoint p = turn.picturePixel(QPoint(u, shown.height() - 1 - v), picture);
        return QPoint(p.x(), picture.height() - 1 - p.y());
    };
    const QPoint origin = at(0, 0);
    return {origin, at(1, 0) - origin, at(0, 1) - origin};
}

// Pixel readers: channel sums of one pixel and the output word of a single one.
struct ReadRGB888 {
    static constexpr int kBytes = 3;
    static constexpr bool kAlpha = false;
    static void add(const uchar* p, uint64_t* s) {
        s[0] += p[0];
        s[1] += p[1];
        s[2] += p[2];
    }
    static QRgb one(const uchar* p) { return qRgb(p[0], p[1], p[2]); }
};

template <bool Alpha>
struct Read32 {
    static constexpr int kBytes = 4;
    static constexpr bool kAlpha = Alpha;
    static void add(const uchar* p, uint64_t* s) {
        const QRgb v = *reinterpret_cast<const QRgb*>(p);
        s[0] += qRed(v);
        s[1] += qGreen(v);
        s[2] += qBlue(v);
        if (Alpha) s[3] += qAlpha(v);
    }
    static QRgb one(const uchar* p) {
        const QRgb v = *reinterpret_cast<const QRgb*>(p);
        return Alpha ? v : (v | 0xff000000u);
    }
};

// The output word for channel sums `s` of `count` pixels (1 / count given).
template <typename Read>
QRgb meanOf(const uint64_t* s, double inverse) {
    auto mean = [inverse](uint64_t sum) { return static_cast<int>(double(sum) * inverse + 0.5); };
    return qRgba(mean(s[0]), mean(s[1]), mean(s[2]), Read::kAlpha ? mean(s[3]) : 255);
}

// Output rows [j0, j1) of `out` when shown rows are picture rows (no turn, or half a turn).
// The shown pixel (u, v) lies at bits + origin + u * columnStep + v * rowStep, columnStep a
// pixel and rowStep a row of the picture (either may be negative). Each output pixel sums its
// block row by row.
template <typename Read>
void sampleAlongRows(const uchar* bits, ptrdiff_t origin, ptrdiff_t columnStep, ptrdiff_t rowStep,
                     const std::vector<PixelSpan>& columns, const std::vector<PixelSpan>& rows,
                     int64_t j0, int64_t j1, uchar* out, qsizetype outLine) {
    std::vector<double> inverse(columns.size());
    for (size_t i = 0; i < columns.size(); ++i)
        inverse[i] = 1.0 / columns[i].count;
    for (int64_t j = j0; j < j1; ++j) {
        const PixelSpan r = rows[size_t(j)];
        const ptrdiff_t rowOrigin = origin + r.first * rowStep;
        auto* o = reinterpret_cast<QRgb*>(out + j * outLine);
        const double rowInverse = 1.0 / r.count;
        for (size_t i = 0; i < columns.size(); ++i) {
            const PixelSpan c = columns[i];
            const uchar* p = bits + (rowOrigin + c.first * columnStep);
            if (c.count == 1 && r.count == 1) {
                o[i] = Read::one(p);
                continue;
            }
            uint64_t s[4] = {0, 0, 0, 0};
            for (int b = 0; b < r.count; ++b, p += rowStep) {
                const uchar* q = p;
                for (int a = 0; a < c.count; ++a, q += columnStep)
                    Read::add(q, s);
            }
            o[i] = meanOf<Read>(s, inverse[i] * rowInverse);
        }
    }
}

// The same when shown rows are picture columns (a quarter turn either way): columnStep is a row
// of the picture and rowStep a pixel. The band's output rows are a run of picture columns, so
// each output column is summed from its picture rows, each read once along that run: the walk
// goes down the picture a row at a time instead of down a column per output row.
template <typename Read>
void sampleAcrossRows(const uchar* bits, ptrdiff_t origin, ptrdiff_t columnStep, ptrdiff_t rowStep,
                      const std::vector<PixelSpan>& columns, const std::vector<PixelSpan>& rows,
                      int64_t j0, int64_t j1, uchar* out, qsizetype outLine) {
    const size_t n = size_t(j1 - j0);
    // The sums of the output column, a channel at a time (kept apart so that adding to them
    // stays a plain add).
    std::vector<uint64_t> sums(n * 4);
    uint64_t* channel[4] = {&sums[0], &sums[n], &sums[2 * n], &sums[3 * n]};
    std::vector<double> inverse(n);
    for (size_t k = 0; k < n; ++k)
        inverse[k] = 1.0 / rows[size_t(j0) + k].count;
    // Magnified or at full size along the rows: one picture pixel each, copied.
    const bool single =
        std::all_of(rows.begin() + j0, rows.begin() + j1, [](PixelSpan r) { return r.count == 1; });
    for (size_t i = 0; i < columns.size(); ++i) {
        const PixelSpan c = columns[i];
        if (single && c.count == 1) {
            const ptrdiff_t line = origin + c.first * columnStep;
            for (size_t k = 0; k < n; ++k) {
                auto* o = reinterpret_cast<QRgb*>(out + (j0 + int64_t(k)) * outLine);
                o[i] = Read::one(bits + (line + rows[size_t(j0) + k].first * rowStep));
            }
            continue;
        }
        std::fill(sums.begin(), sums.end(), 0);
        for (int a = 0; a < c.count; ++a) {
            const ptrdiff_t line = origin + (c.first + a) * columnStep;
            for (size_t k = 0; k < n; ++k) {
                const PixelSpan r = rows[size_t(j0) + k];
                const uchar* p = bits + (line + r.first * rowStep);
                uint64_t s[4] = {0, 0, 0, 0};
                for (int b = 0; b < r.count; ++b, p += rowStep)
                    Read::add(p, s);
                channel[0][k] += s[0];
                channel[1][k] += s[1];
                channel[2][k] += s[2];
                channel[3][k] += s[3];
            }
        }
        const double columnInverse = 1.0 / c.count;
        for (size_t k = 0; k < n; ++k) {
            auto* o = reinterpret_cast<QRgb*>(out + (j0 + int64_t(k)) * outLine);
            const uint64_t total[4] = {channel[0][k], channel[1][k], channel[2][k], channel[3][k]};
            o[i] = meanOf<Read>(total, inverse[k] * columnInverse);
        }
    }
}

// Output rows [j0, j1) of `out` by whichever walk reads the picture along its rows.
template <typename Read>
void sampleRows(bool rowsAlongPictureRows, const uchar* bits, ptrdiff_t origin,
                ptrdiff_t columnStep, ptrdiff_t rowStep, const std::vector<PixelSpan>& columns,
                const std::vector<PixelSpan>& rows, int64_t j0, int64_t j1, uchar* out,
                qsizetype outLine) {
    if (rowsAlongPictureRows)
        sampleAlongRows<Read>(bits, origin, columnStep, rowStep, columns, rows, j0, j1, out,
                              outLine);
    else
        sampleAcrossRows<Read>(bits, origin, columnStep, rowStep, columns, rows, j0, j1, out,
                               outLine);
}

}  // namespace

double shownPerDevice(int shown, double side, double ratio) {
    const double s = shown / (side * ratio);
    if (!(shown > 0) || !std::isfinite(s) || !(s > 0)) return 0;
    return std::abs(s - 1) < 1e-9 ? 1.0 : s;
}

std::optional<int> shownPixelNamed(int i, double shownPerDevice, int shown) {
    const double s = shownPerDevice;
    if (i < 0 || !(s > 0) || !std::isfinite(s) || shown <= 0) return std::nullopt;
    // Painted exactly when its first shown pixel lies inside the picture (deviceExtent).
    if (!(firstUnder(i, s) < shown)) return std::nullopt;
    // Reduced, the span reaches to the picture's end whenever the centre lies past it.
    return static_cast<int>(std::min(pixelIndex((i + 0.5) * s), double(shown - 1)));
}

int deviceExtent(double shownPerDevice, int shown, int limit) {
    if (!(shownPerDevice > 0) || !std::isfinite(shownPerDevice) || shown <= 0 || limit <= 0)
        return 0;
    // Start a little below the estimate, where a shown pixel surely lies under the device
    // pixel, and step to the first that has none.
    const double estimate = std::floor(shown / shownPerDevice) - 2;
    int i = static_cast<int>(std::clamp(estimate, 0.0, static_cast<double>(limit)));
    while (i > 0 && firstUnder(i, shownPerDevice) >= shown)
        --i;
    while (i < limit && firstUnder(i, shownPerDevice) < shown)
        ++i;
    return i;
}

bool DeviceGrid::keptReduced(qint64 pictureBytes) const {
    return (shownPerDeviceX > 1 || shownPerDeviceY > 1) && bytes() <= pictureBytes;
}

DeviceGrid deviceGrid(QSize shown, QSizeF frame, QPointF ratio) {
    DeviceGrid grid;
    if (shown.isEmpty() || frame.isEmpty() || !(ratio.x() > 0) || !(ratio.y() > 0)) return grid;
    auto limit = [](double side) {
        return static_cast<int>(std::min(std::ceil(side), double(std::numeric_limits<int>::max())));
    };
    grid.shownPerDeviceX = shownPerDevice(shown.width(), frame.width(), ratio.x());
    grid.shownPerDeviceY = shownPerDevice(shown.height(), frame.height(), ratio.y());
    grid.width =
        deviceExtent(grid.shownPerDeviceX, shown.width(), limit(frame.width() * ratio.x()));
    grid.height =
        deviceExtent(grid.shownPerDeviceY, shown.height(), limit(frame.height() * ratio.y()));
    return grid;
}

QPoint deviceOrigin(QPointF topLeft) {
    // Halves round up on both sides of zero, not away from it as QPointF::toPoint does: Qt
    // scrolls what a window shows by whole device pixels, and a corner scrolled from +10.5 to
    // -79.5 must get an origin 90 pixels on, not 91. Where a corner lies inside the window
    // (at or past zero) this is Qt's own rounding of the clip.
    auto nearest = [](double v) {
        constexpr double lo = std::numeric_limits<int>::min(), hi = std::numeric_limits<int>::max();
        return static_cast<int>(std::clamp(std::floor(v + 0.5), lo, hi));
    };
    return {nearest(topLeft.x()), nearest(topLeft.y())};
}

QRegion paintedDevicePixels(const DeviceGrid& grid, const QRegion& clip) {
    return clip & QRect(0, 0, grid.width, grid.height);
}

std::vector<PixelSpan> pixelSpans(int from, int to, double shownPerDevice, int shown) {
    std::vector<PixelSpan> spans;
    if (to <= from) return spans;
    spans.reserve(size_t(to - from));
    const double s = shownPerDevice;
    for (int i = from; i < to; ++i) {
        const int first = static_cast<int>(firstUnder(i, s));
        const int end =
            s > 1 ? static_cast<int>(std::min<double>(firstUnder(i + 1, s), shown)) : first + 1;
        spans.push_back({first, std::max(1, end - first)});
    }
    return spans;
}

QImage devicePixels(const QImage& picture, const PictureTurn& turn,
                    const std::vector<PixelSpan>& columns, const std::vector<PixelSpan>& rows) {
    if (picture.isNull() || columns.empty() || rows.empty()) return {};
    if (columns.size() > size_t(std::numeric_limits<int>::max()) ||
        rows.size() > size_t(std::numeric_limits<int>::max()))
        return {};
    const bool alpha = picture.hasAlphaChannel();
    const QImage::Format native =
        alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    QImage out(static_cast<int>(columns.size()), static_cast<int>(rows.size()), native);
    if (out.isNull()) return out;
    const Axes axes = axesOf(picture.size(), turn);
    const int uFirst = columns.front().first;
    const int uEnd = columns.back().first + columns.back().count;
    // Spans run forward; all of them must lie inside the shown picture.
    const QSize shown = turn.shownSize(picture.size());
    if (uFirst < 0 || uEnd > shown.width() || rows.front().first < 0 ||
        rows.back().first + rows.back().count > shown.height())
        return {};
    const QImage::Format format = picture.format();
    const bool inPlace = format == QImage::Format_RGB888 || format == native;
    // Taken once here: bits() and scanLine() may detach and do count the image as changed,
    // which must not happen from the bands at once.
    uchar* const outBits = out.bits();
    const qsizetype outLine = out.bytesPerLine();
    const uchar* const pictureBits = picture.constBits();
    const qsizetype pictureLine = picture.bytesPerLine();
    // Enough rows per band that each band reads a fair amount.
    const int64_t minRows = std::max<int64_t>(
        1, 65536 / std::max<int64_t>(1, int64_t(uEnd - uFirst) * rows.front().count));
    std::atomic<bool> failed{false};
    parallelRows(int64_t(rows.size()), minRows, [&](int64_t j0, int64_t j1) {
        // Memory refused inside a band fails the whole picture; it never leaves the band, where
        // it would end the program or return while other bands still run.
        try {
            const int vFirst = rows[size_t(j0)].first;
            const int vEnd = rows[size_t(j1 - 1)].first + rows[size_t(j1 - 1)].count;
            // The part of the picture the band reads: between its opposite corners.
            const QPoint a = axes.at(uFirst, vFirst), b = axes.at(uEnd - 1, vEnd - 1);
            const QRect part(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                             QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y())));
            QImage converted;
            const uchar* bits = pictureBits;
            qsizetype line = pictureLine;
            QPoint corner(0, 0);  // the picture pixel at `bits`
            if (!inPlace) {
                converted = picture.copy(part).convertToFormat(native);
                if (converted.size() != part.size()) {
                    failed.store(true);
                    return;
                }
                bits = converted.constBits();
                line = converted.bytesPerLine();
                corner = part.topLeft();
            }
            const int bytes = inPlace && format == QImage::Format_RGB888 ? 3 : 4;
            // Steps and origin of shown (u, v) in the source's bytes.
            auto offset = [&](QPoint step) {
                return ptrdiff_t(step.x()) * bytes + step.y() * line;
            };
            const ptrdiff_t columnStep = offset(axes.column), rowStep = offset(axes.row);
            const ptrdiff_t at = offset(axes.origin - corner);
            const bool along = axes.columnsAlongX();
            if (bytes == 3)
                sampleRows<ReadRGB888>(along, bits, at, columnStep, rowStep, columns, rows, j0, j1,
                                       outBits, outLine);
            else if (alpha)
                sampleRows<Read32<true>>(along, bits, at, columnStep, rowStep, columns, rows, j0,
                                         j1, outBits, outLine);
            else
                sampleRows<Read32<false>>(along, bits, at, columnStep, rowStep, columns, rows, j0,
                                          j1, outBits, outLine);
        } catch (const std::bad_alloc&) {
            failed.store(true);
        }
    });
    if (failed.load()) return {};
    return out;
}
