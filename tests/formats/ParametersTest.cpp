// The 23 parameters as a host sees them through each format: names, ranges, defaults, stepping, units
// (VST3 has a unit field, CLAP none), automatable, and the format's own host-bypass parameter.
#include "tests/formats/FormatTestSupport.h"

#include <cmath>

namespace nx::test {
namespace {

struct ParamCase {
    int id;
    const char* name;
    double min, max, def;
    bool isInt;
    const char* units;
};

const ParamCase kParams[] = {
    {0, "XYx", 0, 1, 0.5, false, ""},
    {1, "XYy", 0, 1, 0.5, false, ""},
    {2, "Harmonic Trim", -24, 24, 0, false, "dB"},
    {3, "Rhythmic Trim", -24, 24, 0, false, "dB"},
    {4, "Wash Trim", -24, 24, 0, false, "dB"},
    {5, "Return Trim", -24, 24, 0, false, "dB"},
    {6, "Dry/Wet", 0, 1, 1, false, ""},
    {7, "HP", 20, 2000, 60, false, "Hz"},
    {8, "LP", 1000, 20000, 10000, false, "Hz"},
    {9, "Mode", 0, 1, 0, true, ""},
    {10, "LinkSlot", 0, 4, 0, true, ""},
    {11, "Wow", 0, 1, 0, false, ""},
    {12, "Bypass", 0, 1, 0, true, ""},
    {13, "Character", 0, 1, 0.5, false, ""},
    {14, "Saturation", 0, 1, 0, false, ""},
    {15, "Darkness", 0, 1, 0, false, ""},
    {16, "Ducking", 0, 1, 0, false, ""},
    {17, "Stereo Width", 0, 2, 1, false, ""},
    {18, "Predelay", 0, 600, 0, false, "ms"},
    {19, "Wash LP", 1000, 15000, 5000, false, "Hz"},
    {20, "Freeze", 0, 1, 0, false, ""},
    {21, "Freeze Tone", 1, 15, 5, false, ""},
    {22, "Root Note", -1, 127, -1, true, ""},
};

class Parameters : public ::testing::TestWithParam<Format> {};

TEST_P(Parameters, TableAsTheHostSeesIt) {
    auto h = openInstance(GetParam());
    ASSERT_TRUE(h);
    int own = 0;
    for (const auto& p : h->params()) own += p.isBypass ? 0 : 1;
    EXPECT_EQ(own, 23) << "parameters other than a host-bypass one";

    for (const ParamCase& c : kParams) {
        SCOPED_TRACE(c.name);
        const int i = indexOfParam(*h, uint32_t(c.id));
        ASSERT_GE(i, 0) << "no parameter with id " << c.id;
        const host::ParamInfo& p = h->params()[size_t(i)];
        EXPECT_EQ(p.name, c.name);
        EXPECT_NEAR(p.minValue, c.min, 1e-9);
        EXPECT_NEAR(p.maxValue, c.max, 1e-9);
        EXPECT_NEAR(p.defaultValue, c.def, 1e-9);
        EXPECT_NEAR(h->paramValue(i), c.def, 1e-9) << "fresh instance holds the default";
        EXPECT_EQ(p.stepped, c.isInt);
        if (c.isInt) {
            EXPECT_EQ(p.stepCount, int(c.max - c.min));
        }
        EXPECT_TRUE(p.automatable);
        EXPECT_FALSE(p.readOnly);
        if (GetParam() == Format::Vst3) {
            EXPECT_EQ(p.units, c.units);
        }
        EXPECT_FALSE(h->paramText(i, c.def).empty()) << "a display text for the default";
    }
}

TEST_P(Parameters, ValuesSetByTheHostAreReadBackConstrained) {
    auto h = openInstance(GetParam());
    ASSERT_TRUE(h);
    struct Set {
        int id;
        double value, expected;
    };
    const Set kSets[] = {
        {0, 0.8, 0.8}, {7, 440, 440}, {9, 1, 1},
        {10, 3, 3},    {22, 60, 60},  {2, 99, 24}, // above the range: clamped
        {22, -40, -1},                             // below the range: clamped
    };
    for (const Set& s : kSets) {
        const int i = indexOfParam(*h, uint32_t(s.id));
        ASSERT_GE(i, 0);
        h->setParam(i, s.value);
        EXPECT_NEAR(h->paramValue(i), s.expected, 1e-6) << "id " << s.id << " set to " << s.value;
    }
}

TEST(Vst3Parameters, ExactlyOneHostBypassParameter) {
    auto h = openInstance(Format::Vst3);
    ASSERT_TRUE(h);
    int bypass = 0;
    for (const auto& p : h->params())
        if (p.isBypass) {
            ++bypass;
            EXPECT_TRUE(p.stepped);
            EXPECT_EQ(p.stepCount, 1);
            EXPECT_EQ(p.defaultValue, 0.0);
        }
    EXPECT_EQ(bypass, 1);
}

INSTANTIATE_TEST_SUITE_P(Formats, Parameters, ::testing::Values(Format::Clap, Format::Vst3), formatParamName);

} // namespace
} // namespace nx::test
