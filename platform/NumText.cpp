#include "platform/NumText.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace tarnel {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

struct ParsedNumber {
    double value = 0;
    bool radix = false;  // "&H" / "&O": `bits` holds the unsigned pattern
    uint32_t bits = 0;
};

std::optional<ParsedNumber> parseRadix(std::string_view s) {
    // s starts with '&'.
    if (s.size() < 3) return std::nullopt;
    char kind = char(s[1] | 0x20);
    unsigned base = kind == 'h' ? 16 : kind == 'o' ? 8 : 0;
    if (base == 0) return std::nullopt;
    uint64_t v = 0;
    for (char c : s.substr(2)) {
        unsigned d;
        if (isDigit(c)) d = unsigned(c - '0');
        else if (base == 16 && (c | 0x20) >= 'a' && (c | 0x20) <= 'f') d = unsigned((c | 0x20) - 'a' + 10);
        else return std::nullopt;
        if (d >= base) return std::nullopt;
        v = v * base + d;
        if (v > 0xFFFFFFFFu) return std::nullopt;
    }
    ParsedNumber p;
    p.radix = true;
    p.bits = uint32_t(v);
    p.value = double(v);
    return p;
}

std::optional<ParsedNumber> parseDecimal(std::string_view s) {
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';

    std::string intDigits, fracDigits;
    while (i < s.size() && (isDigit(s[i]) || (s[i] == ',' && !intDigits.empty()))) {
        if (s[i] != ',') intDigits += s[i];
        ++i;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) fracDigits += s[i++];
    }
    if (intDigits.empty() && fracDigits.empty()) return std::nullopt;

    int64_t exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        ++i;
        bool expNegative = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) expNegative = s[i++] == '-';
        if (i >= s.size() || !isDigit(s[i])) return std::nullopt;
        while (i < s.size() && isDigit(s[i])) {
            if (exponent < 100000000) exponent = exponent * 10 + (s[i] - '0');
            ++i;
        }
        if (expNegative) exponent = -exponent;
    }
    if (i != s.size()) return std::nullopt;

    std::string clean = (intDigits.empty() ? std::string("0") : intDigits) + "." + fracDigits + "e" +
                        std::to_string(exponent);
    double magnitude = 0;
    auto [end, ec] = std::from_chars(clean.data(), clean.data() + clean.size(), magnitude);
    if (ec == std::errc::result_out_of_range) {
        // Decimal position of the leading significant digit tells overflow from underflow.
        size_t firstInt = intDigits.find_first_not_of('0');
        int64_t lead;
        if (firstInt != std::string::npos) {
            lead = int64_t(intDigits.size() - firstInt) - 1 + exponent;
        } else {
            size_t firstFrac = fracDigits.find_first_not_of('0');
            if (firstFrac == std::string::npos) lead = -1;
            else lead = -int64_t(firstFrac) - 1 + exponent;
        }
        if (lead >= 0) return std::nullopt;
        magnitude = 0;
    } else if (ec != std::errc() || end != clean.data() + clean.size()) {
        return std::nullopt;
    }
    if (!std::isfinite(magnitude)) return std::nullopt;
    ParsedNumber p;
    p.value = negative ? -magnitude : magnitude;
    return p;
}

std::optional<ParsedNumber> parseNumber(std::string_view text) {
    std::string_view s = trimBlanks(text);
    if (s.empty()) return std::nullopt;
    if (s.front() == '&') return parseRadix(s);
    return parseDecimal(s);
}

template <typename Int>
std::optional<Int> roundTo(double value) {
    if (std::isnan(value)) return std::nullopt;
    double r = std::nearbyint(value);  // default rounding mode: ties to even
    if (r < double(std::numeric_limits<Int>::min()) || r > double(std::numeric_limits<Int>::max()))
        return std::nullopt;
    return Int(r);
}

}  // namespace

bool IsNumeric(std::string_view text) { return parseNumber(text).has_value(); }

std::optional<double> NumericValue(std::string_view text) {
    auto p = parseNumber(text);
    if (!p) return std::nullopt;
    return p->value;
}

std::optional<int32_t> RoundToInt32(double value) { return roundTo<int32_t>(value); }
std::optional<int16_t> RoundToInt16(double value) { return roundTo<int16_t>(value); }

std::optional<int32_t> ToInt32(std::string_view text) {
    auto p = parseNumber(text);
    if (!p) return std::nullopt;
    if (p->radix) return int32_t(p->bits);
    return RoundToInt32(p->value);
}

std::optional<int16_t> ToInt16(std::string_view text) {
    auto p = parseNumber(text);
    if (!p) return std::nullopt;
    if (p->radix) {
        if (p->bits > 0xFFFFu) return std::nullopt;
        return int16_t(uint16_t(p->bits));
    }
    return RoundToInt16(p->value);
}

std::string FormatNumber(int64_t value, std::string_view pattern) {
    size_t required = 0;
    for (char c : pattern)
        if (c == '0') ++required;
    // The magnitude as unsigned, so INT64_MIN is safe.
    uint64_t magnitude = value < 0 ? uint64_t(0) - uint64_t(value) : uint64_t(value);
    std::string digits = magnitude == 0 ? std::string() : std::to_string(magnitude);
    if (digits.size() < required) digits.insert(0, required - digits.size(), '0');
    if (digits.empty()) return std::string();
    if (value < 0) digits.insert(digits.begin(), '-');
    return digits;
}

std::string SignedNumberText(int64_t value) {
    std::string text = value < 0 ? std::string() : std::string(" ");
    text += std::to_string(value);
    return text;
}

}  // namespace tarnel
