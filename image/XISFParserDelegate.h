// What an XISF header says about its image, gathered from the XML parser's events.
//
// `parse` runs Qt's stream reader over the header text and hands every element start
// (name and attributes), piece of character data and element end to the delegate. Whatever
// was gathered before the end of the header or before the first XML error counts. The
// reader loads nothing from outside the header: external entities are never fetched.
//
// Element names are compared exactly, prefixes included (namespace processing is off).
// - `Image`: "geometry" (width:height:channels), "sampleFormat", "pixelStorage",
//   "colorSpace" and "location" ("attachment:offset:size"), each adding an "Image:" row
//   (location excepted); "compression" and a big-endian "byteOrder" mark the block as
//   unreadable. Several `Image` elements overwrite each other's numbers.
// - `FITSKeyword` with "name", "value" and "comment": a row ("FITS:" + name, value, comment).
// - `Property` with "id" and "type": a row (id, "value" or text content, type).
// Rows are added at the element's end, in the order met.
#pragma once

#include "StringTable.h"
#include "XISFImageRep.h"

#include <QByteArray>
#include <QStringView>
#include <QXmlStreamAttributes>

#include <cstdint>
#include <optional>

class XISFImageRep::ParserDelegate {
  public:
    int64_t width = 0;          // first geometry part
    int64_t height = 0;         // second geometry part
    int64_t depth = 0;          // third geometry part: number of channels
    int64_t bytesPerPixel = 0;  // 1, 2, 4 for UInt8/16/32; -4, -8 for Float32/64; 0 unknown
    int64_t offset = 0;         // byte offset of the pixel block from the start of the file
    bool planar = true;         // pixel storage is planar (channel after channel)
    bool compressed = false;    // an `Image` declared a compressed block
    bool bigEndian = false;     // an `Image` declared big-endian samples
    StringTable metadata = {QStringList{"key", "value", "comment"}};  // rows so far
    std::optional<QStringList> triplet;  // row of an open `FITSKeyword` or `Property`

    // Runs the XML reader over `header`, feeding the three events below.
    void parse(const QByteArray& header);

    void didStartElement(QStringView name, const QXmlStreamAttributes& attributes);
    void foundCharacters(const QString& text);
    void didEndElement();
};

// The decimal integer in `text` (optional sign, then digits only), or 0 for any other text
// and for numbers beyond the signed 64-bit range.
int64_t xisfDecimalValue(QStringView text);
