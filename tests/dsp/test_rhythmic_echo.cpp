// Rhythmic echo: rate-dependent values, transient detection and its refractory time, grains and their
// tempo-spaced echoes, the grain source, freeze tails and their gate, the pools' rotation, determinism,
// the saturating onset counter, non-finite input and an audio path that never allocates.
#include "dsp/RhythmicEcho.h"

#include "tests/dsp/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

namespace nx {

struct RhythmicEchoTestAccess {
    static void setSamplesSinceOnset(RhythmicEcho& e, int32_t v) { e.samplesSinceOnset_ = v; }
};

namespace {

// Silence with a short loud burst at each given position.
std::vector<float> clicks(int n, std::initializer_list<int> at, float amp = 0.9f) {
    std::vector<float> x(static_cast<size_t>(n), 0.0f);
    for (int p : at)
        for (int i = p; i < std::min(n, p + 64); ++i)
            x[static_cast<size_t>(i)] = amp * (1.0f - (i - p) / 64.0f);
    return x;
}

std::vector<float> sine(double rate, double hz, int n, float amp) {
    std::vector<float> x(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        x[static_cast<size_t>(i)] =
            amp * static_cast<float>(std::sin(2.0 * std::numbers::pi * hz * i / rate));
    return x;
}

// Runs trigger and source (null: none) through e in blocks of 256; returns the output.
std::vector<float> run(RhythmicEcho& e, const std::vector<float>& trigger, const std::vector<float>* source) {
    std::vector<float> out(trigger.size());
    for (size_t i = 0; i < trigger.size(); i += 256) {
        const int n = static_cast<int>(std::min<size_t>(256, trigger.size() - i));
        e.process(trigger.data() + i, source ? source->data() + i : nullptr, out.data() + i, n);
    }
    return out;
}

TEST(RhythmicEcho, PrepareDerivesTheRateDependentValues) {
    struct Case {
        double rate;
        int refractory, step, minGrain, maxGrain, jitter, fade;
        size_t bufferLength;
    };
    const Case cases[] = {
        {44100, 2646, 5292, 8820, 19845, 13230, 132, 131072},
        {48000, 2880, 5760, 9600, 21600, 14400, 144, 131072},
        {96000, 5760, 11520, 19200, 43200, 28800, 288, 262144},
        {0, 2646, 5292, 8820, 19845, 13230, 132, 131072}, // not above 0: 44.1 kHz
        {4000, 240, 480, 800, 1800, 1200, 16, 8192},      // the attack is at least 16 samples
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        RhythmicEcho e;
        e.setGrainEchoes(0);
        e.prepare(c.rate);
        EXPECT_EQ(e.refractorySamples(), c.refractory);
        EXPECT_EQ(e.samplesSinceOnset(), c.refractory); // the first transient may fire at once
        EXPECT_EQ(e.fallbackStepSamples(), c.step);
        EXPECT_EQ(e.stepSamples(), c.step);
        EXPECT_EQ(e.minGrainSamples(), c.minGrain);
        EXPECT_EQ(e.maxGrainSamples(), c.maxGrain);
        EXPECT_EQ(e.jitterSamples(), c.jitter);
        EXPECT_EQ(e.bufferLength(), c.bufferLength);
        run(e, clicks(256, {10}), nullptr);
        ASSERT_EQ(e.nextGrain(), 1);
        const auto& g = e.grains()[0];
        EXPECT_EQ(g.fadeSamples, c.fade);
        EXPECT_GE(g.length, c.minGrain);
        EXPECT_LE(g.length, c.maxGrain);
        EXPECT_FLOAT_EQ(g.decayRate, 4.0f / static_cast<float>(g.length - c.fade));
        EXPECT_GE(g.distance, 1);
        EXPECT_LT(static_cast<size_t>(g.distance), c.bufferLength);
    }
}

TEST(RhythmicEcho, TransientFiresMainGrainAndEchoesWithDecayingGains) {
    struct Case {
        int echoes;
        float decay;
        std::vector<float> gains;
    };
    const Case cases[] = {
        {3, 0.55f, {0.28f, 0.154f, 0.0847f, 0.046585f}},
        {0, 0.55f, {0.28f}},
        {3, 0.0f, {0.28f}},                       // the first echo's gain 0 is below 0.02
        {8, 0.5f, {0.28f, 0.14f, 0.07f, 0.035f}}, // 0.0175 < 0.02 ends the train
        {12,
         2.0f,
         {0.28f, 0.266f, 0.2527f, 0.24006f, 0.22806f, 0.21666f, 0.20582f, 0.19553f, 0.18576f}}, // 8, 0.95
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.echoes << " echoes, decay " << c.decay);
        RhythmicEcho e;
        e.prepare(48000);
        e.setGrainEchoes(c.echoes);
        e.setGrainEchoDecay(c.decay);
        run(e, clicks(512, {100}), nullptr);
        ASSERT_EQ(e.nextGrain(), static_cast<int>(c.gains.size()));
        for (size_t k = 0; k < c.gains.size(); ++k) EXPECT_NEAR(e.grains()[k].gain, c.gains[k], 2e-5f) << k;
    }
}

TEST(RhythmicEcho, EchoesStartOneSixteenthApart) {
    struct Case {
        double rate;
        float bpm;
        int step;
    };
    const Case cases[] = {
        {48000, 120.0f, 6000},  {44100, 90.0f, 7350},
        {48000, 0.0f, 5760},    {48000, 1.0f, 5760},
        {48000, -120.0f, 5760}, {48000, std::numeric_limits<float>::quiet_NaN(), 5760},
        {48000, 100000.0f, 32}, // very fast tempos keep at least 32 samples between echoes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bpm << " BPM at " << c.rate);
        RhythmicEcho e;
        e.prepare(c.rate);
        e.setGrainEchoes(3);
        e.setGrainEchoDecay(0.9f);
        e.setBpm(c.bpm);
        EXPECT_EQ(e.stepSamples(), c.step);
        run(e, clicks(1024, {300}), nullptr);
        ASSERT_EQ(e.nextGrain(), 4);
        // Every grain's delay has counted down once per sample since (and including) the onset sample.
        const int elapsed = e.samplesSinceOnset() + 1;
        EXPECT_EQ(e.grains()[0].startDelay, 0);
        for (int k = 1; k <= 3; ++k)
            EXPECT_EQ(e.grains()[static_cast<size_t>(k)].startDelay, std::max(0, k * c.step - elapsed)) << k;
    }
}

TEST(RhythmicEcho, TransientsCloserThanSixtyMillisecondsFireOnce) {
    struct Case {
        int gapMs;
        int onsets;
    };
    const Case cases[] = {{20, 1}, {40, 1}, {65, 2}, {250, 2}};
    for (const Case& c : cases) {
        RhythmicEcho e;
        e.prepare(48000);
        e.setGrainEchoes(0);
        const int gap = c.gapMs * 48;
        run(e, clicks(gap + 4800, {1000, 1000 + gap}), nullptr);
        EXPECT_EQ(e.nextGrain(), c.onsets) << c.gapMs << " ms";
    }
}

TEST(RhythmicEcho, GrainsReadThePeerSourceOnlyWhenItIsAudible) {
    struct Case {
        const char* name;
        bool haveSource;
        float sourceAmp;
        bool fromB;
    };
    const Case cases[] = {
        {"null source", false, 0.0f, false},
        {"silent source", true, 0.0f, false},
        {"source below the envelope gate", true, 0.0001f, false},
        {"audible source", true, 0.3f, true},
    };
    const int n = 48000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RhythmicEcho e;
        e.prepare(48000);
        e.setCharacter(0.0f); // no detune: grains replay the source at its pitch
        e.setGrainEchoes(0);
        const std::vector<float> trigger = clicks(n, {12000}, 0.5f);
        const std::vector<float> source = sine(48000, 1500, n, c.sourceAmp);
        const std::vector<float> out = run(e, trigger, c.haveSource ? &source : nullptr);
        ASSERT_EQ(e.nextGrain(), 1);
        EXPECT_EQ(e.grains()[0].fromB, c.fromB);
        EXPECT_EQ(e.grains()[0].rate, 1.0f);
        if (c.fromB) {
            // The grain is cut from the source: its output carries the source's 1500 Hz tone, and hardly
            // anything a few hundred Hz away.
            auto projection = [&](double hz) {
                double re = 0.0, im = 0.0;
                for (int i = 12000; i < 20000; ++i) {
                    const double w = 2.0 * std::numbers::pi * hz * i / 48000.0;
                    re += out[static_cast<size_t>(i)] * std::cos(w);
                    im += out[static_cast<size_t>(i)] * std::sin(w);
                }
                return std::sqrt(re * re + im * im) / 8000.0;
            };
            EXPECT_GT(projection(1500.0), 0.003);
            EXPECT_GT(projection(1500.0), 30.0 * projection(1100.0));
            EXPECT_GT(projection(1500.0), 30.0 * projection(1900.0));
        }
    }
}

TEST(RhythmicEcho, FreezeTailsFollowTheTonalityGateAndTheirLength) {
    // At 48 kHz bin 10 of the 512-point analysis is 937.5 Hz: a sine there fills one bin exactly.
    const double rate = 48000;
    const int n = 2 * 48000;
    const std::vector<float> binSine = sine(rate, 10 * rate / 512, n, 0.5f);
    std::vector<float> impulses(static_cast<size_t>(n), 0.0f); // one impulse in every 512 samples: flat
    for (int i = 0; i < n; i += 512) impulses[static_cast<size_t>(i)] = 0.5f;

    struct Case {
        const char* name;
        const std::vector<float>* source;
        float freeze, tonality, bpm;
        bool tail;
        int length;
    };
    const Case cases[] = {
        {"bin-exact sine", &binSine, 1.0f, 5.0f, 0.0f, true, 14400},
        {"bin-exact sine at 120 BPM", &binSine, 0.5f, 5.0f, 120.0f, true, 12000},
        {"flat spectrum", &impulses, 1.0f, 5.0f, 0.0f, false, 0},
        {"no freeze", &binSine, 0.0f, 5.0f, 0.0f, false, 0},
        {"tail shorter than 256 samples", &binSine, 0.015f, 5.0f, 0.0f, false, 0}, // 216 samples
        {"tail of 288 samples", &binSine, 0.02f, 5.0f, 0.0f, true, 288},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RhythmicEcho e;
        e.prepare(rate);
        e.setGrainEchoes(0);
        e.setFreeze(c.freeze);
        e.setFreezeTonality(c.tonality);
        e.setBpm(c.bpm);
        run(e, clicks(n, {20000}, 0.5f), c.source); // the grain ends well within the two seconds
        ASSERT_EQ(e.nextGrain(), 1);
        ASSERT_FALSE(e.grains()[0].active);
        ASSERT_TRUE(e.grains()[0].fromB); // the analysis looks at the source
        EXPECT_EQ(e.nextTail(), c.tail ? 1 : 0);
        if (!c.tail) continue;
        const auto& t = e.tails()[0];
        EXPECT_EQ(t.length, c.length);
        EXPECT_FLOAT_EQ(t.gain, 0.08f * c.freeze);
        ASSERT_EQ(t.numPeaks, 1);
        EXPECT_FLOAT_EQ(t.freqHz[0], 937.5f);
        EXPECT_NEAR(t.amp[0], 0.5f, 1e-4f); // the sine's own amplitude
    }
}

TEST(RhythmicEcho, PoolsReplaceTheirOldestEntries) {
    // Nine grains a transient, four transients 100 ms apart: the 33rd grain (the fifth echo of the fourth
    // transient) takes slot 0 while the first transient's grain may still be playing.
    RhythmicEcho e;
    e.prepare(48000);
    e.setGrainEchoes(8);
    e.setGrainEchoDecay(0.95f);
    e.setBpm(120.0f);
    run(e, clicks(4 * 4800 + 100, {0, 4800, 9600, 14400}), nullptr);
    EXPECT_EQ(e.nextGrain(), 36 % 32);
    EXPECT_NEAR(e.grains()[0].gain, 0.28f * std::pow(0.95f, 5.0f), 1e-5f);
    EXPECT_GT(e.grains()[0].startDelay, 0);

    // Tails: with freeze on, every ending grain leaves one; nine of them wrap the eight slots.
    RhythmicEcho f;
    f.prepare(48000);
    f.setGrainEchoes(8);
    f.setGrainEchoDecay(0.95f);
    f.setBpm(480.0f); // echoes 1500 samples apart: all nine grains end within a second
    f.setFreeze(1.0f);
    f.setFreezeTonality(1.0f);
    const std::vector<float> source = sine(48000, 937.5, 2 * 48000, 0.5f);
    run(f, clicks(2 * 48000, {100}), &source);
    EXPECT_EQ(f.nextGrain(), 9);
    EXPECT_EQ(f.nextTail(), 9 % 8);
}

std::vector<float> mixedTrigger(int n) {
    std::vector<float> x = clicks(n, {500, 9000, 14000, 30000, 61000});
    uint32_t s = 7;
    for (float& v : x) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        v += 0.01f * (static_cast<float>(s) / 4294967296.0f - 0.5f);
    }
    return x;
}

TEST(RhythmicEcho, FreshInstancesFedAlikeGiveIdenticalOutput) {
    const int n = 3 * 48000;
    const std::vector<float> trigger = mixedTrigger(n);
    const std::vector<float> source = sine(48000, 440, n, 0.4f);
    auto render = [&](RhythmicEcho& e) {
        e.prepare(48000);
        e.setCharacter(1.0f);
        e.setFreeze(0.7f);
        e.setBpm(128.0f);
        return run(e, trigger, &source);
    };
    RhythmicEcho a, b;
    const std::vector<float> outA = render(a);
    const std::vector<float> outB = render(b);
    double energy = 0.0;
    for (float v : outA) energy += double(v) * v;
    ASSERT_GT(energy, 1.0);
    EXPECT_EQ(std::memcmp(outA.data(), outB.data(), outA.size() * sizeof(float)), 0);
    // The random sequence runs on across preparation: the same instance renders new grains the second time.
    const std::vector<float> again = render(a);
    EXPECT_NE(std::memcmp(outA.data(), again.data(), outA.size() * sizeof(float)), 0);
}

TEST(RhythmicEcho, OnsetCounterHoldsAtItsMaximumAndTransientsStillFire) {
    RhythmicEcho e;
    e.prepare(48000);
    e.setGrainEchoes(0);
    RhythmicEchoTestAccess::setSamplesSinceOnset(e, std::numeric_limits<int32_t>::max() - 100);
    run(e, std::vector<float>(1024, 0.0f), nullptr);
    EXPECT_EQ(e.samplesSinceOnset(), std::numeric_limits<int32_t>::max());
    run(e, clicks(512, {10}), nullptr);
    EXPECT_EQ(e.nextGrain(), 1);
    EXPECT_LT(e.samplesSinceOnset(), 512);
}

TEST(RhythmicEcho, NonFiniteInputDoesNotPoisonTheEngine) {
    RhythmicEcho e;
    e.prepare(48000);
    e.setFreeze(1.0f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> trigger = clicks(4800, {100});
    std::vector<float> source = sine(48000, 600, 4800, 0.5f);
    for (size_t i = 0; i < trigger.size(); i += 5) {
        trigger[i] = nan;
        source[i] = (i % 2) ? inf : -inf;
    }
    std::vector<float> out = run(e, trigger, &source);
    for (float v : out) ASSERT_TRUE(std::isfinite(v));
    // Huge but finite input may overflow the sum inside a block; the block after it is clean again.
    std::vector<float> huge(256, 3e38f);
    run(e, huge, &huge);
    const std::vector<float> later = clicks(48000, {24000});
    const std::vector<float> laterSource = sine(48000, 600, 48000, 0.5f);
    out = run(e, later, &laterSource);
    for (size_t i = 256; i < out.size(); ++i) ASSERT_TRUE(std::isfinite(out[i])) << i;
    EXPECT_TRUE(std::isfinite(e.sourceEnv()));
    EXPECT_GE(e.nextGrain(), 1);
}

TEST(RhythmicEcho, UnpreparedOrEmptyCallsAreHarmless) {
    RhythmicEcho e;
    std::vector<float> x = clicks(256, {0}), out(256, 1.0f);
    e.process(x.data(), nullptr, out.data(), 256); // before prepare: silence
    for (float v : out) EXPECT_EQ(v, 0.0f);
    e.prepare(48000);
    e.process(x.data(), nullptr, out.data(), 0);
    e.process(x.data(), nullptr, out.data(), -5);
    EXPECT_EQ(e.nextGrain(), 0);
}

TEST(RhythmicEcho, ProcessAllocatesNothing) {
    RhythmicEcho e;
    e.prepare(48000);
    e.setFreeze(1.0f);
    e.setFreezeTonality(1.0f);
    const int n = 2 * 48000;
    const std::vector<float> trigger = mixedTrigger(n);
    const std::vector<float> source = sine(48000, 937.5, n, 0.5f);
    std::vector<float> out(static_cast<size_t>(n));
    size_t allocations = test::allocationsDuring([&] {
        for (int i = 0; i < n; i += 480) {
            e.setBpm(120.0f);
            e.setGrainLpHz(i % 960 ? 5000.0f : 6000.0f);
            e.process(trigger.data() + i, (i / 480) % 3 ? source.data() + i : nullptr, out.data() + i, 480);
        }
    });
    EXPECT_EQ(allocations, 0u);
    // The run reached the freeze analysis and left tails.
    EXPECT_TRUE(std::any_of(e.tails().begin(), e.tails().end(), [](const auto& t) { return t.length > 0; }));
    allocations = test::allocationsDuring([&] { e.reset(); });
    EXPECT_EQ(allocations, 0u);
}

} // namespace
} // namespace nx
