// Helpers for driving a Nembrix instance the way an adapter does: framework settings, double-precision
// channel buffers and one call per block. Each test process uses a registry segment of its own.
#pragma once

#include "plugin/Nembrix.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace nx::test {

// Name of this process's private registry segment (also exported as NEMBRIX_REGISTRY).
const char* PrivateRegistryName();

// A constructed instance with the framework set up as a host would: rate, block size, stereo, reset.
std::unique_ptr<Nembrix> MakePrepared(double sampleRate = 44100.0, int blockSize = 512);

void SetParam(Nembrix& p, int idx, double value); // sets the value and calls OnParamChange, as hosts do

// Stereo double buffers for one block; inputs hold a deterministic test signal.
struct Channels {
    std::vector<double> inL, inR, outL, outR;
    double* ins[2];
    double* outs[2];

    explicit Channels(int n, double level = 0.5, int seed = 1);
    int size() const { return static_cast<int>(inL.size()); }
    void fillOutputs(double v);
    void process(Nembrix& p) { p.ProcessBlock(ins, outs, size()); }
};

} // namespace nx::test
