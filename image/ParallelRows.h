// Splits the rows of a frame into bands and runs them on the cores.
//
// Each band is handed to `work(firstRow, endRow)` exactly once. The kernels that use this
// compute every output row from the source alone, so the result does not depend on how many
// bands there are or which thread runs which; kernels that accumulate (the histogram) keep
// one partial result per band and merge them in band order.
#pragma once

#include <QThread>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

// Row bands [first, end) covering 0..rows: about four per core for load balance, none smaller
// than `minRows` (small frames stay on the calling thread).
inline std::vector<std::pair<int64_t, int64_t>> rowBands(int64_t rows, int64_t minRows) {
    std::vector<std::pair<int64_t, int64_t>> bands;
    if (rows <= 0) return bands;
    const int64_t cores = std::max(1, QThread::idealThreadCount());
    const int64_t most = rows / std::max<int64_t>(1, minRows);
    const int64_t wanted = std::max<int64_t>(1, std::min(cores * 4, most));
    const int64_t per = (rows + wanted - 1) / wanted;
    for (int64_t y = 0; y < rows; y += per)
        bands.emplace_back(y, std::min(rows, y + per));
    return bands;
}

// Runs task(i) for every i in 0..count-1, each exactly once, on the band threads and the
// calling thread; returns when all have finished, and what the tasks wrote is then visible to
// the caller. The band threads are a set of their own, one per core less the caller: the viewer
// calls the kernels from a thread of the global pool, and waiting there for work queued on that
// same pool would never end once every global thread waits. The caller takes tasks of its own
// call too, so a call finishes even while every band thread serves another caller. The threads
// synchronise with standard mutexes and condition variables only, which ThreadSanitizer sees.
void runBands(size_t count, const std::function<void(size_t)>& task);

// Runs work(first, end) over every band; returns when all have finished.
template <typename Work>
void parallelRows(const std::vector<std::pair<int64_t, int64_t>>& bands, Work&& work) {
    if (bands.size() == 1) {
        work(bands[0].first, bands[0].second);
        return;
    }
    runBands(bands.size(), [&](size_t i) { work(bands[i].first, bands[i].second); });
}

// Runs work(first, end) over the rows 0..rows, split into bands of at least minRows rows.
template <typename Work>
void parallelRows(int64_t rows, int64_t minRows, Work&& work) {
    parallelRows(rowBands(rows, minRows), std::forward<Work>(work));
}
