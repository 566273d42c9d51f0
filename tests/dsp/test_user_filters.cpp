// User high-pass and low-pass on the phantom layer: transparency at the limits, the rebuild rule,
// the responses, a clean restart after bypass, non-finite input and allocation-free processing.
#include "dsp/UserFilters.h"
#include "tests/dsp/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using nx::UserFilters;

constexpr double kPi = 3.14159265358979323846;

std::vector<float> noise(int n, uint32_t seed) {
    nx::Xorshift32 rng(seed);
    std::vector<float> v(n);
    for (auto& s : v) s = 0.5f * static_cast<float>(static_cast<int32_t>(rng.next()) / 2147483648.0);
    return v;
}

std::vector<float> sine(int n, double hz, double sr) {
    std::vector<float> v(n);
    for (int i = 0; i < n; ++i) v[i] = 0.5f * static_cast<float>(std::sin(2.0 * kPi * hz * i / sr));
    return v;
}

double rms(const std::vector<float>& v, size_t from) {
    double acc = 0;
    for (size_t i = from; i < v.size(); ++i) acc += double(v[i]) * v[i];
    return std::sqrt(acc / double(v.size() - from));
}

void run(UserFilters& f, std::vector<float>& l, std::vector<float>& r, int block = 256) {
    for (size_t pos = 0; pos < l.size(); pos += block) {
        const int n = static_cast<int>(std::min<size_t>(block, l.size() - pos));
        f.process(l.data() + pos, r.data() + pos, n);
    }
}

TEST(UserFilters, TransparentAtTheLimits) {
    struct Case {
        float hp, lp;
    } cases[] = {{20.0f, 20000.0f}, {5.0f, 25000.0f}, {-100.0f, std::numeric_limits<float>::infinity()}};
    for (const auto& c : cases) {
        UserFilters f;
        f.prepare(44100.0);
        f.setHpHz(c.hp);
        f.setLpHz(c.lp);
        EXPECT_FALSE(f.hpActive()) << c.hp;
        EXPECT_FALSE(f.lpActive()) << c.lp;
        const auto inL = noise(4096, 1), inR = noise(4096, 2);
        auto l = inL, r = inR;
        run(f, l, r);
        EXPECT_EQ(l, inL) << c.hp << " / " << c.lp;
        EXPECT_EQ(r, inR) << c.hp << " / " << c.lp;
    }
}

TEST(UserFilters, RedesignsOnlyWhenACornerMovesMoreThanHalfAHertz) {
    struct Step {
        bool highPass;
        float hz;
        unsigned rebuilds; // designs after processing this step
        float stored;
    } steps[] = {
        {true, 60.0f, 1, 60.0f}, // the first block designs both filters
        {true, 60.4f, 1, 60.0f}, // ignored
        {true, 60.6f, 2, 60.6f}, // taken
        {false, 9999.6f, 2, 10000.0f},
        {false, 9999.4f, 3, 9999.4f},
        {true, 20.3f, 4, 20.3f}, // a large move
        {true, 20.0f, 5, 20.0f}, // only 0.3 Hz, but it reaches the bypass limit
        {true, 19.0f, 5, 20.0f}, // already bypassed
        {true, std::numeric_limits<float>::quiet_NaN(), 5, 20.0f},
        {false, 19999.8f, 6, 19999.8f},
        {false, 20000.0f, 7, 20000.0f},
    };
    UserFilters f;
    f.prepare(48000.0);
    std::vector<float> l(64, 0.1f), r(64, 0.1f);
    for (const auto& s : steps) {
        if (s.highPass)
            f.setHpHz(s.hz);
        else
            f.setLpHz(s.hz);
        f.process(l.data(), r.data(), 64);
        EXPECT_EQ(f.rebuildCount(), s.rebuilds) << (s.highPass ? "hp " : "lp ") << s.hz;
        EXPECT_EQ(s.highPass ? f.hpHz() : f.lpHz(), s.stored) << (s.highPass ? "hp " : "lp ") << s.hz;
    }
}

TEST(UserFilters, ButterworthResponsesOnBothChannels) {
    struct Case {
        float hp, lp;
        double hz, expectedDb, tolDb;
    } cases[] = {
        {200.0f, 20000.0f, 200.0, -3.01, 0.1}, {200.0f, 20000.0f, 50.0, -24.1, 0.3},
        {200.0f, 20000.0f, 4000.0, 0.0, 0.05}, {20.0f, 1000.0f, 1000.0, -3.01, 0.1},
        {20.0f, 1000.0f, 4000.0, -24.1, 0.4},  {20.0f, 1000.0f, 100.0, 0.0, 0.05},
        {500.0f, 2000.0f, 1000.0, -0.53, 0.1}, {2000.0f, 30000.0f, 2000.0, -3.01, 0.1},
    };
    const double sr = 48000.0;
    for (const auto& c : cases) {
        UserFilters f;
        f.prepare(sr);
        f.setHpHz(c.hp);
        f.setLpHz(c.lp);
        const auto in = sine(48000, c.hz, sr);
        auto l = in, r = in;
        for (auto& v : r) v = -v;
        run(f, l, r);
        const double db = 20.0 * std::log10(rms(l, 24000) / rms(in, 24000));
        EXPECT_NEAR(db, c.expectedDb, c.tolDb) << c.hp << "/" << c.lp << " at " << c.hz;
        for (size_t i = 0; i < l.size(); ++i) ASSERT_EQ(r[i], -l[i]) << i;
    }
}

TEST(UserFilters, LeavingBypassStartsFromCleanState) {
    UserFilters f, fresh;
    f.prepare(44100.0);
    f.setLpHz(20000.0f); // only the high-pass is under test
    f.setHpHz(300.0f);
    auto l = noise(4096, 3), r = noise(4096, 4);
    run(f, l, r); // the high-pass now holds state
    f.setHpHz(20.0f);
    l = noise(1024, 5), r = noise(1024, 6);
    run(f, l, r); // bypassed
    f.setHpHz(300.0f);

    fresh.prepare(44100.0);
    fresh.setLpHz(20000.0f);
    fresh.setHpHz(300.0f);
    auto l1 = noise(2048, 7), r1 = noise(2048, 8);
    auto l2 = l1, r2 = r1;
    run(f, l1, r1);
    run(fresh, l2, r2);
    EXPECT_EQ(l1, l2);
    EXPECT_EQ(r1, r2);
}

TEST(UserFilters, NonFiniteBlockIsSilencedAndFiltersRecover) {
    UserFilters f, fresh;
    f.prepare(44100.0);
    fresh.prepare(44100.0);
    std::vector<float> l(256, 0.2f), r(256, 0.2f);
    l[10] = std::numeric_limits<float>::quiet_NaN();
    r[20] = std::numeric_limits<float>::infinity();
    f.process(l.data(), r.data(), 256);
    for (size_t i = 0; i < l.size(); ++i) {
        ASSERT_EQ(l[i], 0.0f) << i;
        ASSERT_EQ(r[i], 0.0f) << i;
    }
    auto l1 = noise(2048, 9), r1 = noise(2048, 10);
    auto l2 = l1, r2 = r1;
    run(f, l1, r1);
    run(fresh, l2, r2);
    EXPECT_EQ(l1, l2);
    EXPECT_EQ(r1, r2);
}

TEST(UserFilters, ProcessDoesNotAllocate) {
    UserFilters f;
    f.prepare(48000.0);
    auto l = noise(256, 11), r = noise(256, 12);
    const size_t allocations = nx::test::allocationsDuring([&] {
        for (int i = 0; i < 64; ++i) {
            f.setHpHz(15.0f + 10.0f * i);
            f.setLpHz(21000.0f - 200.0f * i);
            f.process(l.data(), r.data(), 256);
        }
    });
    EXPECT_EQ(allocations, 0u);
}

} // namespace
