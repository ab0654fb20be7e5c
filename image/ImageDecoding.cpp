#include "ImageDecoding.h"

#include "CameraRawDecode.h"
#include "DecodeHelper.h"
#include "FITSImageRep.h"
#include "RawImageRep.h"
#include "XISFImageRep.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <cstring>
#include <mutex>

namespace {

std::mutex registryMutex;
std::vector<ImageRepClass>& registry() {
    static std::vector<ImageRepClass> classes;
    return classes;
}

// Copies a QImage (already in the chosen format) into packed rows of `rowBytes` each.
std::shared_ptr<OwnedBitmapImageRep> packRows(const QImage& image, int64_t rowBytes, int64_t bps,
                                              int64_t spp, bool alpha, ColorSpace space,
                                              int64_t format, int64_t bpp) {
    auto rep = std::make_shared<OwnedBitmapImageRep>();
    const int64_t w = image.width(), h = image.height();
    rep->pixels.resize(size_t(rowBytes * h));
    for (int64_t y = 0; y < h; ++y)
        std::memcpy(rep->pixels.data() + y * rowBytes, image.constScanLine(int(y)),
                    size_t(rowBytes));
    uint8_t* planes[1] = {rep->pixels.data()};
    if (!rep->describe(planes, w, h, bps, spp, alpha, false, space, format, rowBytes, bpp,
                       rep->pixels.size()))
        return nullptr;
    return rep;
}

// Packs a 16-bit-per-channel image into 48-bit RGB rows (alpha dropped).
std::shared_ptr<OwnedBitmapImageRep> packRgb48(const QImage& source) {
    QImage image = source.convertToFormat(QImage::Format_RGBX64);
    auto rep = std::make_shared<OwnedBitmapImageRep>();
    const int64_t w = image.width(), h = image.height();
    const int64_t rowBytes = w * 6;
    rep->pixels.resize(size_t(rowBytes * h));
    for (int64_t y = 0; y < h; ++y) {
        const auto* in = reinterpret_cast<const QRgba64*>(image.constScanLine(int(y)));
        auto* out = reinterpret_cast<uint16_t*>(rep->pixels.data() + y * rowBytes);
        for (int64_t x = 0; x < w; ++x) {
            out[3 * x] = in[x].red();
            out[3 * x + 1] = in[x].green();
            out[3 * x + 2] = in[x].blue();
        }
    }
    uint8_t* planes[1] = {rep->pixels.data()};
    if (!rep->describe(planes, w, h, 16, 3, false, false, ColorSpace::DeviceRGB, 0, rowBytes, 48,
                       rep->pixels.size()))
        return nullptr;
    return rep;
}

bool isSixteenBitColour(QImage::Format f) {
    switch (f) {
        case QImage::Format_RGBX64:
        case QImage::Format_RGBA64:
        case QImage::Format_RGBA64_Premultiplied:
        case QImage::Format_RGBX16FPx4:
        case QImage::Format_RGBA16FPx4:
        case QImage::Format_RGBA16FPx4_Premultiplied:
        case QImage::Format_RGBX32FPx4:
        case QImage::Format_RGBA32FPx4:
        case QImage::Format_RGBA32FPx4_Premultiplied:
            return true;
        default:
            return false;
    }
}

// The bitmap description of a decoded QImage: grey 8 or 16 bits, RGB 24 or 48 bits, or RGBA
// 32 bits with the alpha sample last and not premultiplied.
std::shared_ptr<OwnedBitmapImageRep> bitmapFromQImage(const QImage& image) {
    const int64_t w = image.width();
    if (image.format() == QImage::Format_Grayscale16)
        return packRows(image, w * 2, 16, 1, false, ColorSpace::CalibratedWhite, 0, 16);
    const bool paletteGrey =
        (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono ||
         image.format() == QImage::Format_MonoLSB) &&
        image.isGrayscale() && !image.hasAlphaChannel();
    if (image.format() == QImage::Format_Grayscale8 || paletteGrey)
        return packRows(image.convertToFormat(QImage::Format_Grayscale8), w, 8, 1, false,
                        ColorSpace::CalibratedWhite, 0, 8);
    if (isSixteenBitColour(image.format())) return packRgb48(image);
    if (image.hasAlphaChannel())
        return packRows(image.convertToFormat(QImage::Format_RGBA8888), w * 4, 8, 4, true,
                        ColorSpace::DeviceRGB, BitmapFormatAlphaNonpremultiplied, 32);
    return packRows(image.convertToFormat(QImage::Format_RGB888), w * 3, 8, 3, false,
                    ColorSpace::DeviceRGB, 0, 24);
}

// The decoded picture's text entries (PNG text chunks, a JPEG comment). Taken from the picture,
// not the reader: a reader asked again after the read parses the file a second time from its
// end, and libpng reports "Read Error" on every PNG.
std::optional<QVariantMap> textKeys(const QImage& image) {
    QVariantMap map;
    for (const QString& key : image.textKeys())
        map.insert(key, image.text(key));
    if (map.isEmpty()) return std::nullopt;
    return map;
}

std::shared_ptr<DecodedImage> decodeWithQt(const QByteArray& data) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    QImage image = reader.read();
    if (image.isNull()) return nullptr;
    auto rep = bitmapFromQImage(image);
    if (!rep) return nullptr;
    auto decoded = std::make_shared<DecodedImage>();
    decoded->representations.push_back(rep);
    decoded->exif = textKeys(image);
    return decoded;
}

}  // namespace

void registerImageRepClass(const ImageRepClass& cls) {
    std::lock_guard<std::mutex> lock(registryMutex);
    for (const ImageRepClass& c : registry())
        if (std::strcmp(c.name, cls.name) == 0) return;
    registry().push_back(cls);
}

std::vector<ImageRepClass> registeredImageRepClasses() {
    std::lock_guard<std::mutex> lock(registryMutex);
    return registry();
}

void registerImageReaders() {
    registerImageRepClass(RawImageRep::imageRepClass());
    registerImageRepClass(FITSImageRep::imageRepClass());
    registerImageRepClass(XISFImageRep::imageRepClass());
}

const QStringList& cameraRawExtensions() {
    // shared-mime-info's camera RAW types, then LibRaw's further formats.
    static const QStringList extensions{
        "arw", "cr2", "cr3", "crw", "dcr", "dng", "k25", "kdc", "mrw", "nef", "nrw", "orf", "pef",
        "raf", "raw", "rw2", "sr2", "srf", "3fr", "erf", "fff", "iiq", "mef", "mos", "rwl", "srw"};
    return extensions;
}

bool isCameraRawFormat(const QString& format) {
    return format.startsWith('.') && cameraRawExtensions().contains(format.mid(1).toLower());
}

std::shared_ptr<DecodedImage> DecodedImage::initWithData(const QByteArray& data, bool cameraRaw) {
    for (const ImageRepClass& cls : registeredImageRepClasses()) {
        if (!cls.canInitWithData(data)) continue;
        ImageRepList reps = cls.imageRepsWithData(data);
        if (reps.empty()) return nullptr;
        auto decoded = std::make_shared<DecodedImage>();
        decoded->representations = std::move(reps);
        return decoded;
    }
    return cameraRaw ? initWithCameraRawThenQt(data) : decodeWithQt(data);
}

std::shared_ptr<DecodedImage> DecodedImage::initWithCameraRawThenQt(const QByteArray& data) {
    bool notCameraRaw = false;
    auto decoded = initWithCameraRaw(data, &notCameraRaw);
    if (decoded || !notCameraRaw) return decoded;
    return decodeWithQt(data);
}

std::shared_ptr<DecodedImage> DecodedImage::initWithCameraRaw(const QByteArray& data,
                                                              bool* notCameraRaw) {
    std::shared_ptr<BitmapImageRep> rep;
    if (notCameraRaw) *notCameraRaw = false;
    if (DecodeHelper::isolated()) {
        rep = DecodeHelper::decodeCameraRaw(data, notCameraRaw);
    } else {
        // Into the representation's own memory; the sink keeps it.
        struct Sink : CameraRawSink {
            std::shared_ptr<OwnedBitmapImageRep> rep = std::make_shared<OwnedBitmapImageRep>();
            uint8_t* pixels(int64_t width, int64_t height) override {
                rep->pixels.resize(size_t(width) * size_t(height) * 6);
                uint8_t* planes[1] = {rep->pixels.data()};
                if (!rep->describe(planes, width, height, 16, 3, false, false,
                                   ColorSpace::DeviceRGB, 0, width * 6, 48, rep->pixels.size()))
                    return nullptr;
                return rep->pixels.data();
            }
        } sink;
        std::string why;
        const CameraRawResult result =
            decodeCameraRaw(data.constData(), size_t(data.size()), sink, why);
        if (result == CameraRawResult::Decoded) rep = sink.rep;
        if (notCameraRaw) *notCameraRaw = result == CameraRawResult::NotCameraRaw;
    }
    if (!rep) return nullptr;
    auto decoded = std::make_shared<DecodedImage>();
    decoded->representations.push_back(rep);
    return decoded;
}

std::optional<QVariantMap> imageSourceProperties(const QByteArray& data) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (!reader.canRead()) return std::nullopt;
    QVariantMap map;
    map.insert("format", QString::fromLatin1(reader.format()));
    for (const QString& key : reader.textKeys())
        map.insert(key, reader.text(key));
    return map;
}
