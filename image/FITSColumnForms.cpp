#include "FITSColumnForms.h"

#include "FITSCards.h"

#include <algorithm>
#include <cctype>

namespace {

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

bool isDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), isDigit);
}

// The number of at most 10 digits in `digits`; nothing for more (or for none).
std::optional<int64_t> smallNumber(std::string_view digits) {
    if (!isDigits(digits) || digits.size() > 10) return std::nullopt;
    return fitsInteger(digits);
}

// Bytes of one element of a binary table column of type letter `t` ("X" is counted in bits
// by its caller).
int64_t elementBytes(char t) {
    switch (t) {
        case 'I':
            return 2;
        case 'J':
        case 'E':
            return 4;
        case 'K':
        case 'D':
        case 'C':
            return 8;
        case 'M':
            return 16;
        default:  // L, B, A
            return 1;
    }
}

}  // namespace

std::optional<BinaryForm> binaryForm(std::string_view text) {
    BinaryForm form;
    const size_t digits =
        size_t(std::find_if_not(text.begin(), text.end(), isDigit) - text.begin());
    if (digits > 0) {
        const std::optional<int64_t> repeat = smallNumber(text.substr(0, digits));
        if (!repeat || *repeat > kMaxColumnRepeat) return std::nullopt;
        form.repeat = *repeat;
    }
    text.remove_prefix(digits);
    if (!text.empty() && (text[0] == 'P' || text[0] == 'Q')) {
        if (form.repeat > 1) return std::nullopt;
        form.descriptor = text[0];
        text.remove_prefix(1);
    }
    if (text.empty() || std::string_view("LXBIJKAEDCM").find(text[0]) == std::string_view::npos)
        return std::nullopt;
    form.type = text[0];
    const std::string_view rest = text.substr(1);
    if (form.descriptor) {
        if (!rest.empty() && (rest.front() != '(' || rest.back() != ')' ||
                              !isDigits(rest.substr(1, rest.size() - 2))))
            return std::nullopt;
        form.bytes = form.repeat * (form.descriptor == 'P' ? 8 : 16);
        return form;
    }
    if (!rest.empty()) {
        const std::optional<int64_t> width = form.type == 'A' ? smallNumber(rest) : std::nullopt;
        if (!width || *width < 1) return std::nullopt;
    }
    form.bytes = form.type == 'X' ? (form.repeat + 7) / 8 : form.repeat * elementBytes(form.type);
    return form;
}

std::optional<int64_t> asciiFormWidth(std::string_view text) {
    constexpr size_t kMaxAsciiForm = 9;        // characters CFITSIO keeps of a TFORMn
    constexpr int64_t kMaxAsciiWidth = 28799;  // widest field CFITSIO reads
    if (text.size() < 2 || text.size() > kMaxAsciiForm) return std::nullopt;
    const char type = text[0];
    const std::string_view rest = text.substr(1);
    std::optional<int64_t> width;
    if (type == 'A' || type == 'I') {
        width = smallNumber(rest);
    } else if (type == 'F' || type == 'E' || type == 'D') {
        const size_t point = rest.find('.');
        if (point == std::string_view::npos) return std::nullopt;
        width = smallNumber(rest.substr(0, point));
        const std::optional<int64_t> decimals = smallNumber(rest.substr(point + 1));
        if (!width || !decimals || *decimals >= *width) return std::nullopt;
    }
    if (!width || *width < 1 || *width > kMaxAsciiWidth) return std::nullopt;
    return width;
}

bool safeDisplayFormat(std::string_view text) {
    if (text.empty() || text.size() > kMaxFormCharacters) return false;
    if (!std::isupper(static_cast<unsigned char>(text[0]))) return false;
    if (std::string_view("AIOZFEDG").find(text[0]) == std::string_view::npos)
        return text.find('%') == std::string_view::npos;
    std::string_view rest = text.substr(1);
    // Takes 1 to `most` digits from the front of `rest`.
    auto digits = [&rest](size_t most) {
        const size_t n = std::min<size_t>(
            most + 1, size_t(std::find_if_not(rest.begin(), rest.end(), isDigit) - rest.begin()));
        rest.remove_prefix(n);
        return n > 0 && n <= most;
    };
    if (!digits(3)) return false;
    if (!rest.empty() && rest[0] == '.') {
        rest.remove_prefix(1);
        if (!digits(3)) return false;
    }
    if (!rest.empty() && rest[0] == 'E') {
        rest.remove_prefix(1);
        if (!digits(2)) return false;
    }
    return rest.empty();
}

std::optional<int64_t> dimensionsElements(std::string_view text) {
    if (text.size() < 3 || text.front() != '(' || text.back() != ')') return std::nullopt;
    text = text.substr(1, text.size() - 2);
    int64_t elements = 1;
    while (true) {
        const size_t comma = std::min(text.find(','), text.size());
        std::string_view d = text.substr(0, comma);
        while (!d.empty() && d.front() == ' ')
            d.remove_prefix(1);
        while (!d.empty() && d.back() == ' ')
            d.remove_suffix(1);
        const std::optional<int64_t> n = smallNumber(d);
        if (!n || *n < 1 || *n > kMaxColumnRepeat / elements) return std::nullopt;
        elements *= *n;
        if (comma == text.size()) return elements;
        text.remove_prefix(comma + 1);
    }
}
