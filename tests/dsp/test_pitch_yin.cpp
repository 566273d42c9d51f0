// Pitch tracker: lag ranges and clamps from prepare, pitches of sines and harmonic tones, the three
// outcomes (periodic, weakly periodic, aperiodic), and agreement of the fast difference function with the
// direct double loop.
#include "dsp/PitchTrackerYIN.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace nx {
namespace {

constexpr int kW = 2048;

std::vector<float> tone(double sampleRate, double f0, std::initializer_list<double> harmonicAmps, int n = kW,
                        double phase = 0.3) {
    std::vector<float> x(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        double v = 0.0;
        int k = 1;
        for (double a : harmonicAmps) {
            v += a * std::sin(2.0 * std::numbers::pi * f0 * k * i / sampleRate + phase * k);
            ++k;
        }
        x[static_cast<size_t>(i)] = static_cast<float>(v);
    }
    return x;
}

std::vector<float> noise(uint32_t seed, float amplitude, int n = kW) {
    std::vector<float> x(static_cast<size_t>(n));
    uint32_t s = seed;
    for (float& v : x) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        v = amplitude * (static_cast<float>(s) / 4294967296.0f * 2.0f - 1.0f);
    }
    return x;
}

PitchTrackerYIN cloudTracker(double sampleRate) {
    PitchTrackerYIN t;
    t.prepare(sampleRate, kW, 65.0f, 1046.0f, 0.12f);
    return t;
}

TEST(PitchTrackerYIN, PrepareDerivesLagRangeAndClampsArguments) {
    struct Case {
        double sampleRate;
        int window;
        float fMin, fMax, threshold;
        int tauMin, tauMax, windowUsed;
        float thresholdUsed;
    };
    const Case cases[] = {
        {44100, 2048, 65, 1046, 0.12f, 42, 679, 2048, 0.12f},
        {48000, 2048, 65, 1046, 0.12f, 45, 739, 2048, 0.12f},
        {96000, 2048, 65, 1046, 0.12f, 91, 1024, 2048, 0.12f}, // half-window limit
        {48000, 2048, 65, 1046, 0.5f, 45, 739, 2048, 0.3f},
        {48000, 2048, 65, 1046, 0.001f, 45, 739, 2048, 0.02f},
        {48000, 32, 65, 1046, 0.12f, 45, 46, 64, 0.12f},      // window raised to 64, tauMax = tauMin + 1
        {44100, 2048, 10, 30, 0.12f, 882, 1024, 2048, 0.12f}, // pitch limits raised to 20 and 50 Hz
        {0, 2048, 65, 1046, 0.12f, 42, 679, 2048, 0.12f},     // rate not above 0 counts as 44.1 kHz
        {-5, 2048, 65, 1046, std::numeric_limits<float>::quiet_NaN(), 42, 679, 2048, 0.12f},
    };
    for (const Case& c : cases) {
        PitchTrackerYIN t;
        t.prepare(c.sampleRate, c.window, c.fMin, c.fMax, c.threshold);
        SCOPED_TRACE(testing::Message()
                     << c.sampleRate << " Hz, W " << c.window << ", " << c.fMin << ".." << c.fMax);
        EXPECT_EQ(t.tauMin(), c.tauMin);
        EXPECT_EQ(t.tauMax(), c.tauMax);
        EXPECT_EQ(t.windowSize(), c.windowUsed);
        EXPECT_FLOAT_EQ(t.threshold(), c.thresholdUsed);
        EXPECT_EQ(t.difference().size(), static_cast<size_t>(c.tauMax) + 1);
        EXPECT_EQ(t.normalised().size(), static_cast<size_t>(c.tauMax) + 1);
    }
}

TEST(PitchTrackerYIN, PeriodicTonesGiveTheirFundamental) {
    struct Case {
        double sampleRate;
        double f0;
        std::initializer_list<double> amps;
        double expectHz;
        double toleranceHz;
    };
    const Case cases[] = {
        {44100, 220.0, {1.0}, 220.0, 0.5},
        {44100, 110.0, {1.0}, 110.0, 0.3},
        {44100, 440.0, {0.5}, 440.0, 1.0},
        {48000, 880.0, {1.0}, 880.0, 2.0},
        {48000, 196.0, {0.6, 0.3, 0.2, 0.1}, 196.0, 0.5}, // harmonic tone
        {44100, 150.0, {0.2, 1.0, 0.5}, 150.0, 0.5},      // weak fundamental, strong second harmonic
        {96000, 330.0, {1.0, 0.5}, 330.0, 1.0},
        {44100, 1500.0, {1.0}, 750.0, 2.0}, // period below tauMin: two periods qualify first
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.f0 << " Hz at " << c.sampleRate);
        PitchTrackerYIN t = cloudTracker(c.sampleRate);
        const std::vector<float> x = tone(c.sampleRate, c.f0, c.amps);
        float f0 = -1.0f, ap = -1.0f;
        EXPECT_TRUE(t.analyse(x.data(), f0, ap));
        EXPECT_NEAR(f0, c.expectHz, c.toleranceHz);
        EXPECT_GE(ap, 0.0f);
        EXPECT_LT(ap, 0.05f);
    }
}

TEST(PitchTrackerYIN, AperiodicFramesLeaveOutputsUntouched) {
    std::vector<std::vector<float>> frames;
    frames.push_back(std::vector<float>(kW, 0.0f)); // silence: every d' is 1
    frames.push_back(noise(12345u, 0.5f));
    frames.push_back(noise(777u, 1e-3f));
    std::vector<float> poisoned = tone(44100, 220, {1.0});
    poisoned[100] = std::numeric_limits<float>::quiet_NaN();
    poisoned[900] = std::numeric_limits<float>::infinity();
    frames.push_back(poisoned);
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        PitchTrackerYIN t = cloudTracker(44100);
        float f0 = 123.0f, ap = 0.75f;
        EXPECT_FALSE(t.analyse(frames[i].data(), f0, ap));
        EXPECT_EQ(f0, 123.0f);
        EXPECT_EQ(ap, 0.75f);
    }
}

TEST(PitchTrackerYIN, WeaklyPeriodicFrameWritesOutputsButReturnsFalse) {
    // A 220 Hz tone buried in noise: its best normalised difference lies between the threshold and 0.5.
    std::vector<float> x = tone(44100, 220, {1.0});
    const std::vector<float> n = noise(99u, 1.1f);
    for (int i = 0; i < kW; ++i) x[static_cast<size_t>(i)] += n[static_cast<size_t>(i)];
    PitchTrackerYIN t = cloudTracker(44100);
    float f0 = -1.0f, ap = -1.0f;
    EXPECT_FALSE(t.analyse(x.data(), f0, ap));
    EXPECT_GE(ap, 0.12f);
    EXPECT_LE(ap, 0.5f);
    // The smallest d' may sit at a multiple of the period: the estimate is 220 Hz or a subharmonic of it.
    const float ratio = 220.0f / f0;
    EXPECT_NEAR(ratio, std::round(ratio), 0.03f);
}

TEST(PitchTrackerYIN, BestLagAtTheLastLagIsNotInterpolated) {
    // Lags 45..46 only: a 55-sample period keeps d'[45] above the threshold, so the fallback minimum is
    // the last lag, which has no right neighbour to interpolate with.
    PitchTrackerYIN t;
    t.prepare(48000, 32, 65.0f, 1046.0f, 0.12f);
    ASSERT_EQ(t.tauMax(), 46);
    std::vector<float> x = tone(48000, 48000.0 / 55.0, {1.0}, 64);
    float f0 = -1.0f, ap = -1.0f;
    EXPECT_FALSE(t.analyse(x.data(), f0, ap));
    EXPECT_EQ(f0, static_cast<float>(48000.0 / 46.0));
    EXPECT_EQ(ap, t.normalised()[46]);
    EXPECT_GT(t.normalised()[45], t.normalised()[46]);
}

// The direct form of the difference function and the decision steps, the reference the fast form is
// held to.
struct Reference {
    std::vector<float> d, dn;
    bool result = false;
    int best = -1;
};

Reference directYin(const float* x, int W, int tauMin, int T, float threshold) {
    Reference r;
    r.d.assign(static_cast<size_t>(T) + 1, 0.0f);
    r.dn.assign(static_cast<size_t>(T) + 1, 1.0f);
    for (int tau = 1; tau <= T; ++tau) {
        float s = 0.0f;
        for (int j = 0; j + tau < W; ++j) {
            const float diff = x[j] - x[j + tau];
            s += diff * diff;
        }
        r.d[static_cast<size_t>(tau)] = s;
    }
    float sum = 0.0f;
    for (int tau = 1; tau <= T; ++tau) {
        sum += r.d[static_cast<size_t>(tau)];
        r.dn[static_cast<size_t>(tau)] = sum > 1e-12f ? tau * r.d[static_cast<size_t>(tau)] / sum : 1.0f;
    }
    for (int tau = tauMin; tau < T && r.best < 0; ++tau) {
        if (r.dn[static_cast<size_t>(tau)] < threshold) {
            while (tau + 1 < T && r.dn[static_cast<size_t>(tau) + 1] < r.dn[static_cast<size_t>(tau)]) ++tau;
            r.best = tau;
        }
    }
    if (r.best < 0) {
        r.best = tauMin;
        for (int tau = tauMin + 1; tau <= T; ++tau)
            if (r.dn[static_cast<size_t>(tau)] < r.dn[static_cast<size_t>(r.best)]) r.best = tau;
        if (r.dn[static_cast<size_t>(r.best)] > 0.5f) r.best = -1;
    }
    r.result = r.best >= 0 && r.dn[static_cast<size_t>(r.best)] < threshold;
    return r;
}

TEST(PitchTrackerYIN, FastDifferenceAgreesWithDirectLoop) {
    // The direct loop accumulates up to 2048 float terms and so carries a relative rounding error of a few
    // 1e-6; the fast form works in double. d' divides by a running mean, which keeps the disagreement at
    // the same relative size: 1e-4 absolute leaves a margin of ten over what these frames show. The
    // decisions (outcome and best lag) must match.
    std::vector<std::vector<float>> frames = {
        tone(44100, 220, {1.0}),  tone(44100, 1500, {0.8}), tone(44100, 97.3, {0.5, 0.4, 0.3, 0.2, 0.1}),
        tone(44100, 440, {1e-3}), // quiet
        noise(5u, 0.7f),
    };
    std::vector<float> noisy = tone(44100, 330, {1.0});
    const std::vector<float> n = noise(31u, 0.6f);
    for (int i = 0; i < kW; ++i) noisy[static_cast<size_t>(i)] += n[static_cast<size_t>(i)];
    frames.push_back(noisy);
    std::vector<float> chirp(kW);
    for (int i = 0; i < kW; ++i) chirp[static_cast<size_t>(i)] = std::sin(0.00002f * i * i + 0.01f * i);
    frames.push_back(chirp);

    for (size_t c = 0; c < frames.size(); ++c) {
        SCOPED_TRACE(c);
        PitchTrackerYIN t = cloudTracker(44100);
        float f0 = 0.0f, ap = 0.0f;
        const bool result = t.analyse(frames[c].data(), f0, ap);
        const Reference ref = directYin(frames[c].data(), kW, t.tauMin(), t.tauMax(), t.threshold());
        float worst = 0.0f;
        for (int tau = 0; tau <= t.tauMax(); ++tau)
            worst = std::max(worst, std::fabs(t.normalised()[static_cast<size_t>(tau)] -
                                              ref.dn[static_cast<size_t>(tau)]));
        EXPECT_LT(worst, 1e-4f);
        EXPECT_EQ(result, ref.result);
        if (ref.best >= 0) {
            EXPECT_EQ(ap, t.normalised()[static_cast<size_t>(ref.best)]);
        }
    }
}

} // namespace
} // namespace nx
