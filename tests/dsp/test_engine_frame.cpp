// Engine frame: gain law, block-rate smoothing, meters, SEND and dry/wet paths, input validation and the
// sequence-locked anchors the editor copies while the audio thread runs.
#include "dsp/PhantomEngine.h"
#include "dsp/XYMorph.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

namespace nx {
namespace {

constexpr double kRate = 44100.0;
constexpr int kMaxBlock = 512;

bool identical(const AnchorParams& a, const AnchorParams& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A stereo test signal and the buffers one block needs.
struct Block {
    std::vector<float> inL, inR, outL, outR, peer;
    explicit Block(int n, float peerLevel = 0.0f)
        : inL(n), inR(n), outL(n, -7.0f), outR(n, -7.0f), peer(n, peerLevel) {
        for (int i = 0; i < n; ++i) {
            inL[i] = 0.5f * std::sin(0.05f * static_cast<float>(i));
            inR[i] = 0.25f * std::cos(0.03f * static_cast<float>(i));
        }
    }
    int n() const { return static_cast<int>(inL.size()); }
    void run(PhantomEngine& e, bool withPeers = false) {
        e.processBlock(inL.data(), inR.data(), withPeers ? peer.data() : nullptr, outL.data(), outR.data(),
                       n());
    }
};

void runSeconds(PhantomEngine& e, double seconds, bool withPeers = false, float peerLevel = 0.0f) {
    Block b(kMaxBlock, peerLevel);
    const int blocks = static_cast<int>(seconds * kRate / kMaxBlock);
    for (int i = 0; i < blocks; ++i) b.run(e, withPeers);
}

TEST(EngineFrame, WhisperCornerGainLaw) {
    PhantomEngine e;
    e.setXY(0.0f, 0.0f);
    e.prepare(kRate, kMaxBlock);
    runSeconds(e, 0.1);
    const EngineMix mix = e.lastMix();
    EXPECT_NEAR(mix.harmonicGain, 1.9953f, 1e-4f); // +6 dB
    EXPECT_NEAR(mix.rhythmicGain, 0.1259f, 1e-4f); // -18 dB
    EXPECT_NEAR(mix.washGain, 1.0f, 1e-5f);        // 0 dB
    EXPECT_NEAR(mix.returnGain, 0.7079f, 1e-4f);   // -3 dB
}

TEST(EngineFrame, TrimsAddToTheAnchorLevelAndNeverMuteOnTheirOwn) {
    PhantomEngine e;
    e.setXY(0.0f, 0.0f);
    e.setHarmonicTrimDb(-6.0f);
    e.setRhythmicTrimDb(12.0f);
    e.setWashTrimDb(-100.0f); // far below -60 in sum, but the anchor level (0 dB) decides the mute
    e.setReturnTrimDb(3.0f);
    e.prepare(kRate, kMaxBlock);
    runSeconds(e, 0.05);
    const EngineMix mix = e.lastMix();
    EXPECT_NEAR(mix.harmonicGain, 1.0f, 1e-4f);
    EXPECT_NEAR(mix.rhythmicGain, std::pow(10.0f, -6.0f / 20.0f), 1e-4f);
    EXPECT_NEAR(mix.washGain, 1e-5f, 1e-8f);
    EXPECT_GT(mix.washGain, 0.0f);
    EXPECT_NEAR(mix.returnGain, 1.0f, 1e-4f);
}

TEST(EngineFrame, SmoothersDoNotDependOnHowSamplesAreSplitIntoBlocks) {
    PhantomEngine split, whole;
    for (PhantomEngine* e : {&split, &whole}) {
        e->setXY(0.5f, 0.5f);
        e->setDryWet(1.0f);
        e->prepare(kRate, kMaxBlock);
        e->setXY(0.1f, 0.9f);
        e->setDryWet(0.0f);
        e->setRootNoteOverride(69);
    }
    Block b64(64), b128(128);
    for (int round = 0; round < 5; ++round) {
        b64.run(split);
        b64.run(split);
        b128.run(whole);
        const AnchorParams a = split.currentAnchors(), b = whole.currentAnchors();
        SCOPED_TRACE(round);
        EXPECT_NEAR(a.hpHz, b.hpHz, 1e-3f);
        EXPECT_NEAR(a.character, b.character, 1e-5f);
        EXPECT_NEAR(a.harmonicLevelDb, b.harmonicLevelDb, 1e-4f);
        EXPECT_NEAR(split.lastMix().dryWet, whole.lastMix().dryWet, 1e-5f);
        EXPECT_NEAR(split.washRootHz(), whole.washRootHz(), 1e-3f);
    }
    // And the pad really moved: the anchors are no longer the centre blend.
    EXPECT_GT(std::fabs(split.currentAnchors().hpHz - XYMorph::compute(0.5f, 0.5f, 2.6f).hpHz), 1.0f);
}

TEST(EngineFrame, SmoothersFollowTheirTimeConstants) {
    PhantomEngine e;
    e.setDryWet(1.0f);
    e.prepare(kRate, kMaxBlock);
    e.setDryWet(0.0f);
    e.setRootNoteOverride(69);
    // 3 s: the root covers 1 - 1/e of its way from 130 Hz to 440 Hz; dry/wet (50 ms) has long settled.
    Block b(441);
    for (int i = 0; i < 300; ++i) b.run(e);
    EXPECT_NEAR(e.washRootHz(), 440.0f - 310.0f * std::exp(-1.0f), 0.5f);
    EXPECT_LT(e.lastMix().dryWet, 1e-6f);
}

TEST(EngineFrame, DryWetZeroLeavesTheInputUnchanged) {
    PhantomEngine e;
    e.setDryWet(0.0f);
    e.prepare(kRate, kMaxBlock);
    runSeconds(e, 0.5, true, 0.3f);
    Block b(kMaxBlock, 0.3f);
    b.run(e, true);
    EXPECT_EQ(b.outL, b.inL);
    EXPECT_EQ(b.outR, b.inR);

    // The same signal at dry/wet 1 does carry a phantom layer.
    PhantomEngine wet;
    wet.setDryWet(1.0f);
    wet.prepare(kRate, kMaxBlock);
    runSeconds(wet, 0.5, true, 0.3f);
    Block w(kMaxBlock, 0.3f);
    w.run(wet, true);
    EXPECT_NE(w.outL, w.inL);
}

TEST(EngineFrame, SendPassesAudioThroughAndKeepsTheInputSideRunning) {
    PhantomEngine e;
    e.setDryWet(1.0f);
    e.prepare(kRate, kMaxBlock);
    runSeconds(e, 0.5, true, 0.2f); // RECV first, so that the engine meters have something to hold
    const float held[] = {e.harmonicMeter(), e.rhythmicMeter(), e.washMeter(), e.phantomMeter()};
    EXPECT_GT(e.phantomMeter(), 0.0f);
    e.setMode(1);
    Block b(kMaxBlock, 0.2f);
    for (int i = 0; i < 10; ++i) b.run(e, true);
    const float now[] = {e.harmonicMeter(), e.rhythmicMeter(), e.washMeter(), e.phantomMeter()};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(now[i], held[i]) << "engine meter " << i;
    EXPECT_EQ(b.outL, b.inL);
    EXPECT_EQ(b.outR, b.inR);
    for (int i = 0; i < b.n(); ++i) ASSERT_EQ(e.localDryMono()[i], (b.inL[i] + b.inR[i]) * 0.5f) << i;
    EXPECT_GT(e.localDryMeter(), 0.0f);
    EXPECT_GT(e.peerSumMeter(), 0.0f);

    // In place, as hosts call it.
    Block inPlace(kMaxBlock);
    const std::vector<float> l = inPlace.inL, r = inPlace.inR;
    e.processBlock(inPlace.inL.data(), inPlace.inR.data(), nullptr, inPlace.inL.data(), inPlace.inR.data(),
                   inPlace.n());
    EXPECT_EQ(inPlace.inL, l);
    EXPECT_EQ(inPlace.inR, r);
}

TEST(EngineFrame, MetersFollowTheBlockRmsWithTheirTimeConstant) {
    PhantomEngine e;
    e.prepare(kRate, kMaxBlock);
    runSeconds(e, 1.0, true, 0.5f);
    EXPECT_NEAR(e.peerSumMeter(), 0.5f, 1e-3f);
    // Without peers the meter decays toward 0 with 80 ms: 3528 samples leave 1/e of it.
    Block b(441);
    for (int i = 0; i < 8; ++i) b.run(e, false);
    EXPECT_NEAR(e.peerSumMeter(), 0.5f * std::exp(-1.0f), 2e-3f);
    // The local meter tracks the dry mono's RMS.
    const float mono = e.localDryMeter();
    EXPECT_GT(mono, 0.1f);
    EXPECT_LT(mono, 0.4f);
}

TEST(EngineFrame, SettersClampAndIgnoreNonFiniteValues) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    {
        PhantomEngine e; // setXY(-1, 2) stores (0, 1): the pad sits on Abyss
        e.setXY(-1.0f, 2.0f);
        e.setXY(nan, nan);
        e.prepare(kRate, kMaxBlock);
        Block(64).run(e);
        EXPECT_TRUE(identical(e.currentAnchors(), XYMorph::compute(0.0f, 1.0f, 2.6f)));
    }
    {
        PhantomEngine e; // setSharpness(0) stores 0.1
        e.setXY(0.3f, 0.7f);
        e.setSharpness(0.0f);
        e.prepare(kRate, kMaxBlock);
        Block(64).run(e);
        EXPECT_TRUE(identical(e.currentAnchors(), XYMorph::compute(0.3f, 0.7f, 0.1f)));
    }
    {
        PhantomEngine e;
        e.setXY(0.0f, 0.0f);
        e.setRootNoteOverride(500);
        EXPECT_EQ(e.rootNoteOverride(), 127);
        e.setRootNoteOverride(-7);
        EXPECT_EQ(e.rootNoteOverride(), -1);
        e.setHarmonicTrimDb(nan);
        e.setReturnTrimDb(inf);
        e.setDryWet(nan);
        e.prepare(kRate, kMaxBlock);
        runSeconds(e, 0.05);
        const EngineMix mix = e.lastMix();
        EXPECT_NEAR(mix.harmonicGain, 1.9953f, 1e-4f);
        EXPECT_NEAR(mix.returnGain, 0.7079f, 1e-4f);
        EXPECT_NEAR(mix.dryWet, 0.5f, 1e-6f);
    }
}

TEST(EngineFrame, OverridesReplaceTheirFieldsUnclamped) {
    PhantomEngine e;
    e.setXY(0.0f, 0.0f);
    EXPECT_TRUE(identical(e.currentAnchors(), AnchorParams{})); // zeros before the first block
    e.prepare(kRate, kMaxBlock);
    // Bits 0 (character), 4 (stereoWidth) and 8 (freezeTonality); the other values must be ignored.
    e.setAdvancedOverrides((1u << 0) | (1u << 4) | (1u << 8), 0.9f, 0.8f, 0.7f, 0.6f, 5.0f, 123.0f, 2222.0f,
                           0.4f, 14.0f);
    Block(64).run(e);
    AnchorParams want = XYMorph::whisper();
    const AnchorParams got = e.currentAnchors();
    want.character = 0.9f;
    want.stereoWidth = 5.0f;
    want.freezeTonality = 14.0f;
    want.harmonicLevelDb = got.harmonicLevelDb; // level fields only within float rounding
    want.rhythmicLevelDb = got.rhythmicLevelDb;
    want.washLevelDb = got.washLevelDb;
    want.returnLevelDb = got.returnLevelDb;
    EXPECT_TRUE(identical(got, want));
    EXPECT_NEAR(got.harmonicLevelDb, 6.0f, 1e-4f);
}

TEST(EngineFrame, BlocksOutsideTheContractTouchNothing) {
    PhantomEngine e;
    e.prepare(kRate, 64);
    struct Case {
        const char* what;
        int n;
    };
    const Case cases[] = {{"empty", 0}, {"negative", -5}, {"longer than prepared", 65}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Block b(128);
        const std::vector<float> before = b.outL;
        e.processBlock(b.inL.data(), b.inR.data(), nullptr, b.outL.data(), b.outR.data(), c.n);
        EXPECT_EQ(b.outL, before);
        EXPECT_EQ(e.lastBlockSize(), 0);
        EXPECT_EQ(e.localDryMeter(), 0.0f);
        EXPECT_TRUE(identical(e.currentAnchors(), AnchorParams{}));
    }
}

TEST(EngineFrame, NonFiniteInputNeverReachesTheEngineState) {
    // A non-finite sample counts as 0 on its own channel only: the engine sees exactly what it sees when
    // that one sample is 0, and the other channel's sample at the same index still counts.
    PhantomEngine e, z;
    for (PhantomEngine* x : {&e, &z}) {
        x->setOfflineMode(true); // pitch analysis in step with the audio: both runs are comparable
        x->setDryWet(1.0f);
        x->prepare(kRate, kMaxBlock);
    }
    Block b(kMaxBlock, 0.1f), zeroed(kMaxBlock, 0.1f);
    b.inL[10] = std::numeric_limits<float>::quiet_NaN();
    b.inR[20] = std::numeric_limits<float>::infinity();
    b.peer[30] = -std::numeric_limits<float>::infinity();
    zeroed.inL[10] = zeroed.inR[20] = zeroed.peer[30] = 0.0f;
    b.run(e, true);
    zeroed.run(z, true);
    EXPECT_EQ(e.localDryMono()[10], b.inR[10] * 0.5f);
    EXPECT_EQ(e.localDryMono()[20], b.inL[20] * 0.5f);
    EXPECT_NE(e.localDryMono()[20], 0.0f);
    for (int i = 0; i < b.n(); ++i) ASSERT_EQ(e.localDryMono()[i], z.localDryMono()[i]) << i;
    EXPECT_EQ(e.localDryMeter(), z.localDryMeter());
    EXPECT_EQ(e.peerSumMeter(), z.peerSumMeter());
    EXPECT_GT(e.peerSumMeter(), 0.0f);
    EXPECT_EQ(e.phantomMeter(), z.phantomMeter());
    for (int i = 0; i < b.n(); ++i) {
        if (i != 10) { // the dry path carries the host's input
            ASSERT_EQ(b.outL[i], zeroed.outL[i]) << i;
        }
        if (i != 20) {
            ASSERT_EQ(b.outR[i], zeroed.outR[i]) << i;
        }
    }
    // The next clean block measures normally again.
    Block clean(kMaxBlock, 0.1f);
    clean.run(e, true);
    EXPECT_TRUE(std::isfinite(clean.outL[10]));
    EXPECT_GT(e.localDryMeter(), 0.0f);
}

TEST(EngineFrame, PrepareReplacesInvalidRatesAndBlockSizes) {
    PhantomEngine e;
    e.prepare(0.0, 0);
    EXPECT_EQ(e.sampleRate(), 44100.0);
    EXPECT_EQ(e.maxBlockSize(), 1);
    e.prepare(std::numeric_limits<double>::quiet_NaN(), 256);
    EXPECT_EQ(e.sampleRate(), 44100.0);
    EXPECT_EQ(e.maxBlockSize(), 256);
    EXPECT_EQ(e.washRootHz(), 130.0f);
}

// Every copy the editor takes while the audio thread keeps publishing must come from one block. The writer
// gives all nine overridable fields one value per block, so a torn copy shows two different values.
TEST(EngineAnchors, ConcurrentCopiesAreAlwaysOneBlocksRecord) {
    PhantomEngine e;
    e.setXY(0.0f, 0.0f);
    e.prepare(kRate, 32);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        Block b(32);
        for (uint32_t k = 0; !stop.load(std::memory_order_relaxed); ++k) {
            const float v = static_cast<float>(k % 100000u);
            e.setAdvancedOverrides(0x1FFu, v, v, v, v, v, v, v, v, v);
            b.run(e);
        }
    });
    int checked = 0;
    float last = -1.0f;
    int advanced = 0;
    // Keep copying until the writer has moved on many times during the reads.
    for (; checked < 20000 || advanced < 200; ++checked) {
        const AnchorParams a = e.currentAnchors();
        const float v = a.character;
        ASSERT_EQ(a.saturation, v);
        ASSERT_EQ(a.darkness, v);
        ASSERT_EQ(a.ducking, v);
        ASSERT_EQ(a.stereoWidth, v);
        ASSERT_EQ(a.predelayMs, v);
        ASSERT_EQ(a.washLpHz, v);
        ASSERT_EQ(a.freeze, v);
        ASSERT_EQ(a.freezeTonality, v);
        if (v != last) ++advanced;
        last = v;
    }
    stop = true;
    audio.join();
    EXPECT_GE(advanced, 200);
}

} // namespace
} // namespace nx
