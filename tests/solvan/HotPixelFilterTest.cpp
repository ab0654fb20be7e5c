// solvan_filter_hot_pixel_8 / _16: the five-sample median filter, its clamping at the frame
// edge and its behaviour on frames too small to have neighbours.
#include "solvan_raw_utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

namespace {

// A w x h grey frame of `background` with the given pixels set.
template <typename T>
std::vector<T> frame(int w, int h, T background,
                     std::initializer_list<std::tuple<int, int, T>> set) {
    std::vector<T> f(size_t(w) * h, background);
    for (auto [x, y, v] : set)
        f[size_t(y) * w + x] = v;
    return f;
}

int filter8(const std::vector<uint8_t>& f, int x, int y, int w, int h) {
    return solvan_filter_hot_pixel_8(f.data(), x, y, w, h);
}
int filter16(const std::vector<uint16_t>& f, int x, int y, int w, int h) {
    return solvan_filter_hot_pixel_16(f.data(), x, y, w, h);
}

TEST(HotPixelFilter, LoneHotPixelIsReplacedByTheMedian) {
    auto f = frame<uint8_t>(5, 5, 10, {{2, 2, 255}});
    EXPECT_EQ(filter8(f, 2, 2, 5, 5), 10);
    auto g = frame<uint16_t>(5, 5, 1000, {{2, 2, 65535}});
    EXPECT_EQ(filter16(g, 2, 2, 5, 5), 1000);
}

TEST(HotPixelFilter, MedianIsThatOfTheCentreAndItsFourDiagonals) {
    // Diagonals 1, 3, 5, 7 and a hot centre: the median of {1, 3, 5, 7, 200} is 5.
    auto f = frame<uint8_t>(3, 3, 0, {{0, 0, 1}, {2, 0, 3}, {0, 2, 5}, {2, 2, 7}, {1, 1, 200}});
    EXPECT_EQ(filter8(f, 1, 1, 3, 3), 5);
}

TEST(HotPixelFilter, PixelNotTwiceItsSecondNeighbourIsKept) {
    auto f = frame<uint8_t>(5, 5, 10, {{2, 2, 20}});
    EXPECT_EQ(filter8(f, 2, 2, 5, 5), 20);  // 20 is not greater than 2 x 10
    auto g = frame<uint8_t>(5, 5, 10, {{2, 2, 21}});
    EXPECT_EQ(filter8(g, 2, 2, 5, 5), 10);
}

TEST(HotPixelFilter, CentreEqualToItsLargestDiagonalIsKept) {
    auto f = frame<uint8_t>(5, 5, 10, {{2, 2, 50}, {3, 3, 50}});
    EXPECT_EQ(filter8(f, 2, 2, 5, 5), 50);
}

TEST(HotPixelFilter, CentreBelowADiagonalIsKept) {
    auto f = frame<uint8_t>(5, 5, 10, {{2, 2, 100}, {1, 1, 200}});
    EXPECT_EQ(filter8(f, 2, 2, 5, 5), 100);
}

TEST(HotPixelFilter, OuterEdgeReadsAsItsInnerNeighbour) {
    // Column 1 holds a hot pixel at row 2; column 0 and row 0 clamp onto column 1 and row 1.
    auto f = frame<uint8_t>(5, 5, 10, {{1, 2, 250}, {0, 2, 77}});
    EXPECT_EQ(filter8(f, 0, 2, 5, 5), filter8(f, 1, 2, 5, 5));
    EXPECT_EQ(filter8(f, 0, 2, 5, 5), 10);
    auto g = frame<uint8_t>(5, 5, 10, {{2, 1, 15}});
    EXPECT_EQ(filter8(g, 2, 0, 5, 5), 15);
    EXPECT_EQ(filter8(g, 4, 4, 5, 5), filter8(g, 3, 3, 5, 5));
    EXPECT_EQ(filter8(g, -3, 99, 5, 5), filter8(g, 1, 3, 5, 5));
}

TEST(HotPixelFilter, FramesWithoutNeighboursAreReadUnfilteredInsideTheFrame) {
    // Exactly sized buffers: any read outside is caught by the address sanitizer.
    struct Case {
        int w, h;
    };
    for (Case c :
         {Case{1, 1}, Case{2, 1}, Case{1, 2}, Case{2, 2}, Case{2, 7}, Case{7, 2}, Case{1, 9}}) {
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
        std::vector<uint8_t> f(size_t(c.w) * c.h);
        std::vector<uint16_t> g(size_t(c.w) * c.h);
        for (size_t i = 0; i < f.size(); ++i)
            f[i] = uint8_t(10 + i), g[i] = uint16_t(1000 + i);
        for (int y = -1; y <= c.h; ++y)
            for (int x = -1; x <= c.w; ++x) {
                const int cx = std::clamp(x, 0, c.w - 1), cy = std::clamp(y, 0, c.h - 1);
                EXPECT_EQ(filter8(f, x, y, c.w, c.h), 10 + cy * c.w + cx);
                EXPECT_EQ(filter16(g, x, y, c.w, c.h), 1000 + cy * c.w + cx);
            }
    }
}

TEST(HotPixelFilter, MissingOrEmptyFrameGivesZero) {
    EXPECT_EQ(solvan_filter_hot_pixel_8(nullptr, 1, 1, 5, 5), 0);
    uint8_t one = 9;
    EXPECT_EQ(solvan_filter_hot_pixel_8(&one, 0, 0, 0, 1), 0);
    EXPECT_EQ(solvan_filter_hot_pixel_16(nullptr, 0, 0, 1, 1), 0);
}

TEST(HotPixelFilter, SixteenBitSamplesAreLittleEndian) {
    // Bytes 0x34 0x12 form 0x1234 whatever the host's byte order.
    std::vector<uint8_t> bytes(9 * 2, 0);
    bytes[8] = 0x34, bytes[9] = 0x12;  // pixel (1, 1)
    for (int i : {0, 2, 6, 8})
        bytes[i * 2] = 0x00, bytes[i * 2 + 1] = 0x12;  // diagonals 0x1200
    std::vector<uint16_t> words(9);
    std::memcpy(words.data(), bytes.data(), bytes.size());
    EXPECT_EQ(solvan_filter_hot_pixel_16(words.data(), 1, 1, 3, 3), 0x1234);
}

}  // namespace
