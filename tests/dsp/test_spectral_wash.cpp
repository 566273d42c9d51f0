// Spectral wash: buffer sizes, comb tuning, setter clamps, silence, resonator tuning, reproducible noise,
// reset, tempo-synced wow, non-finite input and allocation-free processing.
#include "dsp/SpectralWashV8.h"
#include "tests/dsp/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

using nx::SpectralWashV8;

constexpr double kPi = 3.14159265358979323846;

std::vector<float> noise(int n, uint32_t seed, float amplitude) {
    nx::Xorshift32 rng(seed);
    std::vector<float> v(n);
    for (auto& s : v) s = amplitude * static_cast<float>(static_cast<int32_t>(rng.next()) / 2147483648.0);
    return v;
}

std::vector<float> run(SpectralWashV8& w, const std::vector<float>& in, int block = 512) {
    std::vector<float> out(in.size());
    for (size_t pos = 0; pos < in.size(); pos += block) {
        const int n = static_cast<int>(std::min<size_t>(block, in.size() - pos));
        w.process(in.data() + pos, out.data() + pos, n);
    }
    return out;
}

// Power of v[from, to) at hz (Goertzel).
double power(const std::vector<float>& v, size_t from, size_t to, double hz, double sr) {
    const double c = 2.0 * std::cos(2.0 * kPi * hz / sr);
    double s1 = 0, s2 = 0;
    for (size_t i = from; i < to; ++i) {
        const double s0 = v[i] + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - c * s1 * s2;
}

TEST(SpectralWash, PrepareSizesBuffersForTheRate) {
    struct Case {
        double rate;
        size_t combs[4], allpasses[2], wow;
    } cases[] = {
        {44100.0, {1557, 1617, 1491, 1422}, {556, 225}, 1024},
        {48000.0, {1695, 1760, 1623, 1548}, {605, 245}, 1024},
        {96000.0, {3389, 3520, 3246, 3096}, {1210, 490}, 2048},
        {0.0, {1557, 1617, 1491, 1422}, {556, 225}, 1024},
        {10.0, {1, 1, 1, 1}, {1, 1}, 1},
    };
    {
        SpectralWashV8 unprepared; // no buffers yet: silence, not a fault
        std::vector<float> io(64, 0.5f);
        unprepared.process(io.data(), io.data(), 64);
        for (float v : io) ASSERT_EQ(v, 0.0f);
    }
    for (const auto& c : cases) {
        SpectralWashV8 w;
        w.prepare(c.rate);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(w.combLength(i), c.combs[i]) << c.rate << " comb " << i;
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(w.allpassLength(i), c.allpasses[i]) << c.rate << " allpass " << i;
        EXPECT_EQ(w.wowRingSize(), c.wow) << c.rate;
        std::vector<float> io(64, 0.5f);
        w.process(io.data(), io.data(), 64); // even degenerate rates run without fault
        for (float v : io) ASSERT_TRUE(std::isfinite(v)) << c.rate;
    }
}

TEST(SpectralWash, CombTuningFollowsCharacterAndWashLowPass) {
    struct Case {
        float character, washLpHz, feedback0, damp;
    } cases[] = {
        {0.0f, 6000.0f, 0.92192f, 0.05f},
        {1.0f, 6000.0f, 0.96017f, 0.05f},
        {0.0f, 1000.0f, 0.92192f, 0.4f},
        {0.0f, 3500.0f, 0.92192f, 0.225f},
    };
    for (const auto& c : cases) {
        SpectralWashV8 w;
        w.prepare(44100.0);
        w.setCharacter(c.character);
        w.setWashLpHz(c.washLpHz);
        w.rebuildIfDirty();
        EXPECT_NEAR(w.combFeedback(0), c.feedback0, 1e-5f) << c.character;
        EXPECT_NEAR(w.combDamp(0), c.damp, 1e-6f) << c.washLpHz;
        for (int i = 1; i < 4; ++i) EXPECT_LT(w.combFeedback(i), 0.97f);
    }
}

TEST(SpectralWash, SettersClampAndMarkDirtyOnlyOnChange) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        void (SpectralWashV8::*set)(float);
        float (SpectralWashV8::*get)() const;
        float value, expected;
        bool dirties;
    } cases[] = {
        {"root 20", &SpectralWashV8::setRootHz, &SpectralWashV8::rootHz, 20.0f, 40.0f, true},
        {"root 1000", &SpectralWashV8::setRootHz, &SpectralWashV8::rootHz, 1000.0f, 600.0f, true},
        {"root unchanged", &SpectralWashV8::setRootHz, &SpectralWashV8::rootHz, 130.0f, 130.0f, false},
        {"root NaN", &SpectralWashV8::setRootHz, &SpectralWashV8::rootHz, nan, 130.0f, false},
        {"lp 50", &SpectralWashV8::setWashLpHz, &SpectralWashV8::washLpHz, 50.0f, 200.0f, true},
        {"lp 30000", &SpectralWashV8::setWashLpHz, &SpectralWashV8::washLpHz, 30000.0f, 21609.0f, true},
        {"lp unchanged", &SpectralWashV8::setWashLpHz, &SpectralWashV8::washLpHz, 6000.0f, 6000.0f, false},
        {"character 2", &SpectralWashV8::setCharacter, &SpectralWashV8::character, 2.0f, 1.0f, true},
        {"character NaN", &SpectralWashV8::setCharacter, &SpectralWashV8::character, nan, 0.55f, false},
        {"wow 3", &SpectralWashV8::setWow, &SpectralWashV8::wow, 3.0f, 1.0f, false},
        {"wow -1", &SpectralWashV8::setWow, &SpectralWashV8::wow, -1.0f, 0.0f, false},
        {"beats 1", &SpectralWashV8::setWowBeats, &SpectralWashV8::wowBeats, 1.0f, 2.0f, false},
        {"beats 100", &SpectralWashV8::setWowBeats, &SpectralWashV8::wowBeats, 100.0f, 64.0f, false},
        {"bpm -120", &SpectralWashV8::setBpm, &SpectralWashV8::bpm, -120.0f, 0.0f, false},
        {"bpm NaN", &SpectralWashV8::setBpm, &SpectralWashV8::bpm, nan, 0.0f, false},
        {"bpm inf", &SpectralWashV8::setBpm, &SpectralWashV8::bpm, std::numeric_limits<float>::infinity(),
         0.0f, false},
        {"bpm 128", &SpectralWashV8::setBpm, &SpectralWashV8::bpm, 128.0f, 128.0f, false},
    };
    for (const auto& c : cases) {
        SpectralWashV8 w;
        w.prepare(44100.0);
        w.rebuildIfDirty();
        ASSERT_FALSE(w.dirty());
        (w.*c.set)(c.value);
        EXPECT_EQ((w.*c.get)(), c.expected) << c.name;
        EXPECT_EQ(w.dirty(), c.dirties) << c.name;
    }
}

TEST(SpectralWash, ResonatorGainsFollowQAndHarmonicLimit) {
    struct Case {
        double rate;
        float root, character;
        int index;
        float gain;
    } cases[] = {
        {44100.0, 130.0f, 0.0f, 1, 0.6f},       // harmonic 1, Q 30
        {44100.0, 130.0f, 1.0f, 1, 1.8f},       // harmonic 1, Q 90
        {44100.0, 130.0f, 0.0f, 22, 0.172306f}, // harmonic 8: 0.6 / 8^0.6
        {8000.0, 600.0f, 0.0f, 14, 0.228438f},  // harmonic 5 (3000 Hz) is below 0.441 * rate
        {8000.0, 600.0f, 0.0f, 15, 0.0f},       // harmonic 6 (3600 Hz) is not
        {8000.0, 600.0f, 0.0f, 23, 0.0f},
    };
    for (const auto& c : cases) {
        SpectralWashV8 w;
        w.prepare(c.rate);
        w.setRootHz(c.root);
        w.setCharacter(c.character);
        w.rebuildIfDirty();
        EXPECT_NEAR(w.resonatorGain(c.index), c.gain, 1e-5f) << c.rate << " " << c.root << " #" << c.index;
    }
}

TEST(SpectralWash, SilenceStaysExactlyZero) {
    SpectralWashV8 w;
    w.prepare(48000.0);
    w.setWow(1.0f);
    w.setBpm(120.0f);
    const std::vector<float> silence(48000, 0.0f);
    for (float v : run(w, silence)) ASSERT_EQ(v, 0.0f);

    run(w, noise(24000, 3, 0.5f)); // fill every buffer, then reset
    w.reset();
    for (float v : run(w, silence)) ASSERT_EQ(v, 0.0f);
}

TEST(SpectralWash, ResonatesOnTheRootsHarmonics) {
    // A sine on harmonic k of the root against the same sine through a wash whose root puts it halfway
    // between harmonics k and k + 1. The combs colour both alike, so the difference is the resonators'.
    const double sr = 44100.0;
    for (float root : {110.0f, 233.0f}) {
        for (int k = 1; k <= 8; ++k) {
            const double hz = root * k;
            std::vector<float> in(44100);
            for (size_t i = 0; i < in.size(); ++i)
                in[i] = 0.1f * static_cast<float>(std::sin(2 * kPi * hz * i / sr));
            double level[2];
            const float roots[2] = {root, static_cast<float>(hz / (k + 0.5))};
            for (int r = 0; r < 2; ++r) {
                SpectralWashV8 w;
                w.prepare(sr);
                w.setRootHz(roots[r]);
                w.setWashLpHz(15000.0f);
                level[r] = power(run(w, in), 22050, 44100, hz, sr);
            }
            EXPECT_GT(10.0 * std::log10(level[0] / level[1]), 10.0) << "root " << root << " harmonic " << k;
        }
    }
}

TEST(SpectralWash, OutputIsReproducibleAndResetKeepsSettings) {
    const auto in = noise(2 * 44100, 23, 0.3f);
    auto configure = [](SpectralWashV8& w) {
        w.prepare(44100.0);
        w.setRootHz(220.0f);
        w.setCharacter(0.8f);
        w.setWashLpHz(4000.0f);
        w.setWow(0.5f);
        w.setBpm(100.0f);
    };
    SpectralWashV8 a, b;
    configure(a);
    configure(b);
    const auto first = run(a, in);
    EXPECT_EQ(run(b, in, 97), first); // block size does not matter either

    a.reset();
    EXPECT_EQ(a.rootHz(), 220.0f);
    EXPECT_EQ(a.character(), 0.8f);
    EXPECT_EQ(a.washLpHz(), 4000.0f);
    EXPECT_EQ(a.wow(), 0.5f);
    EXPECT_EQ(a.bpm(), 100.0f);
    EXPECT_EQ(run(a, in), first); // the breath noise restarts from its seed
}

// Finds the lag (near `expected`) at which out[from, from + 64) best matches the wow-free reference.
double bestLag(const std::vector<float>& out, const std::vector<float>& ref, size_t from, double expected) {
    double best = 0, bestErr = 1e300;
    for (double lag = std::floor(expected) - 20; lag <= expected + 20; lag += 0.25) {
        const int L = static_cast<int>(std::floor(lag));
        const double t = lag - L;
        double err = 0;
        for (size_t i = from; i < from + 64; ++i) {
            const double r = (1 - t) * ref[i - L] + t * ref[i - L - 1];
            err += (out[i] - r) * (out[i] - r);
        }
        if (err < bestErr) bestErr = err, best = lag;
    }
    return best;
}

TEST(SpectralWash, WowDelaySwingsWithTheTempo) {
    const double sr = 44100.0;
    const double fullSwing = sr * 0.004; // samples per unit of (1 + sin phase) at full wow
    struct Case {
        float bpm;
        double seconds;
        double phase; // wow phase at that time: one cycle per 16 beats, or per 8 s without tempo
    } cases[] = {
        {120.0f, 2.0, kPi / 2},         {60.0f, 2.0, kPi / 4}, {60.0f, 4.0, kPi / 2},
        {90.0f, 2.0, 2 * kPi * 0.1875}, {0.0f, 2.0, kPi / 2},  {0.0f, 5.0, 2 * kPi * 5.0 / 8.0},
    };
    const auto in = noise(5 * 44100 + 4096, 29, 0.3f);
    SpectralWashV8 dry;
    dry.prepare(sr);
    const auto ref = run(dry, in);
    for (const auto& c : cases) {
        SpectralWashV8 w;
        w.prepare(sr);
        w.setWow(1.0f);
        w.setBpm(c.bpm);
        const auto out = run(w, in);
        const size_t at = static_cast<size_t>(c.seconds * sr);
        const double expected = (1.0 + std::sin(c.phase)) * fullSwing - 1.0; // behind the sample just written
        EXPECT_NEAR(bestLag(out, ref, at, expected), expected, 1.0)
            << c.bpm << " BPM at " << c.seconds << " s";
    }
}

TEST(SpectralWash, WowAtTheTroughAndBelowThresholdIsTransparent) {
    const double sr = 44100.0;
    const auto in = noise(7 * 44100, 31, 0.3f);
    SpectralWashV8 dry, tiny, full;
    for (auto* w : {&dry, &tiny, &full}) w->prepare(sr);
    tiny.setWow(0.001f);
    full.setWow(1.0f);
    full.setBpm(120.0f); // 8 s a cycle: no delay around 6 s
    const auto ref = run(dry, in);
    EXPECT_EQ(run(tiny, in), ref);
    const auto out = run(full, in);
    for (size_t i = static_cast<size_t>(5.95 * sr); i < static_cast<size_t>(6.05 * sr); ++i)
        ASSERT_EQ(out[i], ref[i]) << i;
    EXPECT_NE(out[static_cast<size_t>(2.0 * sr)], ref[static_cast<size_t>(2.0 * sr)]);
}

TEST(SpectralWash, NonFiniteInputDoesNotPoisonTheState) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const auto in = noise(44100, 37, 0.3f);
    auto withBlock = [&](bool bad) {
        std::vector<float> x = in;
        for (int i = 2048; i < 2560; ++i) x[i] = bad ? (i % 3 == 0 ? nan : (i % 3 == 1 ? inf : -inf)) : 0.0f;
        SpectralWashV8 w;
        w.prepare(44100.0);
        w.setWow(0.7f);
        return run(w, x);
    };
    EXPECT_EQ(withBlock(true), withBlock(false));

    // A full-scale finite sine on a high-Q resonator overflows it: that block is dropped and the wash
    // starts clean instead of carrying infinities for good.
    SpectralWashV8 w, fresh;
    for (auto* x : {&w, &fresh}) {
        x->prepare(44100.0);
        x->setRootHz(40.0f);
        x->setCharacter(1.0f);
    }
    std::vector<float> huge(4096);
    for (size_t i = 0; i < huge.size(); ++i)
        huge[i] = 3.4e38f * static_cast<float>(std::sin(2 * kPi * 40 * i / 44100.0));
    for (float v : run(w, huge, 4096)) ASSERT_TRUE(std::isfinite(v));
    EXPECT_EQ(run(w, in), run(fresh, in));
}

TEST(SpectralWash, ProcessDoesNotAllocate) {
    SpectralWashV8 w;
    w.prepare(48000.0);
    const auto in = noise(256, 41, 0.3f);
    std::vector<float> out(256);
    const size_t allocations = nx::test::allocationsDuring([&] {
        for (int i = 0; i < 64; ++i) {
            w.setRootHz(100.0f + i);
            w.setCharacter(0.01f * i);
            w.setWashLpHz(1000.0f + 100.0f * i);
            w.setWow((i & 1) ? 0.8f : 0.0f);
            w.setBpm(90.0f + i);
            w.process(in.data(), out.data(), 256);
            if (i == 40) w.reset();
        }
    });
    EXPECT_EQ(allocations, 0u);
}

} // namespace
