// Cost of the harmonic engine: one pitch analysis (YIN by FFT against the direct difference loop, and
// the whole per-frame analysis with window and Goertzel), and the cloud's resynthesis per 512-sample block
// with all eight harmonics sounding, in real-time and in offline mode (which adds one analysis a hop).
#include "dsp/HarmonicAnalyser.h"
#include "dsp/HarmonicCloud.h"
#include "dsp/PitchTrackerYIN.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

std::vector<float> harmonicTone(int n, double rate, double hz) {
    std::vector<float> x(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        double v = 0.0;
        for (int k = 1; k <= 8; ++k) v += 0.3 / k * std::sin(2.0 * 3.141592653589793 * hz * k * i / rate);
        x[static_cast<size_t>(i)] = static_cast<float>(v);
    }
    return x;
}

void BM_YinAnalyse(benchmark::State& state) {
    const double rate = static_cast<double>(state.range(0));
    nx::PitchTrackerYIN tracker;
    tracker.prepare(rate, 2048, 65.0f, 1046.0f, 0.12f);
    const std::vector<float> frame = harmonicTone(2048, rate, 196.0);
    for (auto _ : state) {
        float f0 = 0.0f, ap = 0.0f;
        benchmark::DoNotOptimize(tracker.analyse(frame.data(), f0, ap));
        benchmark::DoNotOptimize(f0);
    }
}
BENCHMARK(BM_YinAnalyse)->Arg(44100)->Arg(96000)->ArgName("rate");

// The difference function as the plain double loop over the overlap, for comparison.
void BM_YinDirectDifference(benchmark::State& state) {
    const double rate = static_cast<double>(state.range(0));
    nx::PitchTrackerYIN tracker;
    tracker.prepare(rate, 2048, 65.0f, 1046.0f, 0.12f);
    const int w = tracker.windowSize(), t = tracker.tauMax();
    const std::vector<float> x = harmonicTone(w, rate, 196.0);
    std::vector<float> d(static_cast<size_t>(t) + 1);
    for (auto _ : state) {
        for (int tau = 1; tau <= t; ++tau) {
            float s = 0.0f;
            for (int j = 0; j + tau < w; ++j) {
                const float diff = x[static_cast<size_t>(j)] - x[static_cast<size_t>(j + tau)];
                s += diff * diff;
            }
            d[static_cast<size_t>(tau)] = s;
        }
        benchmark::DoNotOptimize(d.data());
    }
}
BENCHMARK(BM_YinDirectDifference)->Arg(44100)->Arg(96000)->ArgName("rate");

void BM_HarmonicFrameAnalysis(benchmark::State& state) {
    nx::HarmonicAnalyser analyser;
    analyser.prepare(48000.0);
    const std::vector<float> frame = harmonicTone(2048, 48000.0, 196.0);
    for (auto _ : state) benchmark::DoNotOptimize(analyser.analyse(frame.data()));
}
BENCHMARK(BM_HarmonicFrameAnalysis);

void BM_HarmonicCloudBlock(benchmark::State& state) {
    const int n = 512;
    nx::HarmonicCloud cloud;
    cloud.setOfflineMode(state.range(0) != 0);
    cloud.prepare(48000.0);
    const std::vector<float> x = harmonicTone(48000, 48000.0, 196.0);
    std::vector<float> out(n);
    // Let the analysis find the tone first, so that all harmonics sound.
    cloud.setOfflineMode(true);
    for (size_t i = 0; i + n <= x.size(); i += n) cloud.process(x.data() + i, out.data(), n);
    cloud.setOfflineMode(state.range(0) != 0);
    size_t pos = 0;
    for (auto _ : state) {
        cloud.process(x.data() + pos, out.data(), n);
        pos = (pos + n) % (x.size() - n);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_HarmonicCloudBlock)->Arg(0)->Arg(1)->ArgName("offline");

} // namespace
