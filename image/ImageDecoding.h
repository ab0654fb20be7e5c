// The decoder registry and the decoded image that holds an ordered list of representations.
//
// Readers register a class (three functions) at start-up. Decoding offers the bytes to every
// registered class in registration order; the first whose signature test accepts them
// decides. Bytes that no registered class takes go to Qt's image readers (PNG, JPEG, TIFF,
// BMP, WebP, ...); for a file named as a camera RAW one, LibRaw develops them first. Camera
// RAW files are decoded with LibRaw from memory, in the decode helper.
#pragma once

#include "ImageRep.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
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

// The extensions, lower case and without the dot, of the camera RAW formats that LibRaw
// develops: the camera RAW types of shared-mime-info (its image/x-dcraw family, whose
// MIME types the desktop entry declares) but Sigma's .x3f, which this LibRaw is built without,
// and the LibRaw formats that shared-mime-info names no type for: Samsung .srw, Hasselblad
// .3fr and .fff, Phase One .iiq, Leica .rwl, Mamiya .mef, Leaf .mos and Epson .erf.
const QStringList& cameraRawExtensions();
// Whether `format` (an extension with its leading dot, any case) is one of them.
bool isCameraRawFormat(const QString& format);

// A decoded image: what the platform's decoders made of some bytes.
class DecodedImage {
  public:
    ImageRepList representations;     // in order; the first bitmap is the picture
    std::optional<QVariantMap> exif;  // properties the decoder reported, if any

    // Decodes bytes through the registered readers, then, with `cameraRaw` (the file is named
    // as a camera RAW file), as `initWithCameraRawThenQt`, else with Qt's own formats.
    // Returns nullptr when no decoder accepts the bytes.
    static std::shared_ptr<DecodedImage> initWithData(const QByteArray& data,
                                                      bool cameraRaw = false);
    // Decodes bytes named as a camera RAW file, whatever they begin with: as `initWithCameraRaw`,
    // then with Qt's own formats only when LibRaw finds no camera RAW file in them (a picture
    // given a camera RAW name). One LibRaw takes but cannot develop gives nothing, not the
    // preview that Qt's TIFF reader finds in a TIFF-based RAW file. Returns nullptr when
    // neither gives a picture.
    static std::shared_ptr<DecodedImage> initWithCameraRawThenQt(const QByteArray& data);
    // Decodes a camera RAW file's bytes with LibRaw, in memory (no temporary file) into a
    // 48-bit RGB bitmap, in the decode helper unless isolation is off. Returns nullptr when
    // LibRaw cannot open or process the bytes, or the helper fails; `*notCameraRaw`, when
    // given, then tells whether LibRaw found no camera RAW file in the bytes.
    static std::shared_ptr<DecodedImage> initWithCameraRaw(const QByteArray& data,
                                                           bool* notCameraRaw = nullptr);
};

// File-level properties that Qt's readers report for the bytes (text keys), or nothing.
std::optional<QVariantMap> imageSourceProperties(const QByteArray& data);
