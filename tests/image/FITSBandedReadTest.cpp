// A tile-compressed HDU read in bands of rows on several threads, each with a CFITSIO handle of
// its own: the same bytes as the read on one thread, and for integer samples the same as
// CFITSIO's own read of the whole image; failures reported as the one-thread read reports
// them; samples beyond the bitmap's type clipped as CFITSIO clips them in the plain file; the
// split the decode helper asks for.
#include "FITSPixels.h"
#include "FitsFiles.h"
#include "TestData.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

// CFITSIO 4.2 leaks the buffer of a tile it fails to decompress (the broken-tile case below,
// on one thread as in bands); the leaks of the test main's own list stay suppressed too.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libpocl.so\nleak:libLLVM\nleak:imcomp_decompress_tile\n";
}

namespace {

// The bytes of a FITS file with handles on them, as the decode helper has its input mapping.
class MemoryFits {
  public:
    explicit MemoryFits(QByteArray bytes)
        : bytes_(std::move(bytes)), address_(bytes_.data()), size_(size_t(bytes_.size())) {}
    // A handle on HDU `hdu` (1-based); nullptr when CFITSIO cannot open it.
    fitsfile* open(int hdu) {
        fitsfile* f = nullptr;
        int status = 0, type = 0;
        fits_open_memfile(&f, "", READONLY, &address_, &size_, 0, nullptr, &status);
        fits_movabs_hdu(f, hdu, &type, &status);
        if (status == 0) return f;
        status = 0;
        if (f) fits_close_file(f, &status);
        return nullptr;
    }
    QByteArray& bytes() { return bytes_; }

  private:
    QByteArray bytes_;
    void* address_;  // CFITSIO keeps the addresses of these two while a handle is open
    size_t size_;
};

// Closes a handle on scope exit.
struct Handle {
    explicit Handle(fitsfile* f) : f(f) {}
    ~Handle() {
        int s = 0;
        if (f) fits_close_file(f, &s);
    }
    fitsfile* f;
};

// The layout FITSImageRep gives the image HDU `f` is on.
FitsPixelLayout layoutOf(fitsfile* f) {
    int bitpix = 0, naxis = 0, status = 0;
    long naxes[3] = {1, 1, 1};
    fits_get_img_param(f, 3, &bitpix, &naxis, naxes, &status);
    FitsPixelLayout layout;
    layout.bitpix = bitpix;
    layout.channels = naxis == 3 ? 3 : 1;
    layout.planesPresent = naxis == 3 ? int(std::min<long>(3, naxes[2])) : 1;
    layout.width = naxes[0];
    layout.height = naxes[1];
    return layout;
}

// What one compressed test image is.
struct Packing {
    const char* name;
    int compression;               // CFITSIO compression type
    int bitpix;                    // BITPIX written
    long width, height, planes;    // axes (planes 1: a two-axis image)
    std::vector<long> tile;        // ZTILEn; empty: CFITSIO's default
    double bscale = 1, bzero = 0;  // header scaling of integer samples
    int ditherMethod = 0;          // quantizing of float samples: 0 CFITSIO's default
    bool lossless = false;         // float samples kept as they are (GZIP only)
};

// A frame of background, gradient, noise, bright stars and, for floats, some NaN samples,
// compressed as `packing` says after an empty primary HDU. Samples are written in the image's own
// type (CFITSIO converts none into a compressed image), scaled ones as stored.
QByteArray compressedImage(const Packing& packing) {
    const size_t count = size_t(packing.width * packing.height * packing.planes);
    std::vector<double> samples(count);
    uint32_t noise = 77;
    for (size_t i = 0; i < count; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const long x = long(i % size_t(packing.width)), y = long(i / size_t(packing.width));
        double v =
            300 + x + 2 * (y % packing.height) + (noise >> 26) + ((x * 7 + y * 13) % 89 ? 0 : 2500);
        if (packing.bitpix == BYTE_IMG) v = double(long(v) & 0xff);
        if (packing.bitpix < 0)
            v = (noise >> 20) % 997 == 0 ? NAN : v + (noise >> 8) % 1000 / 999.0;
        samples[i] = v;
    }
    return writeFits([&](fitsfile* f, int* st) {
        fits_create_img(f, BYTE_IMG, 0, nullptr, st);
        fits_set_compression_type(f, packing.compression, st);
        if (!packing.tile.empty())
            fits_set_tile_dim(f, int(packing.tile.size()), const_cast<long*>(packing.tile.data()),
                              st);
        if (packing.ditherMethod) fits_set_quantize_method(f, packing.ditherMethod, st);
        if (packing.lossless) fits_set_quantize_level(f, 0.0f, st);
        long axes[3] = {packing.width, packing.height, packing.planes};
        fits_create_img(f, packing.bitpix, packing.planes > 1 ? 3 : 2, axes, st);
        if (packing.bscale != 1 || packing.bzero != 0) {
            double scale = packing.bscale, zero = packing.bzero;
            fits_write_key(f, TDOUBLE, "BSCALE", &scale, nullptr, st);
            fits_write_key(f, TDOUBLE, "BZERO", &zero, nullptr, st);
            fits_set_bscale(f, 1.0, 0.0, st);
        }
        auto write = [&](auto zero, int type) {
            std::vector<decltype(zero)> typed(samples.begin(), samples.end());
            fits_write_img(f, type, 1, LONGLONG(count), typed.data(), st);
        };
        switch (packing.bitpix) {
            case BYTE_IMG:
                return write(uint8_t(), TBYTE);
            case SHORT_IMG:
                return write(short(), TSHORT);
            case USHORT_IMG:
                return write(uint16_t(), TUSHORT);
            case LONG_IMG:
                return write(int(), TINT);
            case FLOAT_IMG:
                return write(float(), TFLOAT);
            default:
                return write(double(), TDOUBLE);
        }
    });
}

// The HDU read through readFitsPixels, or in bands; `status` gets what the read returned.
std::vector<uint8_t> readWhole(MemoryFits& file, int* status) {
    Handle h(file.open(2));
    if (!h.f) return {};
    const FitsPixelLayout layout = layoutOf(h.f);
    std::vector<uint8_t> out(size_t(layout.outputBytes()));
    *status = readFitsPixels(h.f, layout, out.data());
    return out;
}

std::vector<uint8_t> readBanded(MemoryFits& file, FitsBands bands, int* status,
                                FitsHandleOpener open = {}) {
    Handle h(file.open(2));
    if (!h.f) return {};
    const FitsPixelLayout layout = layoutOf(h.f);
    std::vector<uint8_t> out(size_t(layout.outputBytes()));
    if (!open) open = [&file] { return file.open(2); };
    *status = readFitsPixelsInBands(h.f, layout, out.data(), bands, open);
    return out;
}

// Integer samples as CFITSIO reads the whole image (TBYTE or TUSHORT, scaling applied),
// interleaved per pixel with three channels: what the bitmap must hold.
std::vector<uint8_t> cfitsioBitmap(MemoryFits& file) {
    Handle h(file.open(2));
    const FitsPixelLayout layout = layoutOf(h.f);
    const int64_t npix = layout.width * layout.height;
    const int size = layout.bitpix == 8 ? 1 : 2;
    std::vector<uint8_t> plane(size_t(npix * size)), out(size_t(layout.outputBytes()));
    for (int c = 0; c < layout.planesPresent; ++c) {
        long first[3] = {1, 1, c + 1};
        int status = 0;
        fits_read_pix(h.f, size == 1 ? TBYTE : TUSHORT, first, npix, nullptr, plane.data(), nullptr,
                      &status);
        EXPECT_EQ(status, 0);
        for (int64_t i = 0; i < npix; ++i)
            std::memcpy(&out[size_t((i * layout.channels + c) * size)], &plane[size_t(i * size)],
                        size_t(size));
    }
    return out;
}

struct BandCase {
    Packing packing;
    int64_t bandRows;  // rows per band asked for
    int threads;       // threads asked for
};

const std::vector<BandCase>& bandCases() {
    static const std::vector<BandCase> cases = {
        // Row tiles; 203 rows are no multiple of the band.
        {{"RiceRows", RICE_1, SHORT_IMG, 301, 203, 1, {}}, 16, 4},
        {{"RiceUnsigned", RICE_1, USHORT_IMG, 301, 203, 1, {}}, 50, 3},
        {{"RiceScaled", RICE_1, SHORT_IMG, 301, 203, 1, {}, 0.5, 100}, 30, 4},
        // Tiles that divide neither axis; bands of one and of two tile rows, and bands cutting
        // through tiles (each such tile decoded by both bands).
        {{"GzipOddTiles", GZIP_1, SHORT_IMG, 301, 203, 1, {64, 48}}, 48, 4},
        {{"GzipTwoTileRows", GZIP_1, SHORT_IMG, 301, 203, 1, {64, 48}}, 96, 4},
        {{"Gzip2BandsCutTiles", GZIP_2, SHORT_IMG, 301, 203, 1, {64, 48}}, 70, 4},
        {{"Plio", PLIO_1, SHORT_IMG, 301, 203, 1, {}}, 17, 4},
        // Decoded on the caller's thread alone, whatever is asked: CFITSIO's HCOMPRESS decoder
        // is not reentrant.
        {{"Hcompress", HCOMPRESS_1, SHORT_IMG, 301, 203, 1, {301, 16}}, 32, 4},
        {{"RiceBytes", RICE_1, BYTE_IMG, 301, 203, 1, {}}, 20, 4},
        {{"RiceByteCube", RICE_1, BYTE_IMG, 301, 203, 3, {}}, 25, 4},
        {{"RiceCubeTilesOfThreePlanes", RICE_1, SHORT_IMG, 150, 101, 3, {64, 32, 3}}, 32, 3},
        {{"GzipCubeOfTwoPlanes", GZIP_1, SHORT_IMG, 150, 101, 2, {}}, 40, 4},
        {{"QuantizedFloat", RICE_1, FLOAT_IMG, 301, 203, 1, {}}, 30, 4},
        {{"QuantizedFloatDither2", RICE_1, FLOAT_IMG, 301, 203, 1, {}, 1, 0, SUBTRACTIVE_DITHER_2},
         30,
         4},
        {{"QuantizedFloatCube", GZIP_2, FLOAT_IMG, 150, 101, 3, {}}, 11, 4},
        {{"LosslessDouble", GZIP_2, DOUBLE_IMG, 301, 203, 1, {}, 1, 0, 0, true}, 13, 4},
        {{"Long", RICE_1, LONG_IMG, 301, 203, 1, {}}, 64, 4},
        // One tile for the whole image: every band decodes it.
        {{"OneTile", RICE_1, SHORT_IMG, 301, 203, 1, {301, 203}}, 50, 4},
        // More threads than bands.
        {{"TwoBandsEightThreads", RICE_1, SHORT_IMG, 301, 203, 1, {}}, 150, 8},
    };
    return cases;
}

void PrintTo(const BandCase& c, std::ostream* os) {
    *os << c.packing.name;
}

class FITSBandedRead : public ::testing::TestWithParam<BandCase> {};

}  // namespace

TEST_P(FITSBandedRead, GivesTheBytesOfTheOneThreadRead) {
    const BandCase& c = GetParam();
    MemoryFits file(compressedImage(c.packing));
    ASSERT_FALSE(file.bytes().isEmpty());
    int wholeStatus = -1, bandStatus = -1;
    std::atomic<int> opened{0};
    const std::vector<uint8_t> whole = readWhole(file, &wholeStatus);
    const std::vector<uint8_t> banded = readBanded(file, {c.bandRows, c.threads}, &bandStatus, [&] {
        ++opened;
        return file.open(2);
    });
    ASSERT_EQ(wholeStatus, 0);
    ASSERT_EQ(bandStatus, 0);
    ASSERT_FALSE(whole.empty());
    EXPECT_TRUE(whole == banded);
    if (c.packing.bitpix == BYTE_IMG || c.packing.bitpix == SHORT_IMG ||
        c.packing.bitpix == USHORT_IMG) {
        EXPECT_TRUE(banded == cfitsioBitmap(file));
    }
    if (c.packing.compression == HCOMPRESS_1) {
        EXPECT_EQ(opened.load(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FITSBandedRead, ::testing::ValuesIn(bandCases()),
                         [](const auto& info) { return std::string(info.param.packing.name); });

// Every further handle refused: the caller's thread reads every band.
TEST(FITSBandedReadTest, BandsOfThreadsWithoutAHandleAreReadByTheOthers) {
    MemoryFits file(compressedImage({"Rice", RICE_1, SHORT_IMG, 301, 203, 1, {}}));
    int status = -1, wholeStatus = -1;
    const std::vector<uint8_t> banded =
        readBanded(file, {10, 4}, &status, [] { return static_cast<fitsfile*>(nullptr); });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(banded == readWhole(file, &wholeStatus));
}

// A tile whose compressed bytes are garbage, in a band in the middle: the banded read reports
// the status the one-thread read stops with.
TEST(FITSBandedReadTest, ABrokenTileGivesTheOneThreadReadsStatus) {
    MemoryFits file(compressedImage({"Gzip", GZIP_1, SHORT_IMG, 301, 203, 1, {}}));
    {
        Handle h(file.open(2));
        ASSERT_TRUE(h.f);
        LONGLONG length = 0, offset = 0;
        int status = 0;
        fits_read_descriptll(h.f, h.f->Fptr->cn_compressed, 120, &length, &offset, &status);
        ASSERT_EQ(status, 0);
        ASSERT_GT(length, 20);
        const LONGLONG heap = h.f->Fptr->datastart + h.f->Fptr->heapstart;
        std::memset(file.bytes().data() + heap + offset + 10, 0xa5, size_t(length - 10));
    }
    int wholeStatus = 0, bandStatus = 0;
    readWhole(file, &wholeStatus);
    readBanded(file, {16, 4}, &bandStatus);
    EXPECT_NE(wholeStatus, 0);
    EXPECT_EQ(bandStatus, wholeStatus);
}

// The split for the decode helper: bands of whole tile rows of at least a quarter of a million
// pixels for large frames whose decoder is reentrant, one band on the caller's thread else,
// and no more further threads than their tiles' memory allows.
TEST(FITSBandedReadTest, PlanSplitsLargeFramesInWholeTileRows) {
    struct Case {
        Packing packing;
        int cores;
        int fewestThreads, mostThreads;
    };
    const Case cases[] = {
        {{"LargeRows", RICE_1, SHORT_IMG, 2048, 1024, 1, {}}, 8, 8, 8},
        {{"LargeTiles", GZIP_1, SHORT_IMG, 2000, 1000, 1, {100, 30}}, 8, 2, 8},
        {{"TwoCores", RICE_1, SHORT_IMG, 2048, 1024, 1, {}}, 2, 2, 2},
        {{"OneCore", RICE_1, SHORT_IMG, 2048, 1024, 1, {}}, 1, 1, 1},
        {{"Small", RICE_1, SHORT_IMG, 440, 300, 1, {}}, 8, 1, 1},
        {{"Hcompress", HCOMPRESS_1, SHORT_IMG, 2048, 1024, 1, {2048, 16}}, 8, 1, 1},
        {{"OneTileRow", RICE_1, SHORT_IMG, 2048, 1024, 1, {256, 1024}}, 8, 1, 1},
        // Tiles of a megapixel: each further thread needs 24 MB for them and 9 MB for its stack
        // and handle; 4 MB of pixels and 64 MB leave room for two at most.
        {{"HugeTiles", RICE_1, BYTE_IMG, 2048, 2048, 1, {2048, 512}}, 8, 2, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.packing.name);
        MemoryFits file(compressedImage(c.packing));
        Handle h(file.open(2));
        ASSERT_TRUE(h.f);
        const FitsPixelLayout layout = layoutOf(h.f);
        const FitsBands plan = planFitsBands(h.f, layout, c.cores);
        EXPECT_GE(plan.threads, c.fewestThreads);
        EXPECT_LE(plan.threads, c.mostThreads);
        if (plan.threads == 1) continue;
        const long tileHeight = c.packing.tile.empty() ? 1 : c.packing.tile[1];
        EXPECT_EQ(plan.rows % tileHeight, 0);
        EXPECT_GE(plan.rows * c.packing.width, 1 << 18);
        EXPECT_GE((c.packing.height + plan.rows - 1) / plan.rows, plan.threads);
    }
    // An HDU that is not tile-compressed.
    MemoryFits plain(writeFits([](fitsfile* f, int* st) {
        addImage(f, st, SHORT_IMG, {2048, 1024}, TSHORT, std::vector<short>(2048 * 1024, 7));
    }));
    Handle h(plain.open(1));
    ASSERT_TRUE(h.f);
    EXPECT_EQ(planFitsBands(h.f, layoutOf(h.f), 8).threads, 1);
}

namespace {

// A frame whose samples, after the header's scaling, lie beyond the bitmap's type here and
// there (below zero, or above its top), written plain and tile-compressed.
struct ClipCase {
    const char* name;
    int bitpix;              // BYTE_IMG or SHORT_IMG
    int compression;         // CFITSIO compression type of the packed file
    std::vector<long> tile;  // ZTILEn; empty: rows
    double bscale, bzero;    // header scaling; 1, 0: samples as stored
    bool clipsTop;           // some scaled samples lie above 65535 too
    FitsBands bands;         // the split asked for
};

// Stored samples of -300..896 (0..255 for bytes), some in every row and in every tile, after
// an empty primary HDU; plain (compression 0) or packed as `c` says.
QByteArray clipFrame(const ClipCase& c, int compression) {
    const long w = 301, h = 203;
    std::vector<short> samples(size_t(w * h));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = c.bitpix == BYTE_IMG ? short(i * 37 % 256) : short(int(i * 37 % 1197) - 300);
    return writeFits([&](fitsfile* f, int* st) {
        fits_create_img(f, BYTE_IMG, 0, nullptr, st);
        if (compression != 0) fits_set_compression_type(f, compression, st);
        if (compression != 0 && !c.tile.empty())
            fits_set_tile_dim(f, int(c.tile.size()), const_cast<long*>(c.tile.data()), st);
        long axes[2] = {w, h};
        fits_create_img(f, c.bitpix, 2, axes, st);
        if (c.bscale != 1 || c.bzero != 0) {
            double scale = c.bscale, zero = c.bzero;
            fits_write_key(f, TDOUBLE, "BSCALE", &scale, nullptr, st);
            fits_write_key(f, TDOUBLE, "BZERO", &zero, nullptr, st);
            fits_set_bscale(f, 1.0, 0.0, st);  // the samples below are the stored ones
        }
        // A compressed image takes samples of its own type only.
        std::vector<uint8_t> bytes(samples.begin(), samples.end());
        if (c.bitpix == BYTE_IMG)
            fits_write_img(f, TBYTE, 1, LONGLONG(bytes.size()), bytes.data(), st);
        else
            fits_write_img(f, TSHORT, 1, LONGLONG(samples.size()), samples.data(), st);
    });
}

// The plain frame read whole by CFITSIO, which clips samples beyond the type and says so.
std::vector<uint8_t> plainBitmap(MemoryFits& file, int bitpix) {
    Handle h(file.open(2));
    const FitsPixelLayout layout = layoutOf(h.f);
    std::vector<uint8_t> out(size_t(layout.outputBytes()));
    long first[2] = {1, 1};
    int status = 0;
    fits_read_pix(h.f, bitpix == BYTE_IMG ? TBYTE : TUSHORT, first,
                  LONGLONG(layout.width * layout.height), nullptr, out.data(), nullptr, &status);
    EXPECT_EQ(status, NUM_OVERFLOW);
    return out;
}

class FITSClippedRead : public ::testing::TestWithParam<ClipCase> {};

void PrintTo(const ClipCase& c, std::ostream* os) {
    *os << c.name;
}

const std::vector<ClipCase>& clipCases() {
    static const std::vector<ClipCase> cases = {
        // Signed 16-bit samples: row tiles, tiles of 100 rows, one tile, tiles that split rows.
        {"SignedRows", SHORT_IMG, RICE_1, {}, 1, 0, false, {16, 4}},
        {"SignedTallTiles", SHORT_IMG, RICE_1, {301, 100}, 1, 0, false, {100, 3}},
        {"SignedOneTile", SHORT_IMG, GZIP_2, {301, 203}, 1, 0, false, {}},
        {"SignedSplitRows", SHORT_IMG, GZIP_1, {64, 50}, 1, 0, false, {50, 4}},
        // Scaling that puts samples below zero, with fractions, and above 65535.
        {"ScaledBelowZero", SHORT_IMG, RICE_1, {301, 100}, 0.75, -120.5, false, {100, 3}},
        {"ScaledBothWays", SHORT_IMG, GZIP_1, {64, 50}, 80, 10000, true, {50, 4}},
        // Scaled beyond an int: read as doubles.
        {"ScaledBeyondAnInt", SHORT_IMG, RICE_1, {301, 203}, 5e6, 0, true, {}},
        {"BytesBelowZero", BYTE_IMG, RICE_1, {301, 100}, 1, -20, false, {100, 2}},
    };
    return cases;
}

}  // namespace

// The packed frame read in one piece and in bands gives the bytes CFITSIO gives for the plain
// file, which it reads whole, clipping.
TEST_P(FITSClippedRead, GivesThePlainFilesClippedSamples) {
    const ClipCase& c = GetParam();
    MemoryFits plain(clipFrame(c, 0)), packed(clipFrame(c, c.compression));
    ASSERT_FALSE(plain.bytes().isEmpty());
    ASSERT_FALSE(packed.bytes().isEmpty());
    Handle h(packed.open(2));
    ASSERT_TRUE(h.f);
    int compressed = 0, status = 0;
    compressed = fits_is_compressed_image(h.f, &status);
    ASSERT_TRUE(compressed);
    const std::vector<uint8_t> expected = plainBitmap(plain, c.bitpix);
    // Some samples clipped at each end (bytes: below zero only).
    const auto count = [&](uint16_t v) {
        int64_t n = 0;
        for (size_t i = 0; i < expected.size(); i += c.bitpix == BYTE_IMG ? 1 : 2)
            n += (c.bitpix == BYTE_IMG ? expected[i]
                                       : *reinterpret_cast<const uint16_t*>(&expected[i])) == v;
        return n;
    };
    EXPECT_GT(count(0), 100);
    if (c.clipsTop) {
        EXPECT_GT(count(65535), 100);
    }
    int wholeStatus = -1, bandStatus = -1;
    EXPECT_TRUE(readWhole(packed, &wholeStatus) == expected);
    EXPECT_TRUE(readBanded(packed, c.bands, &bandStatus) == expected);
    EXPECT_EQ(wholeStatus, 0);
    EXPECT_EQ(bandStatus, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, FITSClippedRead, ::testing::ValuesIn(clipCases()),
                         [](const auto& info) { return std::string(info.param.name); });
