// Block splitting, sample-size conversion and the bypass copy between host buffers and ProcessBlock.
#include "framework/AudioBridge.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

nx::PluginConfig Config() {
    nx::PluginConfig c;
    c.nParams = 0;
    return c;
}

// Records each call's length and the pointers it was given; writes out = 2 * in (or 7 where no input).
class RecordingPlug : public nx::PluginBase {
public:
    RecordingPlug() : PluginBase(Config()) {}
    void ProcessBlock(double** in, double** out, int n) override {
        pieces.push_back(n);
        inNull[0] += in[0] == nullptr;
        inNull[1] += in[1] == nullptr;
        for (int c = 0; c < 2; ++c) {
            if (!out[c]) continue;
            for (int k = 0; k < n; ++k) out[c][k] = in[c] ? 2.0 * in[c][k] : 7.0;
        }
    }
    std::vector<int> pieces;
    int inNull[2] = {0, 0};
};

template <typename T>
std::vector<T> Ramp(int n, T start) {
    std::vector<T> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = start + static_cast<T>(i) * static_cast<T>(0.25);
    return v;
}

TEST(AudioBridge, LongHostBlocksArriveInPiecesOfAtMostTheMaximum) {
    struct Case {
        int maxBlock, hostFrames;
        std::vector<int> pieces;
    };
    const Case cases[] = {
        {64, 64, {64}}, {64, 65, {64, 1}}, {64, 200, {64, 64, 64, 8}}, {64, 1, {1}}, {64, 0, {}},
    };
    for (const auto& c : cases) {
        for (bool useDouble : {false, true}) {
            RecordingPlug plug;
            plug.SetBlockSize(c.maxBlock);
            nx::AudioBridge bridge;
            bridge.Prepare(c.maxBlock);
            if (useDouble) {
                auto l = Ramp<double>(c.hostFrames, 0.0), r = Ramp<double>(c.hostFrames, 100.0);
                std::vector<double> ol(l.size()), orr(r.size());
                double* in[2] = {l.data(), r.data()};
                double* out[2] = {ol.data(), orr.data()};
                bridge.Process(plug, in, 2, out, 2, c.hostFrames, false);
                for (int k = 0; k < c.hostFrames; ++k) {
                    ASSERT_EQ(ol[k], 2.0 * l[k]);
                    ASSERT_EQ(orr[k], 2.0 * r[k]);
                }
            } else {
                auto l = Ramp<float>(c.hostFrames, 0.f), r = Ramp<float>(c.hostFrames, 100.f);
                std::vector<float> ol(l.size()), orr(r.size());
                float* in[2] = {l.data(), r.data()};
                float* out[2] = {ol.data(), orr.data()};
                bridge.Process(plug, in, 2, out, 2, c.hostFrames, false);
                for (int k = 0; k < c.hostFrames; ++k) {
                    ASSERT_EQ(ol[k], 2.f * l[k]) << "frame " << k;
                    ASSERT_EQ(orr[k], 2.f * r[k]) << "frame " << k;
                }
            }
            EXPECT_EQ(plug.pieces, c.pieces)
                << c.hostFrames << " frames at max " << c.maxBlock << (useDouble ? " (64-bit)" : " (32-bit)");
        }
    }
}

TEST(AudioBridge, InPlaceFloatBuffersAreReadBeforeWritten) {
    RecordingPlug plug;
    plug.SetBlockSize(16);
    nx::AudioBridge bridge;
    bridge.Prepare(16);
    auto l = Ramp<float>(40, 1.f), r = Ramp<float>(40, -5.f);
    const auto l0 = l, r0 = r;
    float* io[2] = {l.data(), r.data()};
    bridge.Process(plug, io, 2, io, 2, 40, false);
    for (size_t k = 0; k < l.size(); ++k) {
        ASSERT_EQ(l[k], 2.f * l0[k]);
        ASSERT_EQ(r[k], 2.f * r0[k]);
    }
}

TEST(AudioBridge, MonoAndMissingChannelsReachThePlugInAsNull) {
    RecordingPlug plug;
    plug.SetBlockSize(8);
    nx::AudioBridge bridge;
    bridge.Prepare(8);
    auto in = Ramp<float>(8, 1.f);
    std::vector<float> out(8, -1.f);
    float* ins[1] = {in.data()};
    float* outs[1] = {out.data()};
    bridge.Process(plug, ins, 1, outs, 1, 8, false);
    EXPECT_EQ(plug.inNull[1], 1) << "channel 1 is not connected";
    EXPECT_EQ(out[3], 2.f * in[3]);

    // A null input channel 0 is passed as null (the plug-in decides what that means).
    float* nullIns[2] = {nullptr, in.data()};
    std::vector<float> o0(8), o1(8);
    float* outs2[2] = {o0.data(), o1.data()};
    bridge.Process(plug, nullIns, 2, outs2, 2, 8, false);
    EXPECT_EQ(plug.inNull[0], 1);
    EXPECT_EQ(o0[0], 7.f);
    EXPECT_EQ(o1[2], 2.f * in[2]);

    // No buffers at all: the plug-in still runs; nothing is dereferenced.
    bridge.Process(plug, static_cast<float* const*>(nullptr), 0, static_cast<float* const*>(nullptr), 0, 8,
                   false);
    EXPECT_EQ(plug.pieces.size(), 3u);
}

TEST(AudioBridge, BypassCopiesBitExactlyWithoutCallingThePlugIn) {
    RecordingPlug plug;
    plug.SetBlockSize(8);
    nx::AudioBridge bridge;
    bridge.Prepare(8);
    std::vector<double> l = {0.1, -0.3, 1e-300, 5.0, -0.0, 3.3, 2.2, 1.1}, r = l;
    r[0] = 0.7;
    std::vector<double> ol(8), orr(8);
    double* in[2] = {l.data(), r.data()};
    double* out[2] = {ol.data(), orr.data()};
    bridge.Process(plug, in, 2, out, 2, 8, true);
    EXPECT_TRUE(plug.pieces.empty());
    EXPECT_EQ(ol, l);
    EXPECT_EQ(orr, r);

    // Mono input to a stereo output: both outputs carry the one input.
    double* monoIn[1] = {l.data()};
    std::fill(orr.begin(), orr.end(), 9.0);
    bridge.Process(plug, monoIn, 1, out, 2, 8, true);
    EXPECT_EQ(orr, l);
    // No input at all: silence.
    bridge.Process(plug, static_cast<double* const*>(nullptr), 0, out, 2, 8, true);
    EXPECT_EQ(ol, std::vector<double>(8, 0.0));
}

TEST(AudioBridge, AHostThatSkipsItsSetUpGetsTheFirstBlockPrepared) {
    RecordingPlug plug;
    plug.SetBlockSize(0); // a host that never said: the plug-in's default of 4096 applies
    nx::AudioBridge bridge;
    auto l = Ramp<float>(5000, 1.f);
    std::vector<float> o(5000);
    float* in[1] = {l.data()};
    float* out[1] = {o.data()};
    bridge.Process(plug, in, 1, out, 1, 5000, false);
    EXPECT_EQ(bridge.PreparedFrames(), 4096);
    EXPECT_EQ(plug.pieces, (std::vector<int>{4096, 904}));
    EXPECT_EQ(o[4500], 2.f * l[4500]);
}

} // namespace
