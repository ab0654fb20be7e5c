// The star search written out literally: a 16-bit work copy of the frame's intensities, the
// whole search area scanned again for every star, and the four flood sweeps on the copy. The
// tests compare the library's finder with it record for record; the benchmark times it.
#pragma once

#include "solvan_raw_utils.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <vector>

inline std::vector<solvan_star> literalFindStars(solvan_raw_type type, const void* data, int radius,
                                                 int w, int h, int maxStars) {
    std::vector<solvan_star> stars;
    // Bytes per pixel, and where each pixel's (up to three) little-endian samples start.
    const bool mono = type == SOLVAN_RAW_MONO8 || type == SOLVAN_RAW_MONO16;
    const bool wide = type == SOLVAN_RAW_MONO16 || type == SOLVAN_RAW_RGB48;
    const bool rgb = type == SOLVAN_RAW_RGB24 || type == SOLVAN_RAW_RGB48;
    const int bpp = (mono ? 1 : rgb ? 3 : 4) * (1 + wide);
    const int first = type == SOLVAN_RAW_ARGB32 ? 1 : 0;
    if (w < 4 || h < 4 || maxStars < 1) return stars;
    const auto* frame = static_cast<const uint8_t*>(data);
    std::vector<uint16_t> work(size_t(w) * h);
    uint64_t sum = 0;
    for (size_t i = 0; i < work.size(); ++i) {
        // The grey sample, or the integer mean of the three colour samples.
        uint32_t total = 0;
        for (int c = 0; c < (mono ? 1 : 3); ++c) {
            const uint8_t* q = frame + i * bpp + first + c * (1 + wide);
            total += wide ? q[0] | q[1] << 8 : q[0];
        }
        sum += work[i] = uint16_t(total / (mono ? 1 : 3));
    }
    auto at = [&](int x, int y) -> uint16_t& { return work[size_t(y) * w + x]; };
    const uint32_t t = uint32_t(1.35 * double(sum) / (double(w) * double(h)));
    const uint32_t t2 = uint32_t(t * 0.99);
    const int b = h > 79 ? 20 : h / 4;
    const uint32_t full = wide ? 65535 : 255;
    auto median = [](uint32_t a, uint32_t v, uint32_t c) {
        return std::max(std::min(a, v), std::min(std::max(a, v), c));
    };
    while (int(stars.size()) < maxStars) {
        uint32_t best = t;
        int px = -1, py = -1;
        for (int y = b; y <= h - b - 1; ++y)
            for (int x = b; x <= w - b - 1; ++x) {
                const uint32_t v = at(x, y);
                if (v > best && median(at(x - 1, y), v, at(x + 1, y)) > t &&
                    median(at(x, y - 1), v, at(x, y + 1)) > t)
                    best = v, px = x, py = y;
            }
        if (px < 0) break;
        const int x0 = std::max(px - 100, 0), x1 = std::min(px + 100, w - 1);
        const int y0 = std::max(py - 100, 0), y1 = std::min(py + 100, h - 1);
        int64_t light = 0;
        auto run = [&](int row, int from, int step, int limit) {
            for (int col = from; step > 0 ? col <= limit : col >= limit; col += step) {
                if (at(col, row) <= t2) break;
                light += int64_t(at(col, row)) - int64_t(t);
                at(col, row) = 0;
            }
        };
        for (int row = py; row <= y1 && at(px, row) >= t2; ++row)
            run(row, px, 1, x1);
        if (px > x0)
            for (int row = py; row <= y1 && at(px - 1, row) >= t2; ++row)
                run(row, px - 1, -1, x0);
        if (py > y0)
            for (int row = py - 1; row >= y0 && at(px, row) >= t2; --row)
                run(row, px, 1, x1);
        if (py > y0 && px > x0)
            for (int row = py - 1; row >= y0 && at(px - 1, row) >= t2; --row)
                run(row, px - 1, -1, x0);
        double sx = px, sy = py;
        if (radius >= 3) {
            solvan_digest d;
            solvan_selection_centroid(type, data, &sx, &sy, radius, w, h, &d);
            if (solvan_selection_centroid(type, data, &sx, &sy, radius, w, h, &d) != SOLVAN_OK)
                continue;
        }
        solvan_star s{};
        s.x = sx, s.y = sy;
        s.ncdist = std::sqrt((sx - w / 2) * (sx - w / 2) + (sy - h / 2) * (sy - h / 2)) /
                   (std::min(w, h) / 2);
        s.lum = light == 0 ? -DBL_MAX : std::log(std::fabs(double(light)));
        s.oversaturated = best == full;
        stars.push_back(s);
    }
    if (!stars.empty())
        std::qsort(stars.data(), stars.size(), sizeof(solvan_star), solvan_compare_star_luminance);
    return stars;
}
