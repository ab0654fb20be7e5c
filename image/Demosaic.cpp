// Demosaicing and white balance of colour-filter (Bayer) frames.
//
// Input: packed grey rows of 8- or 16-bit samples whose top-left 2 x 2 cell has the layout
// named by a `DebayerPattern` code (bit 4: column of the red site, bit 0: its row). Output:
// packed 8-bit RGB rows. Each pixel keeps its own colour and takes the other two by bilinear
// interpolation from its neighbours: a green site takes red and blue from its two horizontal
// or vertical neighbours, a red or blue site takes green from its four edge neighbours and the
// opposite colour from its four diagonal ones. At the frame's edges only the neighbours that
// exist are averaged (4 -> >> 2, 3 -> / 3, 2 -> >> 1, 1 -> itself), all in unsigned integers.
// Red and blue are then divided by the white-balance coefficients (32-bit float, truncated)
// and every channel is stretched. Frames of fewer than 2 columns or rows come out grey; a code
// outside the four layouts gives channel values 0 everywhere.
//
// Speed: the white balance and the stretch of every possible channel value are tabulated once
// per frame (three tables of 256 or 65,536 words, each holding its byte where it goes in the
// pixel), so a pixel costs a few integer additions, three lookups and one store. Inner pixels
// of inner rows take a loop specialised for the row's two phases; the first and last row and
// column take the general neighbour rule. On processors with AVX2 the sums of 16-bit rows are
// made eight pixels at a time and only the lookups stay scalar. Bands of rows run on the
// cores; every output row depends on the source alone.
#include "Demosaic.h"

#include "Image.h"
#include "Samples.h"
#include "Stretch.h"

#include <atomic>
#include <bit>
#include <cstring>
#include <memory>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

void Image::updateWhiteBalance() {
    const uint64_t t0 = total4[0], t1 = total4[1], t2 = total4[2], t3 = total4[3];
    const bool knownPattern = _debayer == DebayerRGGB || _debayer == DebayerGBRG ||
                              _debayer == DebayerGRBG || _debayer == DebayerBGGR;
    if (!_awb || t0 == 0 || t1 < 2 || t2 == 0 || t3 == 0 || !knownPattern) {
        redCoef = blueCoef = 0.0f;
        return;
    }
    // Numerators and denominators are each converted to float before the division.
    const float greens12 = float(t1 + t2), greens03 = float(t0 + t3);
    switch (_debayer) {
        case DebayerRGGB:
            redCoef = float(2 * t0) / greens12;
            blueCoef = float(2 * t3) / greens12;
            break;
        case DebayerGBRG:
            redCoef = float(2 * t2) / greens03;
            blueCoef = float(2 * t1) / greens03;
            break;
        case DebayerGRBG:
            redCoef = float(2 * t1) / greens03;
            blueCoef = float(2 * t2) / greens03;
            break;
        default:  // DebayerBGGR
            redCoef = float(2 * t3) / greens12;
            blueCoef = float(2 * t0) / greens12;
            break;
    }
}

namespace {

// Phases: which colour a pixel's filter passes, and on which kind of row it sits.
constexpr int RedSite = 0, GreenOnBlueRow = 1, GreenOnRedRow = 16, BlueSite = 17;

bool isKnownPattern(int64_t code) {
    return code == DebayerRGGB || code == DebayerGBRG || code == DebayerGRBG || code == DebayerBGGR;
}

// The three lookup tables of one frame: channel value -> a word holding the output byte at
// the byte offset of its channel in the pixel (red 0, green 1, blue 2; the others 0), so the
// three lookups of a pixel OR into its bytes in memory order.
struct ChannelTables {
    const uint32_t* red;
    const uint32_t* green;
    const uint32_t* blue;
};

// Fills `count` words of a channel at byte offset `channel` from its stretch table.
void fillWords(uint32_t* words, const StretchTable& bytes, size_t count, int channel) {
    const int shift = std::endian::native == std::endian::little ? 8 * channel : 24 - 8 * channel;
    const uint8_t* b = bytes.data();
    for (size_t v = 0; v < count; ++v)
        words[v] = uint32_t(b[v]) << shift;
}

inline uint32_t pixelWord(const ChannelTables& t, uint32_t r, uint32_t g, uint32_t b) {
    return t.red[r] | t.green[g] | t.blue[b];
}

inline void put(uint8_t* out, const ChannelTables& t, uint32_t r, uint32_t g, uint32_t b) {
    const uint32_t word = pixelWord(t, r, g, b);
    std::memcpy(out, &word, 3);
}

// Writes the pixel as 4 bytes; the fourth belongs to the next pixel, which must be written
// afterwards (one store instead of three).
inline void put4(uint8_t* out, const ChannelTables& t, uint32_t r, uint32_t g, uint32_t b) {
    const uint32_t word = pixelWord(t, r, g, b);
    std::memcpy(out, &word, 4);
}

// Any pixel, with the neighbour rule for frame edges (width and height at least 2).
template <typename T>
void edgePixel(const uint8_t* src, int64_t w, int64_t h, int64_t x, int64_t y, int64_t code,
               uint8_t* out, const ChannelTables& t) {
    auto s = [&](int64_t xx, int64_t yy) -> uint32_t {
        return loadSample<T>(src, size_t(yy) * size_t(w) + size_t(xx));
    };
    const bool hasL = x > 0, hasR = x<w - 1, hasU = y> 0, hasD = y < h - 1;
    const uint32_t c = s(x, y);
    auto horizontal = [&]() -> uint32_t {
        if (hasL && hasR) return (s(x - 1, y) + s(x + 1, y)) >> 1;
        return hasR ? s(x + 1, y) : s(x - 1, y);
    };
    auto vertical = [&]() -> uint32_t {
        if (hasU && hasD) return (s(x, y - 1) + s(x, y + 1)) >> 1;
        return hasD ? s(x, y + 1) : s(x, y - 1);
    };
    auto cross = [&]() -> uint32_t {
        uint32_t sum = 0, count = 0;
        if (hasL) sum += s(x - 1, y), ++count;
        if (hasR) sum += s(x + 1, y), ++count;
        if (hasU) sum += s(x, y - 1), ++count;
        if (hasD) sum += s(x, y + 1), ++count;
        return count == 4 ? sum >> 2 : count == 3 ? sum / 3 : sum >> 1;
    };
    auto diagonal = [&]() -> uint32_t {
        uint32_t sum = 0, count = 0;
        if (hasU && hasL) sum += s(x - 1, y - 1), ++count;
        if (hasU && hasR) sum += s(x + 1, y - 1), ++count;
        if (hasD && hasL) sum += s(x - 1, y + 1), ++count;
        if (hasD && hasR) sum += s(x + 1, y + 1), ++count;
        return count == 4 ? sum >> 2 : count == 2 ? sum >> 1 : sum;
    };
    const int64_t phase = code ^ (((x & 1) << 4) | (y & 1));
    switch (phase) {
        case RedSite:
            put(out, t, c, cross(), diagonal());
            break;
        case BlueSite:
            put(out, t, diagonal(), cross(), c);
            break;
        case GreenOnRedRow:
            put(out, t, horizontal(), c, vertical());
            break;
        case GreenOnBlueRow:
            put(out, t, vertical(), c, horizontal());
            break;
        default:
            put(out, t, 0, 0, 0);
            break;
    }
}

// An inner pixel of phase P from its row's samples left, centre and right and the vertical
// sums (sample above plus sample below) of the same three columns: all eight neighbours exist.
template <int P>
inline void innerPixel(uint32_t left, uint32_t centre, uint32_t right, uint32_t vLeft,
                       uint32_t vCentre, uint32_t vRight, uint8_t* out, const ChannelTables& t) {
    if constexpr (P == RedSite || P == BlueSite) {
        const uint32_t cross = (left + right + vCentre) >> 2;
        const uint32_t diagonal = (vLeft + vRight) >> 2;
        if constexpr (P == RedSite)
            put4(out, t, centre, cross, diagonal);
        else
            put4(out, t, diagonal, cross, centre);
    } else {
        const uint32_t horizontal = (left + right) >> 1;
        const uint32_t vertical = vCentre >> 1;
        if constexpr (P == GreenOnRedRow)
            put4(out, t, horizontal, centre, vertical);
        else
            put4(out, t, vertical, centre, horizontal);
    }
}

// Columns x0 .. w-2 of an inner row whose even columns have phase PE (x0 odd, the columns
// before it written). Column w-1 must be written afterwards (the last pixel's 4-byte store
// reaches into it). A window of three columns slides along the row, so each sample is loaded
// once. The tables come by value so that the output stores cannot force them to be read
// again.
template <typename T, int PE>
void innerRow(const uint8_t* up, const uint8_t* row, const uint8_t* down, int64_t w, int64_t x0,
              uint8_t* out, ChannelTables t) {
    constexpr int PO = PE ^ 16;  // phase of the odd columns
    auto sample = [row](int64_t i) -> uint32_t { return loadSample<T>(row, size_t(i)); };
    auto vertical = [up, down](int64_t i) -> uint32_t {
        return uint32_t(loadSample<T>(up, size_t(i))) + loadSample<T>(down, size_t(i));
    };
    uint32_t s0 = sample(x0 - 1), s1 = sample(x0), v0 = vertical(x0 - 1), v1 = vertical(x0);
    int64_t x = x0;
    for (; x + 1 <= w - 2; x += 2) {
        if ((x & 31) == 1) __builtin_prefetch(down + (x + 512) * int64_t(sizeof(T)));
        const uint32_t s2 = sample(x + 1), v2 = vertical(x + 1);
        const uint32_t s3 = sample(x + 2), v3 = vertical(x + 2);
        innerPixel<PO>(s0, s1, s2, v0, v1, v2, out + 3 * x, t);
        innerPixel<PE>(s1, s2, s3, v1, v2, v3, out + 3 * (x + 1), t);
        s0 = s2, s1 = s3, v0 = v2, v1 = v3;
    }
    if (x <= w - 2) innerPixel<PO>(s0, s1, sample(x + 1), v0, v1, vertical(x + 1), out + 3 * x, t);
}

// Whether 16-bit rows may take the vector loop (tests switch it off to compare the two).
std::atomic<bool> vectorRowsAllowed{true};

#if defined(__GNUC__) && defined(__x86_64__) && defined(__BYTE_ORDER__) && \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define HAVE_AVX2_ROWS 1

// Eight consecutive 16-bit samples from index i on, widened to 32 bits.
__attribute__((target("avx2"))) inline __m256i load8(const uint8_t* p, int64_t i) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i)));
}

// innerRow for 16-bit samples from column 1 on, for processors with AVX2: the sums and shifts
// of eight pixels in 32-bit lanes, their channel values stored for a batch of columns, then
// the lookups of that batch (scalar: a gather loads no faster). Returns the first column not
// done (odd, at most w-2).
template <int PE>
__attribute__((target("avx2"))) int64_t innerRow16Avx2(const uint8_t* up, const uint8_t* row,
                                                       const uint8_t* down, int64_t w, uint8_t* out,
                                                       ChannelTables t) {
    // Lane i holds column x + i with x odd, so the odd lanes hold the even columns.
    constexpr bool evenColumnsAreSites = PE == RedSite || PE == BlueSite;
    constexpr int sites = evenColumnsAreSites ? 0xAA : 0x55;  // lanes of red or blue sites
    constexpr bool redRow = PE == RedSite || PE == GreenOnRedRow;
    constexpr int64_t batch = 256;  // columns per pass
    // Per pixel: red | blue << 32, and green: two loads fetch its three indices.
    alignas(32) uint64_t redBlues[batch];
    alignas(32) uint32_t greens[batch];
    int64_t x = 1;
    while (x + 9 <= w) {  // pixels x .. x+7; right neighbours up to x+8 <= w-1
        const int64_t first = x;
        for (int64_t i = 0; i < batch && x + 9 <= w; i += 8, x += 8) {
            if ((x & 31) == 1) __builtin_prefetch(down + (x + 512) * 2);
            const __m256i left = load8(row, x - 1), centre = load8(row, x);
            const __m256i right = load8(row, x + 1);
            const __m256i vLeft = _mm256_add_epi32(load8(up, x - 1), load8(down, x - 1));
            const __m256i vCentre = _mm256_add_epi32(load8(up, x), load8(down, x));
            const __m256i vRight = _mm256_add_epi32(load8(up, x + 1), load8(down, x + 1));
            const __m256i leftRight = _mm256_add_epi32(left, right);
            const __m256i cross = _mm256_srli_epi32(_mm256_add_epi32(leftRight, vCentre), 2);
            const __m256i diagonal = _mm256_srli_epi32(_mm256_add_epi32(vLeft, vRight), 2);
            const __m256i horizontal = _mm256_srli_epi32(leftRight, 1);
            const __m256i vertical = _mm256_srli_epi32(vCentre, 1);
            // At a red or blue site: its own colour, green across, the other colour from the
            // diagonals. At a green site: red and blue along its row and its column.
            const __m256i green = _mm256_blend_epi32(centre, cross, sites);
            const __m256i along = _mm256_blend_epi32(horizontal, centre, sites);
            const __m256i across = _mm256_blend_epi32(vertical, diagonal, sites);
            const __m256i red = redRow ? along : across, blue = redRow ? across : along;
            // Per 128-bit half: pixels 0, 1 (4, 5) and 2, 3 (6, 7).
            const __m256i low = _mm256_unpacklo_epi32(red, blue);
            const __m256i high = _mm256_unpackhi_epi32(red, blue);
            _mm256_store_si256(reinterpret_cast<__m256i*>(redBlues + i),
                               _mm256_permute2x128_si256(low, high, 0x20));
            _mm256_store_si256(reinterpret_cast<__m256i*>(redBlues + i + 4),
                               _mm256_permute2x128_si256(low, high, 0x31));
            _mm256_store_si256(reinterpret_cast<__m256i*>(greens + i), green);
        }
        uint8_t* o = out + 3 * first;
        auto word = [&t, &redBlues, &greens](int64_t i) {
            return pixelWord(t, uint32_t(redBlues[i]), greens[i], uint32_t(redBlues[i] >> 32));
        };
        for (int64_t i = 0; i < x - first; i += 4, o += 12) {  // a multiple of 8 pixels
            const uint32_t w0 = word(i), w1 = word(i + 1), w2 = word(i + 2), w3 = word(i + 3);
            std::memcpy(o, &w0, 4);
            std::memcpy(o + 3, &w1, 4);
            std::memcpy(o + 6, &w2, 4);
            std::memcpy(o + 9, &w3, 4);
        }
    }
    return x;
}

bool hasAvx2() {
    static const bool known = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return known;
}
#endif

// An inner row: the vector loop where there is one, the plain loop for the rest.
template <typename T, int PE>
void anyInnerRow(const uint8_t* up, const uint8_t* row, const uint8_t* down, int64_t w,
                 uint8_t* out, const ChannelTables& t) {
    int64_t x = 1;
#ifdef HAVE_AVX2_ROWS
    if (sizeof(T) == 2 && hasAvx2() && vectorRowsAllowed.load(std::memory_order_relaxed))
        x = innerRow16Avx2<PE>(up, row, down, w, out, t);
#endif
    innerRow<T, PE>(up, row, down, w, x, out, t);
}

// Rows [y0, y1) into `out` (row y0 first).
template <typename T>
void demosaicRows(const uint8_t* src, int64_t w, int64_t h, int64_t code, int64_t y0, int64_t y1,
                  const ChannelTables& t, uint8_t* out) {
    const size_t rowBytes = size_t(w) * sizeof(T);
    for (int64_t y = y0; y < y1; ++y, out += 3 * w) {
        if (y == 0 || y == h - 1) {
            for (int64_t x = 0; x < w; ++x)
                edgePixel<T>(src, w, h, x, y, code, out + 3 * x, t);
            continue;
        }
        const uint8_t* row = src + size_t(y) * rowBytes;
        edgePixel<T>(src, w, h, 0, y, code, out, t);
        switch (code ^ (y & 1)) {  // phase of the even columns
            case RedSite:
                anyInnerRow<T, RedSite>(row - rowBytes, row, row + rowBytes, w, out, t);
                break;
            case GreenOnBlueRow:
                anyInnerRow<T, GreenOnBlueRow>(row - rowBytes, row, row + rowBytes, w, out, t);
                break;
            case GreenOnRedRow:
                anyInnerRow<T, GreenOnRedRow>(row - rowBytes, row, row + rowBytes, w, out, t);
                break;
            default:
                anyInnerRow<T, BlueSite>(row - rowBytes, row, row + rowBytes, w, out, t);
                break;
        }
        edgePixel<T>(src, w, h, w - 1, y, code, out + 3 * (w - 1), t);
    }
}

template <typename T>
void demosaicTyped(const uint8_t* src, int64_t w, int64_t h, int64_t code, int64_t black,
                   int64_t white, float redCoef, float blueCoef, const RowTargets& targets) {
    if (w <= 0 || h <= 0) return;
    const bool balance = redCoef > 0 && blueCoef > 0;
    const StretchTable green(sampleMax<T>(), black, white);
    const StretchTable red(sampleMax<T>(), black, white, balance ? redCoef : 0.0f);
    const StretchTable blue(sampleMax<T>(), black, white, balance ? blueCoef : 0.0f);
    // One block for the three: the allocator keeps a block of this size for the next frame
    // once it has been freed, where three would be handed back (and faulted in again).
    const size_t count = size_t(sampleMax<T>()) + 1;
    const std::unique_ptr<uint32_t[]> words(new uint32_t[3 * count]);
    fillWords(words.get(), red, count, 0);
    fillWords(words.get() + count, green, count, 1);
    fillWords(words.get() + 2 * count, blue, count, 2);
    const ChannelTables t{words.get(), words.get() + count, words.get() + 2 * count};

    const bool grey = w < 2 || h < 2;
    const bool known = isKnownPattern(code);
    produceRows(w, h, targets, [&](int64_t y0, int64_t y1, uint8_t* out) {
        if (grey || !known) {
            // Grey: the sample itself, unbalanced, in all three channels. An unknown code:
            // channel values 0.
            const size_t first = size_t(y0) * size_t(w), end = size_t(y1) * size_t(w);
            for (size_t p = first; p < end; ++p) {
                const uint8_t g = green[grey ? loadSample<T>(src, p) : 0];
                uint8_t* o = out + 3 * (p - first);
                o[0] = o[1] = o[2] = g;
            }
        } else {
            demosaicRows<T>(src, w, h, code, y0, y1, t, out);
        }
    });
}

}  // namespace

void demosaicFrame(const uint8_t* source, int bytesPerSample, int64_t width, int64_t height,
                   int64_t pattern, int64_t blackPoint, int64_t whitePoint, float redCoef,
                   float blueCoef, const RowTargets& targets) {
    if (bytesPerSample == 2)
        demosaicTyped<uint16_t>(source, width, height, pattern, blackPoint, whitePoint, redCoef,
                                blueCoef, targets);
    else
        demosaicTyped<uint8_t>(source, width, height, pattern, blackPoint, whitePoint, redCoef,
                               blueCoef, targets);
}

void setDemosaicVectorRows(bool allowed) {
    vectorRowsAllowed.store(allowed, std::memory_order_relaxed);
}

void Image::demosaic8(const uint8_t* source, uint8_t* output, int64_t w, int64_t h) {
    updateWhiteBalance();
    demosaicFrame(source, 1, w, h, _debayer, _blackPoint, _whitePoint, redCoef, blueCoef,
                  RowTargets{output});
}

void Image::demosaic16(const uint16_t* source, uint8_t* output, int64_t w, int64_t h) {
    updateWhiteBalance();
    demosaicFrame(reinterpret_cast<const uint8_t*>(source), 2, w, h, _debayer, _blackPoint,
                  _whitePoint, redCoef, blueCoef, RowTargets{output});
}
