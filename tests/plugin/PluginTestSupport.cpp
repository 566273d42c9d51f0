// Private registry per test process and the block-driving helpers.
#include "PluginTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace nx::test {
namespace {

char sRegistryName[64];

// Every test process gets its own segment so that tests never hear each other or other processes.
class PrivateRegistry : public testing::Environment {
public:
    void SetUp() override {}
    void TearDown() override { NembrixSHM::removeSegment(sRegistryName); }
};

[[maybe_unused]] const bool sRegistered = [] {
    std::snprintf(sRegistryName, sizeof sRegistryName, "nx_plugin_test_%d", static_cast<int>(getpid()));
    setenv("NEMBRIX_REGISTRY", sRegistryName, 1);
    testing::AddGlobalTestEnvironment(new PrivateRegistry);
    return true;
}();

} // namespace

const char* PrivateRegistryName() {
    return sRegistryName;
}

std::unique_ptr<Nembrix> MakePrepared(double sampleRate, int blockSize) {
    auto p = std::make_unique<Nembrix>();
    p->SetSampleRate(sampleRate);
    p->SetBlockSize(blockSize);
    p->SetChannelsConnected(2, 2);
    p->OnReset();
    return p;
}

void SetParam(Nembrix& p, int idx, double value) {
    p.GetParam(idx)->Set(value);
    p.OnParamChange(idx);
}

Channels::Channels(int n, double level, int seed) : inL(n), inR(n), outL(n, 0.0), outR(n, 0.0) {
    for (int k = 0; k < n; ++k) {
        // Values with more precision than a float holds, so rounding is visible.
        inL[k] = level * std::sin(0.031 * (k + seed)) + 1e-9 * k;
        inR[k] = level * std::cos(0.017 * (k + 3 * seed)) - 1e-9 * k;
    }
    ins[0] = inL.data();
    ins[1] = inR.data();
    outs[0] = outL.data();
    outs[1] = outR.data();
}

void Channels::fillOutputs(double v) {
    std::fill(outL.begin(), outL.end(), v);
    std::fill(outR.begin(), outR.end(), v);
}

} // namespace nx::test
