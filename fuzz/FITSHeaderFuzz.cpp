// Fuzz target: FITS files whose structural keywords are changed, read through FITSImageRep as
// the viewer reads them (every HDU; tile-compressed ones decoded by the helper program).
//
// A byte-level mutator seldom turns the "16" of one ZTILE2 card into "0", or adds a second
// ZTILE1: this one knows the card layout. It picks a card of a keyword that decides an HDU's
// structure (sizes, table columns, tile compression) and gives it a value from a table of
// those that break readers (zero, negative, huge, a logical, another codec's name, a form or
// display format of another kind) or one near its own; or adds a copy of it, in lower case,
// under HIERARCH, or with another value; or swaps two such values. Now and then it leaves the
// bytes to libFuzzer's own mutator.
#include "FuzzSupport.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

constexpr size_t kCard = 80;

// Names (or name prefixes followed by a number) of the keywords this mutator changes.
const char* const kStructural[] = {
    "SIMPLE", "XTENSION", "BITPIX",   "NAXIS",    "PCOUNT",   "GCOUNT",  "GROUPS", "TFIELDS",
    "TFORM",  "TBCOL",    "TDIM",     "TDISP",    "TSCAL",    "TZERO",   "TTYPE",  "THEAP",
    "BSCALE", "BZERO",    "BLANK",    "ZIMAGE",   "ZCMPTYPE", "ZBITPIX", "ZNAXIS", "ZTILE",
    "ZNAME",  "ZVAL",     "ZQUANTIZ", "ZDITHER0", "ZSCALE",   "ZZERO",   "ZBLANK", "END"};

// Values that break readers: sizes at and beyond their edges, wrong kinds, and the texts of
// every codec, quantization, column form and display format.
// clang-format off
const char* const kValues[] = {
    "0", "1", "-1", "2", "3", "7", "8", "15", "16", "17", "31", "32", "33", "64", "-32", "-64",
    "99", "100", "999", "1000", "10000", "10001", "65535", "2147483647", "2147483648",
    "-2147483648", "4294967296", "9223372036854775807", "-9223372036854775808",
    "99999999999999999999", "T", "F", "TRUE", "1.5", "0.0", "-0.5", "1E30", "1D300", "NAN", "'T'",
    "''", "'RICE_1'", "'RICE_ONE'", "'GZIP_1'", "'GZIP_2'", "'HCOMPRESS_1'", "'PLIO_1'",
    "'BZIP2_1'", "'NOCOMPRESS'", "'RICE_2'", "'NOISEBIT'", "'BLOCKSIZE'", "'BYTEPIX'", "'SCALE'",
    "'SMOOTH'", "'NONE'", "'NO_DITHER'", "'SUBTRACTIVE_DITHER_1'", "'SUBTRACTIVE_DITHER_2'",
    "'IMAGE'", "'TABLE'", "'BINTABLE'", "'A3DTABLE'", "'FOO'", "'COMPRESSED_DATA'", "'ZSCALE'",
    "'1J'", "'0J'", "'8A'", "'8A4'", "'1PB'", "'1QB(100)'", "'1PA(40000)'",
    "'2305843009213693952K'", "'1U'", "'X'", "'3X'", "'1PE'", "'A2000'", "'     A2000'", "'I5'",
    "'F8.3'", "'F3.5'", "'E12.4'", "'D25.17'", "'I0'", "'ES10.3'", "'EN10.3'", "'In'", "'a10'",
    "'I2147483648'", "'F99999.9'", "'G12.4E3'", "'(9)'", "'(0,4)'", "'(2,2)'", "'(99999999999)'"};
// clang-format on

struct Card {
    size_t at;         // byte offset
    std::string name;  // columns 1 to 8, trailing blanks dropped
};

std::string nameOf(const uint8_t* card) {
    std::string name(reinterpret_cast<const char*>(card), 8);
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    return name;
}

bool structural(const std::string& name) {
    for (const char* s : kStructural) {
        const size_t n = std::strlen(s);
        if (name.compare(0, n, s) == 0 &&
            std::all_of(name.begin() + long(n), name.end(), [](char c) { return std::isdigit(c); }))
            return true;
    }
    return false;
}

// The cards of structural keywords, and the blank cards a further card may take.
void findCards(const uint8_t* data, size_t size, std::vector<Card>& cards,
               std::vector<size_t>& blanks) {
    for (size_t at = 0; at + kCard <= size; at += kCard) {
        const std::string name = nameOf(data + at);
        if (structural(name)) cards.push_back({at, name});
        if (name.empty() &&
            std::all_of(data + at, data + at + kCard, [](uint8_t c) { return c == ' '; }))
            blanks.push_back(at);
    }
}

// The value of the card at `card`, columns 11 to 30 without blanks (a number or a logical).
std::string numberOf(const uint8_t* card) {
    std::string v(reinterpret_cast<const char*>(card) + 10, 20);
    v.erase(std::remove(v.begin(), v.end(), ' '), v.end());
    return v;
}

// Writes card "NAME = VALUE" at `card`: a quoted value from column 11, any other right-aligned
// to column 30, the rest blank.
void writeCard(uint8_t* card, const std::string& name, const std::string& value) {
    std::string text = name.size() >= 9 ? name + " = " : name + std::string(8 - name.size(), ' ');
    if (name.size() < 9) text += "= ";
    if (!value.empty() && value[0] == '\'')
        text += value;
    else
        text += std::string(value.size() < 20 ? 20 - value.size() : 0, ' ') + value;
    text.resize(kCard, ' ');
    std::memcpy(card, text.data(), kCard);
}

std::string pickValue(std::minstd_rand& rng, const uint8_t* card) {
    const std::string own = numberOf(card);
    char* end = nullptr;
    const long long n = std::strtoll(own.c_str(), &end, 10);
    if (!own.empty() && *end == '\0' && rng() % 3 == 0) {
        // Near its own value (wrapping around at the ends of 64 bits).
        const uint64_t u = uint64_t(n);
        const uint64_t near[] = {0, u - 1, u + 1, 0 - u, u * 2, u / 2, u + 2880, u - 2880};
        return std::to_string(int64_t(near[rng() % std::size(near)]));
    }
    return kValues[rng() % std::size(kValues)];
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    requireDecodeHelper();
    return 0;
}

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize,
                                          unsigned int seed) {
    std::minstd_rand rng(seed);
    std::vector<Card> cards;
    std::vector<size_t> blanks;
    findCards(data, size, cards, blanks);
    if (cards.empty() || rng() % 10 == 0) return LLVMFuzzerMutate(data, size, maxSize);
    const int changes = 1 + int(rng() % 3 == 0);
    for (int i = 0; i < changes; ++i) {
        const Card& card = cards[rng() % cards.size()];
        uint8_t* at = data + card.at;
        switch (rng() % 8) {
            case 0: {  // a further card of the same name, in one of its forms
                if (blanks.empty()) break;
                std::string name = card.name;
                if (rng() % 2 == 0) {
                    std::transform(name.begin(), name.end(), name.begin(), ::tolower);
                } else if (rng() % 2 == 0) {
                    name = "HIERARCH " + name;
                }
                writeCard(data + blanks[rng() % blanks.size()], name, pickValue(rng, at));
                break;
            }
            case 1: {  // two structural values swapped
                const Card& other = cards[rng() % cards.size()];
                uint8_t swap[kCard - 10];
                std::memcpy(swap, at + 10, sizeof swap);
                std::memcpy(at + 10, data + other.at + 10, sizeof swap);
                std::memcpy(data + other.at + 10, swap, sizeof swap);
                break;
            }
            default:
                writeCard(at, card.name, pickValue(rng, at));
        }
    }
    return size;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    readFitsFile(data, size);
    return 0;
}
