#include "FITSPixels.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

// CFITSIO fills its table of dithering offsets on first use, testing the pointer to it outside
// its lock; filled once before the threads start, no thread ever sees it half made. Exported,
// though declared only in CFITSIO's internal header.
extern "C" int fits_init_randoms(void);

namespace {

// Bands of fewer pixels are not worth a thread: decoding a quarter of a million pixels takes
// a few milliseconds, starting a thread and opening a handle some tens of microseconds.
constexpr int64_t kMinBandPixels = int64_t(1) << 18;
// Address space a further reading thread takes besides its tiles: the stack std::thread
// reserves (the usual RLIMIT_STACK) and a CFITSIO handle with its record buffers and header.
constexpr double kThreadBytes = double((8 << 20) + (1 << 20));

// True for CFITSIO's report of a sample beyond the range of the type asked for.
bool overflowed(int status) {
    return status == NUM_OVERFLOW || status == OVERFLOW_ERR;
}

// Rows of the tiles of the tile-compressed HDU `f` is on; 0 when it is not tiled in rows.
int64_t tileHeightOf(fitsfile* f) {
    const FITSfile& file = *f->Fptr;
    return file.zndim >= 2 ? int64_t(file.tilesize[1]) : 0;
}

// Pixels of the wider samples that the clipping read below holds at a time, unless one tile
// row has more (4 MiB as ints).
constexpr int64_t kClipChunkPixels = int64_t(1) << 20;

// Writes `n` samples into `out` clipped into 0..`top` and truncated toward zero, as CFITSIO
// converts a sample into TBYTE or TUSHORT (a NaN, which no integer image gives, becomes 0).
template <typename Wide, typename Narrow>
void clipInto(const Wide* in, int64_t n, Narrow top, Narrow* out) {
    for (int64_t i = 0; i < n; ++i) {
        const Wide v = in[i];
        out[i] = v > Wide(0) ? (v < Wide(top) ? Narrow(v) : top) : Narrow(0);
    }
}

// The header scaling of the HDU `f` is on (BSCALE and BZERO, 1 and 0 when absent).
std::pair<double, double> headerScaling(fitsfile* f) {
    double scale = 1.0, zero = 0.0;
    int status = 0;
    if (fits_read_key_dbl(f, "BSCALE", &scale, nullptr, &status) != 0) scale = 1.0;
    status = 0;
    if (fits_read_key_dbl(f, "BZERO", &zero, nullptr, &status) != 0) zero = 0.0;
    return {scale, zero};
}

// Reads `rows` rows like readRows into `out` (of TBYTE or TUSHORT samples, `type`) from a
// tile-compressed HDU whose tiles decode to values beyond its own BITPIX, which only a broken
// or hostile tile does: as ints (as doubles where even an int overflows, under odd scaling),
// clipped here, in chunks of whole tile rows, each tile decoded once. A chunk holds as many
// tile rows as fit in kClipChunkPixels, and at least one: CFITSIO keeps the last tile it
// decoded, but copies all of it into a fresh buffer for every read of a part of it, which for
// a tile of tens of megabytes (freshly mapped memory each time) costs a good part of a decode
// per read. A large tile read so needs its size in ints or doubles several times over, here
// and in CFITSIO's buffers, and may pass the helper's address-space limit: the limit is meant
// for such files.
int readClipped(fitsfile* f, int type, long plane, int64_t firstRow, int64_t rows, int64_t width,
                void* out) {
    const int64_t tileHeight = std::max<int64_t>(1, tileHeightOf(f));
    const int64_t tileRows = std::max<int64_t>(1, kClipChunkPixels / (tileHeight * width));
    const int64_t chunkRows = std::min(rows, tileRows * tileHeight);
    std::vector<int32_t> ints(size_t(chunkRows * width));
    std::vector<double> doubles;  // only for a chunk whose ints overflow
    const int64_t endRow = firstRow + rows;
    for (int64_t row = firstRow, next; row < endRow; row = next) {
        // Chunks end on tile rows, so that no tile is decoded for two of them.
        next = std::min(endRow, (row / tileHeight + tileRows) * tileHeight);
        const int64_t n = (next - row) * width;
        long first[3] = {1, long(row + 1), plane};
        const size_t at = size_t((row - firstRow) * width);
        int status = 0;
        fits_read_pix(f, TINT, first, LONGLONG(n), nullptr, ints.data(), nullptr, &status);
        bool asDoubles = overflowed(status);
        if (asDoubles) {
            doubles.resize(ints.size());
            status = 0;
            fits_read_pix(f, TDOUBLE, first, LONGLONG(n), nullptr, doubles.data(), nullptr,
                          &status);
        }
        if (status != 0) return status;
        if (type == TBYTE) {
            uint8_t* to = static_cast<uint8_t*>(out) + at;
            asDoubles ? clipInto(doubles.data(), n, uint8_t(255), to)
                      : clipInto(ints.data(), n, uint8_t(255), to);
        } else {
            uint16_t* to = static_cast<uint16_t*>(out) + at;
            asDoubles ? clipInto(doubles.data(), n, uint16_t(65535), to)
                      : clipInto(ints.data(), n, uint16_t(65535), to);
        }
    }
    return 0;
}

// Whether header scaling `scale`, `zero` can put a stored sample of an HDU read as `type`
// (TBYTE: BITPIX 8, TUSHORT: BITPIX 16) outside that type's range. Scaling that is not a
// finite, non-zero factor (a broken header) is left to CFITSIO.
bool scalingMayClip(int type, double scale, double zero) {
    if (!std::isfinite(scale) || !std::isfinite(zero) || scale == 0.0) return false;
    const double lowest = type == TBYTE ? 0.0 : -32768.0, highest = type == TBYTE ? 255.0 : 32767.0;
    const double a = lowest * scale + zero, b = highest * scale + zero;
    return std::min(a, b) < 0.0 || std::max(a, b) > (type == TBYTE ? 255.0 : 65535.0);
}

// Every stored sample of an HDU read as `type` (TBYTE: 256 bytes, TUSHORT: 65,536 signed words,
// indexed by their bits) scaled by `scale`, `zero` and clipped into the type as CFITSIO scales
// and clips the plain file's: the product rounded before the sum is taken (volatile, so that it
// is never fused into one multiply-add, whose single rounding can land on the other side of an
// integer), clipped into 0..top and truncated toward zero (clipInto).
template <typename Narrow>
std::vector<Narrow> scaledTable(double scale, double zero) {
    const bool bytes = sizeof(Narrow) == 1;
    std::vector<Narrow> table(bytes ? 256 : 65536);
    for (size_t bits = 0; bits < table.size(); ++bits) {
        const double stored = bytes ? double(bits) : double(int16_t(uint16_t(bits)));
        volatile double product = stored * scale;
        const double value = product + zero;
        clipInto(&value, 1, Narrow(bytes ? 255 : 65535), &table[bits]);
    }
    return table;
}

// Reads `rows` rows like readRows into `out` (of TBYTE or TUSHORT samples, `type`) from a
// tile-compressed HDU whose header scaling can put samples outside that type: the stored
// samples are read as they are (CFITSIO's scaling switched off: bytes as TBYTE, signed words
// as TSHORT, which no stored sample overflows) straight into `out`, which has room for them,
// and scaled and clipped there through a table of every stored value. Each tile is decoded
// once, and nothing is needed besides the table: CFITSIO decodes a tile into a buffer of the
// type asked for and keeps a copy of it, so read so its buffers hold two bytes a pixel at
// most. Read as the doubles that such scaling would need, one 4096 x 4096 tile takes 128 MiB
// for the buffer and as much for the copy, besides the scratch to clip from: more than the
// decode helper's address-space limit (four times the bitmap's bytes over a margin) allows.
//
// CFITSIO keeps the last tile it decoded under its row and type alone, not the scaling: the
// unscaled tiles it keeps from here are never taken for scaled ones, since every read of such
// an HDU as TBYTE or TSHORT comes here (a TUSHORT or wider read is a type of its own). Tiles
// that decode beyond the stored type (broken ones) are read again by readClipped.
int readScaled(fitsfile* f, int type, long plane, int64_t firstRow, int64_t rows, int64_t width,
               double scale, double zero, void* out) {
    const int64_t n = rows * width;
    long first[3] = {1, long(firstRow + 1), plane};
    int status = 0;
    fits_set_bscale(f, 1.0, 0.0, &status);
    fits_read_pix(f, type == TBYTE ? TBYTE : TSHORT, first, LONGLONG(n), nullptr, out, nullptr,
                  &status);
    int restored = 0;
    fits_set_bscale(f, scale, zero, &restored);
    if (overflowed(status)) return readClipped(f, type, plane, firstRow, rows, width, out);
    if (status != 0) return status;
    if (restored != 0) return restored;
    if (type == TBYTE) {
        const std::vector<uint8_t> table = scaledTable<uint8_t>(scale, zero);
        auto* samples = static_cast<uint8_t*>(out);
        for (int64_t i = 0; i < n; ++i)
            samples[i] = table[samples[i]];
    } else {
        const std::vector<uint16_t> table = scaledTable<uint16_t>(scale, zero);
        auto* samples = static_cast<uint16_t*>(out);
        for (int64_t i = 0; i < n; ++i)
            samples[i] = table[samples[i]];
    }
    return 0;
}

// Reads `rows` rows of `width` samples from row `firstRow` (0-based) of plane `plane`
// (1-based) as CFITSIO type `type` (TBYTE, TUSHORT or TDOUBLE) into `out`. A sample beyond the
// type's range (a negative one of a signed 16-bit image) is clipped into it, as the reader
// wants, and counts as read. Throws std::bad_alloc when the clipping read gets no memory.
int readRows(fitsfile* f, int type, long plane, int64_t firstRow, int64_t rows, int64_t width,
             void* out) {
    long first[3] = {1, long(firstRow + 1), plane};
    int status = 0;
    const bool compressed = fits_is_compressed_image(f, &status) && status == 0;
    status = 0;
    const auto [scale, zero] =
        compressed && type != TDOUBLE ? headerScaling(f) : std::make_pair(1.0, 0.0);
    if (compressed && type == TUSHORT && scale == 1.0 && zero == 0.0) {
        // Signed samples as stored: read as shorts into the same memory, which never
        // overflows, and clipped there in one pass. (Read as unsigned, a compressed read
        // stops at the first tile with a sample below zero, and the rows are read again.)
        fits_read_pix(f, TSHORT, first, LONGLONG(rows * width), nullptr, out, nullptr, &status);
        if (!overflowed(status)) {
            auto* samples = static_cast<uint16_t*>(out);
            for (int64_t i = 0; i < rows * width; ++i) {
                const uint16_t v = samples[i];
                samples[i] = v & 0x8000 ? 0 : v;  // the sign bit set: below zero
            }
            return status;
        }
        // Decoded values beyond 16 bits (a broken tile decoder's): read them wider below.
        return readClipped(f, type, plane, firstRow, rows, width, out);
    }
    if (compressed && type != TDOUBLE && scalingMayClip(type, scale, zero))
        return readScaled(f, type, plane, firstRow, rows, width, scale, zero, out);
    fits_read_pix(f, type, first, LONGLONG(rows * width), nullptr, out, nullptr, &status);
    if (!overflowed(status)) return status;
    // A plain image is read whole all the same; a tile-compressed one stops after the tile
    // that clipped (one that decodes beyond its BITPIX), and is read again wider.
    return compressed ? readClipped(f, type, plane, firstRow, rows, width, out) : 0;
}

// The range of the finite samples of pixels [begin, end) of `planes` merged into lo and hi.
void widenRange(const std::vector<double*>& planes, int64_t begin, int64_t end, double& lo,
                double& hi) {
    for (const double* plane : planes)
        for (int64_t i = begin; i < end; ++i) {
            const double v = plane[i];
            if (!std::isfinite(v)) continue;
            if (v < lo) lo = v;
            if (v > hi) hi = v;
        }
}

// Scales the double samples of pixels [begin, end) (one or more planes, interleaved into
// `out` with `channels` words per pixel) from lo..hi into 0..65535. NaN and -inf give 0, +inf
// 65535, so no sample leaves the 16-bit range whatever the data.
void scaleToSixteenBits(const std::vector<double*>& planes, int64_t begin, int64_t end,
                        int channels, double lo, double hi, uint16_t* out) {
    const double step = (hi - lo) / 65535.0;
    for (size_t c = 0; c < planes.size(); ++c) {
        const double* in = planes[c];
        for (int64_t i = begin; i < end; ++i) {
            double v = in[i];
            uint16_t s = 0;
            if (hi != lo && !std::isnan(v)) {
                double t = (v - lo) / step;
                if (t >= 65535.0)
                    s = 65535;
                else if (t > 0.0)
                    s = uint16_t(t);
            }
            out[i * channels + int64_t(c)] = s;
        }
    }
}

// Copies one plane of samples into every `channels`-th sample of `out`, from sample `c`.
template <typename T>
void interleave(const T* in, int64_t npix, int channels, int c, T* out) {
    for (int64_t i = 0; i < npix; ++i)
        out[i * channels + c] = in[i];
}

// Memory for `count` doubles, zeroed: fresh pages come zeroed from the kernel, and each band
// faults in its own.
std::unique_ptr<double, void (*)(void*)> zeroedDoubles(int64_t count) {
    std::unique_ptr<double, void (*)(void*)> p(
        static_cast<double*>(std::calloc(size_t(std::max<int64_t>(count, 1)), sizeof(double))),
        std::free);
    if (!p) throw std::bad_alloc();
    return p;
}

// Whether the HDU `f` is on is tile-compressed in a way CFITSIO decodes on several threads at
// once (each through its own handle). Its HCOMPRESS decoder keeps its bit buffer in
// file-level statics; unknown kinds may too.
bool decodesOnThreads(fitsfile* f) {
    int status = 0;
    if (!fits_is_compressed_image(f, &status) || status != 0) return false;
    switch (f->Fptr->compress_type) {
        case RICE_1:
        case GZIP_1:
        case GZIP_2:
        case PLIO_1:
        case NOCOMPRESS:
            return true;
        default:
            return false;
    }
}

}  // namespace

void runWorkers(int threads, const std::function<void(int)>& worker, const ThreadStarter& start) {
    std::mutex failedLock;
    std::exception_ptr failed;  // the first exception any worker threw
    auto guarded = [&](int w) noexcept {
        try {
            worker(w);
        } catch (...) {
            const std::lock_guard<std::mutex> hold(failedLock);
            if (!failed) failed = std::current_exception();
        }
    };
    // Room for every thread before the first starts: a vector that grows could throw with
    // threads running, and a joinable std::thread destroyed ends the program.
    std::vector<std::thread> others;
    others.reserve(size_t(std::max(threads - 1, 0)));
    std::exception_ptr notStarted;  // why a thread could not start, unless for want of one
    for (int w = 1; w < threads; ++w) {
        try {
            std::function<void()> run = [&guarded, w] { guarded(w); };
            others.push_back(start ? start(std::move(run)) : std::thread(std::move(run)));
        } catch (const std::system_error&) {
            break;  // no thread to be had: the caller and the threads started take the bands
        } catch (...) {
            notStarted = std::current_exception();  // out of memory, most likely: fail
            break;
        }
    }
    if (!notStarted) guarded(0);
    for (std::thread& t : others)
        if (t.joinable()) t.join();
    if (notStarted) std::rethrow_exception(notStarted);
    if (failed) std::rethrow_exception(failed);
}

int64_t FitsPixelLayout::scratchBytes() const {
    const int64_t npix = width * height;
    // 8- and 16-bit samples are read at their own width and clipped or scaled in place
    // (readScaled), into the bitmap itself or, for a cube, a plane's buffer to interleave.
    if (bitpix != 8 && bitpix != 16) return npix * planesPresent * 8;
    return channels == 1 ? 0 : npix * bytesPerSample();
}

FitsBands planFitsBands(fitsfile* f, const FitsPixelLayout& layout, int cores) {
    const FitsBands one;
    if (cores < 2 || !decodesOnThreads(f)) return one;
    const FITSfile& file = *f->Fptr;
    const int64_t tileHeight = tileHeightOf(f);
    if (tileHeight < 1 || layout.width < 1 || layout.height < 1) return one;
    const int64_t tileRows = (layout.height + tileHeight - 1) / tileHeight;
    const int64_t bandCount =
        std::min({tileRows, layout.width * layout.height / kMinBandPixels, int64_t(cores) * 4});
    if (bandCount < 2) return one;
    FitsBands plan;
    plan.rows = (tileRows + bandCount - 1) / bandCount * tileHeight;
    // Each further thread decodes a tile at a time (the compressed bytes, the samples, and
    // CFITSIO's copy of the last tile, at most 8 bytes a pixel each) and interleaves a cube's
    // band in a buffer of its own.
    const double perThread =
        kThreadBytes + 24.0 * double(file.maxtilelen) + double(file.maxelem) +
        (layout.channels > 1 ? double(plan.rows * layout.width * layout.bytesPerSample()) : 0.0);
    const double spare =
        double(64 << 20) + double(layout.outputBytes()) + double(layout.scratchBytes());
    const double affordable = 1.0 + std::floor(spare / perThread);
    plan.threads = int(std::min({double(cores), double(bandCount), affordable}));
    return plan.threads < 2 ? one : plan;
}

int readFitsPixelsInBands(fitsfile* f, const FitsPixelLayout& layout, uint8_t* out,
                          const FitsBands& requested, const FitsHandleOpener& open) {
    const int64_t width = layout.width, height = layout.height, npix = width * height;
    const int bytesPerSample = layout.bytesPerSample();
    const int64_t rowsPerBand =
        requested.rows > 0 && requested.rows < height ? requested.rows : height;
    const int64_t bandCount = (height + rowsPerBand - 1) / rowsPerBand;
    const int threads = int(std::clamp<int64_t>(
        open && requested.threads > 1 && decodesOnThreads(f) ? requested.threads : 1, 1,
        bandCount));
    const bool doubles = layout.bitpix != 8 && layout.bitpix != 16;
    const int type = layout.bitpix == 8 ? TBYTE : layout.bitpix == 16 ? TUSHORT : TDOUBLE;
    if (threads > 1) fits_init_randoms();

    std::vector<std::unique_ptr<double, void (*)(void*)>> planeMemory;
    std::vector<double*> planes;
    if (doubles)
        for (int c = 0; c < layout.planesPresent; ++c) {
            planeMemory.push_back(zeroedDoubles(npix));
            planes.push_back(planeMemory.back().get());
        }
    // One status per plane and band, each written by the thread that read it.
    std::vector<int> statuses(size_t(layout.planesPresent * bandCount), 0);
    auto bandRows = [&](int64_t band) {
        const int64_t first = band * rowsPerBand;
        return std::make_pair(first, std::min(height, first + rowsPerBand) - first);
    };

    std::atomic<int64_t> nextBand{0};
    runWorkers(threads, [&](int worker) {
        if (nextBand.load() >= bandCount) return;
        std::unique_ptr<fitsfile, void (*)(fitsfile*)> own(nullptr, [](fitsfile* h) {
            int s = 0;
            fits_close_file(h, &s);
        });
        if (worker > 0) {
            own.reset(open());
            if (!own) return;
        }
        fitsfile* handle = worker > 0 ? own.get() : f;
        std::vector<uint8_t> plane;  // one band of one plane, for a cube to interleave
        for (int64_t band; (band = nextBand++) < bandCount;) {
            const auto [first, rows] = bandRows(band);
            for (int c = 0; c < layout.planesPresent; ++c) {
                int& status = statuses[size_t(c * bandCount + band)];
                if (doubles) {
                    status = readRows(handle, type, c + 1, first, rows, width,
                                      planes[size_t(c)] + first * width);
                } else if (layout.channels == 1) {
                    status = readRows(handle, type, c + 1, first, rows, width,
                                      out + first * width * bytesPerSample);
                } else {
                    const int64_t samples = rows * width;
                    plane.assign(size_t(samples * bytesPerSample), 0);
                    status = readRows(handle, type, c + 1, first, rows, width, plane.data());
                    const int64_t at = first * width * layout.channels;
                    if (bytesPerSample == 1)
                        interleave(plane.data(), samples, layout.channels, c, out + at);
                    else
                        interleave(reinterpret_cast<const uint16_t*>(plane.data()), samples,
                                   layout.channels, c, reinterpret_cast<uint16_t*>(out) + at);
                }
            }
        }
    });

    if (doubles) {
        // Minimum and maximum do not depend on the order they are taken in: the bands' ranges
        // merged give the whole frame's.
        std::vector<std::pair<double, double>> ranges(size_t(bandCount), {DBL_MAX, 0.0});
        nextBand = 0;
        runWorkers(threads, [&](int) {
            for (int64_t band; (band = nextBand++) < bandCount;) {
                const auto [first, rows] = bandRows(band);
                auto& [lo, hi] = ranges[size_t(band)];
                widenRange(planes, first * width, (first + rows) * width, lo, hi);
            }
        });
        double lo = DBL_MAX, hi = 0.0;
        for (const auto& [bandLo, bandHi] : ranges) {
            lo = std::min(lo, bandLo);
            hi = std::max(hi, bandHi);
        }
        nextBand = 0;
        runWorkers(threads, [&](int) {
            for (int64_t band; (band = nextBand++) < bandCount;) {
                const auto [first, rows] = bandRows(band);
                scaleToSixteenBits(planes, first * width, (first + rows) * width, layout.channels,
                                   lo, hi, reinterpret_cast<uint16_t*>(out));
            }
        });
    }
    for (int status : statuses)
        if (status != 0) return status;
    return 0;
}

int readFitsPixels(fitsfile* f, const FitsPixelLayout& layout, uint8_t* out) {
    return readFitsPixelsInBands(f, layout, out, FitsBands{}, nullptr);
}
