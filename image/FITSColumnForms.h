// The forms a FITS table header gives its columns (TFORMn, TDISPn, TDIMn), parsed strictly:
// only the forms the standard defines, in the spelling CFITSIO 4.2 handles safely. Each
// parser says nothing for any other text; the header check refuses the header then.
//
// Why strictly: CFITSIO keeps only 9 characters of a TFORMn, formats cells through buffers of
// 20 bytes, copies a TDISPn's text after its letter into a printf format ("ES10.3" becomes
// "%S10.3E"), takes a binary repeat count with sscanf (so it saturates), and accepts its own
// internal type letters (U, V, W, S) from files. Plain C++ without Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

constexpr size_t kMaxFormCharacters = 18;        // of a TFORMn or TDISPn: CFITSIO's 20-byte format
                                                 // buffers hold them with what it adds
constexpr int64_t kMaxColumnRepeat = INT32_MAX;  // elements of one binary table column

// A binary table column's form.
struct BinaryForm {
    int64_t repeat = 1;   // r of "rT": elements, or descriptors of a "P"/"Q" column
    char type = 0;        // the type letter, of the elements for "PJ" ('J')
    char descriptor = 0;  // 'P' or 'Q' for a variable-length column, else 0
    int64_t bytes = 0;    // bytes the column takes in a row
};

// A binary table TFORMn: "rT" with T one of L X B I J K A E D C M and r up to
// kMaxColumnRepeat, "rAw" (strings of w characters, w at least 1), or "PT(max)" / "QT(max)"
// with an optional r of 0 or 1 and an optional "(max)".
std::optional<BinaryForm> binaryForm(std::string_view text);

// The width in characters of an ASCII table TFORMn: "Aw", "Iw", "Fw.d", "Ew.d" or "Dw.d", of at
// most 9 characters, w from 1 to 28799 (the widest field CFITSIO reads) and d below w.
std::optional<int64_t> asciiFormWidth(std::string_view text);

// True for a TDISPn CFITSIO turns into a printf format safely: of at most kMaxFormCharacters,
// beginning with an upper-case letter; after one of "AIOZFEDG" only a width of up to three
// digits, then optionally "." and up to three digits and "E" with up to two. Other letters
// CFITSIO does not format with, so they are harmless unless a "%" follows; lower case is not
// (it formats an "a" as a string, whatever the column holds).
bool safeDisplayFormat(std::string_view text);

// The elements a TDIMn "(d1,d2,...)" describes: the product of its dimensions, each a whole
// number of at least 1, blanks around them allowed; nothing when it is not of that form or
// the product exceeds kMaxColumnRepeat.
std::optional<int64_t> dimensionsElements(std::string_view text);
