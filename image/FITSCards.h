// Reading the 80-character cards of a FITS header without CFITSIO, the way CFITSIO reads them.
//
// A card's keyword name is what CFITSIO matches a keyword by: the characters before the first
// blank or "=" (for an ESO "HIERARCH" card, the name between "HIERARCH" and "="), compared in
// upper case. Its value is the token CFITSIO parses from it: after "= " in columns 9 and 10 (or
// after the first "=" anywhere), a quoted string with its quotes, a parenthesised complex
// value, or the characters up to the next blank or "/". A card ends at its first NUL byte, as
// CFITSIO's copy of it does. Plain C++ without Qt: the decode helper reads cards too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

constexpr size_t kFitsCardBytes = 80;      // bytes of one header card
constexpr size_t kFitsRecordBytes = 2880;  // bytes of one header or data record

// One header card, parsed.
struct FitsCard {
    std::string name;     // keyword name as written (a HIERARCH card's without the prefix)
    std::string key;      // `name` in upper case: what keywords are matched by
    std::string value;    // value token; empty when the card has none
    std::string comment;  // comment text after the value, trailing blanks dropped
};

// Parses the card of kFitsCardBytes bytes at `card`.
FitsCard readFitsCard(const char* card);

// True when the card at `card` is the header's END card: named "END" as CFITSIO names cards
// (so "HIERARCH END = ..." ends a header too).
bool isFitsEndCard(const char* card);

// The value of an integer keyword: a token of an optional sign and decimal digits only, within
// 64 bits. Nothing for any other token (a logical, a real, a string, no value), which the
// standard does not allow for the keywords this is asked about.
std::optional<int64_t> fitsInteger(std::string_view value);

// The value of a real keyword: an integer or a fixed or exponential real ("E" or "D"), finite.
// Nothing for any other token.
std::optional<double> fitsReal(std::string_view value);

// The value of a logical keyword: "T" or "F". Nothing for any other token.
std::optional<bool> fitsLogical(std::string_view value);

// The text of a string keyword: the token without its quotes, a doubled quote read as one, and
// trailing blanks dropped. Nothing when the token is not a quoted string.
std::optional<std::string> fitsString(std::string_view value);
