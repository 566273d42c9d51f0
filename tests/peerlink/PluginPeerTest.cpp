// The peer link through the plug-in class: an instance in SEND mode in another process feeding one in
// RECV mode, a render block longer than a peer ring, and the seventeenth instance.
#include "peerlink/NembrixSHM.h"
#include "plugin/Nembrix.h"
#include "plugin/NembrixParams.h"
#include "tests/peerlink/PeerPattern.h"
#include "tests/peerlink/RegistryTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

#ifndef NX_PLUGIN_PEER_PATH
#error "NX_PLUGIN_PEER_PATH must name the plug-in helper executable"
#endif

namespace nx {
namespace {

using test::PeerProcess;
using test::ScopedSegmentName;

// Points the plug-in's registry at a segment of this test (the plug-in reads it at every attach).
class RegistryEnv {
public:
    explicit RegistryEnv(const char* name) { setenv("NEMBRIX_REGISTRY", name, 1); }
    ~RegistryEnv() { unsetenv("NEMBRIX_REGISTRY"); }
};

std::unique_ptr<Nembrix> makePrepared(int blockSize, int mode) {
    auto p = std::make_unique<Nembrix>();
    p->SetSampleRate(44100.0);
    p->SetBlockSize(blockSize);
    p->SetChannelsConnected(2, 2);
    p->OnReset();
    p->GetParam(kParamMode)->Set(mode);
    p->OnParamChange(kParamMode);
    return p;
}

// Runs n frames of silent input through p; returns the left output.
std::vector<double> processSilence(Nembrix& p, int n) {
    std::vector<double> inL(size_t(n), 0.0), inR(size_t(n), 0.0), outL(size_t(n), 0.0), outR(size_t(n), 0.0);
    double* ins[2] = {inL.data(), inR.data()};
    double* outs[2] = {outL.data(), outR.data()};
    p.ProcessBlock(ins, outs, n);
    return outL;
}

double rms(const float* v, int n) {
    double s = 0;
    for (int k = 0; k < n; ++k) s += double(v[k]) * v[k];
    return std::sqrt(s / n);
}

TEST(PluginPeer, SendInstanceInAnotherProcessFeedsTheRecvInstance) {
    ScopedSegmentName seg("plugin_e2e");
    RegistryEnv env(seg.c_str());
    PeerProcess sender(seg.c_str(), NX_PLUGIN_PEER_PATH);
    int connected = 0, slot = -1;
    ASSERT_EQ(std::sscanf(sender.command("make 1").c_str(), "ok %d %d", &connected, &slot), 2);
    ASSERT_EQ(connected, 1);

    auto recv = makePrepared(512, 0);
    ASSERT_TRUE(recv->shm.isConnected());
    ASSERT_NE(recv->shm.slotIndex(), slot);

    // L and R differ, so only their mean matches: 0.6 and 0.2 give a mono sine of amplitude 0.4.
    const double ampL = 0.6, ampR = 0.2;
    long samples = 0;
    for (int b = 0; b < 200; ++b) {
        std::istringstream reply(sender.command("tone 1 512 0.6 0.2"));
        std::string ok;
        ASSERT_TRUE(reply >> ok >> samples);
        processSilence(*recv, 512);
    }
    // The RECV instance's gathered peer sum carries the tone's (L+R)/2: its peer meter reads its RMS.
    const double monoRms = 0.4 / std::sqrt(2.0);
    EXPECT_NEAR(recv->engine.peerSumMeter(), monoRms, 0.1 * monoRms);

    // Sample for sample: what any listener gathers is the sender's latest block of (L+R)/2.
    NembrixSHM probe(seg.c_str());
    probe.open();
    ASSERT_TRUE(probe.isConnected());
    std::vector<float> sum(512, 0.0f), expected(512);
    probe.gather(sum.data(), 512, slot + 1, probe.resolveLink(slot + 1), nullptr);
    for (int k = 0; k < 512; ++k) expected[size_t(k)] = test::toneMono(ampL, ampR, samples - 512 + k);
    EXPECT_EQ(sum, expected);
    EXPECT_NEAR(rms(sum.data(), 512), monoRms, 0.01);
}

TEST(PluginPeer, RenderBlockLongerThanTheRingCarriesPeerAudioThroughout) {
    ScopedSegmentName seg("plugin_long");
    RegistryEnv env(seg.c_str());
    auto sender = makePrepared(8192, 1);
    ASSERT_TRUE(sender->shm.isConnected());
    {
        std::vector<double> l(8192), r(8192), ol(8192), orr(8192);
        for (int k = 0; k < 8192; ++k) {
            l[size_t(k)] = test::toneSample(0.5, k);
            r[size_t(k)] = test::toneSample(0.3, k);
        }
        double* ins[2] = {l.data(), r.data()};
        double* outs[2] = {ol.data(), orr.data()};
        sender->ProcessBlock(ins, outs, 8192);
    }

    // One instance renders 16384 frames at once, another the same time span as two blocks of 8192.
    // Neither's own input makes a sound, so their outputs differ only if the peer sum does.
    auto whole = makePrepared(16384, 0);
    auto halves = makePrepared(8192, 0);
    ASSERT_TRUE(whole->shm.isConnected() && halves->shm.isConnected());
    const std::vector<double> outWhole = processSilence(*whole, 16384);
    std::vector<double> outHalves = processSilence(*halves, 8192);
    const std::vector<double> second = processSilence(*halves, 8192);
    outHalves.insert(outHalves.end(), second.begin(), second.end());

    EXPECT_GT(whole->engine.peerSumMeter(), 0.1f);
    EXPECT_EQ(whole->engine.peerSumMeter(), halves->engine.peerSumMeter());
    double secondHalfEnergy = 0;
    for (int k = 8192; k < 16384; ++k) {
        ASSERT_EQ(outWhole[size_t(k)], outHalves[size_t(k)]) << k;
        secondHalfEnergy += outWhole[size_t(k)] * outWhole[size_t(k)];
    }
    EXPECT_GT(secondHalfEnergy, 0.0);
}

TEST(PluginPeer, SeventeenthInstanceRunsWithoutPeersAndAttachesOnALaterReset) {
    ScopedSegmentName seg("plugin_17");
    RegistryEnv env(seg.c_str());
    std::vector<std::unique_ptr<NembrixSHM>> others;
    for (int i = 0; i < kRegistrySlots; ++i) {
        others.push_back(std::make_unique<NembrixSHM>(seg.c_str()));
        others.back()->open();
        ASSERT_TRUE(others.back()->isConnected());
    }
    std::vector<float> loud(512, 0.5f);
    for (auto& o : others) o->publish(loud.data(), 512);

    auto late = makePrepared(512, 0);
    EXPECT_FALSE(late->shm.isConnected());
    for (int b = 0; b < 20; ++b) {
        const auto out = processSilence(*late, 512);
        for (double v : out) ASSERT_TRUE(std::isfinite(v));
    }
    EXPECT_EQ(late->engine.peerSumMeter(), 0.0f);

    others[9].reset();
    late->OnReset();
    ASSERT_TRUE(late->shm.isConnected());
    EXPECT_EQ(late->shm.slotIndex(), 9);
    char name[Nembrix::kNameBytes];
    late->getInstanceName(name, sizeof(name));
    EXPECT_STREQ(test::RawSegment(seg.c_str()).slot(9)->name, name);
    for (auto& o : others)
        if (o) o->publish(loud.data(), 512);
    processSilence(*late, 512);
    EXPECT_GT(late->engine.peerSumMeter(), 0.0f);
}

} // namespace
} // namespace nx
