#include "DevicePixels.h"

#include "ParallelRows.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>

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

// A picture coordinate along one of its axes for a shown index: origin + step * index.
struct Linear {
    int origin = 0;
    int step = 1;
    int at(int index) const { return origin + step * index; }
};

// Where shown columns and rows fall in the picture: the columns run along the picture's x
// (even turns) or its y (odd turns), the rows along the other.
struct Axes {
    bool columnsAlongX = true;
    Linear columns, rows;
};

Axes axesOf(QSize picture, const PictureTurn& turn) {
    const int w = picture.width(), h = picture.height();
    // Mirrored coordinates (x', y') for a shown column u and row v, by turn:
    // 0: (u, v); 1: (w-1-v, u); 2: (w-1-u, h-1-v); 3: (v, h-1-u).
    auto forward = [](bool reversed, int last) {
        return reversed ? Linear{last, -1} : Linear{0, 1};
    };
    // Undoing a mirror reverses the axis once more.
    Axes a;
    switch (turn.quarterTurns & 3) {
        case 1:
            a.columnsAlongX = false;
            a.columns = forward(turn.flipV, h - 1);
            a.rows = forward(!turn.flipH, w - 1);
            break;
        case 2:
            a.columns = forward(!turn.flipH, w - 1);
            a.rows = forward(!turn.flipV, h - 1);
            break;
        case 3:
            a.columnsAlongX = false;
            a.columns = forward(!turn.flipV, h - 1);
            a.rows = forward(turn.flipH, w - 1);
            break;
        default:
            a.columns = forward(turn.flipH, w - 1);
            a.rows = forward(turn.flipV, h - 1);
            break;
    }
    return a;
}

// The picture range [low, high) covered by shown indices [first, end) under `map`.
std::pair<int, int> coveredRange(const Linear& map, int first, int end) {
    const int a = map.at(first), b = map.at(end - 1);
    return {std::min(a, b), std::max(a, b) + 1};
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
                     int64_t j0, int64_t j1, QImage& out) {
    std::vector<double> inverse(columns.size());
    for (size_t i = 0; i < columns.size(); ++i)
        inverse[i] = 1.0 / columns[i].count;
    for (int64_t j = j0; j < j1; ++j) {
        const PixelSpan r = rows[size_t(j)];
        const ptrdiff_t rowOrigin = origin + r.first * rowStep;
        auto* o = reinterpret_cast<QRgb*>(out.scanLine(static_cast<int>(j)));
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
                      int64_t j0, int64_t j1, QImage& out) {
    const size_t n = size_t(j1 - j0);
    // The sums of the output column, a channel at a time (kept apart so that adding to them
    // stays a plain add).
    std::vector<uint64_t> sums(n * 4);
    uint64_t* channel[4] = {&sums[0], &sums[n], &sums[2 * n], &sums[3 * n]};
    std::vector<double> inverse(n);
    for (size_t k = 0; k < n; ++k)
        inverse[k] = 1.0 / rows[size_t(j0) + k].count;
    uchar* outBits = out.bits();
    const qsizetype outLine = out.bytesPerLine();
    // Magnified or at full size along the rows: one picture pixel each, copied.
    const bool single =
        std::all_of(rows.begin() + j0, rows.begin() + j1, [](PixelSpan r) { return r.count == 1; });
    for (size_t i = 0; i < columns.size(); ++i) {
        const PixelSpan c = columns[i];
        if (single && c.count == 1) {
            const ptrdiff_t line = origin + c.first * columnStep;
            for (size_t k = 0; k < n; ++k) {
                auto* o = reinterpret_cast<QRgb*>(outBits + (j0 + int64_t(k)) * outLine);
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
            auto* o = reinterpret_cast<QRgb*>(outBits + (j0 + int64_t(k)) * outLine);
            const uint64_t total[4] = {channel[0][k], channel[1][k], channel[2][k], channel[3][k]};
            o[i] = meanOf<Read>(total, inverse[k] * columnInverse);
        }
    }
}

// Output rows [j0, j1) of `out` by whichever walk reads the picture along its rows.
template <typename Read>
void sampleRows(bool rowsAlongPictureRows, const uchar* bits, ptrdiff_t origin,
                ptrdiff_t columnStep, ptrdiff_t rowStep, const std::vector<PixelSpan>& columns,
                const std::vector<PixelSpan>& rows, int64_t j0, int64_t j1, QImage& out) {
    if (rowsAlongPictureRows)
        sampleAlongRows<Read>(bits, origin, columnStep, rowStep, columns, rows, j0, j1, out);
    else
        sampleAcrossRows<Read>(bits, origin, columnStep, rowStep, columns, rows, j0, j1, out);
}

}  // namespace

double shownPerDevice(int shown, double side, double ratio) {
    const double s = shown / (side * ratio);
    if (!(shown > 0) || !std::isfinite(s) || !(s > 0)) return 0;
    return std::abs(s - 1) < 1e-9 ? 1.0 : s;
}

int shownPixelUnder(int i, double shownPerDevice) {
    const double v = pixelIndex((i + 0.5) * shownPerDevice);
    return static_cast<int>(std::clamp(v, double(std::numeric_limits<int>::min()),
                                       double(std::numeric_limits<int>::max())));
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
    const QSize shown = (turn.quarterTurns & 1) ? picture.size().transposed() : picture.size();
    if (uFirst < 0 || uEnd > shown.width() || rows.front().first < 0 ||
        rows.back().first + rows.back().count > shown.height())
        return {};
    const QImage::Format format = picture.format();
    const bool inPlace = format == QImage::Format_RGB888 || format == native;
    // Enough rows per band that each band reads a fair amount.
    const int64_t minRows = std::max<int64_t>(
        1, 65536 / std::max<int64_t>(1, int64_t(uEnd - uFirst) * rows.front().count));
    std::atomic<bool> failed{false};
    parallelRows(int64_t(rows.size()), minRows, [&](int64_t j0, int64_t j1) {
        const int vFirst = rows[size_t(j0)].first;
        const int vEnd = rows[size_t(j1 - 1)].first + rows[size_t(j1 - 1)].count;
        // The part of the picture the band reads.
        const auto [cLow, cHigh] = coveredRange(axes.columns, uFirst, uEnd);
        const auto [rLow, rHigh] = coveredRange(axes.rows, vFirst, vEnd);
        const QRect part = axes.columnsAlongX ? QRect(cLow, rLow, cHigh - cLow, rHigh - rLow)
                                              : QRect(rLow, cLow, rHigh - rLow, cHigh - cLow);
        QImage converted;
        const QImage* source = &picture;
        QPoint origin(0, 0);
        if (!inPlace) {
            converted = picture.copy(part).convertToFormat(native);
            if (converted.size() != part.size()) {
                failed.store(true);
                return;
            }
            source = &converted;
            origin = part.topLeft();
        }
        const int bytes = source->format() == QImage::Format_RGB888 ? 3 : 4;
        const ptrdiff_t line = source->bytesPerLine();
        // Steps and origin of shown (u, v) in the source's bytes.
        const ptrdiff_t xStep = bytes, yStep = line;
        const ptrdiff_t columnStep = (axes.columnsAlongX ? xStep : yStep) * axes.columns.step;
        const ptrdiff_t rowStep = (axes.columnsAlongX ? yStep : xStep) * axes.rows.step;
        const int x0 = axes.columnsAlongX ? axes.columns.origin : axes.rows.origin;
        const int y0 = axes.columnsAlongX ? axes.rows.origin : axes.columns.origin;
        const uchar* bits = source->constBits();
        const ptrdiff_t at = (x0 - origin.x()) * xStep + (y0 - origin.y()) * yStep;
        const bool along = axes.columnsAlongX;
        if (bytes == 3)
            sampleRows<ReadRGB888>(along, bits, at, columnStep, rowStep, columns, rows, j0, j1,
                                   out);
        else if (alpha)
            sampleRows<Read32<true>>(along, bits, at, columnStep, rowStep, columns, rows, j0, j1,
                                     out);
        else
            sampleRows<Read32<false>>(along, bits, at, columnStep, rowStep, columns, rows, j0, j1,
                                      out);
    });
    if (failed.load()) return {};
    return out;
}
