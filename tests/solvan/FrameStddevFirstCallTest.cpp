// The 16-bit deviation keeps no shared state: eight threads making the first call of the process
// together (this binary holds this one test, so nothing has called it before) must give the
// same deviation and, under the thread sanitizer, no race on what the first call learns about
// the processor.
#include "solvan_raw_utils.h"

#include <gtest/gtest.h>

#include <barrier>
#include <cmath>
#include <thread>
#include <vector>

TEST(FrameStddevFirstCall, EightThreadsAtOnce) {
    std::vector<uint16_t> samples(4096);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = uint16_t(i % 2 ? 1000 : 3000);  // mean 2000, deviation 1000
    std::barrier start(8);
    std::vector<double> results(8, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            results[t] = solvan_stddev_16bit(samples.data(), samples.size(), nullptr);
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(results, std::vector<double>(8, 1000.0));
}
