// The work-buffer pool: 16 returned buffers come back in slot order with what their last
// holder left, a 17th is freed, and many threads share the pool.
#include "solvan_bus.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace {

TEST(BufferPool, SixteenBuffersComeBackInUseAndTheSeventeenthIsFreed) {
    std::vector<char*> first;
    for (int i = 0; i < 17; i++) {
        char* buffer = static_cast<char*>(solvan_alloc_large_buffer());
        // A new buffer is zeroed over its whole size.
        EXPECT_EQ(buffer[0] | buffer[SOLVAN_LARGE_BUFFER_SIZE - 1], 0);
        std::memset(buffer, 'a' + i, SOLVAN_LARGE_BUFFER_SIZE);
        first.push_back(buffer);
    }
    EXPECT_EQ(std::set<char*>(first.begin(), first.end()).size(), 17u);
    for (char* buffer : first)
        solvan_free_large_buffer(buffer);  // the 17th finds the pool full: freed (ASan sees it)
    solvan_free_large_buffer(nullptr);
    for (int i = 0; i < 16; i++) {
        char* buffer = static_cast<char*>(solvan_alloc_large_buffer());
        EXPECT_EQ(buffer, first[i]);
        EXPECT_EQ(buffer[SOLVAN_LARGE_BUFFER_SIZE - 1], 'a' + i);  // contents as left
    }
    char* fresh = static_cast<char*>(solvan_alloc_large_buffer());
    EXPECT_EQ(fresh[0] | fresh[SOLVAN_LARGE_BUFFER_SIZE - 1], 0);
    solvan_free_large_buffer(fresh);
    for (int i = 15; i >= 0; i--)
        solvan_free_large_buffer(first[i]);  // the pool is full again; exit frees it
}

TEST(BufferPool, ThreadsShareThePool) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; t++)
        threads.emplace_back([t] {
            for (int i = 0; i < 2000; i++) {
                char* a = static_cast<char*>(solvan_alloc_large_buffer());
                char* b = static_cast<char*>(solvan_alloc_large_buffer());
                a[i] = b[i] = char(t);  // each buffer has one holder at a time
                solvan_free_large_buffer(b);
                solvan_free_large_buffer(a);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
}

}  // namespace
