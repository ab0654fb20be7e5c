// Where the header-data units (HDUs) of a FITS file lie, found without CFITSIO, and moving
// CFITSIO onto one of them without letting it read the headers before it.
//
// CFITSIO trusts a header's structural keywords: a crafted one makes it divide by zero or
// allocate gigabytes while it merely moves onto, or counts past, that HDU. So the headers are
// walked here first, each checked by checkFitsHeader, and CFITSIO is given only the sound
// ones: told where an HDU's header starts, it reads that header alone. The walk goes on past a
// refused header wherever that header's own size keywords still say where its data ends, so
// the HDUs after it stay readable.
//
// Plain C++ without Qt: the decode helper moves onto its HDU the same way.
#pragma once

#include <fitsio.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One HDU as the walk found it.
struct FitsHduPlace {
    uint64_t header = 0;            // byte offset of the header's first card
    uint64_t cards = 0;             // cards of the header before its END card
    uint64_t data = 0;              // byte offset of the data: the record after the END card's
    std::optional<uint64_t> bytes;  // bytes of data the header declares (a table's heap
                                    // included); absent when its size keywords do not say
    std::optional<uint64_t> end;    // byte offset past the data in whole records (where the next
                                    // HDU would start); absent when the header does not say
    std::string refusal;            // why the header is refused; empty when it is sound

    bool sound() const { return refusal.empty(); }
};

// The HDUs of the `size` bytes at `bytes`, in file order: the primary HDU (when the bytes
// start with a "SIMPLE" card), then every extension that follows where the one before ends,
// up to the first record that does not start an extension ("XTENSION") or the end of the
// bytes. A header without an END card is refused and ends the walk, as does a refused header
// whose size is unknown. Empty when the bytes do not start with a primary header.
std::vector<FitsHduPlace> walkFitsHeaders(const char* bytes, size_t size);

// Moves `f`, a file opened over the bytes that `places` was walked from, onto HDU `hdu`
// (1-based, within `places` and sound) as fits_movabs_hdu does, but with CFITSIO told where
// the headers before it start, so that it reads none of them. Returns CFITSIO's status (the
// status updated as by fits_movabs_hdu, `*type` set likewise); BAD_HDU_NUM for an HDU the
// walk did not find or refused.
int moveToFitsHdu(fitsfile* f, const std::vector<FitsHduPlace>& places, int hdu, int* type,
                  int* status);
