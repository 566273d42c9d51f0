// The phantom layer through the whole engine: the wash and the shaper sound, the width reaches the
// outputs, the user high/low-pass shapes the layer, and a block of NaN and infinities leaves no trace.
#include "dsp/PhantomEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace {

using nx::PhantomEngine;

constexpr double kRate = 44100.0;
constexpr int kBlock = 256;
constexpr double kPi = 3.14159265358979323846;

struct Signal {
    std::vector<float> l, r, peer;
};

// A plucked-string-like test signal: decaying harmonic tones every half second, plus noise on the peer.
Signal program(int n) {
    Signal s{std::vector<float>(n), std::vector<float>(n), std::vector<float>(n)};
    uint32_t x = 99;
    for (int i = 0; i < n; ++i) {
        const double t = (i % 22050) / kRate;
        const double env = std::exp(-4.0 * t);
        const double tone =
            std::sin(2 * kPi * 196.0 * i / kRate) + 0.4 * std::sin(2 * kPi * 392.0 * i / kRate);
        s.l[i] = static_cast<float>(0.4 * env * tone);
        s.r[i] = static_cast<float>(0.35 * env * tone);
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        s.peer[i] = 0.05f * static_cast<float>(static_cast<int32_t>(x) / 2147483648.0);
    }
    return s;
}

struct Layer {
    std::vector<float> l, r; // output minus dry input
};

Layer run(PhantomEngine& e, const Signal& in) {
    const int n = static_cast<int>(in.l.size());
    std::vector<float> outL(n), outR(n);
    for (int pos = 0; pos < n; pos += kBlock) {
        const int m = std::min(kBlock, n - pos);
        e.processBlock(in.l.data() + pos, in.r.data() + pos, in.peer.data() + pos, outL.data() + pos,
                       outR.data() + pos, m);
    }
    Layer layer{std::vector<float>(n), std::vector<float>(n)};
    for (int i = 0; i < n; ++i) {
        layer.l[i] = outL[i] - in.l[i];
        layer.r[i] = outR[i] - in.r[i];
    }
    return layer;
}

void setUp(PhantomEngine& e, float x, float y) {
    e.setOfflineMode(true); // the pitch analysis runs in step with the audio: reproducible output
    e.prepare(kRate, kBlock);
    e.reset();
    e.setXY(x, y);
    e.setDryWet(1.0f);
}

double rms(const std::vector<float>& v, size_t from, size_t to) {
    double acc = 0;
    for (size_t i = from; i < to; ++i) acc += double(v[i]) * v[i];
    return std::sqrt(acc / double(to - from));
}

TEST(PhantomLayer, NonFiniteBlockLeavesNoTrace) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const Signal clean = program(3 * 44100);
    const int badFrom = 40 * kBlock, badTo = 41 * kBlock;
    Signal bad = clean, silent = clean;
    for (int i = badFrom; i < badTo; ++i) {
        const float v[3] = {nan, inf, -inf};
        bad.l[i] = v[i % 3];
        bad.r[i] = v[(i + 1) % 3];
        bad.peer[i] = v[(i + 2) % 3];
        silent.l[i] = silent.r[i] = silent.peer[i] = 0.0f;
    }
    // The Abyss corner: wash, predelay, darkness, ducking and full width all in play.
    PhantomEngine a, b;
    setUp(a, 0.0f, 1.0f);
    setUp(b, 0.0f, 1.0f);
    a.setWow(0.6f);
    b.setWow(0.6f);
    const Layer withBad = run(a, bad), withSilence = run(b, silent);
    ASSERT_GT(rms(withSilence.l, badTo, withSilence.l.size()), 1e-3); // there is a layer to compare
    for (size_t i = badTo; i < withBad.l.size(); ++i) {
        ASSERT_TRUE(std::isfinite(withBad.l[i]) && std::isfinite(withBad.r[i])) << i;
        ASSERT_EQ(withBad.l[i], withSilence.l[i]) << i;
        ASSERT_EQ(withBad.r[i], withSilence.r[i]) << i;
    }
}

TEST(PhantomLayer, WidthOverrideReachesTheOutputs) {
    const Signal in = program(44100);
    for (float width : {0.0f, 2.0f}) {
        PhantomEngine e;
        setUp(e, 0.0f, 1.0f);
        e.setAdvancedOverrides(1u << 4, 0.5f, 0.0f, 0.0f, 0.0f, width, 0.0f, 5000.0f, 0.0f, 5.0f);
        const Layer layer = run(e, in);
        double diff = 0;
        for (size_t i = 11025; i < layer.l.size(); ++i)
            diff = std::max<double>(diff, std::fabs(layer.l[i] - layer.r[i]));
        if (width == 0.0f) {
            EXPECT_LT(diff, 1e-6) << "width 0 gives identical channels (up to the dry sum's rounding)";
        } else {
            EXPECT_GT(diff, 0.1 * rms(layer.l, 11025, 44100)) << "width 2 gives distinct channels";
        }
    }
}

TEST(PhantomLayer, UserLowPassAndHighPassShapeTheLayer) {
    const Signal in = program(44100);
    // Band energies of the layer below 250 Hz and above 4 kHz, through fourth-order splits.
    auto bands = [](const std::vector<float>& v) {
        nx::Biquad lo1, lo2, hi1, hi2;
        nx::designLowPass(lo1, 250.0, kRate, 0.7071);
        nx::designLowPass(lo2, 250.0, kRate, 0.7071);
        nx::designHighPass(hi1, 4000.0, kRate, 0.7071);
        nx::designHighPass(hi2, 4000.0, kRate, 0.7071);
        double lo = 0, hi = 0;
        for (size_t i = 0; i < v.size(); ++i) {
            const double l = lo2.process(lo1.process(v[i])), h = hi2.process(hi1.process(v[i]));
            if (i >= 11025) lo += l * l, hi += h * h;
        }
        return std::pair<double, double>{lo, hi};
    };
    struct Case {
        float hp, lp;
    } cases[] = {{20.0f, 20000.0f}, {20.0f, 1000.0f}, {1000.0f, 20000.0f}};
    std::pair<double, double> open;
    for (const auto& c : cases) {
        PhantomEngine e;
        setUp(e, 1.0f, 1.0f); // Monolith: the widest post-mix band of the four corners
        e.setUserHpHz(c.hp);
        e.setUserLpHz(c.lp);
        const auto [lo, hi] = bands(run(e, in).l);
        if (c.hp == 20.0f && c.lp == 20000.0f) {
            open = {lo, hi};
            ASSERT_GT(hi, 0.0);
            ASSERT_GT(lo, 0.0);
        } else if (c.lp < 20000.0f) {
            EXPECT_LT(hi, 0.1 * open.second) << "low-pass at " << c.lp;
        } else {
            EXPECT_LT(lo, 0.1 * open.first) << "high-pass at " << c.hp;
        }
    }
}

} // namespace
