#include "number_text.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <string>

namespace setup {

namespace {

bool IsBlank(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

std::u16string_view SkipBlanks(std::u16string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    return text;
}

}  // namespace

int LeadingInt(std::u16string_view text) {
    text = SkipBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text.remove_prefix(1);
    }
    long long value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') break;
        value = value * 10 + (c - u'0');
        if (value > 1LL + INT_MAX) value = 1LL + INT_MAX;
    }
    if (negative) return value > INT_MAX ? INT_MIN : int(-value);
    return value > INT_MAX ? INT_MAX : int(value);
}

std::optional<int> TruncatedTenths(std::u16string_view text) {
    text = SkipBlanks(text);
    // Only ASCII can be part of a number; the rest ends it.
    std::string ascii;
    for (char16_t c : text) {
        if (c >= 0x80) break;
        ascii += char(c);
    }
    const char* begin = ascii.c_str();
    if (*begin == '+') ++begin;
    double value = 0;
    auto [end, error] =
        std::from_chars(begin, ascii.c_str() + ascii.size(), value, std::chars_format::general);
    if (error != std::errc() || end == begin || !std::isfinite(value)) return std::nullopt;
    double tenths = std::trunc(value * 10);
    if (tenths < 0 || tenths > INT_MAX) return std::nullopt;
    return int(tenths);
}

}  // namespace setup
