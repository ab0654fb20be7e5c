// Image representations: the decoded bitmap that every pixel operation reads.
//
// A `BitmapImageRep` describes pixel memory it does not necessarily own: width, height,
// sample sizes, row stride, colour space, planar flag and bitmap format, and the address
// of plane 0. Subclasses (the readers) keep the memory alive for as long as the
// representation exists. `describe` refuses any description that would reach past the
// bytes the caller vouches for, so a bitmap can never be read out of bounds.
#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Colour space of a bitmap's samples.
enum class ColorSpace {
    CalibratedWhite,  // one grey sample per pixel
    DeviceRGB,        // red, green, blue (and maybe alpha) samples per pixel
};

// Bits of `BitmapImageRep::bitmapFormat`.
enum BitmapFormatBits : int64_t {
    BitmapFormatAlphaFirst = 1,             // alpha sample precedes the colour samples
    BitmapFormatAlphaNonpremultiplied = 2,  // colour samples are not premultiplied by alpha
    BitmapFormatFloatingPointSamples = 4,   // samples are floats (never produced here)
};

// Any decoded representation. Only bitmap representations carry pixels.
class ImageRep {
  public:
    virtual ~ImageRep() = default;
};

class BitmapImageRep : public ImageRep {
  public:
    int64_t pixelsWide = 0;       // pixels across
    int64_t pixelsHigh = 0;       // pixels down
    int64_t bitsPerSample = 0;    // bits of one sample (8 or 16 here)
    int64_t samplesPerPixel = 0;  // samples per pixel, alpha included
    int64_t bitsPerPixel = 0;     // bits per pixel in one plane
    int64_t bytesPerRow = 0;      // bytes from one row to the next in one plane
    int64_t numberOfPlanes = 0;   // 1 when meshed, samplesPerPixel when planar
    int64_t bitmapFormat = 0;     // BitmapFormatBits
    bool hasAlpha = false;        // one of the samples is alpha
    bool isPlanar = false;        // samples stored in separate planes
    ColorSpace colorSpace = ColorSpace::CalibratedWhite;  // meaning of the samples

    // Address of plane 0's first byte, or nullptr when the bitmap has no pixel memory.
    uint8_t* bitmapData() const { return planes_[0]; }
    // Address of plane i, or nullptr.
    uint8_t* plane(int i) const { return (i >= 0 && i < 5) ? planes_[i] : nullptr; }

    // Fills the description over `planes` (up to 5 plane pointers; nullptr entries end the
    // list). `available` is the number of bytes each plane may hold. Returns false and leaves
    // the representation unchanged when the numbers disagree with each other or the rows would
    // reach past `available` bytes; a null plane 0 is accepted when `ownMemory` is true, in
    // which case the representation allocates zeroed pixel memory of its own.
    bool describe(uint8_t* const* planes, int64_t width, int64_t height, int64_t bitsPerSample,
                  int64_t samplesPerPixel, bool hasAlpha, bool isPlanar, ColorSpace colorSpace,
                  int64_t bitmapFormat, int64_t bytesPerRow, int64_t bitsPerPixel, size_t available,
                  bool ownMemory = false);

    // Bytes a bitmap of this description spans in one plane (rows x bytesPerRow).
    size_t planeBytes() const { return size_t(bytesPerRow) * size_t(pixelsHigh); }

  private:
    uint8_t* planes_[5] = {};         // plane pointers; plane 0 is bitmapData
    std::vector<uint8_t> ownPixels_;  // pixel memory when the bitmap allocated its own
};

using ImageRepPtr = std::shared_ptr<ImageRep>;
using ImageRepList = std::vector<ImageRepPtr>;

// True when `data` begins with every byte of `signature` (of `length` bytes); false when
// the data is shorter or differs anywhere.
bool hasPrefixBytes(const QByteArray& data, const char* signature, size_t length);

// A bitmap over pixel memory that the representation owns outright: the ordinary picture
// formats and camera RAW decode into one of these.
class OwnedBitmapImageRep : public BitmapImageRep {
  public:
    std::vector<uint8_t> pixels;  // the packed rows described by the bitmap
};
