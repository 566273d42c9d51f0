// Cost of the rhythmic echo per 512-sample block: a busy pattern (a transient every 80 ms with eight
// echoes each, so the grain pool stays full) with freeze tails off and on (one 512-point FFT per ending
// grain).
#include "dsp/RhythmicEcho.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

void BM_RhythmicEchoBlock(benchmark::State& state) {
    const int n = 512;
    const double rate = 48000.0;
    nx::RhythmicEcho echo;
    echo.prepare(rate);
    echo.setGrainEchoes(8);
    echo.setGrainEchoDecay(0.9f);
    echo.setBpm(140.0f);
    echo.setFreeze(state.range(0) ? 1.0f : 0.0f);
    echo.setFreezeTonality(1.0f);
    const int len = 4 * 48000;
    std::vector<float> trigger(static_cast<size_t>(len), 0.0f), source(static_cast<size_t>(len));
    for (int i = 0; i < len; ++i) {
        if (i % 3840 < 64) trigger[static_cast<size_t>(i)] = 0.8f * (1.0f - (i % 3840) / 64.0f);
        source[static_cast<size_t>(i)] = 0.3f * std::sin(0.061f * static_cast<float>(i));
    }
    std::vector<float> out(n);
    size_t pos = 0;
    for (auto _ : state) {
        echo.process(trigger.data() + pos, source.data() + pos, out.data(), n);
        pos = (pos + n) % (static_cast<size_t>(len) - n);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_RhythmicEchoBlock)->Arg(0)->Arg(1)->ArgName("freeze");

} // namespace
