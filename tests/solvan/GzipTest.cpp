// Gzip buffers against the system's gzip tool: what one writes the other reads; cut, corrupt
// and oversized streams give zlib errors, never Z_OK.
#include "solvan_io.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "Shell.h"

#include <random>
#include <string>
#include <vector>

namespace {

// A payload that compresses partly: a repeated header and random samples.
std::string payload(size_t size) {
    std::string data;
    std::mt19937 random(7);
    while (data.size() < size)
        data += data.size() % 4096 == 0 ? std::string("SIMPLE  =                    T")
                                        : std::string(1, char(random() % 16));
    data.resize(size);
    return data;
}

TEST(Gzip, ToolReadsWhatCompressWritesWithItsFileName) {
    ScratchDir dir;
    for (size_t size : {size_t(0), size_t(1), size_t(100000)}) {
        SCOPED_TRACE(size);
        const std::string data = payload(size);
        std::vector<char> out(size + 1024);
        size_t length = out.size();
        ASSERT_EQ(solvan_compress("frame.fits", data.data(), data.size(), out.data(), &length),
                  Z_OK);
        const std::string file = dir.write("out.gz", std::string(out.data(), length));
        EXPECT_EQ(shell("gzip -dc " + file), data);
        EXPECT_NE(shell("gzip -lN " + file).find("frame.fits"), std::string::npos);
    }
}

TEST(Gzip, DecompressReadsWhatTheToolWritesAndRejectsDamage) {
    const std::string data = payload(300000);
    const std::string packed = gzipTool(data);
    ASSERT_GT(packed.size(), 18u);
    const struct {
        const char* name;
        size_t cut;       // bytes removed from the end of the stream
        size_t flip;      // byte index to invert from the end (0: none)
        size_t capacity;  // output length offered
        int expected;     // zlib result
    } cases[] = {
        {"whole", 0, 0, data.size(), Z_OK},
        {"cut in the data", packed.size() / 2, 0, data.size(), Z_BUF_ERROR},
        {"cut in the trailer", 3, 0, data.size(), Z_BUF_ERROR},
        {"flipped length byte", 0, 1, data.size(), Z_DATA_ERROR},
        {"flipped check byte", 0, 6, data.size(), Z_DATA_ERROR},
        {"output one byte short", 0, 0, data.size() - 1, Z_BUF_ERROR},
        {"no output", 0, 0, 0, Z_BUF_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string stream = packed.substr(0, packed.size() - c.cut);
        if (c.flip) stream[stream.size() - c.flip] ^= 0xff;
        std::vector<char> out(data.size() + 16);
        size_t length = c.capacity;
        EXPECT_EQ(solvan_decompress(stream.data(), stream.size(), out.data(), &length), c.expected);
        EXPECT_LE(length, c.capacity);  // the bytes produced
        if (c.expected == Z_OK) {
            EXPECT_EQ(std::string(out.data(), length), data);
        }
    }
    // Text is no gzip stream.
    const char text[] = "SIMPLE  =                    T";
    std::vector<char> out(64);
    size_t length = out.size();
    EXPECT_EQ(solvan_decompress(text, sizeof text, out.data(), &length), Z_DATA_ERROR);
    EXPECT_EQ(length, 0u);
}

TEST(Gzip, TooSmallOutputAndOversizedLengthsAreRefused) {
    const std::string data = payload(50000);
    std::vector<char> out(100);
    size_t length = out.size();
    EXPECT_NE(solvan_compress("f", data.data(), data.size(), out.data(), &length), Z_OK);
    EXPECT_EQ(length, 100u);

    // Lengths past 32 bits: refused before a byte is touched.
    const size_t huge = size_t(1) << 32;
    length = out.size();
    EXPECT_EQ(solvan_compress("f", data.data(), huge, out.data(), &length), Z_BUF_ERROR);
    EXPECT_EQ(length, 0u);
    length = huge;
    EXPECT_EQ(solvan_decompress(data.data(), 10, out.data(), &length), Z_BUF_ERROR);
    EXPECT_EQ(length, 0u);
    length = 10;
    EXPECT_EQ(solvan_decompress(nullptr, 10, out.data(), &length), Z_STREAM_ERROR);
    length = 10;
    EXPECT_EQ(solvan_compress("f", data.data(), 10, nullptr, &length), Z_STREAM_ERROR);
    EXPECT_EQ(solvan_decompress(data.data(), 10, out.data(), nullptr), Z_STREAM_ERROR);
}

}  // namespace
