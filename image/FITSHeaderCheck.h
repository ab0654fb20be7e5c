// The check of one FITS header's structural keywords, before CFITSIO is let near it.
//
// CFITSIO 4.2 takes a header's structural values as they stand: it divides by tile sizes and
// Rice block sizes, allocates a column record for every field TFIELDS declares, loops over the
// axes and columns, and multiplies sizes in 64 bits without checking. This check reads the
// cards itself (FITSCards.h) and refuses, with the reason, any header whose values the FITS
// standard or the tiled image compression convention does not allow, or that would make
// CFITSIO divide by zero, overflow, or allocate or loop beyond what the file itself could
// justify. It looks at every keyword CFITSIO takes the structure of an HDU from while opening
// it, moving onto it or counting it, and while the reader then takes its keywords, image
// parameters, column names and cells:
//
//   - every HDU: the first card (SIMPLE = T, or XTENSION with a string value), BITPIX, NAXIS
//     and NAXISn in their places, PCOUNT and GCOUNT, GROUPS, and a data size within 64 bits;
//   - tables: TFIELDS (at most 999), each TFORMn, TBCOLn (ASCII), THEAP and the heap (binary);
//   - tile-compressed images (ZIMAGE = T): ZBITPIX, ZNAXIS, ZNAXISn, ZTILEn, ZCMPTYPE, the
//     codec's ZNAMEn/ZVALn parameters, ZQUANTIZ and ZDITHER0, and the columns they need.
//
// A structural keyword that appears twice is refused too: CFITSIO finds a keyword by name
// from wherever it last read, so which of two copies it takes depends on the order of its
// calls. Plain C++ without Qt: the decode helper checks the headers it moves past as well.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// What the check makes of one header.
struct FitsHeaderVerdict {
    std::string refusal;                // why the header is refused, e.g. "ZTILE1 = 0; a tile
                                        // is at least one pixel wide"; empty when it is sound
    std::optional<uint64_t> dataBytes;  // bytes of data the size keywords declare (heap
                                        // included); absent when they do not say
};

// Checks the header of `count` cards (kFitsCardBytes each, its END card not among them) at
// `cards`; `primary` when it is the file's first header. The data size is given whenever
// BITPIX, NAXIS, NAXISn, PCOUNT and GCOUNT are sound, also for a header refused for another
// reason.
FitsHeaderVerdict checkFitsHeader(const char* cards, size_t count, bool primary);
