// Harmonic cloud: start-up state, following a tone's pitch (offline in step, and through the worker),
// fading on silence, the synthesis guard below 0.49 * rate, re-preparation, bit-exact offline renders,
// non-finite input, and an audio path that never allocates.
#include "dsp/HarmonicCloud.h"
#include "dsp/PhantomEngine.h"

#include "tests/dsp/AllocationCounter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <thread>
#include <vector>

namespace nx {

// Reaches the audio-side state that only a latched analysis sets.
struct HarmonicCloudTestAccess {
    static void latch(HarmonicCloud& c, float f0, float amp) {
        c.currentF0_ = c.previousF0_ = f0;
        c.currentAmps_.fill(amp);
        c.previousAmps_.fill(amp);
    }
    static void useExactSines(HarmonicCloud& c) { c.exactSines_ = true; }
    static float phase(const HarmonicCloud& c, int voice, int harmonic) {
        return c.partialPhases_[voice][harmonic - 1];
    }
};

namespace {

std::vector<float> sine(double sampleRate, double hz, int n, float amp = 0.5f) {
    std::vector<float> x(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        x[static_cast<size_t>(i)] =
            amp * static_cast<float>(std::sin(2.0 * std::numbers::pi * hz * i / sampleRate));
    return x;
}

float rms(const float* x, int n) {
    double s = 0.0;
    for (int i = 0; i < n; ++i) s += double(x[i]) * x[i];
    return static_cast<float>(std::sqrt(s / n));
}

// Processes x in blocks of 256 and returns the output; f0AtHops collects currentF0Hz() after every block
// that crossed a hop.
std::vector<float> run(HarmonicCloud& c, const std::vector<float>& x,
                       std::vector<float>* f0AtHops = nullptr) {
    std::vector<float> out(x.size());
    for (size_t i = 0; i < x.size(); i += 256) {
        const int n = static_cast<int>(std::min<size_t>(256, x.size() - i));
        c.process(x.data() + i, out.data() + i, n);
        if (f0AtHops && (i + n) % HarmonicCloud::kHopSize == 0) f0AtHops->push_back(c.currentF0Hz());
    }
    return out;
}

TEST(HarmonicCloud, StartsSilentAt100HzAndNeverPreparedDestroysAtOnce) {
    {
        HarmonicCloud unprepared; // no worker: the destructor has nothing to join
        EXPECT_FALSE(unprepared.workerRunning());
        EXPECT_EQ(unprepared.currentF0Hz(), 100.0f);
    }
    HarmonicCloud c;
    c.setOfflineMode(true);
    c.prepare(44100);
    EXPECT_TRUE(c.workerRunning());
    EXPECT_EQ(c.currentF0Hz(), 100.0f);
    // Before the first latched analysis every amplitude is 0, whatever the input.
    const std::vector<float> x = sine(44100, 220, 511);
    std::vector<float> out(x.size(), 1.0f);
    c.process(x.data(), out.data(), static_cast<int>(x.size()));
    for (float v : out) ASSERT_EQ(v, 0.0f);
}

TEST(HarmonicCloud, SetCharacterClamps) {
    struct Case {
        float in, stored;
    };
    const Case cases[] = {
        {2.0f, 1.0f}, {-1.0f, 0.0f}, {0.25f, 0.25f}, {std::numeric_limits<float>::quiet_NaN(), 0.25f}};
    HarmonicCloud c;
    for (const Case& k : cases) {
        c.setCharacter(k.in);
        EXPECT_EQ(c.character(), k.stored) << k.in;
    }
}

TEST(HarmonicCloud, OfflineFollowsSteadyToneAtThirtyFivePercentPerFrame) {
    HarmonicCloud c;
    c.setOfflineMode(true);
    c.prepare(44100);
    std::vector<float> f0s;
    const std::vector<float> x = sine(44100, 220, 44100);
    const std::vector<float> out = run(c, x, &f0s);

    // Leading frames that are mostly the silence before the tone are unvoiced and keep 100 Hz; from the
    // first voiced frame on the published fundamental moves 100 -> 142 -> 169.3 -> 187.0 -> ... -> 220.
    size_t first = 0;
    while (first < f0s.size() && f0s[first] == 100.0f) ++first;
    ASSERT_LT(first + 3, f0s.size());
    EXPECT_LE(first, 4u);
    EXPECT_NEAR(f0s[first], 142.0f, 0.3f);
    EXPECT_NEAR(f0s[first + 1], 169.3f, 0.3f);
    EXPECT_NEAR(f0s[first + 2], 187.0f, 0.3f);
    EXPECT_NEAR(f0s.back(), 220.0f, 0.5f);

    // The resynthesis sits at the tone's pitch: three voices near 218.1, 220 and 221.9 Hz. Compare the
    // energy of the last half second at 220 Hz with that at the neighbouring harmonics.
    const int tail = 22050;
    const float* y = out.data() + out.size() - tail;
    auto energyAt = [&](double hz) {
        double re = 0.0, im = 0.0;
        for (int i = 0; i < tail; ++i) {
            const double w = 2.0 * std::numbers::pi * hz * i / 44100.0;
            re += y[i] * std::cos(w);
            im += y[i] * std::sin(w);
        }
        return std::sqrt(re * re + im * im) / tail;
    };
    EXPECT_GT(energyAt(220.0), 20.0 * energyAt(440.0));
    EXPECT_GT(energyAt(220.0), 20.0 * energyAt(110.0));
    EXPECT_GT(rms(y, tail), 0.05f);
}

TEST(HarmonicCloud, SilenceAfterToneFadesAndKeepsThePitch) {
    const int hop = HarmonicCloud::kHopSize;
    HarmonicCloud c;
    c.setOfflineMode(true);
    c.prepare(44100);
    run(c, sine(44100, 220, 86 * hop));
    ASSERT_NEAR(c.currentF0Hz(), 220.0f, 1.0f);

    // Six hops on, the frames hold nothing of the tone: from there the amplitudes halve at every hop
    // (each hop glides from one value to the next, so its level halves too) and the pitch holds.
    run(c, std::vector<float>(6 * hop, 0.0f));
    const float pitch = c.currentF0Hz();
    EXPECT_NEAR(pitch, 220.0f, 1.0f);
    std::vector<float> out = run(c, std::vector<float>(4 * hop, 0.0f));
    float level[4];
    for (int h = 0; h < 4; ++h) level[h] = rms(out.data() + h * hop, hop);
    EXPECT_GT(level[0], 0.01f);
    for (int h = 0; h + 1 < 4; ++h) EXPECT_NEAR(level[h + 1] / level[h], 0.5f, 0.1f) << h;
    out = run(c, std::vector<float>(40 * hop, 0.0f));
    EXPECT_LT(rms(out.data() + out.size() - hop, hop), 1e-6f);
    EXPECT_EQ(c.currentF0Hz(), pitch);
}

TEST(HarmonicCloud, HarmonicsAtOrAbove049TimesTheRateAreNotRendered) {
    // 16 kHz, fundamental 1040 Hz: the guard is 7840 Hz. Harmonic 7 stays below it in every voice at every
    // vibrato position (7 * 1040 * 1.0087 * 1.015 = 7454 Hz), harmonic 8 above it (8 * 1040 * 0.9913 *
    // 0.985 = 8124 Hz): its phase never advances.
    HarmonicCloud c;
    c.setOfflineMode(true);
    c.prepare(16000);
    HarmonicCloudTestAccess::latch(c, 1040.0f, 0.1f);
    std::vector<float> x(500, 0.0f), out(500);
    c.process(x.data(), out.data(), 500); // before the first hop: the latched values hold
    for (int v = 0; v < HarmonicCloud::kNumVoices; ++v) {
        for (int k = 1; k <= 7; ++k)
            EXPECT_NE(HarmonicCloudTestAccess::phase(c, v, k), 0.0f) << v << " " << k;
        EXPECT_EQ(HarmonicCloudTestAccess::phase(c, v, 8), 0.0f) << v;
    }
    EXPECT_GT(rms(out.data(), 500), 0.05f);
}

TEST(HarmonicCloud, OfflineRendersAreBitExactAcrossInstancesAndResets) {
    // A gliding tone with a second harmonic and a burst of noise, at an odd block size.
    std::vector<float> x(3 * 44100);
    uint32_t s = 1;
    for (size_t i = 0; i < x.size(); ++i) {
        const double t = i / 44100.0;
        const double hz = 150.0 + 60.0 * t;
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        const float n = (i > 60000 && i < 70000) ? (static_cast<float>(s) / 4294967296.0f - 0.5f) : 0.0f;
        x[i] = static_cast<float>(0.4 * std::sin(2.0 * std::numbers::pi * hz * t) +
                                  0.2 * std::sin(4.0 * std::numbers::pi * hz * t)) +
               n;
    }
    auto render = [&](HarmonicCloud& c) {
        std::vector<float> out(x.size());
        for (size_t i = 0; i < x.size(); i += 333) {
            const int n = static_cast<int>(std::min<size_t>(333, x.size() - i));
            c.process(x.data() + i, out.data() + i, n);
        }
        return out;
    };
    HarmonicCloud a, b;
    a.setOfflineMode(true);
    b.setOfflineMode(true);
    a.prepare(44100);
    b.prepare(44100);
    const std::vector<float> first = render(a);
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // the idle workers must not matter
    const std::vector<float> second = render(b);
    a.reset();
    const std::vector<float> afterReset = render(a);
    ASSERT_GT(rms(first.data(), static_cast<int>(first.size())), 0.01f);
    EXPECT_EQ(std::memcmp(first.data(), second.data(), first.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(first.data(), afterReset.data(), first.size() * sizeof(float)), 0);
}

TEST(HarmonicCloud, PolynomialSinesStayWithin1e5OfStdSin) {
    // Ten seconds of a rich tone that glides and stops: the cheap oscillator sines against std::sin, in
    // step (offline) so that both clouds latch the same analyses.
    const int n = 10 * 48000;
    std::vector<float> x(static_cast<size_t>(n), 0.0f);
    double phase = 0.0;
    for (int i = 0; i < 8 * 48000; ++i) {
        phase += 2.0 * std::numbers::pi * (110.0 + 40.0 * i / 48000.0) / 48000.0;
        double v = 0.0;
        for (int k = 1; k <= 8; ++k) v += 0.4 / k * std::sin(k * phase);
        x[static_cast<size_t>(i)] = static_cast<float>(v);
    }
    HarmonicCloud fast, exact;
    HarmonicCloudTestAccess::useExactSines(exact);
    for (HarmonicCloud* c : {&fast, &exact}) {
        c->setOfflineMode(true);
        c->setCharacter(1.0f);
        c->prepare(48000);
    }
    const std::vector<float> a = run(fast, x);
    const std::vector<float> b = run(exact, x);
    float worst = 0.0f;
    for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::fabs(a[i] - b[i]));
    EXPECT_LT(worst, 1e-5f);
    EXPECT_GT(rms(b.data(), n), 0.05f);
}

TEST(HarmonicCloud, NonFiniteInputDoesNotPoisonTheAnalysisOrOutput) {
    HarmonicCloud c;
    c.setOfflineMode(true);
    c.prepare(44100);
    run(c, sine(44100, 220, 22050));
    std::vector<float> bad = sine(44100, 220, 2048);
    for (size_t i = 0; i < bad.size(); i += 7) bad[i] = std::numeric_limits<float>::quiet_NaN();
    bad[100] = std::numeric_limits<float>::infinity();
    bad[200] = -std::numeric_limits<float>::infinity();
    std::vector<float> out = run(c, bad);
    for (float v : out) ASSERT_TRUE(std::isfinite(v));
    out = run(c, sine(44100, 220, 22050));
    for (float v : out) ASSERT_TRUE(std::isfinite(v));
    EXPECT_NEAR(c.currentF0Hz(), 220.0f, 1.0f);
    EXPECT_GT(rms(out.data() + out.size() - 4096, 4096), 0.05f);
}

// Feeds a tone block by block, giving the worker a moment between blocks, until the published pitch
// reaches the target or the tries run out.
bool followUntil(HarmonicCloud& c, double rate, double hz, float target, float tolerance) {
    std::vector<float> in(512), out(512);
    double phase = 0.0;
    const double step = 2.0 * std::numbers::pi * hz / rate;
    for (int block = 0; block < 10000; ++block) {
        for (float& v : in) {
            v = 0.5f * static_cast<float>(std::sin(phase));
            phase = std::fmod(phase + step, 2.0 * std::numbers::pi);
        }
        c.process(in.data(), out.data(), 512);
        if (std::fabs(c.currentF0Hz() - target) < tolerance) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

TEST(HarmonicCloud, WorkerFollowsToneAndRestartsOnReprepareAtNewRate) {
    HarmonicCloud c;
    c.prepare(44100);
    ASSERT_TRUE(followUntil(c, 44100, 220, 220.0f, 1.0f));

    // A new rate: the estimates start over from 100 Hz and the worker re-prepares its tracker, so a
    // 330 Hz tone at 48 kHz is found at 330 Hz (a tracker left at 44.1 kHz would report 303 Hz).
    c.prepare(48000);
    EXPECT_EQ(c.currentF0Hz(), 100.0f);
    ASSERT_TRUE(followUntil(c, 48000, 330, 330.0f, 1.0f));

    // reset() alone also restarts the estimates.
    c.reset();
    EXPECT_EQ(c.currentF0Hz(), 100.0f);
    ASSERT_TRUE(followUntil(c, 48000, 196, 196.0f, 1.0f));
}

TEST(HarmonicCloud, ProcessAllocatesNothingInEitherMode) {
    for (bool offline : {false, true}) {
        HarmonicCloud c;
        c.setOfflineMode(offline);
        c.prepare(48000);
        const std::vector<float> x = sine(48000, 220, 48000);
        std::vector<float> out(x.size());
        const size_t allocations = test::allocationsDuring([&] {
            for (size_t i = 0; i < x.size(); i += 480) c.process(x.data() + i, out.data() + i, 480);
            c.reset();
            c.setCharacter(0.3f);
        });
        EXPECT_EQ(allocations, 0u) << (offline ? "offline" : "real time");
    }
}

TEST(HarmonicCloud, EngineInOfflineModeFollowsThePitchIntoTheWashRootBitExactly) {
    // Through the whole engine: the cloud's pitch drives the wash root, and with the offline switch two
    // engines fed alike give the same output bit for bit (every other component is deterministic too).
    const int block = 480, blocks = 300; // 3 s at 48 kHz
    std::vector<float> left(block * blocks), right(left.size()), peers(left.size());
    for (size_t i = 0; i < left.size(); ++i) {
        const double t = i / 48000.0;
        left[i] = static_cast<float>(0.4 * std::sin(2.0 * std::numbers::pi * 220.0 * t));
        right[i] = left[i];
        if (i % 12000 < 32) left[i] += 0.5f; // transients for the echo
        peers[i] = static_cast<float>(0.2 * std::sin(2.0 * std::numbers::pi * 330.0 * t));
    }
    auto render = [&](PhantomEngine& e) {
        e.setOfflineMode(true);
        e.prepare(48000, block);
        e.reset();
        e.setXY(0.0f, 0.0f);
        e.setDryWet(1.0f);
        e.setBpm(120.0f);
        std::vector<float> outL(left.size()), outR(left.size());
        for (int b = 0; b < blocks; ++b) {
            const size_t o = static_cast<size_t>(b) * block;
            e.processBlock(left.data() + o, right.data() + o, peers.data() + o, outL.data() + o,
                           outR.data() + o, block);
        }
        outL.insert(outL.end(), outR.begin(), outR.end());
        return outL;
    };
    PhantomEngine a, b;
    const std::vector<float> outA = render(a);
    const std::vector<float> outB = render(b);
    EXPECT_EQ(std::memcmp(outA.data(), outB.data(), outA.size() * sizeof(float)), 0);
    EXPECT_NEAR(a.harmonicF0Hz(), 220.0f, 1.0f);
    EXPECT_GT(a.washRootHz(), 160.0f); // from 130 Hz toward 220 Hz with a 3 s time constant
    EXPECT_LT(a.washRootHz(), 220.0f);
    EXPECT_GT(a.harmonicMeter(), 0.01f);
    EXPECT_GT(a.rhythmicMeter(), 0.0f);
}

} // namespace
} // namespace nx
