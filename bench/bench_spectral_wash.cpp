// Throughput of the spectral wash: one 512-sample block of program-like input, wow on and off.
#include "dsp/SpectralWashV8.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

void BM_SpectralWash(benchmark::State& state) {
    const int n = 512;
    nx::SpectralWashV8 wash;
    wash.prepare(48000.0);
    wash.setRootHz(110.0f);
    wash.setWow(state.range(0) ? 0.7f : 0.0f);
    wash.setBpm(120.0f);
    std::vector<float> in(n), out(n);
    for (int i = 0; i < n; ++i) in[i] = 0.3f * std::sin(0.0144f * static_cast<float>(i));
    for (auto _ : state) {
        wash.process(in.data(), out.data(), n);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SpectralWash)->Arg(0)->Arg(1)->ArgName("wow");

// A gliding root rebuilds every coefficient once per block, as while the engine follows a new pitch.
void BM_SpectralWashGlidingRoot(benchmark::State& state) {
    const int n = 512;
    nx::SpectralWashV8 wash;
    wash.prepare(48000.0);
    std::vector<float> in(n, 0.1f), out(n);
    float root = 100.0f;
    for (auto _ : state) {
        root = root > 500.0f ? 100.0f : root + 0.37f;
        wash.setRootHz(root);
        wash.process(in.data(), out.data(), n);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SpectralWashGlidingRoot);

} // namespace
