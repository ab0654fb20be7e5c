#include "FITSHeaderCheck.h"

#include "FITSCards.h"
#include "FITSColumnForms.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <map>
#include <vector>

namespace {

using Wide = unsigned __int128;  // sizes worked out beyond 64 bits, so that none wraps

constexpr int64_t kMaxAxes = 999;          // NAXIS the standard allows
constexpr int64_t kMaxKeptAxes = 99;       // axes CFITSIO keeps for an image (a fixed array)
constexpr int64_t kMaxFields = 999;        // TFIELDS the standard allows
constexpr int64_t kMaxCompressedAxes = 6;  // ZNAXIS CFITSIO's tile arrays hold
constexpr int64_t kMaxTilePixels = (int64_t(1) << 31) / 8;  // CFITSIO sizes tile buffers as
                                                            // 8-byte pixels in an int
constexpr int64_t kDitherSeeds = 10000;  // entries of CFITSIO's table of dithering offsets
// Data beyond this is refused: added to its offset and rounded to whole records, it must
// still fit in CFITSIO's signed 64-bit positions.
constexpr Wide kMaxDataBytes = Wide(INT64_MAX) / 2;

// Indexed keyword families ("NAXIS1", "TFORM12"): the name, then a column or axis number.
constexpr const char* kIndexed[] = {"NAXIS", "TTYPE", "TFORM",  "TBCOL", "TSCAL", "TZERO", "TNULL",
                                    "TDIM",  "TDISP", "ZNAXIS", "ZTILE", "ZNAME", "ZVAL"};
// Keywords that are structural on their own.
constexpr const char* kSingle[] = {
    "SIMPLE",  "XTENSION", "BITPIX",   "NAXIS",    "PCOUNT", "GCOUNT", "GROUPS",
    "TFIELDS", "THEAP",    "BSCALE",   "BZERO",    "BLANK",  "ZIMAGE", "ZCMPTYPE",
    "ZBITPIX", "ZNAXIS",   "ZQUANTIZ", "ZDITHER0", "ZSCALE", "ZZERO",  "ZBLANK"};

bool isDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
    });
}

// How a name of an indexed family is numbered.
enum class Index {
    None,       // not of the family
    Canonical,  // a number from 1 without sign or leading zero
    Odd,        // a number CFITSIO reads as one, written otherwise ("TFORM01", "TFORM+1")
};

Index indexOf(std::string_view key, std::string_view family) {
    if (key.size() <= family.size() || key.substr(0, family.size()) != family) return Index::None;
    std::string_view rest = key.substr(family.size());
    if (isDigits(rest) && rest[0] != '0') return Index::Canonical;
    if (rest[0] == '+' || rest[0] == '-') rest.remove_prefix(1);
    return isDigits(rest) ? Index::Odd : Index::None;
}

// True for a keyword this check answers for: its value decides the structure of an HDU.
bool isStructural(const std::string& key) {
    if (key.empty() || std::string_view("SXBNPGTZ").find(key[0]) == std::string_view::npos)
        return false;  // most keywords, at once
    for (const char* single : kSingle)
        if (key == single) return true;
    for (const char* family : kIndexed)
        if (indexOf(key, family) != Index::None) return true;
    return key.compare(0, 5, "THEAP") == 0;
}

std::string numbered(const char* family, int64_t n) {
    return family + std::to_string(n);
}

// The cards of one header, the structural ones looked up by keyword.
class Header {
  public:
    Header(const char* cards, size_t count) {
        cards_.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            cards_.push_back(readFitsCard(cards + i * kFitsCardBytes));
            if (isStructural(cards_.back().key)) byKey_[cards_.back().key].push_back(i);
        }
    }
    const std::vector<FitsCard>& cards() const { return cards_; }
    // The cards keyed `key` (a structural keyword), in header order.
    const std::vector<size_t>& all(const std::string& key) const {
        static const std::vector<size_t> none;
        auto it = byKey_.find(key);
        return it == byKey_.end() ? none : it->second;
    }
    // The structural keywords, each with its cards.
    const std::map<std::string, std::vector<size_t>>& byKey() const { return byKey_; }

  private:
    std::vector<FitsCard> cards_;
    std::map<std::string, std::vector<size_t>> byKey_;
};

// The check of one header. Each step returns false once the header is refused; the first
// reason found is the one given.
class Check {
  public:
    Check(const char* cards, size_t count, bool primary)
        : header_(cards, count), primary_(primary) {
        if (count > 0) firstName_ = std::string(cards, 8);
    }

    FitsHeaderVerdict run() {
        FitsHeaderVerdict verdict;
        // The size first: the walk goes on past a header refused for any other reason.
        firstCard();
        size(verdict);
        names();
        if (refusal_.empty()) {
            switch (kind_) {
                case Kind::Image:
                    image();
                    break;
                case Kind::Ascii:
                    asciiTable();
                    break;
                case Kind::Binary:
                    binaryTable();
                    break;
                case Kind::Other:
                    refuse(header_.cards()[0], "not an extension type that is read");
                    break;
            }
        }
        verdict.refusal = refusal_;
        return verdict;
    }

  private:
    enum class Kind { Image, Ascii, Binary, Other };

    bool refuse(std::string why) {
        if (refusal_.empty()) refusal_ = std::move(why);
        return false;
    }
    bool refuse(const FitsCard& card, const std::string& rule) {
        if (card.value.empty()) return refuse(card.name + " has no value; " + rule);
        return refuse(card.name + " = " + card.value + "; " + rule);
    }
    bool missing(const std::string& key, const std::string& rule) {
        return refuse(key + " is missing; " + rule);
    }

    // The one card keyed `key`; nullptr when there is none (duplicates are refused by names()).
    const FitsCard* find(const std::string& key) const {
        const auto& at = header_.all(key);
        return at.empty() ? nullptr : &header_.cards()[at.front()];
    }

    // True when keyword `key` is on no more than one card, named in upper case; else refused.
    bool clear(const std::string& key) {
        const auto& where = header_.all(key);
        for (size_t i : where)
            if (header_.cards()[i].name != key)
                return refuse(header_.cards()[i].name + ": keyword names are upper case");
        if (where.size() > 1) return refuse(key + " appears more than once");
        return true;
    }

    // Reads integer keyword `key` into `*value` when present: an integer within [lo, hi], else
    // the header is refused by `rule`. A missing keyword leaves `*value` and is refused only
    // when `required`.
    bool integer(const std::string& key, int64_t lo, int64_t hi, const std::string& rule,
                 int64_t* value, bool required = false) {
        const FitsCard* card = find(key);
        if (!card) return required ? missing(key, rule) : true;
        const std::optional<int64_t> v = fitsInteger(card->value);
        if (!v || *v < lo || *v > hi) return refuse(*card, rule);
        *value = *v;
        return true;
    }
    // A real keyword `key`, when present: finite, and not zero when `nonZero`.
    bool real(const std::string& key, const std::string& rule, bool nonZero = false,
              bool required = false) {
        const FitsCard* card = find(key);
        if (!card) return required ? missing(key, rule) : true;
        const std::optional<double> v = fitsReal(card->value);
        if (!v || (nonZero && *v == 0)) return refuse(*card, rule);
        return true;
    }
    // A logical keyword `key`, when present.
    bool logical(const std::string& key, bool* value) {
        const FitsCard* card = find(key);
        if (!card) return true;
        const std::optional<bool> v = fitsLogical(card->value);
        if (!v) return refuse(*card, "the value is T or F");
        *value = *v;
        return true;
    }
    // A string keyword `key` into `*text`, when present.
    bool string(const std::string& key, std::string* text, bool required = false) {
        const FitsCard* card = find(key);
        if (!card) return required ? missing(key, "a quoted text is required") : true;
        const std::optional<std::string> v = fitsString(card->value);
        if (!v) return refuse(*card, "the value is a quoted text");
        *text = *v;
        return true;
    }
    // Card `n` (1-based) holds keyword `key`.
    bool at(size_t n, const std::string& key) {
        if (header_.cards().size() < n) return missing(key, "the header ends before it");
        if (header_.cards()[n - 1].name != key)
            return refuse("card " + std::to_string(n) + " is " + header_.cards()[n - 1].name +
                          " where " + key + " belongs");
        return true;
    }

    // Keyword names: CFITSIO finds keywords by name in any case, and from wherever it last
    // read, while its scans of the header take them in upper case and in order; so the
    // structural ones are refused in lower case, numbered oddly, or twice.
    bool names() {
        for (const auto& [key, where] : header_.byKey()) {
            const FitsCard& card = header_.cards()[where.front()];
            for (const char* family : kIndexed)
                if (indexOf(key, family) == Index::Odd)
                    return refuse(card.name +
                                  ": a keyword's number has no sign and no leading zero");
            if (key.compare(0, 5, "THEAP") == 0 && key != "THEAP")
                return refuse(card.name + ": CFITSIO reads it as THEAP");
            if (!clear(key)) return false;
        }
        return true;
    }

    // The first card: SIMPLE = T, or XTENSION naming an image or a table.
    bool firstCard() {
        if (header_.cards().empty()) return refuse("the header is empty");
        const FitsCard& card = header_.cards()[0];
        if (primary_) {
            if (firstName_ != "SIMPLE  ") return refuse("the first card is not SIMPLE");
            if (card.value != "T") return refuse(card, "the file conforms to FITS");
            kind_ = Kind::Image;
            return true;
        }
        if (firstName_ != "XTENSION") return refuse("the first card is not XTENSION");
        const std::optional<std::string> type = fitsString(card.value);
        if (!type) return refuse(card, "the value is a quoted text");
        // Others are not read; their size is still known from the standard keywords.
        if (*type == "IMAGE")
            kind_ = Kind::Image;
        else if (*type == "TABLE")
            kind_ = Kind::Ascii;
        else if (*type == "BINTABLE")
            kind_ = Kind::Binary;
        else
            kind_ = Kind::Other;
        return true;
    }

    // BITPIX, NAXIS and NAXISn in their places, PCOUNT, GCOUNT and GROUPS: the data's size.
    bool size(FitsHeaderVerdict& verdict) {
        for (const char* key : {"BITPIX", "NAXIS", "PCOUNT", "GCOUNT", "GROUPS"})
            if (!clear(key)) return false;
        int64_t bitpix = 0;
        if (!at(2, "BITPIX") ||
            !integer("BITPIX", -64, 64, "BITPIX is 8, 16, 32, 64, -32 or -64", &bitpix))
            return false;
        if (bitpix != 8 && bitpix != 16 && bitpix != 32 && bitpix != 64 && bitpix != -32 &&
            bitpix != -64)
            return refuse(*find("BITPIX"), "BITPIX is 8, 16, 32, 64, -32 or -64");
        if (!at(3, "NAXIS") ||
            !integer("NAXIS", 0, kMaxAxes, "NAXIS is a whole number from 0 to 999", &naxis_))
            return false;
        naxes_.assign(size_t(naxis_), 0);
        for (int64_t n = 1; n <= naxis_; ++n)
            if (!clear(numbered("NAXIS", n)) || !at(size_t(3 + n), numbered("NAXIS", n)) ||
                !integer(numbered("NAXIS", n), 0, INT64_MAX, "an axis has 0 or more elements",
                         &naxes_[size_t(n - 1)]))
                return false;
        if (kind_ == Kind::Ascii || kind_ == Kind::Binary) {
            if (!at(size_t(4 + naxis_), "PCOUNT") || !at(size_t(5 + naxis_), "GCOUNT"))
                return false;
        }
        if (!integer("PCOUNT", 0, INT64_MAX, "PCOUNT is 0 or more", &pcount_) ||
            !integer("GCOUNT", 0, INT64_MAX, "GCOUNT is 0 or more", &gcount_))
            return false;
        // CFITSIO takes random groups (and skips NAXIS1) wherever GROUPS = T and NAXIS1 is 0.
        if (naxis_ > 0 && naxes_[0] == 0 && !logical("GROUPS", &groups_)) return false;
        Wide elements = naxis_ > 0 ? 1 : 0;
        for (int64_t n = groups_ ? 2 : 1; n <= naxis_; ++n) {
            elements *= Wide(naxes_[size_t(n - 1)]);
            if (elements > kMaxDataBytes) break;
        }
        const Wide bytes = elements > kMaxDataBytes ? elements
                                                    : (elements + Wide(pcount_)) * Wide(gcount_) *
                                                          Wide(std::abs(bitpix) / 8);
        if (bytes > kMaxDataBytes)
            return refuse(
                "the data size BITPIX, NAXISn, PCOUNT and GCOUNT declare does not "
                "fit in 64 bits");
        verdict.dataBytes = uint64_t(bytes);
        return true;
    }

    // A primary HDU or an IMAGE extension.
    bool image() {
        if (naxis_ > kMaxKeptAxes)
            return refuse(*find("NAXIS"), "CFITSIO reads images of at most 99 axes");
        if (groups_ && !primary_)
            return refuse(*find("GROUPS"), "random groups are only in the primary HDU");
        if (!groups_) {
            if (pcount_ != 0) return refuse(*find("PCOUNT"), "an image has PCOUNT = 0");
            if (gcount_ != 1) return refuse(*find("GCOUNT"), "an image has GCOUNT = 1");
        }
        // CFITSIO refuses an image header with an unprintable character in a long name.
        for (const FitsCard& card : header_.cards())
            for (size_t i = 8; i < card.name.size(); ++i)
                if (card.name[i] < 32 || card.name[i] > 126)
                    return refuse("the keyword name " + card.name.substr(0, 8) +
                                  "... holds a character that is not printable");
        int64_t blank = 0;
        return real("BSCALE", "BSCALE is a finite number other than 0", true) &&
               real("BZERO", "BZERO is a finite number") &&
               integer("BLANK", INT64_MIN, INT64_MAX, "BLANK is a whole number", &blank);
    }

    // What ASCII and binary tables share: BITPIX = 8, NAXIS = 2, GCOUNT = 1 as CFITSIO
    // compares them (as text), TFIELDS in its place.
    bool table() {
        if (find("BITPIX")->value != "8") return refuse(*find("BITPIX"), "a table has BITPIX = 8");
        if (find("NAXIS")->value != "2") return refuse(*find("NAXIS"), "a table has NAXIS = 2");
        if (find("GCOUNT")->value != "1") return refuse(*find("GCOUNT"), "a table has GCOUNT = 1");
        if (!at(8, "TFIELDS") || !integer("TFIELDS", 0, kMaxFields,
                                          "TFIELDS is a whole number from 0 to 999", &tfields_))
            return false;
        for (int64_t n = 1; n <= tfields_; ++n) {
            const FitsCard* form = find(numbered("TFORM", n));
            if (!form) return missing(numbered("TFORM", n), "every column has a form");
            const std::optional<std::string> text = fitsString(form->value);
            if (!text || text->empty() || text->size() > kMaxFormCharacters || (*text)[0] == ' ')
                return refuse(*form,
                              "a column's form is a quoted text of up to 18 characters, "
                              "without leading blanks");
            const FitsCard* display = find(numbered("TDISP", n));
            if (display) {
                const std::optional<std::string> shown = fitsString(display->value);
                if (!shown || !safeDisplayFormat(*shown))
                    return refuse(*display, "not a display format CFITSIO formats safely");
            }
            if (!real(numbered("TSCAL", n), "a column's scale is a finite number") ||
                !real(numbered("TZERO", n), "a column's offset is a finite number"))
                return false;
        }
        return true;
    }

    bool asciiTable() {
        if (!table()) return false;
        if (pcount_ != 0) return refuse(*find("PCOUNT"), "an ASCII table has PCOUNT = 0");
        // CFITSIO skips its own bounds checks of the columns in rows of no bytes.
        if (tfields_ > 0 && naxes_[0] == 0)
            return refuse(*find("NAXIS1"), "a table with columns has rows of 1 byte or more");
        for (int64_t n = 1; n <= tfields_; ++n) {
            const FitsCard& form = *find(numbered("TFORM", n));
            const std::optional<int64_t> width = asciiFormWidth(*fitsString(form.value));
            if (!width) return refuse(form, "an ASCII column is Aw, Iw, Fw.d, Ew.d or Dw.d");
            int64_t start = 0;
            const std::string rule = "the column lies within the row of NAXIS1 bytes";
            if (!integer(numbered("TBCOL", n), 1, naxes_[0], rule, &start, true)) return false;
            if (start - 1 + *width > naxes_[0]) return refuse(*find(numbered("TBCOL", n)), rule);
        }
        return true;
    }

    bool binaryTable() {
        if (!table()) return false;
        Wide rowBytes = 0;
        for (int64_t n = 1; n <= tfields_; ++n) {
            const FitsCard& form = *find(numbered("TFORM", n));
            const std::optional<BinaryForm> parsed = binaryForm(*fitsString(form.value));
            if (!parsed)
                return refuse(form,
                              "a binary column is rT (T one of LXBIJKAEDCM), rAw, "
                              "PT(max) or QT(max)");
            forms_.push_back(*parsed);
            rowBytes += Wide(parsed->bytes);
            if (!dimensions(n, *parsed)) return false;
        }
        if (rowBytes != Wide(naxes_[0]))
            return refuse(*find("NAXIS1"), "the columns' widths add up to " +
                                               std::to_string(uint64_t(rowBytes)) + " bytes");
        const Wide table = Wide(naxes_[0]) * Wide(naxes_[1]);
        int64_t heap = 0;
        if (!integer("THEAP", 0, INT64_MAX, "the heap lies within the data", &heap)) return false;
        if (find("THEAP") && (Wide(heap) < table || Wide(heap) > table + Wide(pcount_)))
            return refuse(*find("THEAP"), "the heap starts after the rows, within PCOUNT");
        bool compressed = false;
        if (!logical("ZIMAGE", &compressed)) return false;
        return !compressed || compressedImage();
    }

    // TDIMn of binary column `n`: "(d1,d2,...)" of dimensions of 1 or more, no more elements
    // than the column holds (CFITSIO takes d1 as the width of a string).
    bool dimensions(int64_t n, const BinaryForm& form) {
        const FitsCard* dim = find(numbered("TDIM", n));
        if (!dim) return true;
        const std::optional<std::string> text = fitsString(dim->value);
        const std::optional<int64_t> elements = text ? dimensionsElements(*text) : std::nullopt;
        if (!elements || (!form.descriptor && *elements > form.repeat))
            return refuse(*dim,
                          "the dimensions are whole numbers of 1 or more, no more "
                          "elements than the column holds");
        return true;
    }

    // A tile-compressed image (ZIMAGE = T): the keywords CFITSIO sizes, divides and loops by
    // when it moves onto the HDU, and those the helper's decoding takes its parameters from.
    bool compressedImage() {
        std::string codec;
        if (!string("ZCMPTYPE", &codec, true)) return false;
        static const char* const kCodecs[] = {"RICE_1",  "RICE_ONE", "GZIP_1",      "GZIP_2",
                                              "BZIP2_1", "PLIO_1",   "HCOMPRESS_1", "NOCOMPRESS"};
        if (std::none_of(std::begin(kCodecs), std::end(kCodecs),
                         [&codec](const char* c) { return codec == c; }))
            return refuse(*find("ZCMPTYPE"), "not a compression CFITSIO knows");
        int64_t zbitpix = 0;
        if (!integer("ZBITPIX", -64, 64, "ZBITPIX is 8, 16, 32, 64, -32 or -64", &zbitpix, true))
            return false;
        if (zbitpix != 8 && zbitpix != 16 && zbitpix != 32 && zbitpix != 64 && zbitpix != -32 &&
            zbitpix != -64)
            return refuse(*find("ZBITPIX"), "ZBITPIX is 8, 16, 32, 64, -32 or -64");
        int64_t zaxes = 0;
        if (!integer("ZNAXIS", 1, kMaxCompressedAxes, "ZNAXIS is a whole number from 1 to 6",
                     &zaxes, true))
            return false;
        Wide tiles = 1, tilePixels = 1;
        for (int64_t n = 1; n <= zaxes; ++n) {
            int64_t length = 0;
            if (!integer(numbered("ZNAXIS", n), 1, INT64_MAX,
                         "an axis of a compressed image is at least 1 pixel long", &length, true))
                return false;
            int64_t tile = n == 1 ? length : 1;
            const std::string rule = n == 1   ? "a tile is at least one pixel wide"
                                     : n == 2 ? "a tile is at least one pixel high"
                                              : "a tile is at least one pixel deep";
            if (!integer(numbered("ZTILE", n), 1, INT64_MAX, rule, &tile)) return false;
            // Kept below 2^64 whatever the axes, so that the product cannot wrap.
            tiles = std::min(tiles * Wide((length - 1) / tile + 1), Wide(UINT64_MAX));
            tilePixels *= Wide(tile);
            if (tilePixels > Wide(kMaxTilePixels))
                return refuse(find(numbered("ZTILE", n)) ? *find(numbered("ZTILE", n))
                                                         : *find(numbered("ZNAXIS", n)),
                              "a tile holds at most 2^28 pixels");
        }
        if (tiles != Wide(naxes_[1]))
            return refuse(*find("NAXIS2"),
                          "the image has " + std::to_string(uint64_t(tiles)) + " tiles, one a row");
        if (!codecParameters(codec)) return false;
        std::string quantize;
        if (!string("ZQUANTIZ", &quantize)) return false;
        if (find("ZQUANTIZ") && quantize != "NONE" && quantize != "NO_DITHER" &&
            quantize != "SUBTRACTIVE_DITHER_1" && quantize != "SUBTRACTIVE_DITHER_2")
            return refuse(*find("ZQUANTIZ"), "not a quantization CFITSIO knows");
        int64_t seed = 0, zblank = 0;
        if (!integer("ZDITHER0", 1, kDitherSeeds, "the dithering seed is from 1 to 10000", &seed) ||
            !real("ZSCALE", "ZSCALE is a finite number") ||
            !real("ZZERO", "ZZERO is a finite number") ||
            !integer("ZBLANK", INT32_MIN, INT32_MAX, "ZBLANK is a 32-bit whole number", &zblank) ||
            !real("BSCALE", "BSCALE is a finite number other than 0", true) ||
            !real("BZERO", "BZERO is a finite number"))
            return false;
        // The tiles are in a column of variable-length arrays named COMPRESSED_DATA.
        for (int64_t n = 1; n <= tfields_; ++n) {
            const FitsCard* type = find(numbered("TTYPE", n));
            std::optional<std::string> name = type ? fitsString(type->value) : std::nullopt;
            if (!name) continue;
            std::transform(name->begin(), name->end(), name->begin(), [](char c) {
                return char(std::toupper(static_cast<unsigned char>(c)));
            });
            if (*name == "COMPRESSED_DATA") {
                if (!forms_[size_t(n - 1)].descriptor)
                    return refuse(*find(numbered("TFORM", n)),
                                  "the compressed tiles are variable-length arrays");
                return true;
            }
        }
        return refuse("the COMPRESSED_DATA column is missing");
    }

    // ZVAL1 and ZVAL2 as the codec reads them.
    bool codecParameters(const std::string& codec) {
        if (codec == "RICE_1" || codec == "RICE_ONE") {
            // CFITSIO reads ZVAL1 as the block size whatever ZNAME1 says, ZVAL2 as the bytes per
            // pixel (4 when absent, or when ZNAME2 is 'NOISEBIT' in old files), and swaps the
            // two when they are given the other way round.
            int64_t block = 0, bytes = 4;
            std::string name2;
            if (!integer("ZVAL1", INT32_MIN, INT32_MAX, "the Rice block size is 16 or 32", &block,
                         true) ||
                !string("ZNAME2", &name2))
                return false;
            if (name2 != "NOISEBIT" && !integer("ZVAL2", INT32_MIN, INT32_MAX,
                                                "Rice takes 1, 2, 4 or 8 bytes a pixel", &bytes))
                return false;
            if (block < 16 && bytes > 8) std::swap(block, bytes);
            if (block != 16 && block != 32)
                return refuse(*find("ZVAL1"), "the Rice block size is 16 or 32");
            if (bytes != 1 && bytes != 2 && bytes != 4 && bytes != 8)
                return refuse(find("ZVAL2") ? *find("ZVAL2") : *find("ZVAL1"),
                              "Rice takes 1, 2, 4 or 8 bytes a pixel");
            return true;
        }
        if (codec == "HCOMPRESS_1") {
            int64_t smooth = 0;
            return real("ZVAL1", "the HCOMPRESS scale is a finite number", false, true) &&
                   integer("ZVAL2", 0, 1, "HCOMPRESS smoothing is 0 or 1", &smooth);
        }
        return true;
    }

    Header header_;
    bool primary_;
    std::string firstName_;  // columns 1 to 8 of the first card, as CFITSIO tells HDUs apart
    Kind kind_ = Kind::Other;
    std::string refusal_;
    int64_t naxis_ = 0;
    std::vector<int64_t> naxes_;
    int64_t pcount_ = 0;
    int64_t gcount_ = 1;
    bool groups_ = false;
    int64_t tfields_ = 0;
    std::vector<BinaryForm> forms_;
};

}  // namespace

FitsHeaderVerdict checkFitsHeader(const char* cards, size_t count, bool primary) {
    return Check(cards, count, primary).run();
}
