// The reference render: the rules written out plainly, one value at a time, one thread.
//
// Every stretched byte is one double division; the demosaic follows the neighbour tables
// case by case; the white balance divides in float. Tests compare the fast render with this
// byte for byte, and the render benchmark measures against it. Nothing here is shared with
// the code under test.
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace reference {

// The output byte of value v.
inline uint8_t stretch(int64_t v, int64_t black, int64_t white) {
    const double scale = (white - black) * 0.00390625;
    if (scale > 0) {
        const double t = (v - black) / scale;
        if (t < 0) return 0;
        if (t > 255) return 255;
        return uint8_t(int64_t(t));
    }
    return 0;
}

// (redCoef, blueCoef) from the colour-filter sums.
inline std::pair<float, float> whiteBalance(const uint64_t t[4], int64_t code, bool awb) {
    const bool known = code == 0 || code == 1 || code == 16 || code == 17;
    if (!awb || !(t[0] > 0) || !(t[1] >= 2) || !(t[2] > 0) || !(t[3] > 0) || !known)
        return {0.0f, 0.0f};
    switch (code) {
        case 0:
            return {float(2 * t[0]) / float(t[1] + t[2]), float(2 * t[3]) / float(t[1] + t[2])};
        case 1:
            return {float(2 * t[2]) / float(t[0] + t[3]), float(2 * t[1]) / float(t[0] + t[3])};
        case 16:
            return {float(2 * t[1]) / float(t[0] + t[3]), float(2 * t[2]) / float(t[0] + t[3])};
        default:
            return {float(2 * t[3]) / float(t[1] + t[2]), float(2 * t[0]) / float(t[1] + t[2])};
    }
}

// The source as plain samples: grey or colour, 8 or 16 bits, alpha skipped.
struct Source {
    const uint8_t* bytes;  // packed rows
    int64_t bitsPerPixel;  // 8, 16, 24, 32, 48
    int64_t width, height;
    int64_t bitmapFormat;  // bit 0: alpha first (32 bits)

    // Sample i of the packed plane, as 8- or 16-bit value.
    int64_t sample(int64_t i) const {
        if (bitsPerPixel == 16 || bitsPerPixel == 48) {
            uint16_t v;
            std::memcpy(&v, bytes + 2 * i, 2);
            return v;
        }
        return bytes[i];
    }
};

// Channel values (R, G, B) of the demosaic at (x, y), by the neighbour tables.
inline void demosaicPixel(const Source& s, int64_t code, int64_t x, int64_t y, int64_t rgb[3]) {
    const int64_t w = s.width, h = s.height;
    auto at = [&](int64_t dx, int64_t dy) { return s.sample((y + dy) * w + (x + dx)); };
    const int64_t C = at(0, 0);
    auto L = [&] { return at(-1, 0); };
    auto Rt = [&] { return at(1, 0); };
    auto U = [&] { return at(0, -1); };
    auto D = [&] { return at(0, 1); };
    auto UL = [&] { return at(-1, -1); };
    auto UR = [&] { return at(1, -1); };
    auto DL = [&] { return at(-1, 1); };
    auto DR = [&] { return at(1, 1); };
    enum { First, Inner, Last };
    const int col = x == 0 ? First : x == w - 1 ? Last : Inner;
    const int row = y == 0 ? First : y == h - 1 ? Last : Inner;
    const int64_t phase = code ^ (((x & 1) << 4) | (y & 1));
    int64_t R = 0, G = 0, B = 0;
    // G and the opposite colour at a red or blue site.
    auto site = [&](int64_t& g, int64_t& other) {
        if (col == Inner && row == Inner)
            g = (L() + Rt() + U() + D()) >> 2, other = (UL() + UR() + DL() + DR()) >> 2;
        if (col == Inner && row == First) g = (L() + Rt() + D()) / 3, other = (DL() + DR()) >> 1;
        if (col == Inner && row == Last) g = (L() + Rt() + U()) / 3, other = (UL() + UR()) >> 1;
        if (col == First && row == First) g = (D() + Rt()) >> 1, other = DR();
        if (col == First && row == Last) g = (U() + Rt()) >> 1, other = UR();
        if (col == First && row == Inner) g = (Rt() + D() + U()) / 3, other = (UR() + DR()) >> 1;
        if (col == Last && row == First) g = (D() + L()) >> 1, other = DL();
        if (col == Last && row == Last) g = (U() + L()) >> 1, other = UL();
        if (col == Last && row == Inner) g = (L() + D() + U()) / 3, other = (UL() + DL()) >> 1;
    };
    auto acrossRow = [&] { return col == Inner ? (L() + Rt()) >> 1 : col == First ? Rt() : L(); };
    auto acrossColumn = [&] { return row == Inner ? (U() + D()) >> 1 : row == First ? D() : U(); };
    if (phase == 0) {
        R = C;
        site(G, B);
    } else if (phase == 17) {
        B = C;
        site(G, R);
    } else if (phase == 16) {
        G = C, R = acrossRow(), B = acrossColumn();
    } else if (phase == 1) {
        G = C, R = acrossColumn(), B = acrossRow();
    }
    rgb[0] = R, rgb[1] = G, rgb[2] = B;
}

struct Settings {
    int64_t debayer = 255;
    float redCoef = 0, blueCoef = 0;  // from whiteBalance
    int64_t black = 0, white = 65535;
    bool highlight = true;
};

// The rendered bytes (width x height x 3) of a source.
inline std::vector<uint8_t> render(const Source& s, const Settings& k) {
    const int64_t n = s.width * s.height;
    std::vector<uint8_t> out(size_t(n * 3), 0);
    const bool grey = s.bitsPerPixel == 8 || s.bitsPerPixel == 16;
    const bool demosaic = grey && k.debayer != 255 && s.width >= 2 && s.height >= 2;
    for (int64_t p = 0; p < n; ++p) {
        uint8_t* o = &out[size_t(3 * p)];
        if (demosaic) {
            int64_t rgb[3];
            demosaicPixel(s, k.debayer, p % s.width, p / s.width, rgb);
            if (k.redCoef > 0 && k.blueCoef > 0) {
                rgb[0] = int64_t(float(rgb[0]) / k.redCoef);
                rgb[2] = int64_t(float(rgb[2]) / k.blueCoef);
            }
            for (int c = 0; c < 3; ++c)
                o[c] = stretch(rgb[c], k.black, k.white);
        } else if (grey) {
            const int64_t v = s.sample(p);
            const int64_t saturated = s.bitsPerPixel == 8 ? 255 : 65535;
            if (v == saturated) {
                o[0] = 255;
                o[1] = o[2] = k.highlight ? 0 : 255;
            } else {
                o[0] = o[1] = o[2] = stretch(v, k.black, k.white);
            }
        } else if (s.bitsPerPixel == 32) {
            const int64_t a = s.bitmapFormat & 1;
            for (int c = 0; c < 3; ++c)
                o[c] = stretch(s.sample(4 * p + a + c), k.black, k.white);
        } else {
            for (int c = 0; c < 3; ++c)
                o[c] = stretch(s.sample(3 * p + c), k.black, k.white);
        }
    }
    return out;
}

}  // namespace reference
