// Checked allocation and the library's assertions, which end the program in every build.
#ifndef NDEBUG
#define NDEBUG  // the assertions must survive it
#endif

#include "solvan_bus.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

// Under the address sanitizer an impossible allocation must return NULL like the C library's,
// not stop the program before the library can assert.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
// Under the thread sanitizer the common test main sets the same (tests/support/TestMain.cpp).

namespace {

TEST(SafeAllocation, ReturnsZeroedMemoryAndResizesIt) {
    auto* p = static_cast<unsigned char*>(solvan_safe_malloc(64));
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(p[i], 0);
    p[63] = 9;
    p = static_cast<unsigned char*>(solvan_safe_realloc(p, 4096));
    EXPECT_EQ(p[63], 9);
    std::free(p);
    // Size 0 still gives a pointer the caller may free.
    void* empty = solvan_safe_malloc(0);
    EXPECT_NE(empty, nullptr);
    empty = solvan_safe_realloc(empty, 0);
    EXPECT_NE(empty, nullptr);
    std::free(empty);
}

TEST(SafeAllocationDeathTest, FailedAllocationEndsTheProgramNamingTheRoutine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(solvan_safe_malloc(SIZE_MAX - 16),
                 "solvan_bus\\.c:[0-9]+: solvan_safe_malloc: Assertion `pointer != NULL' failed");
    EXPECT_DEATH(solvan_safe_realloc(nullptr, SIZE_MAX - 16),
                 "solvan_bus\\.c:[0-9]+: solvan_safe_realloc: Assertion `pointer != NULL' failed");
}

void checkPositive(int value) {
    SOLVAN_ASSERT(value > 0);
}

TEST(SafeAllocationDeathTest, AssertionsStayInReleaseBuilds) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    checkPositive(1);
    EXPECT_DEATH(checkPositive(0), "checkPositive: Assertion `value > 0' failed");
}

}  // namespace
