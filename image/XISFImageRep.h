// Reader of monolithic XISF files: the signature "XISF0100", a 32-bit little-endian header
// length at byte 8, the XML header from byte 16, and one attached block of raw pixels.
//
// The header names the geometry (width:height:channels), the sample format, the pixel
// storage (planar unless "Normal") and the block's byte offset; its `FITSKeyword` and
// `Property` elements become the header rows of `metadata`. The bitmap is always one plane of
// interleaved samples: grey 8 or 16 bits, or RGB 24 or 48 bits.
//
// - UInt8 and UInt16 grey, and interleaved ("Normal") 3-channel UInt8 and UInt16 blocks, are
//   described in place: the bitmap points into `data`, no copy is made.
// - Planar colour blocks (3 or 4 channels; a fourth is not read) are interleaved into
//   `tempData`; UInt32 keeps the low 16 bits of each sample; Float32 and Float64 samples
//   are multiplied by 65535 in their own precision and truncated, out-of-range values are
//   clamped to 0..65535 and NaN gives 0.
//
// Files are rejected (no representation) when any number is missing, zero or negative, when
// the header or the pixel block reaches past the end of the bytes, when the block is
// compressed or big-endian, when it is not an attachment, and for channel counts and storage
// combinations that have no bitmap layout (2 or more than 4 channels, 4 interleaved channels,
// interleaved UInt32 or floating colour).
#pragma once

#include "ImageDecoding.h"
#include "ImageRep.h"
#include "StringTable.h"

#include <memory>
#include <vector>

class XISFImageRep : public BitmapImageRep {
  public:
    class ParserDelegate;  // gathers what the XML header says (XISFParserDelegate.h)

    std::vector<uint8_t> tempData;  // converted pixels when the block could not be used as is
    QByteArray data;                // the whole file while the bitmap points into it; else empty
    StringTable metadata;           // "key", "value", "comment" title row, then header rows

    // The representation of an XISF file's bytes, or nullptr when the file is rejected.
    static std::shared_ptr<XISFImageRep> initWithBytes(const QByteArray& bytes);

    static bool canInitWithData(const QByteArray& data);
    static ImageRepList imageRepsWithData(const QByteArray& data);
    static ImageRepPtr initWithData(const QByteArray& data);
    static const ImageRepClass& imageRepClass();
};
