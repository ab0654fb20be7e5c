#include "FITSCards.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <system_error>

namespace {

// The card as CFITSIO holds it: up to its first NUL byte, trailing blanks dropped.
std::string_view cardText(const char* card) {
    size_t n = 0;
    while (n < kFitsCardBytes && card[n] != '\0')
        ++n;
    while (n > 0 && card[n - 1] == ' ')
        --n;
    return {card, n};
}

std::string trimmedRight(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && s[n - 1] == ' ')
        --n;
    return std::string(s.substr(0, n));
}

std::string upper(std::string s) {
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// Where the value field starts, or npos for a card without one.
size_t valueStart(std::string_view card) {
    if (startsWith(card, "HIERARCH ")) {
        const size_t eq = card.find('=');
        return eq == std::string_view::npos ? eq : eq + 1;
    }
    if (card.size() < 9) return std::string_view::npos;
    for (std::string_view noValue : {"COMMENT ", "HISTORY ", "END     ", "CONTINUE", "        "})
        if (startsWith(card, noValue)) return std::string_view::npos;
    if (card.substr(8, 2) == "= ") return 10;
    const size_t eq = card.find('=');
    return eq == std::string_view::npos ? eq : eq + 1;
}

// The value token starting at `at` (a non-blank character) and where it ends.
std::string_view valueToken(std::string_view card, size_t at, size_t* end) {
    constexpr size_t kMaxValue = 70;  // CFITSIO's value buffer, less its terminator
    if (card[at] == '/') {
        *end = at;
        return {};
    }
    if (card[at] == '\'') {
        size_t i = at + 1;
        while (i < card.size()) {
            if (card[i] == '\'') {
                if (i + 1 < card.size() && card[i + 1] == '\'') {
                    i += 2;
                    continue;
                }
                break;
            }
            ++i;
        }
        *end = std::min(i + 1, card.size());
        return card.substr(at, std::min(*end - at, kMaxValue));
    }
    if (card[at] == '(') {
        const size_t close = card.find(')', at);
        if (close == std::string_view::npos || close - at >= kMaxValue) {
            *end = card.size();
            return {};  // CFITSIO refuses the card's value
        }
        *end = close + 1;
        return card.substr(at, close + 1 - at);
    }
    size_t i = at;
    while (i < card.size() && card[i] != ' ' && card[i] != '/')
        ++i;
    *end = i;
    return card.substr(at, std::min(i - at, kMaxValue));
}

}  // namespace

FitsCard readFitsCard(const char* raw) {
    const std::string_view card = cardText(raw);
    FitsCard out;
    if (startsWith(card, "HIERARCH ")) {
        const size_t eq = card.find('=');
        if (eq == std::string_view::npos) {
            out.name = "HIERARCH";
        } else {
            size_t first = 9;
            while (first < eq && card[first] == ' ')
                ++first;
            out.name = trimmedRight(card.substr(first, eq - first));
        }
    } else {
        const size_t end = std::min(card.find_first_of(" ="), size_t(74));
        out.name = std::string(card.substr(0, end));
    }
    out.key = upper(out.name);

    size_t at = valueStart(card);
    if (at == std::string_view::npos) {
        if (card.size() > 8) out.comment = trimmedRight(card.substr(8));
        return out;
    }
    while (at < card.size() && card[at] == ' ')
        ++at;
    if (at >= card.size()) return out;
    size_t end = at;
    out.value = std::string(valueToken(card, at, &end));
    while (end < card.size() && card[end] == ' ')
        ++end;
    if (end < card.size()) {
        if (card[end] == '/') {
            ++end;
            if (end < card.size() && card[end] == ' ') ++end;
        }
        out.comment = trimmedRight(card.substr(end));
    }
    return out;
}

bool isFitsEndCard(const char* card) {
    // Every card of every header is asked: the usual answers without parsing the card.
    if (card[0] == 'E')
        return card[1] == 'N' && card[2] == 'D' &&
               (card[3] == ' ' || card[3] == '=' || card[3] == '\0');
    return card[0] == 'H' && readFitsCard(card).name == "END";  // "HIERARCH END = ..."
}

std::optional<int64_t> fitsInteger(std::string_view value) {
    size_t i = 0;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) ++i;
    if (i == value.size()) return std::nullopt;
    for (size_t j = i; j < value.size(); ++j)
        if (!std::isdigit(static_cast<unsigned char>(value[j]))) return std::nullopt;
    if (value[0] == '+') value.remove_prefix(1);
    int64_t v = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), v);
    if (error != std::errc() || end != value.data() + value.size()) return std::nullopt;
    return v;
}

std::optional<double> fitsReal(std::string_view value) {
    // sign, digits with at most one point (at least one digit), then an optional exponent
    size_t i = 0;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) ++i;
    size_t digits = 0;
    bool point = false;
    for (; i < value.size(); ++i) {
        const char c = value[i];
        if (std::isdigit(static_cast<unsigned char>(c))) {
            ++digits;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits == 0) return std::nullopt;
    std::string text(value.substr(value[0] == '+' ? 1 : 0, value[0] == '+' ? i - 1 : i));
    if (i < value.size()) {
        if (value[i] != 'E' && value[i] != 'D' && value[i] != 'e' && value[i] != 'd')
            return std::nullopt;
        size_t j = i + 1;
        if (j < value.size() && (value[j] == '+' || value[j] == '-')) ++j;
        if (j == value.size()) return std::nullopt;
        for (size_t k = j; k < value.size(); ++k)
            if (!std::isdigit(static_cast<unsigned char>(value[k]))) return std::nullopt;
        text += 'E';
        text += std::string(value.substr(i + 1));
    }
    // from_chars reads "." as the point whatever the process's locale.
    double v = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<bool> fitsLogical(std::string_view value) {
    if (value == "T") return true;
    if (value == "F") return false;
    return std::nullopt;
}

std::optional<std::string> fitsString(std::string_view value) {
    if (value.size() < 2 || value.front() != '\'' || value.back() != '\'') return std::nullopt;
    std::string text;
    for (size_t i = 1; i + 1 < value.size(); ++i) {
        text += value[i];
        if (value[i] == '\'') ++i;  // a doubled quote stands for one
    }
    return trimmedRight(text);
}
