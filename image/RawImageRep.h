// Reader of raw frame blobs: a 12-byte header ("RAW1", "RAW2" or "RAW3", then width and
// height as unsigned 32-bit little-endian) followed by packed rows, top row first.
//
// The bitmap describes the blob's pixels in place; the representation keeps the bytes
// alive. Blobs shorter than their header promises are rejected.
#pragma once

#include "ImageDecoding.h"
#include "ImageRep.h"

class RawImageRep : public BitmapImageRep {
  public:
    QByteArray data;  // the blob's bytes; the bitmap points into them

    // The representation of a blob, or nullptr when the type is unknown or the bytes are short.
    static std::shared_ptr<RawImageRep> initWithBytes(const QByteArray& bytes);

    static bool canInitWithData(const QByteArray& data);
    static ImageRepList imageRepsWithData(const QByteArray& data);
    static ImageRepPtr initWithData(const QByteArray& data);
    static const ImageRepClass& imageRepClass();
};
