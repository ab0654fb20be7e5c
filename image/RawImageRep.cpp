#include "RawImageRep.h"

#include <cstring>

static uint32_t readLE32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

std::shared_ptr<RawImageRep> RawImageRep::initWithBytes(const QByteArray& bytes) {
    if (bytes.size() < 12) return nullptr;
    const char* p = bytes.constData();
    const int64_t width = readLE32(p + 4);
    const int64_t height = readLE32(p + 8);

    int64_t bps, spp;
    ColorSpace space;
    if (std::memcmp(p, "RAW3", 4) == 0) {
        bps = 8, spp = 3, space = ColorSpace::DeviceRGB;
    } else if (std::memcmp(p, "RAW2", 4) == 0) {
        bps = 16, spp = 1, space = ColorSpace::CalibratedWhite;
    } else if (std::memcmp(p, "RAW1", 4) == 0) {
        bps = 8, spp = 1, space = ColorSpace::CalibratedWhite;
    } else {
        return nullptr;
    }
    const int64_t bpp = bps * spp;
    const int64_t rowBytes = width * bpp / 8;

    auto rep = std::make_shared<RawImageRep>();
    rep->data = bytes;  // shares the buffer; the bitmap points into it
    uint8_t* plane0 = reinterpret_cast<uint8_t*>(const_cast<char*>(rep->data.constData())) + 12;
    uint8_t* planes[1] = {plane0};
    if (!rep->describe(planes, width, height, bps, spp, false, false, space, 0, rowBytes, bpp,
                       size_t(bytes.size()) - 12))
        return nullptr;
    return rep;
}

bool RawImageRep::canInitWithData(const QByteArray& data) {
    return hasPrefixBytes(data, "RAW", 3);
}

ImageRepPtr RawImageRep::initWithData(const QByteArray& data) {
    return initWithBytes(data);
}

ImageRepList RawImageRep::imageRepsWithData(const QByteArray& data) {
    return imageRepListOf(initWithData(data));
}

const ImageRepClass& RawImageRep::imageRepClass() {
    static const ImageRepClass cls{"RawImageRep", &canInitWithData, &imageRepsWithData,
                                   &initWithData};
    return cls;
}
