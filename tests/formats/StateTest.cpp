// State through each format's own streams: the chunk a fresh instance writes (VST3 adds the 32-bit host
// bypass flag), round trips with short reads and writes, and bad state refused without harm.
#include "tests/formats/FormatTestSupport.h"

#include "host/Vst3Host.h"

#include <cmath>
#include <limits>

namespace nx::test {
namespace {

size_t stateBytes(Format f) {
    return f == Format::Vst3 ? kChunkBytes + 4 : kChunkBytes;
}

class State : public ::testing::TestWithParam<Format> {
protected:
    void SetUp() override {
        h = openInstance(GetParam());
        ASSERT_TRUE(h);
    }
    int idx(int id) const { return indexOfParam(*h, uint32_t(id)); }
    std::vector<uint8_t> save(host::PluginHost& p, int maxPerCall = 0) {
        std::vector<uint8_t> b;
        EXPECT_TRUE(p.saveState(b, maxPerCall));
        return b;
    }
    std::unique_ptr<host::PluginHost> h;
};

TEST_P(State, FreshInstanceWritesTheVersion4Chunk) {
    const auto b = save(*h);
    ASSERT_EQ(b.size(), stateBytes(GetParam()));
    EXPECT_EQ(b[0], 0x50);
    EXPECT_EQ(b[1], 0x4B);
    EXPECT_EQ(b[2], 0x58);
    EXPECT_EQ(b[3], 0x4E);
    EXPECT_EQ(readU32(b, 4), 4u);
    EXPECT_EQ(chunkName(b).rfind("Nembrix #", 0), 0u) << chunkName(b);
    EXPECT_EQ(readU32(b, 72), 960u);
    EXPECT_EQ(readU32(b, 76), 622u);
    EXPECT_EQ(readU32(b, 80), 0u);
    EXPECT_EQ(b[84], 0);
    for (const auto& p : h->params()) {
        if (p.isBypass || p.id > 22) continue;
        EXPECT_EQ(readF64(b, paramOffset(int(p.id))), p.defaultValue) << p.name;
    }
    if (GetParam() == Format::Vst3) {
        EXPECT_EQ(readU32(b, kChunkBytes), 0u) << "host bypass flag";
    }
}

TEST_P(State, RoundTripThroughShortReadsAndWrites) {
    h->setParam(idx(0), 0.8);
    h->setParam(idx(9), 1);
    h->setParam(idx(22), 64);
    const auto saved = save(*h);
    // CLAP streams may take one byte per write; the plug-in keeps writing until all is out.
    if (GetParam() == Format::Clap) {
        EXPECT_EQ(save(*h, 1), saved);
    }

    for (int perCall : {0, 1, 7}) {
        SCOPED_TRACE(perCall);
        auto other = openInstance(GetParam());
        ASSERT_TRUE(other);
        ASSERT_TRUE(other->loadState(saved, perCall));
        EXPECT_NEAR(other->paramValue(idx(0)), 0.8, 1e-9);
        EXPECT_NEAR(other->paramValue(idx(9)), 1.0, 1e-9);
        EXPECT_NEAR(other->paramValue(idx(22)), 64.0, 1e-9);
        // The restored instance writes the same bytes again, its name included.
        EXPECT_EQ(save(*other), saved);
    }
}

TEST_P(State, BadStateIsRefusedAndChangesNothingAfterTheCut) {
    h->setParam(idx(22), 64);
    const auto good = save(*h);

    struct Bad {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<uint8_t> garbage(100);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(i * 37 + 11);
    const std::vector<Bad> bad = {
        {"empty", {}},
        {"garbage shorter than any chunk", garbage},
        {"magic only", {good.begin(), good.begin() + 6}},
        {"cut inside the parameters", {good.begin(), good.begin() + 150}},
        {"cut before the last parameter", {good.begin(), good.begin() + long(paramOffset(22)) + 4}},
        {"far longer than any state", std::vector<uint8_t>(1 << 20, 0)},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.what);
        auto fresh = openInstance(GetParam());
        ASSERT_TRUE(fresh);
        fresh->setParam(idx(22), 12);
        EXPECT_FALSE(fresh->loadState(b.bytes));
        EXPECT_NEAR(fresh->paramValue(idx(22)), 12.0, 1e-9) << "a parameter after the cut changed";
        // Still a working instance.
        EXPECT_EQ(save(*fresh).size(), stateBytes(GetParam()));
    }
}

TEST_P(State, NonFiniteStoredValueKeepsTheCurrentValue) {
    auto b = save(*h);
    writeF64(b, paramOffset(0), std::numeric_limits<double>::quiet_NaN());
    writeF64(b, paramOffset(7), std::numeric_limits<double>::infinity());
    writeF64(b, paramOffset(22), 72.0);
    auto other = openInstance(GetParam());
    ASSERT_TRUE(other);
    other->setParam(idx(0), 0.25);
    other->setParam(idx(7), 300);
    other->loadState(b);
    EXPECT_NEAR(other->paramValue(idx(0)), 0.25, 1e-9);
    EXPECT_NEAR(other->paramValue(idx(7)), 300.0, 1e-9);
    EXPECT_NEAR(other->paramValue(idx(22)), 72.0, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Formats, State, ::testing::Values(Format::Clap, Format::Vst3), formatParamName);

TEST(Vst3State, TruncatedChunkFailsAndRestoreClearsHostBypass) {
    auto h = openInstance(Format::Vst3);
    ASSERT_TRUE(h);
    auto* v = static_cast<host::Vst3Host*>(h.get());
    std::vector<uint8_t> good;
    ASSERT_TRUE(h->saveState(good));

    std::vector<uint8_t> cut(good.begin(), good.begin() + 200);
    EXPECT_FALSE(h->loadState(cut));
    EXPECT_NE(v->lastSetStateResult(), Steinberg::kResultOk);

    ASSERT_TRUE(v->setHostBypass(true));
    EXPECT_EQ(h->paramValue(v->bypassParamIndex()), 1.0);
    ASSERT_TRUE(h->loadState(good));
    EXPECT_EQ(h->paramValue(v->bypassParamIndex()), 0.0) << "a restore leaves the host bypass off";
}

} // namespace
} // namespace nx::test
