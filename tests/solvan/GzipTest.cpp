// Gzip buffers against the system's gzip tool: what one writes the other reads; cut, corrupt
// and oversized streams give zlib errors, never Z_OK.
#include "solvan_io.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

// Output of a shell command.
std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        out.append(chunk, n);
    pclose(pipe);
    return out;
}

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

class Gzip : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/solvan-gzip-XXXXXX";
        ASSERT_TRUE(mkdtemp(pattern));
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

    // `data` compressed by the gzip tool.
    std::string gzipTool(const std::string& data) {
        std::ofstream(dir_ + "/plain", std::ios::binary) << data;
        return run("gzip -c " + dir_ + "/plain");
    }

    std::string dir_;
};

TEST_F(Gzip, ToolReadsWhatCompressWritesWithItsFileName) {
    for (size_t size : {size_t(0), size_t(1), size_t(100000)}) {
        SCOPED_TRACE(size);
        const std::string data = payload(size);
        std::vector<char> out(size + 1024);
        size_t length = out.size();
        ASSERT_EQ(solvan_compress("frame.fits", data.data(), data.size(), out.data(), &length),
                  Z_OK);
        std::ofstream(dir_ + "/out.gz", std::ios::binary).write(out.data(), length);
        EXPECT_EQ(run("gzip -dc " + dir_ + "/out.gz"), data);
        EXPECT_NE(run("gzip -lN " + dir_ + "/out.gz").find("frame.fits"), std::string::npos);
    }
}

TEST_F(Gzip, DecompressReadsWhatTheToolWrites) {
    const std::string data = payload(300000);
    const std::string packed = gzipTool(data);
    ASSERT_FALSE(packed.empty());
    std::vector<char> out(data.size());
    size_t length = out.size();
    EXPECT_EQ(solvan_decompress(packed.data(), packed.size(), out.data(), &length), Z_OK);
    ASSERT_EQ(length, data.size());
    EXPECT_EQ(std::string(out.data(), length), data);
}

struct DamageCase {
    const char* name;
    int cut;          // bytes removed from the end of the stream
    int flip;         // byte index to invert from the end (0: none)
    int outputShort;  // bytes missing from the output capacity
    int expected;     // zlib result
};

TEST_F(Gzip, DamagedStreamsAndSmallOutputsAreErrors) {
    const std::string data = payload(50000);
    const std::string packed = gzipTool(data);
    const DamageCase cases[] = {
        {"cut in the data", int(packed.size() / 2), 0, 0, Z_BUF_ERROR},
        {"cut in the trailer", 3, 0, 0, Z_BUF_ERROR},
        {"flipped length byte", 0, 1, 0, Z_DATA_ERROR},
        {"flipped check byte", 0, 6, 0, Z_DATA_ERROR},
        {"output one byte short", 0, 0, 1, Z_BUF_ERROR},
        {"no output", 0, 0, int(data.size()), Z_BUF_ERROR},
    };
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string stream = packed.substr(0, packed.size() - c.cut);
        if (c.flip) stream[stream.size() - c.flip] ^= 0xff;
        std::vector<char> out(data.size() + 16);
        size_t length = data.size() - c.outputShort;
        EXPECT_EQ(solvan_decompress(stream.data(), stream.size(), out.data(), &length), c.expected);
        EXPECT_LE(length, data.size() - c.outputShort);  // the bytes produced
    }
    // A bare zlib stream and text are no gzip streams.
    const char text[] = "SIMPLE  =                    T";
    std::vector<char> out(64);
    size_t length = out.size();
    EXPECT_EQ(solvan_decompress(text, sizeof text, out.data(), &length), Z_DATA_ERROR);
    EXPECT_EQ(length, 0u);
}

TEST_F(Gzip, TooSmallOutputAndOversizedLengthsAreRefused) {
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
