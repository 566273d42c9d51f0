// Parameter routing: single changes reach the engine, advanced values only act through their override
// bit, the mask survives concurrent edits, and LinkSlot resolves through the registry.
#include "PluginTestSupport.h"

#include "dsp/XYMorph.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace nx {
namespace {

using test::Channels;
using test::MakePrepared;
using test::SetParam;

void runBlocks(Nembrix& p, int blocks) {
    Channels ch(512, 0.1);
    for (int i = 0; i < blocks; ++i) ch.process(p);
}

TEST(Routing, SingleChangesReachTheEngine) {
    auto p = MakePrepared();
    SetParam(*p, kParamXYx, 1.0);
    SetParam(*p, kParamXYy, 0.0);
    SetParam(*p, kParamMode, 1);
    SetParam(*p, kParamRootNote, 64);
    SetParam(*p, kParamDryWet, 0.0);
    SetParam(*p, kParamReturnLevel, -6.0);
    EXPECT_EQ(p->engine.currentMode(), 1);
    EXPECT_EQ(p->engine.rootNoteOverride(), 64);
    SetParam(*p, kParamMode, 0);
    runBlocks(*p, 100); // > 1 s: the pad and dry/wet smoothers have settled
    const AnchorParams a = p->engine.currentAnchors();
    EXPECT_NEAR(a.hpHz, XYMorph::brutal().hpHz, 0.01f);
    EXPECT_NEAR(a.saturation, XYMorph::brutal().saturation, 1e-4f);
    EXPECT_LT(p->engine.lastMix().dryWet, 1e-6f);
    EXPECT_NEAR(p->engine.lastMix().returnGain, std::pow(10.0f, -9.0f / 20.0f), 1e-3f); // -3 dB anchor - 6 dB
}

TEST(Routing, AdvancedValuesActOnlyThroughTheirOverrideBit) {
    auto p = MakePrepared();
    SetParam(*p, kParamXYx, 0.0);
    SetParam(*p, kParamXYy, 0.0);
    p->OnReset();
    SetParam(*p, kParamCharacter, 0.9);
    SetParam(*p, kParamStereoWidth, 1.7);
    runBlocks(*p, 1);
    EXPECT_EQ(p->engine.currentAnchors().character, XYMorph::whisper().character);

    p->setAdvOverride(0, true);
    runBlocks(*p, 1);
    EXPECT_FLOAT_EQ(p->engine.currentAnchors().character, 0.9f);
    EXPECT_EQ(p->engine.currentAnchors().stereoWidth, XYMorph::whisper().stereoWidth);
    EXPECT_EQ(p->advOverrideMask.load(), 1u);

    p->setAdvOverride(4, true);
    p->setAdvOverride(0, false);
    runBlocks(*p, 1);
    EXPECT_EQ(p->engine.currentAnchors().character, XYMorph::whisper().character);
    EXPECT_FLOAT_EQ(p->engine.currentAnchors().stereoWidth, 1.7f);

    // Bits outside 0..8 do not exist.
    for (int bit : {-1, 9, 31, 40}) p->setAdvOverride(bit, true);
    EXPECT_EQ(p->advOverrideMask.load(), 1u << 4);
}

TEST(Routing, ConcurrentOverrideEditsNeverLoseABit) {
    Nembrix p;
    std::thread a([&] {
        for (int i = 0; i < 2000; ++i) p.setAdvOverride(1, i % 2 == 0);
    });
    std::thread b([&] {
        for (int i = 0; i < 2000; ++i) p.setAdvOverride(6, i % 2 == 0);
    });
    a.join();
    b.join();
    EXPECT_EQ(p.advOverrideMask.load(), 0u); // both ended with "off"
    p.setAdvOverride(1, true);
    p.setAdvOverride(6, true);
    EXPECT_EQ(p.advOverrideMask.load(), (1u << 1) | (1u << 6));
}

TEST(Routing, LinkSlotResolvesThePeerInThatSlot) {
    Nembrix own, peer;
    if (!own.shm.isConnected() || !peer.shm.isConnected()) GTEST_SKIP() << "registry unavailable";
    const int ownSlot = own.shm.slotIndex();
    const int peerSlot = peer.shm.slotIndex();
    int freeSlot = 0;
    while (freeSlot == ownSlot || freeSlot == peerSlot) ++freeSlot;
    struct Case {
        const char* what;
        int linkSlot;
        uint64_t expected;
    };
    const Case cases[] = {{"no link", 0, 0},
                          {"the peer's slot", peerSlot + 1, peer.shm.instanceId()},
                          {"the own slot", ownSlot + 1, 0},
                          {"a free slot", freeSlot + 1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_LE(c.linkSlot, 4);
        SetParam(own, kParamLinkSlot, c.linkSlot);
        EXPECT_EQ(own.linkSlot.load(), c.linkSlot);
        EXPECT_EQ(own.linkedPeerId.load(), c.expected);
    }
}

} // namespace
} // namespace nx
