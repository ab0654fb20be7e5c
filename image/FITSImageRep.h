// Reader of one header-data unit (HDU) of a FITS file held in memory, through CFITSIO.
//
// Image HDUs become an interleaved grey (8 or 16 bits) or RGB (24 or 48 bits) bitmap:
// 8-bit data is read as bytes, 16-bit as unsigned words (the header's scaling applied by
// CFITSIO), every other BITPIX as doubles scaled into 0..65535. A cube's planes 1, 2 and 3
// become red, green and blue. Tables and data-less HDUs give a 1 x 1 placeholder bitmap with
// `bufferSize` 0; tables also give their cells as text. Reading HDU 1 collects one further
// representation per later HDU that decodes.
#pragma once

#include "ImageDecoding.h"
#include "ImageRep.h"
#include "StringTable.h"

#include <optional>
#include <vector>

class FITSImageRep : public BitmapImageRep {
  public:
    QByteArray data;                       // empty: the file is read only while the HDU is
    StringTable metadata;                  // "key", "value", "comment" title row, then keywords
    std::optional<StringTable> tabledata;  // a table HDU's column names, then its rows
    int64_t bufferSize = 0;                // bytes of pixel memory; 0 when the HDU has none
    std::shared_ptr<uint8_t> buffer;       // the bitmap's pixel memory (bufferSize bytes)
    std::vector<std::shared_ptr<FITSImageRep>> extensions;  // HDUs 2 onward (HDU 1 only)
    std::optional<QString> name;                            // value text of the "EXTNAME" keyword
    int hdu = 1;                                            // number of the HDU read (1-based)
    QString refusal;  // why the HDU's header was refused (no picture, keywords from the cards)

    // Reads HDU `hdu` (1-based) of `bytes`. Returns nullptr when the bytes cannot be opened,
    // the primary header is refused (logged), the HDU cannot be reached, or an image HDU has
    // NAXIS 1 or more than 3. An HDU whose header is refused (FITSHeaderCheck.h) gives a
    // representation without picture whose `refusal` says why; it is logged.
    static std::shared_ptr<FITSImageRep> initWithData(const QByteArray& bytes, int hdu);

    static bool canInitWithData(const QByteArray& data);
    static ImageRepList imageRepsWithData(const QByteArray& data);
    static ImageRepPtr initWithData(const QByteArray& data);
    static const ImageRepClass& imageRepClass();
};
