// Parameter constraint, normalisation and display text.
#include "framework/Param.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using ParamPtr = std::shared_ptr<nx::Param>;

ParamPtr IntParam(int def, int lo, int hi) {
    auto p = std::make_shared<nx::Param>();
    p->InitInt("P", def, lo, hi);
    return p;
}

ParamPtr DoubleParam(double def, double lo, double hi, double step, const char* label = "") {
    auto p = std::make_shared<nx::Param>();
    p->InitDouble("P", def, lo, hi, step, label);
    return p;
}

struct ConstrainCase {
    const char* what;
    bool isInt;
    double def, lo, hi, step;
    double in, expected;
};

TEST(ParamConstrain, RoundsSteppedValuesHalvesAwayFromZeroThenClamps) {
    const ConstrainCase cases[] = {
        {"2.6 for Mode rounds to 3, clamps to 1", true, 0, 0, 1, 1, 2.6, 1.0},
        {"-3 for RootNote clamps to -1", true, -1, -1, 127, 1, -3.0, -1.0},
        {"NaN becomes the default", true, -1, -1, 127, 1, kNaN, -1.0},
        {"half rounds up (away from zero)", true, 0, -10, 10, 1, 2.5, 3.0},
        {"negative half rounds down (away from zero)", true, 0, -10, 10, 1, -2.5, -3.0},
        {"just below a half rounds toward zero", true, 0, -10, 10, 1, 2.4999, 2.0},
        {"-0.5 rounds to -1, inside the range", true, 0, -1, 127, 1, -0.5, -1.0},
        {"+inf clamps to max", true, 0, 0, 4, 1, kInf, 4.0},
        {"-inf clamps to min", true, 0, 0, 4, 1, -kInf, 0.0},
        {"double is clamped, not stepped", false, 0.5, 0, 1, 0.001, 0.12345, 0.12345},
        {"double above max clamps", false, 0, -24, 24, 0.1, 30.0, 24.0},
        {"double NaN becomes default", false, 5, 1, 15, 0.1, kNaN, 5.0},
        {"double below min clamps", false, 5, 1, 15, 0.1, 0.0, 1.0},
    };
    for (const auto& c : cases) {
        ParamPtr p = c.isInt
                         ? IntParam(static_cast<int>(c.def), static_cast<int>(c.lo), static_cast<int>(c.hi))
                         : DoubleParam(c.def, c.lo, c.hi, c.step);
        EXPECT_EQ(p->Constrain(c.in), c.expected) << c.what;
        p->Set(c.in);
        EXPECT_EQ(p->Value(), c.expected) << c.what << " (Set)";
    }
}

TEST(ParamNormalize, MapsLinearlyAndRoundsSteppedValues) {
    ParamPtr hpPtr = DoubleParam(60, 20, 2000, 1, "Hz");
    nx::Param& hp = *hpPtr;
    EXPECT_DOUBLE_EQ(hp.ToNormalized(20), 0.0);
    EXPECT_DOUBLE_EQ(hp.ToNormalized(2000), 1.0);
    EXPECT_DOUBLE_EQ(hp.ToNormalized(1010), 0.5);
    EXPECT_DOUBLE_EQ(hp.FromNormalized(0.5), 1010);
    EXPECT_DOUBLE_EQ(hp.FromNormalized(1.7), 2000) << "argument clamped to 0..1";
    EXPECT_DOUBLE_EQ(hp.FromNormalized(-0.2), 20);
    EXPECT_DOUBLE_EQ(hp.FromNormalized(kNaN), 60) << "NaN gives the default";
    EXPECT_DOUBLE_EQ(hp.GetDefaultNormalized(), 40.0 / 1980.0);

    ParamPtr rootPtr = IntParam(-1, -1, 127);
    nx::Param& root = *rootPtr;
    EXPECT_EQ(root.GetStepCount(), 128);
    EXPECT_EQ(hp.GetStepCount(), 0);
    // Every step survives the round trip through the normalised range.
    for (int v = -1; v <= 127; ++v) EXPECT_EQ(root.FromNormalized(root.ToNormalized(v)), v);
    root.SetNormalized(0.5);
    EXPECT_EQ(root.Value(), 63.0) << "-1 + 0.5 * 128 = 63";

    EXPECT_EQ(DoubleParam(3, 3, 3, 0.1)->ToNormalized(3), 0.0) << "an empty range never divides by zero";
}

TEST(ParamText, DisplaysWithTheStepsDecimalsAndParsesBack) {
    struct Case {
        ParamPtr param;
        double value;
        const char* text;
    };
    const Case cases[] = {
        {DoubleParam(0.5, 0, 1, 0.001), 0.5, "0.500"},
        {DoubleParam(0, -24, 24, 0.1, "dB"), -3.25, "-3.2"},
        {DoubleParam(0, -24, 24, 0.1, "dB"), -0.01, "0.0"},
        {DoubleParam(60, 20, 2000, 1, "Hz"), 440.4, "440"},
        {DoubleParam(0, 0, 600, 0.1, "ms"), 600, "600.0"},
        {IntParam(-1, -1, 127), -1, "-1"},
        {IntParam(0, 0, 4), 2.6, "3"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.param->DisplayText(c.value), c.text);
        double parsed = kNaN;
        ASSERT_TRUE(c.param->FromDisplayText(c.text, parsed)) << c.text;
        EXPECT_NEAR(parsed, c.param->Constrain(std::stod(c.text)), 1e-12) << c.text;
    }
}

TEST(ParamText, ParsingAcceptsLeadingNumbersAndRejectsTheRest) {
    ParamPtr gainPtr = DoubleParam(0, -24, 24, 0.1, "dB");
    nx::Param& gain = *gainPtr;
    struct Case {
        const char* text;
        bool ok;
        double value;
    };
    const Case cases[] = {
        {"  -6.5 dB", true, -6.5}, {"+3", true, 3.0}, {"99", true, 24.0}, {"1e1", true, 10.0}, {"", false, 0},
        {"dB", false, 0},          {"nan", false, 0}, {"inf", false, 0},  {"-", false, 0},
    };
    for (const auto& c : cases) {
        double v = 123.0;
        EXPECT_EQ(gain.FromDisplayText(c.text, v), c.ok) << c.text;
        if (c.ok)
            EXPECT_DOUBLE_EQ(v, c.value) << c.text;
        else
            EXPECT_EQ(v, 123.0) << "untouched on failure: " << c.text;
    }
    double v = 0;
    EXPECT_FALSE(gain.FromDisplayText(nullptr, v));
}

// Switches LC_NUMERIC to a locale with a decimal comma, building one in a temporary folder when the
// system has none installed; false when that is impossible here.
bool UseDecimalCommaLocale(std::string& builtDir) {
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) return true;
    char dir[] = "/tmp/nx-locale-XXXXXX";
    if (!mkdtemp(dir)) return false;
    const std::string cmd =
        std::string("localedef -i de_DE -f UTF-8 ") + dir + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (std::system(cmd.c_str()) == -1) return false;
    builtDir = dir;
    setenv("LOCPATH", dir, 1);
    return std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
}

TEST(ParamText, IgnoresTheProcessLocale) {
    // A host running under a locale with a decimal comma must still see and parse "0.500".
    std::string builtDir;
    const bool haveLocale = UseDecimalCommaLocale(builtDir);
    if (!builtDir.empty()) std::filesystem::remove_all(builtDir); // already loaded when it was built
    if (!haveLocale) GTEST_SKIP() << "no locale with a decimal comma available";
    char probe[16];
    std::snprintf(probe, sizeof(probe), "%.1f", 0.5);
    ASSERT_STREQ(probe, "0,5") << "the locale is active";
    ParamPtr p = DoubleParam(0.5, 0, 1, 0.001);
    EXPECT_EQ(p->DisplayText(0.5), "0.500");
    double v = 0;
    EXPECT_TRUE(p->FromDisplayText("0.25", v));
    EXPECT_DOUBLE_EQ(v, 0.25);
    std::setlocale(LC_NUMERIC, "C");
}

} // namespace
