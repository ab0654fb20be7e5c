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

// A little-endian TIFF of the given IFDs, one strip each (`strips[i]` for `ifds[i]`). IFD 0 is
// the file's only top-level IFD; IFD 1, when there is one, is reached through IFD 0's SubIFDs
// tag (330). StripOffsets (273), StripByteCounts (279) and SubIFDs are filled in here.
inline QByteArray tiff(std::vector<std::vector<Entry>> ifds,
                       const std::vector<QByteArray>& strips) {
    auto padded = [](qsizetype n) { return uint32_t(n + (n & 1)); };
    // The header, the IFDs each followed by their values longer than four bytes, the strips.
    std::vector<uint32_t> ifdAt{8}, stripAt;
    for (const auto& entries : ifds) {
        uint32_t size = 2 + uint32_t(entries.size()) * 12 + 4;
        for (const Entry& e : entries)
            if (e.value.size() > 4) size += padded(e.value.size());
        ifdAt.push_back(ifdAt.back() + size);
    }
    stripAt.push_back(ifdAt.back());
    for (const QByteArray& strip : strips)
        stripAt.push_back(stripAt.back() + padded(strip.size()));

    QByteArray file = QByteArray("II*\0", 4) + le(8, 4);
    for (size_t i = 0; i < ifds.size(); ++i) {
        const uint32_t valuesAt = ifdAt[i] + 2 + uint32_t(ifds[i].size()) * 12 + 4;
        QByteArray ifd = le(uint32_t(ifds[i].size()), 2), values;
        for (Entry& e : ifds[i]) {
            if (e.tag == 273) e.value = le(stripAt[i], 4);
            if (e.tag == 279) e.value = le(uint32_t(strips[i].size()), 4);
            if (e.tag == 330) e.value = le(ifdAt[1], 4);
            ifd += le(e.tag, 2) + le(e.type, 2) + le(e.count, 4);
            if (e.value.size() <= 4) {
                ifd += e.value.leftJustified(4, '\0');
            } else {
                ifd += le(valuesAt + uint32_t(values.size()), 4);
                values += e.value.leftJustified(padded(e.value.size()), '\0');
            }
        }
        file += ifd + le(0, 4) + values;
    }
    for (const QByteArray& strip : strips)
        file += strip.leftJustified(padded(strip.size()), '\0');
    return file;
}

// The 16-bit samples of a w x h RGGB frame: a flat grey scene with a bright square in the middle.
inline QByteArray bayerPixels(int w, int h) {
    QByteArray pixels;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool lit = x >= w * 3 / 8 && x < w * 5 / 8 && y >= h / 3 && y < h * 2 / 3;
            pixels += le(lit ? 40000 : 4000, 2);
        }
    return pixels;
}

// The tags that describe the camera to a DNG reader.
inline std::vector<Entry> cameraTags() {
    QByteArray matrix;
    for (int i = 0; i < 9; ++i)  // the identity as signed rationals n / 10000
        matrix += le(i % 4 == 0 ? 10000 : 0, 4) + le(10000, 4);
    return {
        numbers(50706, 1, {1, 4, 0, 0}),  // DNGVersion
        text(50708, "Test Synthetic"),    // UniqueCameraModel
        {50721, 10, 9, matrix},           // ColorMatrix1
        numbers(50778, 3, {21}),          // CalibrationIlluminant1: D65
    };
}

// The tags of a w x h raw frame of 16-bit samples in one strip, in tag order up to Make.
inline std::vector<Entry> frameTags(int w, int h, uint32_t subfileType) {
    return {
        numbers(254, 4, {subfileType}),  // NewSubFileType
        numbers(256, 4, {uint32_t(w)}),  // ImageWidth
        numbers(257, 4, {uint32_t(h)}),  // ImageLength
        numbers(258, 3, {16}),           // BitsPerSample
        numbers(259, 3, {1}),            // Compression: none
        numbers(262, 3, {32803}),        // PhotometricInterpretation: CFA
    };
}

// The strip tags of a one-strip image of h rows with `samples` samples per pixel.
inline std::vector<Entry> stripTags(int h, uint32_t samples) {
    return {
        numbers(273, 4, {0}),            // StripOffsets, filled in by `tiff`
        numbers(277, 3, {samples}),      // SamplesPerPixel
        numbers(278, 4, {uint32_t(h)}),  // RowsPerStrip
        numbers(279, 4, {0}),            // StripByteCounts, filled in by `tiff`
        numbers(284, 3, {1}),            // PlanarConfiguration: chunky
    };
}

// The colour-filter array: R G / G B.
inline std::vector<Entry> cfaTags() {
    return {
        numbers(33421, 3, {2, 2}),        // CFARepeatPatternDim
        numbers(33422, 1, {0, 1, 1, 2}),  // CFAPattern
    };
}

inline void append(std::vector<Entry>& to, const std::vector<Entry>& entries) {
    to.insert(to.end(), entries.begin(), entries.end());
}

// A w x h RGGB frame of 16-bit samples (`bayerPixels`) as a DNG of one IFD.
inline QByteArray makeDng(int w = 64, int h = 48) {
    std::vector<Entry> entries = frameTags(w, h, 0);  // the full-resolution image
    append(entries, {text(271, "Test"), text(272, "Synthetic")});
    append(entries, stripTags(h, 1));
    append(entries, cfaTags());
    append(entries, cameraTags());
    return tiff({entries}, {bayerPixels(w, h)});
}

// The same frame laid out as cameras write DNGs: IFD 0 holds a (w / 4) x (h / 4) 8-bit RGB
// preview of flat grey 128, which is what a plain TIFF reader shows, and the raw frame is in
// a sub-IFD.
inline QByteArray makeDngWithPreview(int w = 64, int h = 48) {
    const int pw = w / 4, ph = h / 4;
    std::vector<Entry> preview = {
        numbers(254, 4, {1}),  // NewSubFileType: reduced-resolution image
        numbers(256, 4, {uint32_t(pw)}),
        numbers(257, 4, {uint32_t(ph)}),
        numbers(258, 3, {8, 8, 8}),
        numbers(259, 3, {1}),  // Compression: none
        numbers(262, 3, {2}),  // PhotometricInterpretation: RGB
        text(271, "Test"),
        text(272, "Synthetic"),
    };
    append(preview, stripTags(ph, 3));
    preview.push_back(numbers(330, 4, {0}));  // SubIFDs, filled in by `tiff`
    append(preview, cameraTags());
    std::vector<Entry> raw = frameTags(w, h, 0);
    append(raw, stripTags(h, 1));
    append(raw, cfaTags());
    return tiff({preview, raw}, {QByteArray(pw * ph * 3, char(128)), bayerPixels(w, h)});
}

}  // namespace synthetic_dng

using synthetic_dng::makeDng;
using synthetic_dng::makeDngWithPreview;
