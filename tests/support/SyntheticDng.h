// A minimal uncompressed DNG (a TIFF with a colour-filter array, which LibRaw reads like any
// camera's raw file), built byte by byte for the camera RAW tests and benchmarks.
#pragma once

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace synthetic_dng {

class TiffWriter {
  public:
    void u16(QByteArray& b, uint16_t v) { b.append(char(v & 0xff)).append(char(v >> 8)); }
    void u32(QByteArray& b, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.append(char((v >> (8 * i)) & 0xff));
    }
    struct Entry {
        uint16_t tag, type;
        uint32_t count;
        QByteArray value;  // little-endian bytes of the value
    };
    std::vector<Entry> entries;
    void add(uint16_t tag, uint16_t type, uint32_t count, const QByteArray& v) {
        entries.push_back({tag, type, count, v});
    }
    void shorts(uint16_t tag, std::initializer_list<uint16_t> vs) {
        QByteArray b;
        for (uint16_t v : vs)
            u16(b, v);
        add(tag, 3, uint32_t(vs.size()), b);
    }
    void longs(uint16_t tag, std::initializer_list<uint32_t> vs) {
        QByteArray b;
        for (uint32_t v : vs)
            u32(b, v);
        add(tag, 4, uint32_t(vs.size()), b);
    }
    void bytes(uint16_t tag, std::initializer_list<uint8_t> vs) {
        QByteArray b;
        for (uint8_t v : vs)
            b.append(char(v));
        add(tag, 1, uint32_t(vs.size()), b);
    }
    void ascii(uint16_t tag, const char* s) {
        add(tag, 2, uint32_t(strlen(s) + 1), QByteArray(s, int(strlen(s) + 1)));
    }
    void srationals(uint16_t tag, std::initializer_list<int32_t> nums) {
        QByteArray b;
        for (int32_t n : nums) {
            u32(b, uint32_t(n));
            u32(b, 10000);
        }
        add(tag, 10, uint32_t(nums.size()), b);
    }

    // Lays out header, IFD, out-of-line values and pixel data.
    QByteArray build(const QByteArray& pixels, uint16_t stripTag, uint16_t countTag) {
        std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.tag < b.tag; });
        const uint32_t ifdOffset = 8;
        const uint32_t ifdSize = 2 + uint32_t(entries.size()) * 12 + 4;
        uint32_t extra = ifdOffset + ifdSize;
        QByteArray extraData;
        QByteArray ifd;
        u16(ifd, uint16_t(entries.size()));
        // Pixel offset comes after every out-of-line value.
        uint32_t outOfLine = 0;
        for (const Entry& e : entries)
            if (e.value.size() > 4) outOfLine += uint32_t(e.value.size() + (e.value.size() & 1));
        const uint32_t pixelOffset = extra + outOfLine;
        for (Entry& e : entries) {
            if (e.tag == stripTag) {
                e.value.clear();
                u32(e.value, pixelOffset);
            }
            if (e.tag == countTag) {
                e.value.clear();
                u32(e.value, uint32_t(pixels.size()));
            }
            u16(ifd, e.tag);
            u16(ifd, e.type);
            u32(ifd, e.count);
            if (e.value.size() <= 4) {
                ifd.append(e.value.leftJustified(4, '\0'));
            } else {
                u32(ifd, extra + uint32_t(extraData.size()));
                extraData.append(e.value);
                if (e.value.size() & 1) extraData.append('\0');
            }
        }
        u32(ifd, 0);
        QByteArray file("II*\0", 4);
        u32(file, ifdOffset);
        return file + ifd + extraData + pixels;
    }
};

// A w x h RGGB frame of 16-bit samples: a flat grey scene with a bright square in the middle
// third.
inline QByteArray makeDng(int w = 64, int h = 48) {
    QByteArray pixels;
    TiffWriter t;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool lit = x >= w * 3 / 8 && x < w * 5 / 8 && y >= h / 3 && y < h * 2 / 3;
            t.u16(pixels, lit ? 40000 : 4000);
        }
    t.longs(254, {0});                 // NewSubFileType: full-resolution image
    t.longs(256, {uint32_t(w)});       // ImageWidth
    t.longs(257, {uint32_t(h)});       // ImageLength
    t.shorts(258, {16});               // BitsPerSample
    t.shorts(259, {1});                // Compression: none
    t.shorts(262, {32803});            // PhotometricInterpretation: CFA
    t.ascii(271, "Test");              // Make
    t.ascii(272, "Synthetic");         // Model
    t.longs(273, {0});                 // StripOffsets (filled in)
    t.shorts(277, {1});                // SamplesPerPixel
    t.longs(278, {uint32_t(h)});       // RowsPerStrip
    t.longs(279, {0});                 // StripByteCounts (filled in)
    t.shorts(284, {1});                // PlanarConfiguration
    t.shorts(33421, {2, 2});           // CFARepeatPatternDim
    t.bytes(33422, {0, 1, 1, 2});      // CFAPattern: R G / G B
    t.bytes(50706, {1, 4, 0, 0});      // DNGVersion
    t.ascii(50708, "Test Synthetic");  // UniqueCameraModel
    t.srationals(50721, {10000, 0, 0, 0, 10000, 0, 0, 0, 10000});  // ColorMatrix1: identity
    t.shorts(50778, {21});                                         // CalibrationIlluminant1: D65
    return t.build(pixels, 273, 279);
}

}  // namespace synthetic_dng

using synthetic_dng::makeDng;
