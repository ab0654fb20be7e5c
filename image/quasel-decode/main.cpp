// quasel-decode: runs one risky decode for the viewer in a process of its own.
//
//   quasel-decode fits CPU AS HDU BITPIX CHANNELS PLANES WIDTH HEIGHT
//   quasel-decode raw CPU AS
//   quasel-decode gpu CPU 0
//
// The file's bytes are on descriptor 4 (a memfd, filled while the helper starts: it is
// complete once the parent has sent one byte on descriptor 0), the output memfd on 5, the
// report pipe on 3. Before touching the bytes the helper limits itself to CPU seconds of
// processor time and AS bytes of address space. "fits" reads the pixels of the
// tile-compressed image HDU HDU (whose layout the parent has taken from its header) into the
// output, which the parent has sized and sealed; a large one in bands of tile rows on the
// usable cores, each thread through a CFITSIO handle of its own on the same input mapping.
// The CPU limit counts the time of all threads together, so it bounds the work a file can
// cause as before (spent on several cores, sooner in wall-clock time). "raw" decodes a camera
// RAW file, lowers its address-space limit once the picture's size is known, sizes the output
// itself and writes the picture there. "gpu" loads the installed OpenCL platforms (no input,
// no output, no address-space limit) and counts their usable devices of GPU type. The report
// is one line:
//   ok [WIDTH HEIGHT]    the output holds the pixels
//   ok N                 ("gpu") N usable devices of GPU type
//   unreadable REASON    the bytes are not a file of this kind
//   broken REASON        the decoder found the data broken
//   memory REASON        an allocation failed (the address-space limit)
// A helper that dies sends no report; the parent tells from its exit status.
#include "CameraRawDecode.h"
#include "FITSHeaderWalk.h"
#include "FITSPixels.h"
#include "OpenCLProbe.h"

#include <fitsio.h>
#include <malloc.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <system_error>
#include <thread>

namespace {

constexpr int kReportFd = 3, kInputFd = 4, kOutputFd = 5;

// GCC names the sanitizers by macros, clang 14 by __has_feature.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUASEL_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(QUASEL_SANITIZED)
// The sanitizers reserve terabytes of address space for their shadow memory.
constexpr bool kLimitAddressSpace = false;
#else
constexpr bool kLimitAddressSpace = true;
#endif

// Sends the report line and ends at once: no exit handlers, no leak check of the libraries.
[[noreturn]] void finish(const std::string& report) {
    const std::string line = report + "\n";
    ssize_t ignored = ::write(kReportFd, line.data(), line.size());
    (void)ignored;
    _exit(0);
}

[[noreturn]] void usage() {
    std::fputs("quasel-decode: started by the Quasel viewer, not by hand\n", stderr);
    _exit(2);
}

long long number(const char* text) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < 0) usage();
    return v;
}

void lowerAddressSpace(unsigned long long bytes) {
    if (!kLimitAddressSpace) return;
    rlimit now;
    if (getrlimit(RLIMIT_AS, &now) == 0 && now.rlim_cur != RLIM_INFINITY && now.rlim_cur <= bytes)
        return;
    rlimit l{rlim_t(bytes), rlim_t(bytes)};
    setrlimit(RLIMIT_AS, &l);
}

// Limits this process to `cpuSeconds` of CPU time and `addressSpace` bytes of address space (0:
// no address-space limit).
void applyLimits(long long cpuSeconds, unsigned long long addressSpace) {
    // One allocator arena: each further one reserves 64 MiB of address space up front.
    mallopt(M_ARENA_MAX, 1);
    // The soft limit sends SIGXCPU, the hard one a second later SIGKILL.
    rlimit cpu{rlim_t(cpuSeconds), rlim_t(cpuSeconds + 1)};
    if (setrlimit(RLIMIT_CPU, &cpu) != 0) _exit(3);
    rlimit core{0, 0};
    setrlimit(RLIMIT_CORE, &core);
    if (addressSpace > 0) lowerAddressSpace(addressSpace);
}

// The input memfd mapped privately, once the parent says it is complete: the decoders may not
// change the parent's bytes. Not populated: on a writable private mapping that would copy every
// page; read faults share the memfd's pages.
const uint8_t* mapInput(size_t* size) {
    char ready = 0;
    ssize_t n;
    while ((n = ::read(0, &ready, 1)) < 0 && errno == EINTR) {
    }
    if (n != 1) finish("unreadable no input");
    struct stat st;
    if (fstat(kInputFd, &st) != 0 || st.st_size <= 0) finish("unreadable no input");
    *size = size_t(st.st_size);
    void* a = mmap(nullptr, *size, PROT_READ | PROT_WRITE, MAP_PRIVATE, kInputFd, 0);
    if (a == MAP_FAILED) finish("memory cannot map the input");
    return static_cast<const uint8_t*>(a);
}

// Faults the output's pages in on a thread of its own, a few megabytes at a time from the end
// back, while the decoder writes from the start: one pass of page-table work instead of a
// write fault per page in the decoder's way. Changes no byte; without a thread the decoder
// faults them in itself.
void prefaultBackwards(uint8_t* out, size_t bytes) {
    try {
        std::thread([out, bytes] {
            constexpr size_t kChunk = size_t(2) << 20;
            for (size_t end = bytes; end > 0;) {
                const size_t start = (end - 1) / kChunk * kChunk;
                if (madvise(out + start, end - start, MADV_POPULATE_WRITE) != 0) return;
                end = start;
            }
        }).detach();
    } catch (const std::system_error&) {
    }
}

// Cores this process may run on (its affinity mask, which taskset and container limits set).
int usableCores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

[[noreturn]] void decodeFits(char** args) {
    const int hdu = int(number(args[0]));
    FitsPixelLayout layout;
    layout.bitpix = int(std::strtol(args[1], nullptr, 10));
    layout.channels = int(number(args[2]));
    layout.planesPresent = int(number(args[3]));
    layout.width = number(args[4]);
    layout.height = number(args[5]);
    if (layout.channels < 1 || layout.channels > 3 || layout.planesPresent < 1 ||
        layout.planesPresent > layout.channels || layout.width <= 0 || layout.height <= 0)
        usage();

    const size_t bytes = size_t(layout.outputBytes());
    struct stat st;
    if (fstat(kOutputFd, &st) != 0 || size_t(st.st_size) != bytes) usage();
    void* out = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, kOutputFd, 0);
    if (out == MAP_FAILED) finish("memory cannot map the output");
    prefaultBackwards(static_cast<uint8_t*>(out), bytes);  // while the input is being filled
    size_t size = 0;
    void* address = const_cast<uint8_t*>(mapInput(&size));

    // CFITSIO reads the header of this HDU alone, and the primary one, which the parent has
    // checked like every header before it asked; the walk here only finds them again.
    const std::vector<FitsHduPlace> places =
        walkFitsHeaders(static_cast<const char*>(address), size);
    if (places.empty() || !places[0].sound() || hdu < 1 || size_t(hdu) > places.size() ||
        !places[size_t(hdu) - 1].sound())
        finish("broken the HDU's header is refused");
    fitsfile* f = nullptr;
    int status = 0, hduType = 0;
    fits_open_memfile(&f, "", READONLY, &address, &size, 0, nullptr, &status);
    moveToFitsHdu(f, places, hdu, &hduType, &status);
    int bitpix = 0, naxis = 0;
    long naxes[3] = {1, 1, 1};
    fits_get_img_param(f, 3, &bitpix, &naxis, naxes, &status);
    if (status != 0) finish("broken CFITSIO status " + std::to_string(status));
    if (hduType != IMAGE_HDU || bitpix != layout.bitpix || naxes[0] != layout.width ||
        naxes[1] != layout.height)
        finish("broken the HDU is not the one described");
    // Further handles read the same mapping; CFITSIO only reads `address` and `size` through
    // the pointers it keeps, and both outlive every handle.
    auto openHandle = [&]() -> fitsfile* {
        fitsfile* g = nullptr;
        int s = 0, type = 0;
        fits_open_memfile(&g, "", READONLY, &address, &size, 0, nullptr, &s);
        moveToFitsHdu(g, places, hdu, &type, &s);
        if (s == 0 && type == IMAGE_HDU) return g;
        s = 0;
        if (g) fits_close_file(g, &s);
        return nullptr;
    };
    try {
        const FitsBands bands = planFitsBands(f, layout, usableCores());
        status = readFitsPixelsInBands(f, layout, static_cast<uint8_t*>(out), bands, openHandle);
    } catch (const std::bad_alloc&) {
        finish("memory out of memory while reading the tiles");
    } catch (const std::exception& e) {
        // Nothing else is thrown by the read today; whatever may come is still no crash.
        finish(std::string("broken reading the tiles failed: ") + e.what());
    }
    if (status == MEMORY_ALLOCATION) finish("memory CFITSIO could not allocate");
    if (status != 0)
        finish("broken tile decompression gave CFITSIO status " + std::to_string(status));
    finish("ok");
}

// Output memory sized by the helper once the picture's size is known.
class OutputSink : public CameraRawSink {
  public:
    explicit OutputSink(size_t inputBytes) : inputBytes_(inputBytes) {}
    bool admit(int64_t rawPixels, int64_t width, int64_t height, std::string&) override {
        // LibRaw holds the sensor data (up to four 16-bit samples per photosite), its image of
        // four 16-bit samples per pixel, and the 6-byte output twice (its own and ours).
        const unsigned long long expected =
            (unsigned long long)rawPixels * 8 + (unsigned long long)width * height * 20;
        lowerAddressSpace((256ull << 20) + inputBytes_ + 2 * expected);
        return true;
    }
    uint8_t* pixels(int64_t w, int64_t h) override {
        width = w, height = h;
        const size_t bytes = size_t(w) * size_t(h) * 6;
        if (ftruncate(kOutputFd, off_t(bytes)) != 0) return nullptr;
        void* a = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, kOutputFd, 0);
        if (a == MAP_FAILED) return nullptr;
        // Faulted in at once: LibRaw writes every byte, and one pass of page-table work is
        // cheaper than a fault per page.
        madvise(a, bytes, MADV_POPULATE_WRITE);
        return static_cast<uint8_t*>(a);
    }

    int64_t width = 0;   // pixels across of the picture written
    int64_t height = 0;  // pixels down

  private:
    size_t inputBytes_;  // bytes of the file
};

[[noreturn]] void decodeRaw() {
    size_t size = 0;
    const uint8_t* input = mapInput(&size);
    OutputSink sink(size);
    std::string why;
    switch (decodeCameraRaw(input, size, sink, why)) {
        case CameraRawResult::Decoded:
            finish("ok " + std::to_string(sink.width) + " " + std::to_string(sink.height));
        case CameraRawResult::Unreadable:
        case CameraRawResult::Implausible:
            finish("broken " + why);
        case CameraRawResult::OutOfMemory:
            finish("memory " + why);
        case CameraRawResult::NotCameraRaw:
            break;
    }
    finish("unreadable " + why);
}

}  // namespace

int main(int argc, char** argv) {
    // A helper whose caller has gone (crashed, or ended without stopping it) ends too.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc < 4) usage();
    const std::string kind = argv[1];
    applyLimits(number(argv[2]), (unsigned long long)number(argv[3]));
    if (kind == "fits" && argc == 10) decodeFits(argv + 4);
    if (kind == "raw" && argc == 4) decodeRaw();
    if (kind == "gpu" && argc == 4) finish("ok " + std::to_string(openCLGpuDevices()));
    usage();
}
