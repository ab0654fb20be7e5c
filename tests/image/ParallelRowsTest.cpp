// The band threads: every task of a call runs exactly once, calls from several threads at
// once each get all of theirs, and what the tasks wrote is seen by the caller.
#include "ParallelRows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(ParallelRows, EveryTaskRunsOnceAndItsResultIsSeen) {
    for (size_t count : {size_t(0), size_t(1), size_t(2), size_t(7), size_t(64), size_t(1000)}) {
        std::vector<int> runs(count, 0);  // plain ints: the caller reads them after the call
        runBands(count, [&](size_t i) { ++runs[i]; });
        for (size_t i = 0; i < count; ++i)
            ASSERT_EQ(runs[i], 1) << "task " << i << " of " << count;
    }
}

TEST(ParallelRows, CallersOnSeveralThreadsEachGetAllTheirTasks) {
    constexpr int callers = 6, calls = 20, tasks = 50;
    std::vector<std::vector<int>> sums(callers, std::vector<int>(calls, 0));
    std::vector<std::thread> threads;
    for (int c = 0; c < callers; ++c)
        threads.emplace_back([&, c] {
            for (int k = 0; k < calls; ++k) {
                std::vector<int> values(tasks, 0);
                runBands(tasks, [&](size_t i) { values[i] = int(i) + c; });
                for (int v : values)
                    sums[c][k] += v;
            }
        });
    for (std::thread& t : threads)
        t.join();
    for (int c = 0; c < callers; ++c)
        for (int k = 0; k < calls; ++k)
            EXPECT_EQ(sums[c][k], tasks * (tasks - 1) / 2 + tasks * c);
}

TEST(ParallelRows, BandsCoverTheRowsOnce) {
    for (int64_t rows : {1, 5, 100, 4097}) {
        std::vector<std::atomic<int>> seen(static_cast<size_t>(rows));
        parallelRows(rows, 3, [&](int64_t first, int64_t end) {
            for (int64_t y = first; y < end; ++y)
                ++seen[size_t(y)];
        });
        for (int64_t y = 0; y < rows; ++y)
            ASSERT_EQ(seen[size_t(y)].load(), 1) << "row " << y << " of " << rows;
    }
}

}  // namespace
