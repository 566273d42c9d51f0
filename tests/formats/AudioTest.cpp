// Audio through the built deliverables: bypass (the plug-in's parameter and the VST3 host bypass), SEND
// pass-through, RECV at dry/wet 0, mono and in-place buffers, host blocks longer than prepared, non-finite
// input, and an audio thread that neither allocates nor locks.
#include "tests/formats/FormatTestSupport.h"

#include "host/Vst3Host.h"
#include "tests/formats/HookCounters.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

namespace nx::test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct AudioCase {
    Format format;
    bool doublePrecision;
};

std::string audioCaseName(const ::testing::TestParamInfo<AudioCase>& info) {
    return std::string(formatName(info.param.format)) + (info.param.doublePrecision ? "_f64" : "_f32");
}

class Audio : public ::testing::TestWithParam<AudioCase> {
protected:
    void SetUp() override {
        h = openInstance(GetParam().format);
        ASSERT_TRUE(h);
    }
    void set(int pluginParamId, double v) {
        const int i = indexOfParam(*h, uint32_t(pluginParamId));
        ASSERT_GE(i, 0);
        ASSERT_TRUE(h->setParam(i, v));
    }
    bool activate(int maxBlock = 512, int channels = 2) {
        host::ProcessSetup s;
        s.maxBlock = maxBlock;
        s.channels = channels;
        s.doublePrecision = GetParam().doublePrecision;
        return h->activate(s);
    }
    // Runs n frames of in (per channel) through the plug-in in the precision of the case; the output
    // starts as NaN so that untouched samples show.
    std::vector<std::vector<double>> run(const std::vector<std::vector<double>>& in, int n) {
        const size_t ch = in.size();
        std::vector<std::vector<double>> out(ch, std::vector<double>(size_t(n), kNaN));
        if (GetParam().doublePrecision) {
            const double* ip[2] = {in[0].data(), in[ch - 1].data()};
            double* op[2] = {out[0].data(), out[ch - 1].data()};
            EXPECT_TRUE(h->process(ip, op, n));
        } else {
            std::vector<std::vector<float>> fi(ch), fo(ch, std::vector<float>(size_t(n), float(kNaN)));
            for (size_t c = 0; c < ch; ++c) fi[c].assign(in[c].begin(), in[c].begin() + n);
            const float* ip[2] = {fi[0].data(), fi[ch - 1].data()};
            float* op[2] = {fo[0].data(), fo[ch - 1].data()};
            EXPECT_TRUE(h->process(ip, op, n));
            for (size_t c = 0; c < ch; ++c)
                for (int k = 0; k < n; ++k) out[c][size_t(k)] = fo[c][size_t(k)];
        }
        return out;
    }
    // What an exact pass-through gives in the case's precision.
    double passed(double x) const { return GetParam().doublePrecision ? x : double(float(x)); }

    std::unique_ptr<host::PluginHost> h;
};

// Expects out == expected(in) sample for sample, bit for bit; reports the first mismatch.
template <typename F>
void expectEach(const std::vector<std::vector<double>>& in, const std::vector<std::vector<double>>& out,
                F expected) {
    for (size_t c = 0; c < in.size(); ++c)
        for (size_t k = 0; k < out[c].size(); ++k) {
            const double want = expected(in[c][k]);
            if (std::memcmp(&want, &out[c][k], sizeof(double)) != 0) {
                ADD_FAILURE() << "channel " << c << " sample " << k << ": got " << out[c][k] << ", want "
                              << want;
                return;
            }
        }
}

TEST_P(Audio, BypassParameterCopiesInputBitForBit) {
    set(12, 1);
    ASSERT_TRUE(activate());
    for (int block = 0; block < 4; ++block) {
        const std::vector<std::vector<double>> in = {noise(512, 11 + block), noise(512, 97 + block)};
        expectEach(in, run(in, 512), [&](double x) { return passed(x); });
    }
}

TEST_P(Audio, SendModePassesInputRoundedToFloat) {
    set(9, 1);
    ASSERT_TRUE(activate());
    for (int block = 0; block < 4; ++block) {
        const std::vector<std::vector<double>> in = {noise(512, 5 + block), noise(512, 77 + block)};
        expectEach(in, run(in, 512), [](double x) { return double(float(x)); });
    }
}

TEST_P(Audio, RecvAtDryWetZeroEqualsInput) {
    set(6, 0);
    ASSERT_TRUE(activate());
    for (int block = 0; block < 8; ++block) {
        const std::vector<std::vector<double>> in = {noise(512, 3 + block), noise(512, 33 + block)};
        expectEach(in, run(in, 512), [](double x) { return double(float(x)); });
    }
}

TEST_P(Audio, HostBlockLongerThanPreparedIsProcessedWhole) {
    set(9, 1);
    ASSERT_TRUE(activate(256));
    const std::vector<std::vector<double>> in = {noise(1000, 8), noise(1000, 9)};
    expectEach(in, run(in, 1000), [](double x) { return double(float(x)); });
}

TEST_P(Audio, MonoLayoutPassesChannelZero) {
    set(9, 1);
    ASSERT_TRUE(activate(512, 1));
    const std::vector<std::vector<double>> in = {noise(512, 21)};
    expectEach(in, run(in, 512), [](double x) { return double(float(x)); });
}

TEST_P(Audio, RecvOutputStaysFiniteAfterNonFiniteInput) {
    ASSERT_TRUE(activate());
    std::vector<std::vector<double>> bad = {noise(512, 1), noise(512, 2)};
    bad[0][10] = kNaN;
    bad[1][20] = std::numeric_limits<double>::infinity();
    bad[0][30] = -std::numeric_limits<double>::infinity();
    run(bad, 512);
    std::vector<std::vector<double>> last;
    for (int block = 0; block < 200; ++block) {
        const std::vector<std::vector<double>> in = {noise(512, 40 + block, 0.3),
                                                     noise(512, 400 + block, 0.3)};
        last = run(in, 512);
    }
    for (const auto& c : last)
        for (double s : c) ASSERT_TRUE(std::isfinite(s)) << "the engine was poisoned by one non-finite block";
}

TEST_P(Audio, AudioThreadNeitherAllocatesNorLocks) {
    ASSERT_TRUE(activate(512));
    const std::vector<std::vector<double>> in = {noise(512, 12), noise(512, 13)};
    std::vector<double> outL(512), outR(512);
    std::vector<float> finL(in[0].begin(), in[0].end()), finR(in[1].begin(), in[1].end()), foL(512), foR(512);
    const bool dbl = GetParam().doublePrecision;
    HookCounts counts;
    bool ok = true;
    std::thread audio([&] {
        const double* ip[2] = {in[0].data(), in[1].data()};
        double* op[2] = {outL.data(), outR.data()};
        const float* fip[2] = {finL.data(), finR.data()};
        float* fop[2] = {foL.data(), foR.data()};
        auto block = [&](int n) { return dbl ? h->process(ip, op, n) : h->process(fip, fop, n); };
        ok = block(512); // the first block may finish preparation
        beginCounting();
        for (int i = 0; i < 300 && ok; ++i) ok = block(i % 3 == 0 ? 512 : 64 + i % 200);
        counts = endCounting();
    });
    audio.join();
    ASSERT_TRUE(ok);
    EXPECT_EQ(counts.allocations, 0u);
    EXPECT_EQ(counts.locks, 0u);
}

INSTANTIATE_TEST_SUITE_P(Formats, Audio,
                         ::testing::Values(AudioCase{Format::Clap, false}, AudioCase{Format::Clap, true},
                                           AudioCase{Format::Vst3, false}, AudioCase{Format::Vst3, true}),
                         audioCaseName);

// The VST3 host bypass: the framework copies input to output without running the plug-in.
TEST(Vst3HostBypass, CopiesInputBitForBit) {
    auto h = openInstance(Format::Vst3);
    ASSERT_TRUE(h);
    auto* v = static_cast<host::Vst3Host*>(h.get());
    ASSERT_TRUE(v->setHostBypass(true));
    host::ProcessSetup s;
    s.doublePrecision = true;
    ASSERT_TRUE(h->activate(s));
    for (int block = 0; block < 4; ++block) {
        std::vector<double> l = noise(512, 60 + block), r = noise(512, 90 + block), ol(512, kNaN),
                            or_(512, kNaN);
        const double* ip[2] = {l.data(), r.data()};
        double* op[2] = {ol.data(), or_.data()};
        ASSERT_TRUE(h->process(ip, op, 512));
        ASSERT_EQ(0, std::memcmp(l.data(), ol.data(), 512 * sizeof(double)));
        ASSERT_EQ(0, std::memcmp(r.data(), or_.data(), 512 * sizeof(double)));
    }
}

// In place: a host may hand the same buffers as input and output.
TEST(InPlace, SendModeInPlaceBuffersPassThrough) {
    for (Format f : {Format::Clap, Format::Vst3}) {
        SCOPED_TRACE(formatName(f));
        auto h = openInstance(f);
        ASSERT_TRUE(h);
        ASSERT_TRUE(h->setParam(indexOfParam(*h, 9), 1));
        host::ProcessSetup s;
        ASSERT_TRUE(h->activate(s));
        std::vector<float> l(512), r(512);
        const auto nl = noise(512, 70), nr = noise(512, 71);
        for (size_t k = 0; k < 512; ++k) {
            l[k] = float(nl[k]);
            r[k] = float(nr[k]);
        }
        const std::vector<float> l0 = l, r0 = r;
        float* io[2] = {l.data(), r.data()};
        ASSERT_TRUE(h->process(io, io, 512));
        EXPECT_EQ(l, l0);
        EXPECT_EQ(r, r0);
    }
}

} // namespace
} // namespace nx::test
