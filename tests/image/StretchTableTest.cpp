// The stretch tables are filled by searching the steps of a non-decreasing map: every entry
// must still be the plain per-value division, for any points and white-balance coefficient.
#include "Stretch.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

struct TableCase {
    uint32_t maxValue;
    int64_t black, white;
    float coef;  // 0: no white balance
};

class StretchTableTest : public testing::TestWithParam<TableCase> {};

TEST_P(StretchTableTest, EveryEntryIsThePerValueStretch) {
    const TableCase c = GetParam();
    const StretchTable table(c.maxValue, c.black, c.white, c.coef);
    const double scale = stretchScale(c.black, c.white);
    for (uint32_t v = 0; v <= c.maxValue; ++v) {
        const int64_t value = c.coef > 0 ? whiteBalanced(v, c.coef) : int64_t(v);
        ASSERT_EQ(table[v], stretchValue(value, c.black, scale)) << "value " << v;
    }
}

INSTANTIATE_TEST_SUITE_P(
    PointsAndCoefficients, StretchTableTest,
    testing::Values(TableCase{255, 0, 255, 0}, TableCase{255, 50, 150, 0},
                    TableCase{255, 100, 100, 0}, TableCase{255, 150, 50, 0},
                    TableCase{65535, 0, 65535, 0}, TableCase{65535, 1234, 1300, 0},
                    TableCase{65535, 2000, 9000, 1.37f}, TableCase{65535, 0, 65535, 0.61f},
                    TableCase{65535, -70000, 3, 0}, TableCase{65535, 5, 6, 1e-30f},
                    TableCase{65535, int64_t(1) << 62, -(int64_t(1) << 62), 0},
                    TableCase{65535, -(int64_t(1) << 62), int64_t(1) << 62, 2.5f},
                    TableCase{255, 3, 777, 0.999f}));

}  // namespace
