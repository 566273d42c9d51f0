// Post-mix shaper: ring sizes, hysteresis, the filter chain, saturation, darkness, predelay, ducking,
// stereo width, non-finite input and allocation-free processing.
// This file also holds the dsp_tests executable's operator new/delete replacements (AllocationCounter.h).
#include "dsp/PostMixShaper.h"
#include "tests/dsp/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

// ---- Allocation counting for the whole executable -------------------------------------------------
namespace {
thread_local std::size_t tAllocations = 0;

void* countedAlloc(std::size_t size, std::size_t align) {
    ++tAllocations;
    if (size == 0) size = 1;
    void* p = align > alignof(std::max_align_t)
                  ? std::aligned_alloc(align, (size + align - 1) / align * align)
                  : std::malloc(size);
    if (!p) throw std::bad_alloc();
    return p;
}
} // namespace

namespace nx::test {
std::size_t threadAllocationCount() noexcept {
    return tAllocations;
}
} // namespace nx::test

void* operator new(std::size_t n) {
    return countedAlloc(n, 0);
}
void* operator new[](std::size_t n) {
    return countedAlloc(n, 0);
}
void* operator new(std::size_t n, std::align_val_t a) {
    return countedAlloc(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a) {
    return countedAlloc(n, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}

// ---- Shaper tests ----------------------------------------------------------------------------------
namespace {

using nx::AnchorParams;
using nx::PostMixShaper;

constexpr double kPi = 3.14159265358979323846;

// Everything off: the widest filters, no saturation, darkness, ducking, width or predelay.
AnchorParams neutral() {
    AnchorParams a{};
    a.hpHz = 20.0f;
    a.lpHz = 30000.0f;
    a.stereoWidth = 0.0f;
    return a;
}

std::vector<float> noise(int n, uint32_t seed, float amplitude = 0.5f) {
    nx::Xorshift32 rng(seed);
    std::vector<float> v(n);
    for (auto& s : v) s = amplitude * static_cast<float>(static_cast<int32_t>(rng.next()) / 2147483648.0);
    return v;
}

std::vector<float> sine(int n, double hz, double sr, float amplitude) {
    std::vector<float> v(n);
    for (int i = 0; i < n; ++i) v[i] = amplitude * static_cast<float>(std::sin(2.0 * kPi * hz * i / sr));
    return v;
}

struct Stereo {
    std::vector<float> l, r;
};

// Runs the whole signal through the shaper in blocks; dry defaults to silence.
Stereo run(PostMixShaper& s, const std::vector<float>& in, const std::vector<float>* dry = nullptr,
           int block = 256) {
    Stereo out{std::vector<float>(in.size()), std::vector<float>(in.size())};
    const std::vector<float> silence(in.size(), 0.0f);
    const float* key = dry ? dry->data() : silence.data();
    for (size_t pos = 0; pos < in.size(); pos += block) {
        const int n = static_cast<int>(std::min<size_t>(block, in.size() - pos));
        s.process(in.data() + pos, key + pos, out.l.data() + pos, out.r.data() + pos, n);
    }
    return out;
}

double rms(const std::vector<float>& v, size_t from, size_t to) {
    double acc = 0.0;
    for (size_t i = from; i < to; ++i) acc += double(v[i]) * v[i];
    return std::sqrt(acc / double(to - from));
}

double gainDb(const std::vector<float>& out, const std::vector<float>& in, size_t from) {
    return 20.0 * std::log10(rms(out, from, out.size()) / rms(in, from, in.size()));
}

void prepared(PostMixShaper& s, double sr, const AnchorParams& a) {
    s.prepare(sr, 512);
    s.setAnchorParams(a);
}

TEST(PostMixShaper, PrepareSizesRingsForTheRate) {
    struct Case {
        double rate, expectedRate;
        size_t predelay, haas;
    } cases[] = {
        {44100.0, 44100.0, 32768, 512}, {48000.0, 48000.0, 32768, 512}, {96000.0, 96000.0, 65536, 1024},
        {0.0, 44100.0, 32768, 512},     {-1.0, 44100.0, 32768, 512},    {1000.0, 1000.0, 1024, 64},
    };
    {
        PostMixShaper unprepared; // no rings yet: silence, not a fault
        std::vector<float> in(64, 0.5f), l(64, 1.0f), r(64, 1.0f);
        unprepared.process(in.data(), in.data(), l.data(), r.data(), 64);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(l[i] + r[i], 0.0f) << i;
    }
    for (const auto& c : cases) {
        PostMixShaper s;
        s.prepare(c.rate, 512);
        EXPECT_EQ(s.sampleRate(), c.expectedRate) << c.rate;
        EXPECT_EQ(s.predelayRingSize(), c.predelay) << c.rate;
        EXPECT_EQ(s.haasRingSize(), c.haas) << c.rate;
    }
}

TEST(PostMixShaper, SettingsChangeOnlyPastTheirThresholds) {
    struct Case {
        const char* name;
        float AnchorParams::*field;
        float from, to;
        bool rebuilds;
    } cases[] = {
        {"hp +0.4 Hz", &AnchorParams::hpHz, 100.0f, 100.4f, false},
        {"hp +0.6 Hz", &AnchorParams::hpHz, 100.0f, 100.6f, true},
        {"lp -0.4 Hz", &AnchorParams::lpHz, 5000.0f, 4999.6f, false},
        {"lp -0.6 Hz", &AnchorParams::lpHz, 5000.0f, 4999.4f, true},
        {"predelay +0.4 ms", &AnchorParams::predelayMs, 10.0f, 10.4f, false},
        {"predelay +0.6 ms", &AnchorParams::predelayMs, 10.0f, 10.6f, true},
        {"saturation +0.0005", &AnchorParams::saturation, 0.5f, 0.5005f, false},
        {"saturation +0.002", &AnchorParams::saturation, 0.5f, 0.502f, true},
        {"darkness +0.002", &AnchorParams::darkness, 0.5f, 0.502f, true},
        {"ducking +0.0005", &AnchorParams::ducking, 0.5f, 0.5005f, false},
        {"width +0.002", &AnchorParams::stereoWidth, 1.0f, 1.002f, true},
        {"hp NaN", &AnchorParams::hpHz, 100.0f, std::numeric_limits<float>::quiet_NaN(), false},
    };
    for (const auto& c : cases) {
        PostMixShaper s;
        AnchorParams a = neutral();
        a.*c.field = c.from;
        prepared(s, 44100.0, a);
        s.process(nullptr, nullptr, nullptr, nullptr, 0); // rebuilds
        ASSERT_FALSE(s.dirty()) << c.name;
        const nx::Biquad hpBefore = s.highPass();

        a.*c.field = c.to;
        s.setAnchorParams(a);
        EXPECT_EQ(s.dirty(), c.rebuilds) << c.name;
        AnchorParams stored{};
        stored.hpHz = s.hpHz();
        stored.lpHz = s.lpHz();
        stored.saturation = s.saturation();
        stored.darkness = s.darkness();
        stored.ducking = s.ducking();
        stored.stereoWidth = s.stereoWidth();
        stored.predelayMs = s.predelayMs();
        EXPECT_EQ(stored.*c.field, c.rebuilds ? c.to : c.from) << c.name;
        if (c.field == &AnchorParams::hpHz) {
            s.rebuildIfDirty();
            EXPECT_EQ(s.highPass().b0 != hpBefore.b0, c.rebuilds) << c.name;
        }
    }
}

// RBJ design written out independently of the code under test.
nx::Biquad rbj(bool highPass, double f0, double sr) {
    const double w = 2.0 * kPi * f0 / sr, c = std::cos(w), alpha = std::sin(w) / 1.41421356;
    nx::Biquad b;
    if (highPass)
        b.set((1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + alpha, -2 * c, 1 - alpha);
    else
        b.set((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha);
    return b;
}

TEST(PostMixShaper, WhisperAnchorIsOnlyTheHighAndLowPass) {
    const double sr = 44100.0;
    AnchorParams whisper = neutral();
    whisper.hpHz = 300.0f;
    whisper.lpHz = 12000.0f;
    const auto in = noise(8192, 7);

    nx::Biquad hp = rbj(true, 300.0, sr), lp = rbj(false, 12000.0, sr);
    std::vector<float> expected(in.size());
    for (size_t i = 0; i < in.size(); ++i) expected[i] = lp.process(hp.process(in[i]));

    for (float width : {0.0f, 0.8f}) {
        whisper.stereoWidth = width;
        PostMixShaper s;
        prepared(s, sr, whisper);
        const Stereo out = run(s, in);
        for (size_t i = 0; i < in.size(); ++i) {
            const float mid = 0.5f * (out.l[i] + out.r[i]);
            ASSERT_NEAR(mid, expected[i], 2e-6f) << "width " << width << " sample " << i;
            if (width == 0.0f) {
                ASSERT_EQ(out.l[i], out.r[i]) << i;
            }
        }
    }
}

TEST(PostMixShaper, SaturationGainsAndBypass) {
    struct Case {
        float saturation, drive, makeup;
    } cases[] = {{0.0f, 1.0f, 1.0819767f}, {1.0f, 5.0f, 0.50678366f}, {3.0f, 5.0f, 0.50678366f}};
    for (const auto& c : cases) {
        PostMixShaper s;
        AnchorParams a = neutral();
        a.saturation = c.saturation;
        prepared(s, 44100.0, a);
        s.rebuildIfDirty();
        EXPECT_FLOAT_EQ(s.drive(), c.drive) << c.saturation;
        EXPECT_NEAR(s.makeup(), c.makeup, 1e-7f) << c.saturation;
    }

    // 0.001 and below skip the stage bit-exactly (reach 0.001 from far away to pass the hysteresis).
    const auto in = sine(4096, 220.0, 44100.0, 0.8f);
    PostMixShaper off, tiny;
    prepared(off, 44100.0, neutral());
    AnchorParams a = neutral();
    a.saturation = 0.5f;
    prepared(tiny, 44100.0, a);
    a.saturation = 0.001f;
    tiny.setAnchorParams(a);
    ASSERT_EQ(tiny.saturation(), 0.001f);
    EXPECT_EQ(run(tiny, in).l, run(off, in).l);
}

TEST(PostMixShaper, SaturationIsAsymmetric) {
    // tanh(1.1 u) for the positive half, tanh(0.92 u) for the negative: the positive peaks come out higher.
    PostMixShaper s;
    AnchorParams a = neutral();
    a.saturation = 1.0f;
    prepared(s, 44100.0, a);
    const auto in = sine(44100, 100.0, 44100.0, 0.1f);
    const Stereo out = run(s, in);
    const auto [lo, hi] = std::minmax_element(out.l.begin() + 4410, out.l.end());
    EXPECT_GT(*hi / -*lo, 1.1f);
    EXPECT_LT(*hi / -*lo, 1.3f);
}

TEST(PostMixShaper, DarknessCutsAbove2kHz) {
    struct Case {
        float darkness;
        double hz, expectedDb, tolDb;
    } cases[] = {
        {1.0f, 16000.0, -12.0, 0.3}, {1.0f, 100.0, 0.0, 0.05},    {0.5f, 16000.0, -6.0, 0.3},
        {0.0f, 16000.0, 0.0, 0.05},  {-0.5f, 16000.0, 0.0, 0.05},
    };
    const double sr = 44100.0;
    for (const auto& c : cases) {
        const auto in = sine(22050, c.hz, sr, 0.25f);
        PostMixShaper flat, dark;
        prepared(flat, sr, neutral());
        AnchorParams a = neutral();
        a.darkness = c.darkness;
        prepared(dark, sr, a);
        const double db = gainDb(run(dark, in).l, run(flat, in).l, 4410);
        EXPECT_NEAR(db, c.expectedDb, c.tolDb) << c.darkness << " at " << c.hz;
    }
}

TEST(PostMixShaper, PredelayDelaysTheInput) {
    struct Case {
        double sr;
        float ms;
        bool settleAtZeroFirst; // run at 0 ms, then change and reset: the block after reset starts settled
        size_t firstNonZero;
    } cases[] = {
        {48000.0, 100.0f, false, 4799},
        {48000.0, 100.0f, true, 4799},
        {44100.0, 10.5f, false, 462},
        {44100.0, 0.0f, false, 0},
        {44100.0, -50.0f, false, 0},
        {44100.0, 1.0e6f, false, 32766}, // beyond the ring: the longest delay it holds, never wrapped audio
    };
    for (const auto& c : cases) {
        PostMixShaper s;
        AnchorParams a = neutral();
        if (!c.settleAtZeroFirst) a.predelayMs = c.ms;
        prepared(s, c.sr, a);
        if (c.settleAtZeroFirst) {
            run(s, noise(4096, 3));
            a.predelayMs = c.ms;
            s.setAnchorParams(a);
            s.reset();
        }
        std::vector<float> impulse(40000, 0.0f);
        impulse[0] = 1.0f;
        const Stereo out = run(s, impulse, nullptr, 512);
        const auto it = std::find_if(out.l.begin(), out.l.end(), [](float v) { return v != 0.0f; });
        EXPECT_EQ(static_cast<size_t>(it - out.l.begin()), c.firstNonZero)
            << c.sr << " Hz, " << c.ms << " ms";
    }
}

TEST(PostMixShaper, DuckingFollowsTheDryKey) {
    struct Case {
        float ducking;
        double expectedGain, tol;
    } cases[] = {{1.0f, 0.0, 0.01}, {0.5f, 0.5, 0.01}, {0.0f, 1.0, 0.0}};
    const double sr = 44100.0;
    const int n = 3 * 44100;
    const auto in = sine(n, 1000.0, sr, 0.5f);
    std::vector<float> key(n);
    for (int i = 0; i < n; ++i) key[i] = (i % 2) ? 0.5f : -0.5f; // constant magnitude
    PostMixShaper plain;
    prepared(plain, sr, neutral());
    const Stereo ref = run(plain, in);
    for (const auto& c : cases) {
        PostMixShaper s;
        AnchorParams a = neutral();
        a.ducking = c.ducking;
        prepared(s, sr, a);
        const Stereo out = run(s, in, &key);
        const double gain = rms(out.l, n - 4410, n) / rms(ref.l, n - 4410, n);
        EXPECT_NEAR(gain, c.expectedGain, c.tol) << c.ducking;

        PostMixShaper keyless; // no key at all: nothing to duck against
        prepared(keyless, sr, a);
        Stereo free{std::vector<float>(n), std::vector<float>(n)};
        keyless.process(in.data(), nullptr, free.l.data(), free.r.data(), n);
        EXPECT_EQ(free.l, ref.l) << c.ducking;
    }
}

TEST(PostMixShaper, DuckingOffFreezesTheEnvelopeAndResumesFromIt) {
    const double sr = 44100.0;
    PostMixShaper s;
    AnchorParams a = neutral();
    a.ducking = 0.5f;
    prepared(s, sr, a);
    const std::vector<float> in(4410, 0.1f);
    const std::vector<float> key(4410, 0.3f), louder(4410, 0.9f);
    run(s, in, &key);
    const float env = s.envelope(), peak = s.peak();
    ASSERT_GT(env, 0.1f);

    a.ducking = 0.0f;
    s.setAnchorParams(a);
    run(s, in, &louder);
    EXPECT_EQ(s.envelope(), env);
    EXPECT_EQ(s.peak(), peak);

    a.ducking = 0.5f;
    s.setAnchorParams(a);
    const std::vector<float> one{0.1f};
    const std::vector<float> oneKey{0.9f};
    float l, r;
    s.process(one.data(), oneKey.data(), &l, &r, 1);
    const float coef = static_cast<float>(1.0 - std::exp(-1.0 / (sr * 0.05)));
    EXPECT_NEAR(s.envelope(), env + (0.9f - env) * coef, 1e-6f);
}

double correlation(const Stereo& s, size_t from) {
    double lr = 0, ll = 0, rr = 0;
    for (size_t i = from; i < s.l.size(); ++i) {
        lr += double(s.l[i]) * s.r[i];
        ll += double(s.l[i]) * s.l[i];
        rr += double(s.r[i]) * s.r[i];
    }
    return lr / std::sqrt(ll * rr);
}

TEST(PostMixShaper, StereoWidthIsMonoCompatibleAndDecorrelates) {
    const double sr = 44100.0;
    // Band-limited noise, as most program material carries little energy above the Haas copy's 9 kHz.
    auto in = noise(44100, 11);
    nx::Biquad band = rbj(false, 4000.0, sr);
    for (auto& v : in) v = band.process(v);

    PostMixShaper monoShaper;
    prepared(monoShaper, sr, neutral());
    const Stereo mono = run(monoShaper, in);

    double previous = 2.0;
    for (float width : {0.0f, 0.25f, 0.5f, 1.0f, 1.5f, 2.0f}) {
        PostMixShaper s;
        AnchorParams a = neutral();
        a.stereoWidth = width;
        prepared(s, sr, a);
        const Stereo out = run(s, in);
        for (size_t i = 0; i < in.size(); ++i) {
            ASSERT_NEAR(out.l[i] + out.r[i], 2.0f * mono.l[i], 1e-6f) << "width " << width << " sample " << i;
            if (width == 0.0f) {
                ASSERT_EQ(out.l[i], out.r[i]) << i;
            }
        }
        const double corr = correlation(out, 2048);
        EXPECT_LT(corr, previous) << "width " << width;
        previous = corr;
        if (width == 0.0f) {
            EXPECT_DOUBLE_EQ(corr, 1.0);
        }
        if (width == 2.0f) {
            EXPECT_LT(corr, 0.15);
        }
    }
}

TEST(PostMixShaper, NonFiniteInputDoesNotPoisonTheState) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    AnchorParams a = neutral();
    a.saturation = 0.6f;
    a.ducking = 0.7f;
    a.darkness = 0.4f;
    a.stereoWidth = 1.5f;
    a.predelayMs = 20.0f;
    const auto in = noise(44100, 5), key = noise(44100, 6);

    auto withBadBlock = [&](bool bad) {
        std::vector<float> x = in, k = key;
        for (int i = 1024; i < 1280; ++i) {
            x[i] = bad ? (i % 3 == 0 ? nan : (i % 3 == 1 ? inf : -inf)) : 0.0f;
            k[i] = bad ? (i % 2 ? nan : -inf) : 0.0f;
        }
        PostMixShaper s;
        prepared(s, 44100.0, a);
        return run(s, x, &k);
    };
    const Stereo bad = withBadBlock(true), clean = withBadBlock(false);
    EXPECT_EQ(bad.l, clean.l);
    EXPECT_EQ(bad.r, clean.r);
}

TEST(PostMixShaper, OverflowingInputDropsTheBlockAndRecovers) {
    AnchorParams a = neutral();
    a.hpHz = 100.0f;
    a.ducking = 0.5f;
    a.stereoWidth = 1.0f;
    PostMixShaper s, fresh;
    prepared(s, 44100.0, a);
    prepared(fresh, 44100.0, a);
    const std::vector<float> huge(256, 3.0e38f);
    run(s, huge, &huge);
    const auto in = noise(8192, 9);
    const Stereo after = run(s, in, &in), expected = run(fresh, in, &in);
    EXPECT_EQ(after.l, expected.l);
    EXPECT_EQ(after.r, expected.r);
    EXPECT_GT(rms(after.l, 0, after.l.size()), 0.01);
}

TEST(PostMixShaper, ProcessDoesNotAllocate) {
    PostMixShaper s;
    s.prepare(48000.0, 512);
    const auto in = noise(512, 1);
    std::vector<float> l(512), r(512);
    const size_t allocations = nx::test::allocationsDuring([&] {
        for (int i = 0; i < 64; ++i) {
            AnchorParams a = neutral();
            a.hpHz = 50.0f + i;
            a.saturation = (i & 1) ? 0.7f : 0.0f;
            a.ducking = (i & 2) ? 0.6f : 0.0f;
            a.stereoWidth = 0.03f * i;
            a.predelayMs = 2.0f * i;
            a.darkness = 0.01f * i;
            s.setAnchorParams(a);
            s.process(in.data(), in.data(), l.data(), r.data(), 512);
            if (i == 32) s.reset();
        }
    });
    EXPECT_EQ(allocations, 0u);
    // The counter itself works.
    EXPECT_GE(nx::test::allocationsDuring([] {
                  std::vector<float> v(16);
                  asm volatile("" : : "g"(v.data()) : "memory"); // keep the allocation
              }),
              1u);
}

} // namespace
