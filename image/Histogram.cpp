// Histogram, statistics and automatic stretch points.
//
// One sampling pass (countHistogram) fills the bins, the colour-filter sums, the extremes and
// the running sum; `histogram` turns them into the statistics fields, the quartiles, the
// automatic black and white points and a 256 x 128 picture of the bins on a logarithmic
// scale. The pass reads grey bitmaps in 2 x 2 cells and colour bitmaps pixel by pixel, one in
// step x step either way (a frame that walk would take no sample from is read whole); bands of
// cell rows run on the cores and their partial counts are merged, which gives exactly the
// counts of one sequential walk.
#include "Histogram.h"

#include "Image.h"
#include "ParallelRows.h"
#include "Samples.h"
#include "Settings.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include <algorithm>
#include <cmath>

int64_t histogramSampleStep() {
    static const int64_t step = [] {
        int64_t v = userDefaults().defaultsInteger("histogramSample", 4);
        if (v == INT64_MIN) v = INT64_MAX;
        if (v < 0) v = -v;
        return v == 0 ? int64_t(1) : v;
    }();
    return step;
}

namespace {

void merge(HistogramCounts& into, const HistogramCounts& part) {
    for (size_t b = 0; b < 256; ++b)
        into.bins[b] += part.bins[b];
    for (size_t i = 0; i < 4; ++i)
        into.total4[i] += part.total4[i];
    into.sum += part.sum;
    into.min = std::min(into.min, part.min);
    into.max = std::max(into.max, part.max);
}

template <typename T>
constexpr unsigned binShift() {
    return sizeof(T) == 1 ? 0 : 8;
}

// Cells of cell rows [cy0, cy1) that lie on the sampling grid.
template <typename T>
void countGreyCells(const uint8_t* src, int64_t width, int64_t cy0, int64_t cy1, int64_t step,
                    bool pattern, HistogramCounts& c) {
    const int64_t cellColumns = width / 2;
    for (int64_t cy = cy0; cy < cy1; ++cy) {
        if (cy % step != 0) continue;
        const size_t row0 = size_t(2 * cy) * size_t(width);
        const size_t row1 = row0 + size_t(width);
        for (int64_t cx = 0; cx < cellColumns; cx += step) {
            const uint32_t p[4] = {
                loadSample<T>(src, row0 + 2 * cx), loadSample<T>(src, row0 + 2 * cx + 1),
                loadSample<T>(src, row1 + 2 * cx), loadSample<T>(src, row1 + 2 * cx + 1)};
            const uint32_t cellSum = p[0] + p[1] + p[2] + p[3];
            if (pattern) {
                for (int i = 0; i < 4; ++i)
                    c.total4[i] += p[i] >> binShift<T>();
                const int64_t m = cellSum >> 2;
                c.min = std::min(c.min, m);
                c.max = std::max(c.max, m);
                c.bins[m >> binShift<T>()] += 4;
            } else {
                for (int i = 0; i < 4; ++i) {
                    c.min = std::min<int64_t>(c.min, p[i]);
                    c.max = std::max<int64_t>(c.max, p[i]);
                    c.bins[p[i] >> binShift<T>()] += 1;
                }
            }
            c.sum += cellSum;
        }
    }
}

// Grey samples [i0, i1) of a frame the cell walk cannot cover, each counted once.
template <typename T>
void countGreySamples(const uint8_t* src, int64_t i0, int64_t i1, HistogramCounts& c) {
    for (int64_t i = i0; i < i1; ++i) {
        const uint32_t v = loadSample<T>(src, size_t(i));
        c.min = std::min<int64_t>(c.min, v);
        c.max = std::max<int64_t>(c.max, v);
        c.bins[v >> binShift<T>()] += 1;
        c.sum += v;
    }
}

// Colour samples k in [k0, k1): pixel k x step x step, mean of its three colour samples.
template <typename T>
void countColourPixels(const uint8_t* src, int64_t k0, int64_t k1, int64_t stride,
                       int64_t samplesPerPixel, int64_t offset, HistogramCounts& c) {
    for (int64_t k = k0; k < k1; ++k) {
        const size_t first = size_t(k) * size_t(stride) * size_t(samplesPerPixel) + size_t(offset);
        const uint32_t v = (uint32_t(loadSample<T>(src, first)) + loadSample<T>(src, first + 1) +
                            loadSample<T>(src, first + 2)) /
                           3;
        c.bins[v >> binShift<T>()] += 1;
        c.min = std::min<int64_t>(c.min, v);
        c.max = std::max<int64_t>(c.max, v);
        c.sum += v;
    }
}

// Runs `count(first, end, partial)` over bands of [0, items) and merges the partial counts.
template <typename Count>
void countInBands(int64_t items, int64_t minItems, HistogramCounts& counts, Count&& count) {
    struct Band {
        int64_t first, end;    // items [first, end)
        HistogramCounts part;  // this band's counts
    };
    std::vector<Band> bands;
    for (const auto& [first, end] : rowBands(items, minItems))
        bands.push_back({first, end, {}});
    auto run = [&](size_t i) { count(bands[i].first, bands[i].end, bands[i].part); };
    if (bands.size() == 1)
        run(0);
    else
        runBands(bands.size(), run);
    for (const Band& band : bands)
        merge(counts, band.part);
}

}  // namespace

bool countHistogram(const BitmapImageRep& rep, int64_t width, int64_t height, int64_t bitsPerPixel,
                    int64_t debayer, int64_t step, HistogramCounts& counts) {
    counts = HistogramCounts{};
    const uint8_t* src = rep.bitmapData();
    if (!src || rep.numberOfPlanes != 1) return false;
    if (bitsPerPixel != 8 && bitsPerPixel != 16 && bitsPerPixel != 24 && bitsPerPixel != 32 &&
        bitsPerPixel != 48)
        return false;
    // The walk reads the bitmap as packed rows of width x height pixels; refuse a description
    // whose memory is smaller than that.
    if (width <= 0 || height <= 0 || step <= 0) return false;
    if (rep.bitsPerPixel != bitsPerPixel || rep.pixelsWide < width || rep.pixelsHigh < height ||
        rep.bytesPerRow < width * bitsPerPixel / 8)
        return false;

    if (bitsPerPixel == 8 || bitsPerPixel == 16) {
        if (width < 2 || height < 2) {
            // No 2 x 2 cell fits (a spectrum's one row, a one-pixel column): every sample
            // counts once, as in the walk without a pattern, so the statistics are the frame's.
            counts.n = uint64_t(width * height);
            auto count = [&](int64_t i0, int64_t i1, HistogramCounts& part) {
                if (bitsPerPixel == 8)
                    countGreySamples<uint8_t>(src, i0, i1, part);
                else
                    countGreySamples<uint16_t>(src, i0, i1, part);
            };
            countInBands(width * height, 65536, counts, count);
            return true;
        }
        // Four samples for every cell the walk takes: one cell row and column in `step` of
        // the height / 2 x width / 2 cells, the first of each included.
        auto taken = [step](int64_t cells) { return cells / step + (cells % step != 0); };
        counts.n = 4 * uint64_t(taken(height / 2)) * uint64_t(taken(width / 2));
        const bool pattern = debayer != DebayerRaw;
        auto count = [&](int64_t cy0, int64_t cy1, HistogramCounts& part) {
            if (bitsPerPixel == 8)
                countGreyCells<uint8_t>(src, width, cy0, cy1, step, pattern, part);
            else
                countGreyCells<uint16_t>(src, width, cy0, cy1, step, pattern, part);
        };
        countInBands(height / 2, 64, counts, count);
        return true;
    }

    counts.n = uint64_t((width * height / step) / step);
    // A frame of fewer pixels than step x step would give no sample: take every pixel.
    const int64_t stride = counts.n > 0 ? step * step : 1;
    if (counts.n == 0) counts.n = uint64_t(width * height);
    const int64_t spp = bitsPerPixel == 32 ? 4 : 3;
    const int64_t offset = bitsPerPixel == 32 ? (rep.bitmapFormat & BitmapFormatAlphaFirst) : 0;
    auto count = [&](int64_t k0, int64_t k1, HistogramCounts& part) {
        if (bitsPerPixel == 48)
            countColourPixels<uint16_t>(src, k0, k1, stride, spp, offset, part);
        else
            countColourPixels<uint8_t>(src, k0, k1, stride, spp, offset, part);
    };
    countInBands(int64_t(counts.n), 16384, counts, count);
    counts.colour = true;
    return true;
}

// The histogram picture: bins on a logarithmic scale, filled in the text colour, 256 x 128,
// drawn bottom-up as on a y-up canvas.
static QImage histogramPicture(const std::array<uint64_t, 256>& bins) {
    QImage picture(256, 128, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    const uint64_t most = *std::max_element(bins.begin(), bins.end());
    const double k = (std::log(double(most) + 1) + 1) / 127;
    auto at = [](double x, double y) { return QPointF(x, 128 - y); };
    QPainterPath path(at(0, 0));
    for (int i = 0; i < 256; ++i)
        path.lineTo(at(i, std::log(double(bins[size_t(i)]) + 1) / k + 1));
    path.lineTo(at(255, 0));
    path.lineTo(at(0, 0));
    // A tool or test may run without a GUI application; its palette is then unavailable.
    QColor text = Qt::black;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        text = QGuiApplication::palette().color(QPalette::Text);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillPath(path, text);
    painter.end();
    return picture;
}

QImage Image::histogram() {
    if (!cachedHistogram.isNull()) return cachedHistogram;
    min = 65535;
    max = 0;
    if (!originalImageRep) return {};

    HistogramCounts c;
    const bool sampled = countHistogram(*originalImageRep, width, height, bitsPerPixel, _debayer,
                                        histogramSampleStep(), c);
    min = c.min;
    max = c.max;
    if (!sampled) return {};
    for (size_t i = 0; i < 4; ++i)
        total4[i] += c.total4[i];
    if (c.colour) isColour = true;
    if (c.sum == 0 || c.n < 1) return {};

    const uint64_t n = c.n;
    average = int64_t(c.sum / n);

    const bool sixteen = originalImageRep->bitsPerSample == 16;
    const int shift = sixteen ? 8 : 0;
    // At least one sample each: under four samples (a frame of a pixel or three) a threshold
    // of 0 would be met by bin 0 whether it holds anything or not.
    const uint64_t thresholds[3] = {std::max<uint64_t>(n >> 2, 1), std::max<uint64_t>(n >> 1, 1),
                                    std::max<uint64_t>((n >> 1) + (n >> 2), 1)};
    int64_t* quartiles[3] = {&q1, &median, &q3};
    uint64_t cumulative = 0;
    size_t found = 0;
    for (int64_t b = 0; b < 256 && found < 3; ++b) {
        cumulative += c.bins[size_t(b)];
        while (found < 3 && cumulative >= thresholds[found])
            *quartiles[found++] = b << shift;
    }

    const uint64_t tb = uint64_t(double(n) * 0.004);
    const uint64_t tw = uint64_t(double(n) * 0.002);
    int64_t black = 256;
    cumulative = 0;
    for (int64_t b = 0; b < 256; ++b) {
        cumulative += c.bins[size_t(b)];
        if (cumulative > tb) {
            black = b;
            break;
        }
    }
    int64_t white = -1;
    cumulative = 0;
    for (int64_t b = 255; b >= 0; --b) {
        cumulative += c.bins[size_t(b)];
        if (cumulative > tw) {
            white = b;
            break;
        }
    }
    if (std::abs(white - black) <= 3) {
        if (black >= 2)
            black -= 2;
        else
            white += 2;
        if (white > 253)
            black -= 2;
        else
            white += 2;
    }
    if (sixteen) {
        autoBlackPoint = black * 256;
        autoWhitePoint = white * 256;
        _blackPoint = _whitePoint = 65535;
    } else {
        autoBlackPoint = black;
        autoWhitePoint = white;
        _blackPoint = _whitePoint = 255;
    }

    cachedHistogram = histogramPicture(c.bins);
    return cachedHistogram;
}
