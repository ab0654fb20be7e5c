// A minimal uncompressed DNG (a TIFF with a colour-filter array, which LibRaw reads like any
// camera's raw file), built byte by byte for the camera RAW tests and benchmarks.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace synthetic_dng {

// The `size` low bytes of v, little-endian.
inline QByteArray le(uint32_t v, int size) {
    QByteArray b;
    for (int i = 0; i < size; ++i)
        b.append(char((v >> (8 * i)) & 0xff));
    return b;
}

struct Entry {
    uint16_t tag, type;  // TIFF tag; field type (1 byte, 2 text, 3 short, 4 long, 10 srational)
    uint32_t count;      // number of values
    QByteArray value;    // their little-endian bytes
};

inline Entry numbers(uint16_t tag, uint16_t type, std::initializer_list<uint32_t> values) {
    Entry e{tag, type, uint32_t(values.size()), {}};
    for (uint32_t v : values)
        e.value += le(v, type == 1 ? 1 : type == 3 ? 2 : 4);
    return e;
}

inline Entry text(uint16_t tag, const char* s) {
    const int n = int(strlen(s)) + 1;
    return {tag, 2, uint32_t(n), QByteArray(s, n)};
}

// A w x h RGGB frame of 16-bit samples: a flat grey scene with a bright square in the middle.
inline QByteArray makeDng(int w = 64, int h = 48) {
    QByteArray pixels, matrix;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool lit = x >= w * 3 / 8 && x < w * 5 / 8 && y >= h / 3 && y < h * 2 / 3;
            pixels += le(lit ? 40000 : 4000, 2);
        }
    for (int i = 0; i < 9; ++i)  // the identity as signed rationals n / 10000
        matrix += le(i % 4 == 0 ? 10000 : 0, 4) + le(10000, 4);
    std::vector<Entry> entries = {
        // In tag order; StripOffsets and StripByteCounts are filled in below.
        numbers(254, 4, {0}),  // NewSubFileType: full-resolution image
        numbers(256, 4, {uint32_t(w)}),
        numbers(257, 4, {uint32_t(h)}),
        numbers(258, 3, {16}),
        numbers(259, 3, {1}),      // Compression: none
        numbers(262, 3, {32803}),  // PhotometricInterpretation: CFA
        text(271, "Test"),
        text(272, "Synthetic"),
        numbers(273, 4, {0}),
        numbers(277, 3, {1}),
        numbers(278, 4, {uint32_t(h)}),
        numbers(279, 4, {0}),
        numbers(284, 3, {1}),
        numbers(33421, 3, {2, 2}),        // CFARepeatPatternDim
        numbers(33422, 1, {0, 1, 1, 2}),  // CFAPattern: R G / G B
        numbers(50706, 1, {1, 4, 0, 0}),  // DNGVersion
        text(50708, "Test Synthetic"),    // UniqueCameraModel
        {50721, 10, 9, matrix},           // ColorMatrix1
        numbers(50778, 3, {21}),          // CalibrationIlluminant1: D65
    };
    // The header, the one IFD, the values longer than four bytes (each of even length), pixels.
    const uint32_t valuesAt = 8 + 2 + uint32_t(entries.size()) * 12 + 4;
    uint32_t pixelsAt = valuesAt;
    for (const Entry& e : entries)
        if (e.value.size() > 4) pixelsAt += uint32_t(e.value.size() + (e.value.size() & 1));
    QByteArray ifd = le(uint32_t(entries.size()), 2), values;
    for (Entry& e : entries) {
        if (e.tag == 273) e.value = le(pixelsAt, 4);
        if (e.tag == 279) e.value = le(uint32_t(pixels.size()), 4);
        ifd += le(e.tag, 2) + le(e.type, 2) + le(e.count, 4);
        if (e.value.size() <= 4) {
            ifd += e.value.leftJustified(4, '\0');
        } else {
            ifd += le(valuesAt + uint32_t(values.size()), 4);
            values += e.value.leftJustified(e.value.size() + (e.value.size() & 1), '\0');
        }
    }
    return QByteArray("II*\0", 4) + le(8, 4) + ifd + le(0, 4) + values + pixels;
}

}  // namespace synthetic_dng

using synthetic_dng::makeDng;
