// The decoder registry and the decoded image that holds an ordered list of representations.
//
// Readers register a class (three functions) at start-up. Decoding offers the bytes to every
// registered class in registration order; the first whose signature test accepts them
// decides. Bytes that no registered class takes go to Qt's image readers (PNG, JPEG, TIFF,
// BMP, WebP, ...). Camera RAW files are decoded with LibRaw from memory, in the decode helper.
#pragma once

#include "ImageRep.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>

// A registered reader: the three calls of the representation protocol.
struct ImageRepClass {
    const char* name;                                      // for diagnostics
    bool (*canInitWithData)(const QByteArray& data);       // signature test on leading bytes
    ImageRepList (*imageRepsWithData)(const QByteArray&);  // one representation, or empty
    ImageRepPtr (*initWithData)(const QByteArray& data);   // the representation, or nullptr
};

// The list answer of the representation protocol: the one representation, or an empty list.
inline ImageRepList imageRepListOf(ImageRepPtr rep) {
    if (!rep) return {};
    return {std::move(rep)};
}

// Appends `cls` to the registry unless a class of the same name is there already.
void registerImageRepClass(const ImageRepClass& cls);
// Registers the raw frame blob, FITS and XISF readers, in that order (idempotent).
void registerImageReaders();
// The registered classes in registration order.
std::vector<ImageRepClass> registeredImageRepClasses();

// A decoded image: what the platform's decoders made of some bytes.
class DecodedImage {
  public:
    ImageRepList representations;     // in order; the first bitmap is the picture
    std::optional<QVariantMap> exif;  // properties the decoder reported, if any

    // Decodes bytes through the registered readers, then Qt's own formats. Returns nullptr
    // when no decoder accepts the bytes.
    static std::shared_ptr<DecodedImage> initWithData(const QByteArray& data);
    // Decodes a camera RAW file's bytes with LibRaw, in memory (no temporary file) into a
    // 48-bit RGB bitmap, in the decode helper unless isolation is off. Returns nullptr when
    // LibRaw cannot open or process the bytes, or the helper fails.
    static std::shared_ptr<DecodedImage> initWithCameraRaw(const QByteArray& data);
};

// File-level properties that Qt's readers report for the bytes (text keys), or nothing.
std::optional<QVariantMap> imageSourceProperties(const QByteArray& data);
