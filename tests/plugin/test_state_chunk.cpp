// The state chunk: the bytes a fresh instance writes, round trips, every readable version, legacy
// parameter-only chunks, truncation at every boundary, and values that must not be applied.
#include "PluginTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace nx {
namespace {

constexpr uint32_t kMagic = 0x4E584B50u;

// A parameter set that differs from the defaults everywhere and is already constrained.
std::vector<double> storedValues() {
    std::vector<double> v(23);
    for (int i = 0; i < 23; ++i) {
        const ParamSpec& s = ParamTable()[i];
        v[i] = s.minValue + (s.maxValue - s.minValue) * 0.3;
    }
    v[kParamMode] = 1;
    v[kParamLinkSlot] = 2;
    v[kParamBypass] = 0;
    v[kParamRootNote] = 60;
    return v;
}

// Writes chunk fields little-endian, as the host would have stored them.
struct ChunkWriter {
    ByteChunk chunk;
    template <typename T>
    ChunkWriter& put(T v) {
        chunk.Put(&v);
        return *this;
    }
    ChunkWriter& name(const char* text) {
        char buffer[64] = {};
        std::strncpy(buffer, text, 63);
        chunk.PutBytes(buffer, 64);
        return *this;
    }
    ChunkWriter& params(const std::vector<double>& values) {
        for (double v : values) put(v);
        return *this;
    }
};

// A version-v chunk in v's own layout carrying name "Stored", size 1000x700, mask 0xFFFFFFFF, panel open.
ByteChunk versionChunk(uint32_t version) {
    ChunkWriter w;
    w.put(kMagic).put(version);
    if (version >= 2) w.name("Stored");
    if (version >= 3) w.put(int32_t{1000}).put(int32_t{700});
    if (version >= 4) w.put(uint32_t{0xFFFFFFFFu}).put(uint8_t{1});
    w.params(storedValues());
    return w.chunk;
}

std::string nameOf(const Nembrix& p) {
    char name[Nembrix::kNameBytes];
    p.getInstanceName(name, sizeof name);
    return name;
}

// Puts an instance into a recognisable state before a restore.
void setBefore(Nembrix& p) {
    p.SetInstanceName("Before");
    p.SetEditorSize(500, 400);
    p.advOverrideMask.store(0x5);
    p.advancedPanelOpen.store(true);
}

void expectParams(const Nembrix& p, const std::vector<double>& want, int count) {
    for (int i = 0; i < 23; ++i) {
        const double expected = i < count ? want[i] : p.GetParam(i)->GetDefault();
        EXPECT_EQ(p.GetParam(i)->Value(), expected) << "param " << i;
    }
}

TEST(StateChunk, FreshInstanceWritesThe269ByteLayout) {
    Nembrix p;
    ByteChunk c;
    ASSERT_TRUE(p.SerializeState(c));
    ASSERT_EQ(c.Size(), 269);
    const uint8_t* b = c.GetData();
    const uint8_t head[] = {0x50, 0x4B, 0x58, 0x4E, 4, 0, 0, 0};
    EXPECT_EQ(std::memcmp(b, head, sizeof head), 0);
    const std::string name = nameOf(p);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + 8)), name);
    for (size_t i = 8 + name.size(); i < 72; ++i) EXPECT_EQ(b[i], 0) << i;
    const uint8_t tail[] = {0xC0, 0x03, 0, 0, 0x6E, 0x02, 0, 0, 0, 0, 0, 0, 0}; // 960, 622, mask 0, panel 0
    EXPECT_EQ(std::memcmp(b + 72, tail, sizeof tail), 0);
    for (int i = 0; i < 23; ++i) {
        double v = 0.0;
        c.Get(&v, 85 + 8 * i);
        EXPECT_EQ(v, p.GetParam(i)->GetDefault()) << i;
    }
}

TEST(StateChunk, RoundTripsReproduceTheSameBytes) {
    Nembrix fresh, copy;
    ByteChunk first, second;
    fresh.SerializeState(first);
    EXPECT_EQ(copy.UnserializeState(first, 0), 269);
    copy.SerializeState(second);
    ASSERT_EQ(second.Size(), 269);
    EXPECT_EQ(std::memcmp(first.GetData(), second.GetData(), 269), 0);

    // Every field changed.
    Nembrix edited, restored;
    const std::vector<double> values = storedValues();
    for (int i = 0; i < 23; ++i) edited.GetParam(i)->Set(values[i]);
    edited.SetInstanceName("Lead vocal");
    edited.SetEditorSize(1234, 777);
    edited.setAdvOverride(3, true);
    edited.setAdvOverride(8, true);
    edited.advancedPanelOpen.store(true);
    ByteChunk a, b;
    edited.SerializeState(a);
    EXPECT_EQ(restored.UnserializeState(a, 0), 269);
    restored.SerializeState(b);
    ASSERT_EQ(b.Size(), 269);
    EXPECT_EQ(std::memcmp(a.GetData(), b.GetData(), 269), 0);
    expectParams(restored, values, 23);
    EXPECT_EQ(nameOf(restored), "Lead vocal");
    EXPECT_EQ(restored.advOverrideMask.load(), (1u << 3) | (1u << 8));
    EXPECT_TRUE(restored.advancedPanelOpen.load());
    // Restored values reach the engine.
    EXPECT_EQ(restored.engine.currentMode(), 1);
    EXPECT_EQ(restored.engine.rootNoteOverride(), 60);
}

TEST(StateChunk, NamesKeepAtMost63CharactersAndAlwaysEndInNul) {
    const std::string longName(80, 'x');
    const std::string name63 = std::string(62, 'n') + "Z";
    Nembrix p, q;
    p.SetInstanceName(longName.c_str());
    EXPECT_EQ(nameOf(p), longName.substr(0, 63));
    p.SetInstanceName(name63.c_str());
    ByteChunk c;
    p.SerializeState(c);
    EXPECT_EQ(c.GetData()[8 + 63], 0);
    q.UnserializeState(c, 0);
    EXPECT_EQ(nameOf(q), name63);

    // A stored name without any NUL still comes back terminated.
    ByteChunk unterminated;
    ChunkWriter w;
    w.put(kMagic).put(uint32_t{2});
    const std::string full(64, 'A');
    w.chunk.PutBytes(full.data(), 64);
    w.params(storedValues());
    q.UnserializeState(w.chunk, 0);
    EXPECT_EQ(nameOf(q), std::string(63, 'A'));
}

TEST(StateChunk, EveryVersionReadsItsOwnLayout) {
    struct Case {
        uint32_t version;
        bool name, editorSize, maskAndPanel;
        int end;
    };
    const Case cases[] = {
        {0, false, false, false, 8 + 184}, {1, false, false, false, 8 + 184},
        {2, true, false, false, 72 + 184}, {3, true, true, false, 80 + 184},
        {4, true, true, true, 85 + 184},   {5, true, true, true, 85 + 184},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "version " << c.version);
        Nembrix p;
        setBefore(p);
        EXPECT_EQ(p.UnserializeState(versionChunk(c.version), 0), c.end);
        expectParams(p, storedValues(), 23);
        EXPECT_EQ(nameOf(p), c.name ? "Stored" : "Before");
        int w = 0, h = 0;
        p.GetEditorSize(w, h);
        EXPECT_EQ(w, c.editorSize ? 1000 : 500);
        EXPECT_EQ(h, c.editorSize ? 700 : 400);
        EXPECT_EQ(p.advOverrideMask.load(),
                  c.maskAndPanel ? 0x1FFu : 0x5u); // a stored 0xFFFFFFFF reads 0x1FF
        EXPECT_TRUE(p.advancedPanelOpen.load());
    }
}

TEST(StateChunk, LegacyChunksHoldParametersOnly) {
    Nembrix p;
    setBefore(p);
    ChunkWriter w;
    w.params(storedValues());
    EXPECT_EQ(p.UnserializeState(w.chunk, 0), 184);
    expectParams(p, storedValues(), 23);
    EXPECT_EQ(nameOf(p), "Before");
    EXPECT_EQ(p.advOverrideMask.load(), 0x5u);

    // Cut after 12 doubles: those are applied, the rest stay, and the result says it failed.
    Nembrix q;
    ByteChunk cut;
    cut.PutBytes(w.chunk.GetData(), 12 * 8 + 5);
    EXPECT_LT(q.UnserializeState(cut, 0), 0);
    expectParams(q, storedValues(), 12);
}

TEST(StateChunk, TruncatedChunksKeepWhatWasReadAndReportFailure) {
    const ByteChunk full = versionChunk(4);
    const int cuts[] = {0, 2, 4, 7, 8, 30, 71, 72, 76, 79, 80, 83, 84, 85, 85 + 8 * 3 + 4, 268};
    for (int cut : cuts) {
        SCOPED_TRACE(testing::Message() << "cut at " << cut);
        ByteChunk c;
        c.PutBytes(full.GetData(), cut);
        Nembrix p;
        setBefore(p);
        EXPECT_LT(p.UnserializeState(c, 0), 0);
        EXPECT_EQ(nameOf(p), cut >= 72 ? "Stored" : "Before");
        int w = 0, h = 0;
        p.GetEditorSize(w, h);
        EXPECT_EQ(w, cut >= 80 ? 1000 : 500);
        const uint32_t mask = cut < 8 ? 0x5u : (cut < 84 ? 0u : 0x1FFu);
        EXPECT_EQ(p.advOverrideMask.load(), mask);
        EXPECT_EQ(p.advancedPanelOpen.load(), cut < 8 || cut >= 85);
        expectParams(p, storedValues(), cut > 85 ? (cut - 85) / 8 : 0);
    }
}

TEST(StateChunk, StoredValuesAreConstrainedAndNonFiniteOnesIgnored) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> values(23);
    for (int i = 0; i < 23; ++i) values[i] = ParamTable()[i].defaultValue;
    values[kParamXYx] = nan;
    values[kParamXYy] = -inf;
    values[kParamDryWet] = 0.25;
    values[kParamMode] = 2.6;     // rounds to 3, clamps to 1
    values[kParamRootNote] = -3;  // clamps to -1
    values[kParamLinkSlot] = 2.5; // halves round away from zero
    values[kParamHP] = 1e9;       // clamps to 2000
    ChunkWriter w;
    w.put(kMagic)
        .put(uint32_t{4})
        .name("n")
        .put(int32_t{960})
        .put(int32_t{622})
        .put(uint32_t{0})
        .put(uint8_t{0});
    w.params(values);

    Nembrix p;
    p.GetParam(kParamXYx)->Set(0.125);
    p.GetParam(kParamXYy)->Set(0.75);
    p.GetParam(kParamRootNote)->Set(40);
    EXPECT_EQ(p.UnserializeState(w.chunk, 0), 269);
    EXPECT_EQ(p.GetParam(kParamXYx)->Value(), 0.125);
    EXPECT_EQ(p.GetParam(kParamXYy)->Value(), 0.75);
    EXPECT_EQ(p.GetParam(kParamDryWet)->Value(), 0.25);
    EXPECT_EQ(p.GetParam(kParamMode)->Value(), 1.0);
    EXPECT_EQ(p.GetParam(kParamRootNote)->Value(), -1.0);
    EXPECT_EQ(p.GetParam(kParamLinkSlot)->Value(), 3.0);
    EXPECT_EQ(p.GetParam(kParamHP)->Value(), 2000.0);
    EXPECT_EQ(p.engine.rootNoteOverride(), -1);
}

TEST(StateChunk, EditorSizeOutsideTheLimitsIsIgnoredOnReadAndClampedOnWrite) {
    struct Case {
        int32_t width, height;
        bool applied;
    };
    const Case cases[] = {{100, 4000, true}, {99, 700, false}, {1000, 4001, false}, {-5, -5, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        ChunkWriter w;
        w.put(kMagic).put(uint32_t{3}).name("n").put(c.width).put(c.height).params(storedValues());
        Nembrix p;
        p.SetEditorSize(500, 400);
        p.UnserializeState(w.chunk, 0);
        int width = 0, height = 0;
        p.GetEditorSize(width, height);
        EXPECT_EQ(width, c.applied ? c.width : 500);
        EXPECT_EQ(height, c.applied ? c.height : 400);
    }
    Nembrix p;
    p.SetEditorSize(50, 5000);
    ByteChunk c;
    p.SerializeState(c);
    int32_t width = 0, height = 0;
    c.Get(&width, 72);
    c.Get(&height, 76);
    EXPECT_EQ(width, 100);
    EXPECT_EQ(height, 4000);
}

TEST(StateChunk, ReadsFromAStartPositionAndRejectsANegativeOne) {
    ByteChunk c;
    const uint8_t prefix[5] = {1, 2, 3, 4, 5};
    c.PutBytes(prefix, 5);
    const ByteChunk body = versionChunk(4);
    c.PutBytes(body.GetData(), body.Size());
    Nembrix p;
    EXPECT_EQ(p.UnserializeState(c, 5), 5 + 269);
    EXPECT_EQ(nameOf(p), "Stored");

    Nembrix q;
    setBefore(q);
    EXPECT_LT(q.UnserializeState(body, -1), 0);
    EXPECT_EQ(nameOf(q), "Before");
    expectParams(q, storedValues(), 0);
}

TEST(StateChunk, RestoreClearsTheHostBypass) {
    Nembrix p;
    p.SetHostBypassed(true);
    p.OnRestoreState();
    EXPECT_FALSE(p.GetHostBypassed());
}

} // namespace
} // namespace nx
