// The audio callback: naming, preparation, bypass, SEND and RECV paths, channel layouts, null pointers,
// block sizes outside the prepared range and the floating-point mode of the callback.
#include "PluginTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <xmmintrin.h>

namespace nx {
namespace {

using test::Channels;
using test::MakePrepared;
using test::SetParam;

int instanceNumber(const Nembrix& p) {
    char name[Nembrix::kNameBytes];
    p.getInstanceName(name, sizeof name);
    int number = 0;
    EXPECT_EQ(std::sscanf(name, "Nembrix #%d", &number), 1) << name;
    return number;
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

std::vector<double> roundedToFloat(const std::vector<double>& v) {
    std::vector<double> r(v.size());
    for (size_t i = 0; i < v.size(); ++i) r[i] = static_cast<double>(static_cast<float>(v[i]));
    return r;
}

TEST(PluginInstance, NamesCountUpAndAreNeverReused) {
    int first = 0;
    {
        Nembrix a;
        first = instanceNumber(a);
        EXPECT_GE(first, 1);
    }
    Nembrix b; // the first is gone, the number is not handed out again
    EXPECT_EQ(instanceNumber(b), first + 1);
    Nembrix c;
    EXPECT_EQ(instanceNumber(c), first + 2);
}

TEST(PluginInstance, FirstCallbackPreparesWhenTheHostNeverReset) {
    struct Case {
        double rate;
        int hostBlock;
        double preparedRate;
        int preparedBlock;
    };
    const Case cases[] = {{48000.0, 256, 48000.0, 256},
                          {96000.0, 0, 96000.0, 4096}, // a block size of 0 or less prepares for 4096
                          {44100.0, -3, 44100.0, 4096},
                          {0.0, 128, 44100.0, 128}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, block " << c.hostBlock);
        Nembrix p;
        p.SetSampleRate(c.rate);
        p.SetBlockSize(c.hostBlock);
        EXPECT_FALSE(p.isPrepared());
        Channels ch(64);
        ch.process(p);
        EXPECT_TRUE(p.isPrepared());
        EXPECT_EQ(p.preparedSampleRate(), c.preparedRate);
        EXPECT_EQ(p.preparedBlockSize(), c.preparedBlock);
        EXPECT_EQ(p.engine.sampleRate(), c.preparedRate);
        EXPECT_EQ(p.engine.maxBlockSize(), c.preparedBlock);
        EXPECT_EQ(p.processBlockCount.load(), 1u);
    }
}

TEST(PluginInstance, ResetPushesEveryParameterToTheEngine) {
    Nembrix p;
    p.GetParam(kParamMode)->Set(1);
    p.GetParam(kParamRootNote)->Set(69);
    p.SetSampleRate(48000.0);
    p.SetBlockSize(256);
    p.OnReset();
    EXPECT_TRUE(p.isPrepared());
    EXPECT_EQ(p.engine.currentMode(), 1);
    EXPECT_EQ(p.engine.rootNoteOverride(), 69);
}

TEST(PluginAudio, BypassCopiesInputBitForBit) {
    auto p = MakePrepared();
    SetParam(*p, kParamBypass, 1);
    Channels ch(512);
    ch.inL[3] = 1e-310; // a double denormal: a copy keeps it even with flush-to-zero on
    ch.inR[5] = std::numeric_limits<double>::max();
    ch.process(*p);
    EXPECT_TRUE(sameBits(ch.outL, ch.inL));
    EXPECT_TRUE(sameBits(ch.outR, ch.inR));
    EXPECT_EQ(p->processBlockCount.load(), 1u);
    EXPECT_EQ(p->engine.localDryMeter(), 0.0f); // the engine never ran
    EXPECT_EQ(p->engine.lastBlockSize(), 0);

    // In place, as hosts call it: nothing changes.
    const std::vector<double> l = ch.inL;
    p->ProcessBlock(ch.ins, ch.ins, ch.size());
    EXPECT_TRUE(sameBits(ch.inL, l));
}

TEST(PluginAudio, SendPassesInputRoundedToFloatAndFeedsPeers) {
    auto sender = MakePrepared();
    auto receiver = MakePrepared();
    SetParam(*sender, kParamMode, 1);
    ASSERT_EQ(sender->engine.currentMode(), 1);
    const bool attached = sender->shm.isConnected() && receiver->shm.isConnected();

    // Near-constant levels (0.3 left, 0.1 right, neither a float) so the peers' mono has a known RMS.
    Channels ch(512);
    for (int k = 0; k < ch.size(); ++k) {
        ch.inL[k] = 0.3 + 1e-9 * k;
        ch.inR[k] = 0.1 - 1e-9 * k;
    }
    Channels silence(512, 0.0);
    for (int block = 0; block < 200; ++block) {
        ch.process(*sender);
        ASSERT_EQ(ch.outL, roundedToFloat(ch.inL)) << block;
        ASSERT_EQ(ch.outR, roundedToFloat(ch.inR)) << block;
        silence.process(*receiver);
    }
    EXPECT_EQ(sender->engine.lastBlockSize(), 0); // the engine does not run in SEND
    if (!attached) GTEST_SKIP() << "registry unavailable on this machine";
    // The receiver's peer sum carries the sender's (L + R) / 2.
    EXPECT_NEAR(receiver->engine.peerSumMeter(), 0.2f, 1e-3f);
}

TEST(PluginAudio, RecvAtDryWetZeroReturnsTheInput) {
    auto p = MakePrepared();
    SetParam(*p, kParamDryWet, 0.0);
    p->OnReset(); // the dry/wet smoother starts where the parameter is
    for (int block = 0; block < 100; ++block) {
        Channels ch(512, 0.5, block * 512);
        ch.process(*p);
        ASSERT_EQ(ch.outL, roundedToFloat(ch.inL)) << block;
        ASSERT_EQ(ch.outR, roundedToFloat(ch.inR)) << block;
    }
    EXPECT_EQ(p->engine.lastBlockSize(), 512);
}

TEST(PluginAudio, MonoLayoutUsesChannelZeroOnly) {
    auto p = MakePrepared();
    p->SetChannelsConnected(1, 1);
    SetParam(*p, kParamDryWet, 0.0);
    p->OnReset();
    Channels ch(256);
    ch.outR.assign(256, 42.0);
    for (int block = 0; block < 10; ++block) ch.process(*p);
    for (int k = 0; k < 256; ++k) {
        ASSERT_EQ(p->engine.localDryMono()[k], static_cast<float>(ch.inL[k])) << k; // right = copy of left
        ASSERT_EQ(ch.outR[k], 42.0) << k;
    }
    EXPECT_EQ(ch.outL, roundedToFloat(ch.inL));
}

TEST(PluginAudio, NullChannelsAreSkippedOrReadAsSilence) {
    auto p = MakePrepared();
    SetParam(*p, kParamDryWet, 0.0);
    p->OnReset();
    Channels warm(256);
    warm.process(*p);

    // A missing left input is silence, not the previous block.
    Channels ch(256);
    ch.ins[0] = nullptr;
    ch.fillOutputs(9.0);
    ch.process(*p);
    for (int k = 0; k < 256; ++k) {
        ASSERT_EQ(ch.outL[k], 0.0) << k;
        ASSERT_EQ(ch.outR[k], static_cast<double>(static_cast<float>(ch.inR[k]))) << k;
    }

    // A missing right input copies the left one; a missing output is not written.
    Channels right(256);
    right.ins[1] = nullptr;
    right.outs[0] = nullptr;
    right.fillOutputs(9.0);
    right.process(*p);
    EXPECT_EQ(right.outL, std::vector<double>(256, 9.0));
    EXPECT_EQ(right.outR, roundedToFloat(right.inL));

    // No channel arrays at all, in every mode.
    for (int bypass : {0, 1}) {
        SetParam(*p, kParamBypass, bypass);
        for (int mode : {0, 1}) {
            SetParam(*p, kParamMode, mode);
            p->ProcessBlock(nullptr, nullptr, 256);
        }
    }
    EXPECT_EQ(p->processBlockCount.load(), 7u);
}

TEST(PluginAudio, BlocksOfZeroOrTooManyFramesLeaveOutputsUntouched) {
    auto p = MakePrepared(44100.0, 256);
    struct Case {
        const char* what;
        int frames;
    };
    const Case cases[] = {{"empty", 0}, {"negative", -1}, {"longer than prepared", 257}};
    for (int mode : {0, 1}) {
        SetParam(*p, kParamMode, mode);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.what << ", mode " << mode);
            Channels ch(512);
            ch.fillOutputs(7.0);
            const uint64_t before = p->processBlockCount.load();
            p->ProcessBlock(ch.ins, ch.outs, c.frames);
            EXPECT_EQ(p->processBlockCount.load(), before + 1);
            EXPECT_EQ(ch.outL, std::vector<double>(512, 7.0));
            EXPECT_EQ(ch.outR, std::vector<double>(512, 7.0));
            EXPECT_EQ(p->engine.lastBlockSize(), 0); // the engine was never called
        }
    }
}

TEST(PluginAudio, DenormalsAreFlushedInsideTheCallbackOnly) {
    auto p = MakePrepared();
    SetParam(*p, kParamMode, 1); // SEND: output = float(input)
    const unsigned before = _mm_getcsr();
    Channels ch(64);
    ch.inL[0] = 1e-40; // a float denormal after conversion
    ch.process(*p);
    EXPECT_EQ(ch.outL[0], 0.0);
    EXPECT_EQ(_mm_getcsr(), before);
    // Outside the callback the same conversion keeps the denormal (the test runs without FTZ).
    volatile double d = 1e-40;
    EXPECT_NE(static_cast<float>(d), 0.0f);
}

} // namespace
} // namespace nx
