// Number text of preset files: what is written must equal printf("%g") in the "C" locale, and what is
// read must follow strtod/strtoul in the "C" locale. The C library itself is the reference here.
#include "presets/PresetNumberText.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using nx::presettext::FormatG6;
using nx::presettext::ParseLeadingDouble;
using nx::presettext::ParseLeadingULong;

std::string PrintfG(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

TEST(PresetNumberText, FormatMatchesPrintfG) {
    // The examples of the file format first, then rounding, exponent thresholds and extremes.
    const double cases[] = {0.5,        60.0,      10000.0,   -1.0,       1234567.0, 1e-05,    0.0,
                            -0.0,       0.001,     0.0001,    0.00001234, 123456.0,  999999.4, 999999.5,
                            1e6,        1e15,      1e-300,    5e-324,     DBL_MAX,   -DBL_MAX, 20000.0,
                            0.30000001, 1.0 / 3.0, 2.0 / 3.0, 0.1 + 0.2,  15.0,      -24.0,    127.0,
                            4.5e-5,     0.00015,   12.5,      1.0000005,  9.9999995, 1.25e+10};
    for (double v : cases) EXPECT_EQ(FormatG6(v), PrintfG(v)) << "value " << v;
    EXPECT_EQ(FormatG6(0.5), "0.5");
    EXPECT_EQ(FormatG6(1234567.0), "1.23457e+06");
    EXPECT_EQ(FormatG6(1e-05), "1e-05");
}

TEST(PresetNumberText, DoubleReadingFollowsStrtod) {
    const char* cases[] = {
        "0.5",
        "  42",
        "\t-3.25",
        "+7",
        "+-7",
        "-+7",
        "--1",
        "1e3",
        "1e",
        "1e+",
        "2E-2x",
        ".5",
        "5.",
        ".",
        "-.",
        "",
        "abc",
        "12abc",
        "1,5",
        "1 5",
        "0.5\r",
        "\r0.5",
        "\v\f9",
        "1e400",
        "-1e400",
        "1e-400",
        "-1e-400",
        "0e9999",
        "000123.4500",
        "1.7976931348623157e308",
        "4.9e-324",
        "99999999999999999999999",
        "0.000000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "0000000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "0000000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "00000000000000000000000000000000000000000000000000000000000000000000000000000001",
        "123456789012345678901234567890123456789012345678901234567890123456789012345678901"
        "234567890123456789012345678901234567890123456789012345678901234567890123456789012"
        "345678901234567890123456789012345678901234567890123456789012345678901234567890123"
        "45678901234567890123456789012345678901234567890"};
    for (const char* s : cases) {
        const double expected = std::strtod(s, nullptr);
        const double got = ParseLeadingDouble(s);
        EXPECT_EQ(std::signbit(got), std::signbit(expected)) << '"' << s << '"';
        EXPECT_EQ(got, expected) << '"' << s << '"';
    }
    // Non-finite texts are read as non-finite (the reader then refuses them).
    for (const char* s : {"nan", "-nan", "NaN(123)", "inf", "-Infinity", " INF"}) {
        EXPECT_FALSE(std::isfinite(ParseLeadingDouble(s))) << s;
        EXPECT_EQ(std::isnan(ParseLeadingDouble(s)), std::isnan(std::strtod(s, nullptr))) << s;
    }
}

TEST(PresetNumberText, HexadecimalIsNotReadAsANumber) {
    // The format is decimal: only the leading zero of a hexadecimal text counts.
    EXPECT_EQ(ParseLeadingDouble("0x1A"), 0.0);
    EXPECT_EQ(ParseLeadingDouble("-0x10p1"), 0.0);
}

TEST(PresetNumberText, UnsignedReadingFollowsStrtoul) {
    const char* cases[] = {"0",
                           "511",
                           " 7x",
                           "+3",
                           "-1",
                           "-0",
                           "+-1",
                           "--1",
                           "",
                           "abc",
                           "1.9",
                           "\t12",
                           "1 2",
                           "4294967295",
                           "4294967296",
                           "18446744073709551615",
                           "18446744073709551616",
                           "-18446744073709551616",
                           "99999999999999999999999999",
                           "0777",
                           "511\r"};
    for (const char* s : cases) {
        errno = 0;
        EXPECT_EQ(ParseLeadingULong(s), std::strtoul(s, nullptr, 10)) << '"' << s << '"';
    }
}

} // namespace
