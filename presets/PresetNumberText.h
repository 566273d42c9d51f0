// Locale-free number text for preset files: printf-"%g"-style output with 6 significant digits, and reading
// of a value's leading number with the acceptance rules of strtod and strtoul. Nothing here consults the
// process locale, so a host that switched to a decimal-comma locale changes neither what is written nor
// what is read. Any thread; no allocation except the returned strings.
#pragma once

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace nx::presettext {

// White space as isspace() defines it in the "C" locale.
constexpr bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The value as printf("%g", value) prints it in the "C" locale: 6 significant digits, trailing zeros
// dropped, an exponent below -4 or from 6 on (0.5, 60, 10000, -1, 1.23457e+06, 1e-05).
inline std::string FormatG6(double value) {
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 6);
    return std::string(buf, r.ptr);
}

inline std::string FormatUnsigned(uint64_t value) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

namespace detail {

// For a decimal number text that std::from_chars reported as out of range: true when its magnitude is
// too large (overflow), false when too small (underflow). The text is [s, end) without sign.
inline bool DecimalTextOverflows(const char* s, const char* end) {
    long long intDigits = 0;       // significant digits before the point
    long long zerosAfterPoint = 0; // zeros right after the point while no significant digit was seen
    bool seenSignificant = false, afterPoint = false;
    const char* p = s;
    for (; p < end; ++p) {
        const char c = *p;
        if (c == '.') {
            afterPoint = true;
        } else if (IsDigit(c)) {
            if (!afterPoint) {
                if (c != '0' || seenSignificant) {
                    seenSignificant = true;
                    ++intDigits;
                }
            } else if (!seenSignificant) {
                if (c == '0')
                    ++zerosAfterPoint;
                else
                    seenSignificant = true;
            }
        } else {
            break; // 'e' or 'E'
        }
    }
    long long exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negative = false;
        if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
        for (; p < end && IsDigit(*p); ++p)
            if (exponent < 1000000000LL) exponent = exponent * 10 + (*p - '0');
        if (negative) exponent = -exponent;
    }
    const long long magnitude = (intDigits > 0 ? intDigits : -zerosAfterPoint) + exponent;
    return magnitude > 0;
}

} // namespace detail

// The leading decimal number of text, read as strtod reads it: leading white space skipped, an optional
// sign, then the longest prefix that forms a decimal floating-point number ("inf", "infinity" and "nan"
// included); 0 when there is none. Overflow gives an infinity and underflow a zero of the number's sign,
// as strtod does. Hexadecimal numbers are not read (only their leading "0" is).
inline double ParseLeadingDouble(std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end && IsCSpace(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
        // A second sign cannot continue a number; from_chars would accept a '-' here.
        if (p < end && (*p == '+' || *p == '-')) return 0.0;
    }
    double value = 0.0;
    const auto r = std::from_chars(p, end, value, std::chars_format::general);
    if (r.ec == std::errc::invalid_argument) return 0.0;
    if (r.ec == std::errc::result_out_of_range)
        value = detail::DecimalTextOverflows(p, r.ptr) ? HUGE_VAL : 0.0;
    return negative ? -value : value;
}

// The leading unsigned decimal number of text, read as strtoul(text, nullptr, 10) reads it on LP64:
// leading white space skipped, an optional sign (a '-' negates in unsigned arithmetic), 0 when there are
// no digits, ULONG_MAX on overflow.
inline unsigned long ParseLeadingULong(std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end && IsCSpace(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    if (p >= end || !IsDigit(*p)) return 0;
    unsigned long value = 0;
    const auto r = std::from_chars(p, end, value, 10);
    if (r.ec == std::errc::result_out_of_range) return ULONG_MAX;
    if (r.ec != std::errc()) return 0;
    return negative ? 0UL - value : value;
}

} // namespace nx::presettext
