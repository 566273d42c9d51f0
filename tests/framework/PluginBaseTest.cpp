// The plug-in base: byte chunks, parameter (de)serialisation, host presets, editor size and the
// editor-to-host calls.
#include "framework/PluginBase.h"
#include "framework/ByteChunk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

nx::PluginConfig Config(int nParams) {
    nx::PluginConfig c;
    c.nParams = nParams;
    c.editorWidth = 960;
    c.editorHeight = 622;
    return c;
}

// Three parameters: a double, an int (Mode-like) and an int with a negative minimum (RootNote-like).
class TestPlug : public nx::PluginBase {
public:
    TestPlug() : PluginBase(Config(3)) {
        AddParam()->InitDouble("Gain", 0.0, -24.0, 24.0, 0.1, "dB");
        AddParam()->InitInt("Mode", 0, 0, 1);
        AddParam()->InitInt("Root", -1, -1, 127);
    }
    void ProcessBlock(double**, double**, int) override {}
    void OnParamChange(int idx) override { changed.push_back(idx); }
    std::vector<int> changed;
};

struct RecordingLink : nx::HostLink {
    std::vector<std::string> calls;
    bool acceptResize = true;
    void BeginEdit(int i) override { calls.push_back("begin " + std::to_string(i)); }
    void PerformEdit(int i, double n) override {
        calls.push_back("perform " + std::to_string(i) + " " + std::to_string(n));
    }
    void EndEdit(int i) override { calls.push_back("end " + std::to_string(i)); }
    bool ResizeView(int w, int h) override {
        calls.push_back("resize " + std::to_string(w) + "x" + std::to_string(h));
        return acceptResize;
    }
    void ParamValuesChanged() override { calls.push_back("values"); }
};

nx::ByteChunk Doubles(std::initializer_list<double> values) {
    nx::ByteChunk chunk;
    for (double v : values) chunk.Put(&v);
    return chunk;
}

TEST(ByteChunk, ReadsPastTheEndFailAndLeaveTheValue) {
    nx::ByteChunk chunk;
    const uint32_t magic = 0x4E584B50;
    const uint8_t flag = 1;
    EXPECT_EQ(chunk.Put(&magic), 4);
    EXPECT_EQ(chunk.Put(&flag), 5);
    EXPECT_EQ(chunk.GetData()[0], 0x50) << "little-endian";

    uint32_t u = 7;
    EXPECT_EQ(chunk.Get(&u, 0), 4);
    EXPECT_EQ(u, magic);
    u = 7;
    EXPECT_EQ(chunk.Get(&u, 2), -1) << "only 3 bytes left";
    EXPECT_EQ(u, 7u);
    EXPECT_EQ(chunk.Get(&u, -1), -1);
    EXPECT_EQ(chunk.Get(&u, 5), -1);
    EXPECT_EQ(chunk.Get(&u, std::numeric_limits<int>::max()), -1) << "no overflow of startPos + n";
    uint8_t b = 0;
    EXPECT_EQ(chunk.Get(&b, 4), 5);
    EXPECT_TRUE(chunk.Available(5, 0));
    EXPECT_FALSE(chunk.Available(6, 0));
    EXPECT_FALSE(chunk.Available(1, -3));
}

TEST(PluginBase, ParametersRoundTripThroughTheChunk) {
    TestPlug a;
    a.GetParam(0)->Set(-6.5);
    a.GetParam(1)->Set(1);
    a.GetParam(2)->Set(60);
    nx::ByteChunk chunk;
    const uint8_t lead = 0xAB;
    chunk.Put(&lead);
    ASSERT_TRUE(a.SerializeParams(chunk));
    ASSERT_EQ(chunk.Size(), 1 + 3 * 8);

    TestPlug b;
    EXPECT_EQ(b.UnserializeParams(chunk, 1), 25);
    EXPECT_EQ(b.GetParam(0)->Value(), -6.5);
    EXPECT_EQ(b.GetParam(1)->Value(), 1);
    EXPECT_EQ(b.GetParam(2)->Value(), 60);
    EXPECT_EQ(b.changed, (std::vector<int>{0, 1, 2}));
}

TEST(PluginBase, UnserializeParamsConstrainsSkipsNonFiniteAndStopsAtTheCut) {
    struct Case {
        const char* what;
        nx::ByteChunk chunk;
        int startPos;
        int expectedPos;
        double expected[3];
    };
    // Every case starts from Gain 3, Mode 1, Root 5.
    const Case cases[] = {
        {"values are constrained", Doubles({99.0, 2.6, -3.0}), 0, 24, {24.0, 1.0, -1.0}},
        {"NaN and infinity keep the current value", Doubles({kNaN, kInf, -kInf}), 0, 24, {3.0, 1.0, 5.0}},
        {"a NaN in the middle skips only that one", Doubles({-1.0, kNaN, 7.0}), 0, 24, {-1.0, 1.0, 7.0}},
        {"cut after the first double", Doubles({-2.0, 0.0}), 0, -1, {-2.0, 0.0, 5.0}},
        {"empty chunk", Doubles({}), 0, -1, {3.0, 1.0, 5.0}},
        {"negative start reads nothing", Doubles({1.0, 0.0, 0.0}), -1, -1, {3.0, 1.0, 5.0}},
        {"start beyond the end", Doubles({1.0, 0.0, 0.0}), 30, -1, {3.0, 1.0, 5.0}},
    };
    for (const auto& c : cases) {
        TestPlug plug;
        plug.GetParam(0)->Set(3.0);
        plug.GetParam(1)->Set(1.0);
        plug.GetParam(2)->Set(5.0);
        EXPECT_EQ(plug.UnserializeParams(c.chunk, c.startPos), c.expectedPos) << c.what;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(plug.GetParam(i)->Value(), c.expected[i]) << c.what << ", param " << i;
        EXPECT_EQ(plug.changed, (std::vector<int>{0, 1, 2})) << c.what << ": every parameter is reported";
    }

    // A cut in the middle of a double: the partial bytes are not read.
    nx::ByteChunk partial = Doubles({2.0});
    const uint32_t half = 0;
    partial.Put(&half);
    TestPlug plug;
    EXPECT_EQ(plug.UnserializeParams(partial, 0), -1);
    EXPECT_EQ(plug.GetParam(0)->Value(), 2.0);
    EXPECT_EQ(plug.GetParam(1)->Value(), 0.0);
}

TEST(PluginBase, HostPresetsTakeCurrentValuesAndNamedOverrides) {
    TestPlug plug;
    plug.GetParam(2)->Set(40);
    plug.MakePresetFromNamedParams("Up", {{0, 12.0}, {1, 2.6}});
    plug.MakePresetFromNamedParams("Bad index ignored", {{7, 1.0}, {-1, 1.0}});
    ASSERT_EQ(plug.NPresets(), 2);
    EXPECT_STREQ(plug.GetPresetName(0), "Up");
    EXPECT_STREQ(plug.GetPresetName(5), "");

    plug.GetParam(2)->Set(0);
    RecordingLink link;
    plug.SetHostLink(&link);
    plug.changed.clear();
    ASSERT_TRUE(plug.RestorePreset(0));
    EXPECT_EQ(plug.GetParam(0)->Value(), 12.0);
    EXPECT_EQ(plug.GetParam(1)->Value(), 1.0) << "constrained";
    EXPECT_EQ(plug.GetParam(2)->Value(), 40.0) << "value at the time the preset was made";
    EXPECT_EQ(plug.GetCurrentPresetIdx(), 0);
    EXPECT_EQ(plug.changed, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(link.calls, (std::vector<std::string>{"values"}));

    EXPECT_TRUE(plug.RestorePreset(1));
    EXPECT_EQ(plug.GetCurrentPresetIdx(), 1);
    EXPECT_FALSE(plug.RestorePreset(2));
    EXPECT_FALSE(plug.RestorePreset(-1));
    EXPECT_EQ(plug.GetCurrentPresetIdx(), 1);
}

TEST(PluginBase, EditorSizeIsStoredAndResizeRequestsReachTheHost) {
    TestPlug plug;
    int w = 0, h = 0;
    plug.GetEditorSize(w, h);
    EXPECT_EQ(w, 960);
    EXPECT_EQ(h, 622);
    plug.SetEditorSize(3840, 2160);
    plug.GetEditorSize(w, h);
    EXPECT_EQ(w, 3840);
    EXPECT_EQ(h, 2160);

    EXPECT_FALSE(plug.EditorResizeFromUI(800, 500)) << "no host link yet";
    plug.GetEditorSize(w, h);
    EXPECT_EQ(w, 800) << "the size is stored even when no host listens";

    RecordingLink link;
    plug.SetHostLink(&link);
    EXPECT_TRUE(plug.EditorResizeFromUI(1920, 1244, true));
    link.acceptResize = false;
    EXPECT_FALSE(plug.EditorResizeFromUI(1000, 700));
    EXPECT_FALSE(plug.EditorResizeFromUI(0, 700));
    plug.GetEditorSize(w, h);
    EXPECT_EQ(w, 1000);
    EXPECT_EQ(h, 700);
    EXPECT_EQ(link.calls, (std::vector<std::string>{"resize 1920x1244", "resize 1000x700"}));
}

TEST(PluginBase, EditorValueChangesSetTheParameterAndInformTheHostInOrder) {
    TestPlug plug;
    RecordingLink link;
    plug.SetHostLink(&link);
    plug.BeginInformHostOfParamChangeFromUI(2);
    plug.SendParameterValueFromUI(2, 0.5);
    plug.SendParameterValueFromUI(2, kNaN);
    plug.EndInformHostOfParamChangeFromUI(2);
    plug.SendParameterValueFromUI(9, 0.5); // no such parameter: nothing happens
    EXPECT_EQ(plug.GetParam(2)->Value(), -1.0) << "NaN gives the default";
    EXPECT_EQ(plug.changed, (std::vector<int>{2, 2}));
    ASSERT_EQ(link.calls.size(), 4u);
    EXPECT_EQ(link.calls[0], "begin 2");
    EXPECT_EQ(link.calls[1], "perform 2 " + std::to_string(64.0 / 128.0)) << "-1 + 0.5 * 128 = 63 -> 64/128";
    EXPECT_EQ(link.calls[2], "perform 2 0.000000");
    EXPECT_EQ(link.calls[3], "end 2");
}

TEST(PluginBase, ParametersExistBeforeTheyAreInitialised) {
    // A plug-in may reach its parameters by index from the start of its constructor, or add them.
    struct IndexPlug : nx::PluginBase {
        IndexPlug() : PluginBase(Config(2)) {
            GetParam(1)->InitInt("B", 3, 0, 5);
            AddParam()->InitDouble("A", 0.5, 0, 1, 0.01);
            AddParam(); // second of the two created up front
            AddParam()->InitInt("Extra", 1, 0, 2);
        }
        void ProcessBlock(double**, double**, int) override {}
    } plug;
    ASSERT_EQ(plug.NParams(), 3);
    EXPECT_STREQ(plug.GetParam(0)->GetName(), "A");
    EXPECT_STREQ(plug.GetParam(1)->GetName(), "B");
    EXPECT_STREQ(plug.GetParam(2)->GetName(), "Extra");
    EXPECT_EQ(plug.GetParam(3), nullptr);
    EXPECT_EQ(plug.GetParam(-1), nullptr);
}

TEST(PluginBase, FactoryMutexIsOneRecursiveMutex) {
    std::recursive_mutex& m = nx::FactoryMutex();
    EXPECT_EQ(&m, &nx::FactoryMutex());
    std::lock_guard<std::recursive_mutex> outer(m);
    EXPECT_TRUE(m.try_lock()) << "re-entrant on one thread";
    m.unlock();
}

} // namespace
