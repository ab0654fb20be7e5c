// Delivering the rows of an 8-bit RGB render to their destinations.
//
// A render kernel makes rows [first, end) into a small staging block that stays in the
// core's cache; the block is then streamed to the packed output (width x 3 bytes per row),
// the memory the returned picture shares. Bands of rows run on the cores; each row depends
// on the source alone, so the bytes do not depend on the thread count.
#pragma once

#include "ParallelRows.h"
#include "StreamCopy.h"

#include <algorithm>
#include <cstdint>
#include <vector>

struct RowTargets {
    uint8_t* packed = nullptr;  // width x 3 bytes per row, top row first
};

// Runs make(first, end, out), which writes rows [first, end) packed at `out`, over the whole
// frame, and copies every finished block to the target.
template <typename MakeRows>
void produceRows(int64_t width, int64_t height, const RowTargets& targets, MakeRows&& make) {
    if (width <= 0 || height <= 0) return;
    const size_t rowBytes = size_t(width) * 3;
    const int64_t blockRows = std::max<int64_t>(1, int64_t(32768 / rowBytes));
    // Bands of at least about 64 KB of output, so small frames stay on the calling thread.
    const int64_t bandRows = std::max<int64_t>(1, int64_t(65536 / rowBytes));
    parallelRows(height, bandRows, [&](int64_t y0, int64_t y1) {
        std::vector<uint8_t> staging(size_t(std::min(blockRows, y1 - y0)) * rowBytes);
        for (int64_t b0 = y0; b0 < y1; b0 += blockRows) {
            const int64_t b1 = std::min(y1, b0 + blockRows);
            make(b0, b1, staging.data());
            streamCopy(targets.packed + size_t(b0) * rowBytes, staging.data(),
                       size_t(b1 - b0) * rowBytes);
        }
        streamFence();
    });
}
