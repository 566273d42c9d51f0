// The parameter set and configuration as a host sees them, the preset keys and the host presets.
#include "PluginTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace nx {
namespace {

TEST(PluginParams, TwentyThreeParametersExactlyAsPublished) {
    struct Expected {
        const char* name;
        bool isInt;
        double min, max, def, step;
        const char* label;
    };
    const Expected expected[] = {
        {"XYx", false, 0, 1, 0.5, 0.001, ""},
        {"XYy", false, 0, 1, 0.5, 0.001, ""},
        {"Harmonic Trim", false, -24, 24, 0, 0.1, "dB"},
        {"Rhythmic Trim", false, -24, 24, 0, 0.1, "dB"},
        {"Wash Trim", false, -24, 24, 0, 0.1, "dB"},
        {"Return Trim", false, -24, 24, 0, 0.1, "dB"},
        {"Dry/Wet", false, 0, 1, 1, 0.001, ""},
        {"HP", false, 20, 2000, 60, 1, "Hz"},
        {"LP", false, 1000, 20000, 10000, 1, "Hz"},
        {"Mode", true, 0, 1, 0, 1, ""},
        {"LinkSlot", true, 0, 4, 0, 1, ""},
        {"Wow", false, 0, 1, 0, 0.001, ""},
        {"Bypass", true, 0, 1, 0, 1, ""},
        {"Character", false, 0, 1, 0.5, 0.001, ""},
        {"Saturation", false, 0, 1, 0, 0.001, ""},
        {"Darkness", false, 0, 1, 0, 0.001, ""},
        {"Ducking", false, 0, 1, 0, 0.001, ""},
        {"Stereo Width", false, 0, 2, 1, 0.001, ""},
        {"Predelay", false, 0, 600, 0, 0.1, "ms"},
        {"Wash LP", false, 1000, 15000, 5000, 1, "Hz"},
        {"Freeze", false, 0, 1, 0, 0.001, ""},
        {"Freeze Tone", false, 1, 15, 5, 0.1, ""},
        {"Root Note", true, -1, 127, -1, 1, ""},
    };
    Nembrix p;
    ASSERT_EQ(p.NParams(), 23);
    for (int i = 0; i < 23; ++i) {
        const Param* param = p.GetParam(i);
        const Expected& e = expected[i];
        SCOPED_TRACE(testing::Message() << "param " << i << " " << e.name);
        EXPECT_STREQ(param->GetName(), e.name);
        EXPECT_EQ(param->IsStepped(), e.isInt);
        EXPECT_EQ(param->GetMin(), e.min);
        EXPECT_EQ(param->GetMax(), e.max);
        EXPECT_EQ(param->GetDefault(), e.def);
        EXPECT_EQ(param->Value(), e.def);
        EXPECT_DOUBLE_EQ(param->GetStep(), e.step);
        EXPECT_STREQ(param->GetLabel(), e.label);
    }
}

TEST(PluginParams, PresetKeysInIdOrder) {
    const char* const keys[] = {"XYx",
                                "XYy",
                                "HarmonicLevel",
                                "RhythmicLevel",
                                "WashLevel",
                                "ReturnLevel",
                                "DryWet",
                                "HP",
                                "LP",
                                "Mode",
                                "LinkSlot",
                                "Wow",
                                "Bypass",
                                "Character",
                                "Saturation",
                                "Darkness",
                                "Ducking",
                                "StereoWidth",
                                "PredelayMs",
                                "WashLp",
                                "Freeze",
                                "FreezeTonality",
                                "RootNote"};
    const char* const* names = ParamNames();
    for (int i = 0; i < 23; ++i) EXPECT_STREQ(names[i], keys[i]) << i;
}

TEST(PluginParams, HostPresetsSetOnlyThePadPosition) {
    struct Case {
        const char* name;
        double x, y;
    };
    const Case cases[] = {{"Whisper", 0, 0}, {"Poltergeist", 1, 0}, {"Abyss", 0, 1}, {"Monolith", 1, 1}};
    Nembrix p;
    ASSERT_EQ(p.NPresets(), 4);
    // Presets are made at construction: later edits must not leak into them.
    p.GetParam(kParamDryWet)->Set(0.25);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_STREQ(p.GetPresetName(i), cases[i].name);
        ASSERT_TRUE(p.RestorePreset(i));
        EXPECT_EQ(p.GetParam(kParamXYx)->Value(), cases[i].x);
        EXPECT_EQ(p.GetParam(kParamXYy)->Value(), cases[i].y);
        for (int id = 2; id < 23; ++id)
            EXPECT_EQ(p.GetParam(id)->Value(), p.GetParam(id)->GetDefault()) << id;
    }
}

TEST(PluginParams, ConfigurationRecord) {
    Nembrix p;
    const PluginConfig& c = p.GetConfig();
    EXPECT_EQ(c.nParams, 23);
    EXPECT_EQ(c.nPresets, 4);
    EXPECT_STREQ(c.channelIO, "2-2");
    EXPECT_STREQ(c.pluginName, "Nembrix");
    EXPECT_STREQ(c.productName, "Nembrix");
    EXPECT_STREQ(c.mfrName, "VornAudio");
    EXPECT_EQ(c.vendorVersion, 65536);
    EXPECT_EQ(c.uniqueId, 0x566F6E78u); // 'Vonx'
    EXPECT_EQ(c.mfrId, 0x566F726Eu);    // 'Vorn'
    EXPECT_EQ(c.latency, 0);
    EXPECT_FALSE(c.plugDoesMidiIn || c.plugDoesMidiOut || c.plugDoesMPE || c.plugIsInstrument);
    EXPECT_TRUE(c.plugDoesChunks && c.plugHasUI && c.hostResize);
    EXPECT_EQ(c.editorWidth, 960);
    EXPECT_EQ(c.editorHeight, 622);
    EXPECT_EQ(c.minWidth, 320);
    EXPECT_EQ(c.minHeight, 207);
    EXPECT_EQ(c.maxWidth, 2880);
    EXPECT_EQ(c.maxHeight, 1866);
    EXPECT_STREQ(c.bundleId, "");
    EXPECT_STREQ(c.appGroupId, "");
}

} // namespace
} // namespace nx
