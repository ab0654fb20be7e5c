#include "XISFImageRep.h"

#include "XISFParserDelegate.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Largest width or height taken; the bitmap description refuses larger sides as well.
constexpr int64_t kMaxSide = int64_t(1) << 24;

// An unsigned little-endian integer of sizeof(U) bytes at `p`, which needs no alignment.
template <typename U>
U loadLE(const uint8_t* p) {
    U v = 0;
    for (size_t i = 0; i < sizeof(U); ++i)
        v |= U(p[i]) << (8 * i);
    return v;
}

// A floating sample times 65535 in its own precision, truncated toward zero. Values at or
// below -1 and NaN give 0, values at or above 65536 give 65535.
template <typename F>
uint16_t scaledToSixteenBits(F sample) {
    const F v = sample * F(65535);
    if (!(v > F(-1))) return 0;
    if (!(v < F(65536))) return 65535;
    return uint16_t(int32_t(v));
}

// Sample types of the pixel block: bytes per stored sample, the bitmap's sample type, and
// how one stored sample becomes a bitmap sample.
struct UInt8Sample {
    using Out = uint8_t;
    static constexpr int64_t size = 1;
    static Out read(const uint8_t* p) { return p[0]; }
};
struct UInt16Sample {
    using Out = uint16_t;
    static constexpr int64_t size = 2;
    static Out read(const uint8_t* p) { return loadLE<uint16_t>(p); }
};
struct UInt32Sample {  // keeps the low-order 16 bits, i.e. the value modulo 65536
    using Out = uint16_t;
    static constexpr int64_t size = 4;
    static Out read(const uint8_t* p) { return uint16_t(loadLE<uint32_t>(p) & 0xFFFFu); }
};
struct Float32Sample {
    using Out = uint16_t;
    static constexpr int64_t size = 4;
    static Out read(const uint8_t* p) {
        return scaledToSixteenBits(std::bit_cast<float>(loadLE<uint32_t>(p)));
    }
};
struct Float64Sample {
    using Out = uint16_t;
    static constexpr int64_t size = 8;
    static Out read(const uint8_t* p) {
        return scaledToSixteenBits(std::bit_cast<double>(loadLE<uint64_t>(p)));
    }
};

// Where channel c of pixel i lies in the block: sample number c x channelStride + i x
// pixelStride (planar: channelStride n, pixelStride 1; normal: 1 and the channel count).
struct BlockLayout {
    int64_t pixels;         // n = width x height
    int64_t channels;       // channels written to the bitmap (1 or 3)
    int64_t channelStride;  // samples from one channel of a pixel to the next
    int64_t pixelStride;    // samples from one pixel to the next within a channel
};

// Writes the bitmap's interleaved samples into `out` (n x channels samples of Sample::Out).
template <typename Sample>
void convertBlock(const uint8_t* block, const BlockLayout& layout, uint8_t* out) {
    auto* dst = reinterpret_cast<typename Sample::Out*>(out);
    for (int64_t c = 0; c < layout.channels; ++c) {
        const uint8_t* src = block + c * layout.channelStride * Sample::size;
        const int64_t step = layout.pixelStride * Sample::size;
        for (int64_t i = 0; i < layout.pixels; ++i)
            dst[i * layout.channels + c] = Sample::read(src + i * step);
    }
}

// Chooses the sample type once by the header's format code.
void convertBlock(int64_t format, const uint8_t* block, const BlockLayout& layout, uint8_t* out) {
    switch (format) {
        case 1:
            return convertBlock<UInt8Sample>(block, layout, out);
        case 2:
            return convertBlock<UInt16Sample>(block, layout, out);
        case 4:
            return convertBlock<UInt32Sample>(block, layout, out);
        case -4:
            return convertBlock<Float32Sample>(block, layout, out);
        case -8:
            return convertBlock<Float64Sample>(block, layout, out);
    }
}

}  // namespace

std::shared_ptr<XISFImageRep> XISFImageRep::initWithBytes(const QByteArray& bytes) {
    if (!canInitWithData(bytes) || bytes.size() < 16) return nullptr;
    const auto* base = reinterpret_cast<const uint8_t*>(bytes.constData());
    const uint64_t fileSize = uint64_t(bytes.size());
    const uint64_t headerLength = loadLE<uint32_t>(base + 8);
    if (headerLength > fileSize - 16) return nullptr;

    ParserDelegate parser;
    parser.parse(QByteArray::fromRawData(bytes.constData() + 16, qsizetype(headerLength)));

    const int64_t width = parser.width, height = parser.height, depth = parser.depth;
    const int64_t format = parser.bytesPerPixel, offset = parser.offset;
    if (width == 0 || height == 0 || depth == 0 || format == 0 || offset == 0) return nullptr;
    if (width < 0 || height < 0 || depth < 0 || offset < 0) return nullptr;
    if (width > kMaxSide || height > kMaxSide) return nullptr;
    if (parser.compressed || parser.bigEndian) return nullptr;

    // Bitmap layouts: grey from one channel; colour from 3 or 4 planar channels or from 3
    // interleaved 8- or 16-bit channels.
    const bool shortInteger = format == 1 || format == 2;
    int64_t channels;
    if (depth == 1)
        channels = 1;
    else if (parser.planar && (depth == 3 || depth == 4))
        channels = 3;
    else if (!parser.planar && depth == 3 && shortInteger)
        channels = 3;
    else
        return nullptr;

    const int64_t sampleBytes = std::abs(format);
    const int64_t pixels = width * height;                    // at most 2^48
    const int64_t blockBytes = pixels * depth * sampleBytes;  // at most 2^53
    if (uint64_t(offset) > fileSize || uint64_t(blockBytes) > fileSize - uint64_t(offset))
        return nullptr;

    auto rep = std::make_shared<XISFImageRep>();
    rep->data = bytes;
    rep->metadata = parser.metadata;

    const int64_t bitsPerSample = format == 1 ? 8 : 16;
    const int64_t rowBytes = width * channels * (bitsPerSample / 8);
    uint8_t* block = reinterpret_cast<uint8_t*>(const_cast<char*>(rep->data.constData())) + offset;
    uint8_t* planes[1] = {block};
    size_t available = size_t(fileSize - uint64_t(offset));

    // Grey and interleaved 8/16-bit blocks are already the bitmap's layout; 16-bit samples
    // need a little-endian machine and an even address to be read in place.
    const bool inPlace = shortInteger && (depth == 1 || !parser.planar) &&
                         std::endian::native == std::endian::little &&
                         (format == 1 || reinterpret_cast<uintptr_t>(block) % 2 == 0);
    if (!inPlace) {
        const BlockLayout layout{pixels, channels, parser.planar ? pixels : 1,
                                 parser.planar ? 1 : depth};
        try {
            rep->tempData.assign(size_t(rowBytes * height), 0);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        convertBlock(format, block, layout, rep->tempData.data());
        planes[0] = rep->tempData.data();
        available = rep->tempData.size();
        rep->data = QByteArray();  // the converted copy is all the bitmap reads
    }

    const ColorSpace space = channels == 3 ? ColorSpace::DeviceRGB : ColorSpace::CalibratedWhite;
    if (!rep->describe(planes, width, height, bitsPerSample, channels, false, false, space, 0,
                       rowBytes, bitsPerSample * channels, available))
        return nullptr;
    return rep;
}

bool XISFImageRep::canInitWithData(const QByteArray& data) {
    return hasPrefixBytes(data, "XISF0100", 8);
}

ImageRepPtr XISFImageRep::initWithData(const QByteArray& data) {
    return initWithBytes(data);
}

ImageRepList XISFImageRep::imageRepsWithData(const QByteArray& data) {
    return imageRepListOf(initWithData(data));
}

const ImageRepClass& XISFImageRep::imageRepClass() {
    static const ImageRepClass cls{"XISFImageRep", &canInitWithData, &imageRepsWithData,
                                   &initWithData};
    return cls;
}
