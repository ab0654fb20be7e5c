#include "FITSPixels.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Reads one plane (1-based) of npix samples of CFITSIO type `type` into `out`.
int readPlane(fitsfile* f, int type, long plane, LONGLONG npix, void* out) {
    long first[3] = {1, 1, plane};
    int status = 0;
    fits_read_pix(f, type, first, npix, nullptr, out, nullptr, &status);
    return status;
}

// Scales double samples (one or more planes, interleaved into `out` with `channels` words per
// pixel) into 0..65535. NaN and infinite samples take no part in the range; NaN and -inf give
// 0, +inf 65535, so no sample leaves the 16-bit range whatever the data.
void scaleToSixteenBits(const std::vector<std::vector<double>>& planes, int64_t npix, int channels,
                        uint16_t* out) {
    double lo = DBL_MAX, hi = 0.0;
    for (const auto& plane : planes)
        for (double v : plane) {
            if (!std::isfinite(v)) continue;
            if (v < lo) lo = v;
            if (v > hi) hi = v;
        }
    const double step = (hi - lo) / 65535.0;
    for (size_t c = 0; c < planes.size(); ++c) {
        const double* in = planes[c].data();
        for (int64_t i = 0; i < npix; ++i) {
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

}  // namespace

int64_t FitsPixelLayout::scratchBytes() const {
    const int64_t npix = width * height;
    if (bitpix != 8 && bitpix != 16) return npix * planesPresent * 8;
    return channels == 1 ? 0 : npix * bytesPerSample();
}

int readFitsPixels(fitsfile* f, const FitsPixelLayout& layout, uint8_t* out) {
    const int64_t npix = layout.width * layout.height;
    const int bytesPerSample = layout.bytesPerSample();
    int firstStatus = 0;
    auto note = [&](int status) {
        if (firstStatus == 0) firstStatus = status;
    };
    if (layout.bitpix == 8 || layout.bitpix == 16) {
        const int type = layout.bitpix == 8 ? TBYTE : TUSHORT;
        if (layout.channels == 1) {
            note(readPlane(f, type, 1, npix, out));
            return firstStatus;
        }
        std::vector<uint8_t> plane(size_t(npix) * bytesPerSample);
        for (int c = 0; c < layout.planesPresent; ++c) {
            std::memset(plane.data(), 0, plane.size());
            note(readPlane(f, type, c + 1, npix, plane.data()));
            if (bytesPerSample == 1)
                interleave(plane.data(), npix, layout.channels, c, out);
            else
                interleave(reinterpret_cast<const uint16_t*>(plane.data()), npix, layout.channels,
                           c, reinterpret_cast<uint16_t*>(out));
        }
        return firstStatus;
    }
    std::vector<std::vector<double>> planes(layout.planesPresent);
    for (int c = 0; c < layout.planesPresent; ++c) {
        planes[c].assign(size_t(npix), 0.0);
        note(readPlane(f, TDOUBLE, c + 1, npix, planes[c].data()));
    }
    scaleToSixteenBits(planes, npix, layout.channels, reinterpret_cast<uint16_t*>(out));
    return firstStatus;
}
