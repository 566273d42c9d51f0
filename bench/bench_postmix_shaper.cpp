// Throughput of the post-mix shaper and the user filters: 512-sample blocks, every stage of the shaper on
// (saturation, ducking, width, predelay) or only the filters.
#include "dsp/PostMixShaper.h"
#include "dsp/UserFilters.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

void BM_PostMixShaper(benchmark::State& state) {
    const int n = 512;
    const bool full = state.range(0) != 0;
    nx::PostMixShaper shaper;
    shaper.prepare(48000.0, n);
    nx::AnchorParams a{};
    a.hpHz = 100.0f;
    a.lpHz = 7000.0f;
    a.saturation = full ? 0.5f : 0.0f;
    a.darkness = 0.5f;
    a.ducking = full ? 0.5f : 0.0f;
    a.stereoWidth = 1.5f;
    a.predelayMs = full ? 120.0f : 0.0f;
    shaper.setAnchorParams(a);
    std::vector<float> in(n), dry(n), l(n), r(n);
    for (int i = 0; i < n; ++i) {
        in[i] = 0.3f * std::sin(0.0144f * static_cast<float>(i));
        dry[i] = 0.5f * std::sin(0.031f * static_cast<float>(i));
    }
    for (auto _ : state) {
        shaper.process(in.data(), dry.data(), l.data(), r.data(), n);
        benchmark::DoNotOptimize(l.data());
        benchmark::DoNotOptimize(r.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_PostMixShaper)->Arg(0)->Arg(1)->ArgName("allStages");

void BM_UserFilters(benchmark::State& state) {
    const int n = 512;
    nx::UserFilters filters;
    filters.prepare(48000.0);
    filters.setHpHz(80.0f);
    filters.setLpHz(9000.0f);
    std::vector<float> l(n), r(n);
    for (int i = 0; i < n; ++i) l[i] = r[i] = 0.3f * std::sin(0.0144f * static_cast<float>(i));
    for (auto _ : state) {
        filters.process(l.data(), r.data(), n);
        benchmark::DoNotOptimize(l.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_UserFilters);

} // namespace
