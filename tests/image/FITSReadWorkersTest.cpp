// The workers of the banded FITS read: every worker runs once, on the caller's thread or one of
// its own; a thread that cannot be had leaves its work to the others; a thread that cannot be
// started for want of memory, or a worker that throws on any thread, ends in that exception on
// the caller's thread once every started thread has returned (std::bad_alloc is what callers
// report as out of memory), never in std::terminate.
#include "FITSPixels.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

namespace {

// The workers that ran, and on which threads, recorded by each worker itself.
struct Ran {
    void add(int worker) {
        const std::lock_guard<std::mutex> hold(lock);
        workers.insert(worker);
        threads.insert(std::this_thread::get_id());
    }
    std::mutex lock;
    std::set<int> workers;
    std::set<std::thread::id> threads;
};

// Starts real threads, but fails the start numbered `failAt` (1-based) with `failure`.
ThreadStarter failingStart(int failAt, std::exception_ptr failure, std::atomic<int>& starts) {
    return [failAt, failure, &starts](std::function<void()> run) {
        if (++starts == failAt) std::rethrow_exception(failure);
        return std::thread(std::move(run));
    };
}

}  // namespace

TEST(FITSReadWorkersTest, EveryWorkerRunsOnceOnAThreadOfItsOwn) {
    Ran ran;
    runWorkers(4, [&](int w) { ran.add(w); });
    EXPECT_EQ(ran.workers, (std::set<int>{0, 1, 2, 3}));
    EXPECT_EQ(ran.threads.size(), 4u);
    EXPECT_EQ(ran.threads.count(std::this_thread::get_id()), 1u);
}

// No further thread to be had (what std::thread throws when the system gives none): the
// caller and the threads already started run, and nothing is thrown.
TEST(FITSReadWorkersTest, AThreadNotToBeHadLeavesTheWorkToTheOthers) {
    Ran ran;
    std::atomic<int> starts{0};
    const auto unavailable = std::make_exception_ptr(
        std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)));
    EXPECT_NO_THROW(runWorkers(
        5, [&](int w) { ran.add(w); }, failingStart(2, unavailable, starts)));
    EXPECT_EQ(ran.workers, (std::set<int>{0, 1}));
    EXPECT_EQ(starts.load(), 2);
}

// Starting a thread runs out of memory, the first start or a later one: std::bad_alloc on the
// caller's thread once the threads started have returned; the caller's own worker does not
// run.
TEST(FITSReadWorkersTest, AThreadStartOutOfMemoryThrowsBadAllocAfterTheOthersReturn) {
    for (int failAt : {1, 2, 3}) {
        SCOPED_TRACE(failAt);
        Ran ran;
        std::atomic<int> starts{0};
        std::atomic<int> returned{0};
        EXPECT_THROW(runWorkers(
                         4,
                         [&](int w) {
                             std::this_thread::sleep_for(std::chrono::milliseconds(20));
                             ran.add(w);
                             ++returned;
                         },
                         failingStart(failAt, std::make_exception_ptr(std::bad_alloc()), starts)),
                     std::bad_alloc);
        std::set<int> started;
        for (int w = 1; w < failAt; ++w)
            started.insert(w);
        EXPECT_EQ(ran.workers, started);
        EXPECT_EQ(returned.load(), failAt - 1);
    }
}

// A worker that throws, on the caller's thread or on one of its own: the first exception
// reaches the caller once every worker has returned.
TEST(FITSReadWorkersTest, AWorkersExceptionReachesTheCallerAfterAllReturn) {
    struct Case {
        int thrower;  // the worker that throws
        bool memory;  // std::bad_alloc, else std::runtime_error
    };
    for (const Case& c : {Case{2, true}, Case{2, false}, Case{0, true}, Case{0, false}}) {
        SCOPED_TRACE(testing::Message() << "worker " << c.thrower << (c.memory ? " memory" : ""));
        Ran ran;
        auto worker = [&](int w) {
            if (w == c.thrower) {
                if (c.memory) throw std::bad_alloc();
                throw std::runtime_error("worker " + std::to_string(w));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ran.add(w);
        };
        std::set<int> others = {0, 1, 2, 3};
        others.erase(c.thrower);
        if (c.memory) {
            EXPECT_THROW(runWorkers(4, worker), std::bad_alloc);
        } else {
            EXPECT_THROW(runWorkers(4, worker), std::runtime_error);
        }
        EXPECT_EQ(ran.workers, others);
    }
}
