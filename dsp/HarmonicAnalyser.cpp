// Per-frame harmonic analysis of the cloud: YIN, 0.65/0.35 smoothing of the fundamental, Goertzel
// magnitudes of the first eight harmonics over the Hann-windowed frame, averaged with the previous ones.
#include "dsp/HarmonicAnalyser.h"

#include <cmath>
#include <numbers>

namespace nx {

void HarmonicAnalyser::prepare(double sampleRate) {
    if (!(sampleRate > 0.0)) return;
    if (sampleRate != trackerSampleRate_) {
        trackerSampleRate_ = sampleRate;
        tracker_.prepare(trackerSampleRate_, kFrameSize, 65.0f, 1046.0f, 0.12f);
    }
    if (window_.empty()) {
        window_.assign(kFrameSize, 0.0f);
        for (int i = 1; i < kFrameSize; ++i)
            window_[static_cast<size_t>(i)] =
                static_cast<float>(0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * i / (kFrameSize - 1))));
        windowed_.assign(kFrameSize, 0.0f);
    }
}

void HarmonicAnalyser::restart() noexcept {
    f0Estimate_ = 100.0f;
    partialAmps_.fill(0.0f);
}

HarmonicAnalyser::Result HarmonicAnalyser::current(unsigned voiced) const noexcept {
    Result r;
    r.f0Hz = f0Estimate_;
    r.voiced = voiced;
    r.amps = partialAmps_;
    return r;
}

HarmonicAnalyser::Result HarmonicAnalyser::analyse(const float* frame) noexcept {
    float f = f0Estimate_;
    float ap = 1.0f;
    const bool periodic = tracker_.analyse(frame, f, ap);
    // A non-finite estimate cannot come from finite input, but must never enter the smoothed state.
    if (!periodic || !(f > 50.0f) || !std::isfinite(f)) {
        for (float& a : partialAmps_) a *= 0.5f;
        return current(0);
    }
    f0Estimate_ = 0.65f * f0Estimate_ + 0.35f * f;

    for (int j = 0; j < kFrameSize; ++j)
        windowed_[static_cast<size_t>(j)] = frame[j] * window_[static_cast<size_t>(j)];

    // Goertzel at the eight harmonics, run side by side (independent recurrences, so they overlap in
    // the pipeline); each harmonic's arithmetic is the same as on its own.
    const double nyquistGuard = 0.49 * trackerSampleRate_;
    double cosW[kNumHarmonics], sinW[kNumHarmonics], coeff[kNumHarmonics];
    double s1[kNumHarmonics] = {}, s2[kNumHarmonics] = {};
    bool inRange[kNumHarmonics];
    for (int k = 0; k < kNumHarmonics; ++k) {
        const double freq = static_cast<double>(k + 1) * f0Estimate_;
        inRange[k] = freq > 0.0 && freq < nyquistGuard;
        const double w = 2.0 * std::numbers::pi * freq / trackerSampleRate_;
        cosW[k] = std::cos(w);
        sinW[k] = std::sin(w);
        coeff[k] = 2.0 * cosW[k];
    }
    for (int j = 0; j < kFrameSize; ++j) {
        const double x = windowed_[static_cast<size_t>(j)];
        for (int k = 0; k < kNumHarmonics; ++k) {
            const double s0 = x + coeff[k] * s1[k] - s2[k];
            s2[k] = s1[k];
            s1[k] = s0;
        }
    }
    for (int k = 0; k < kNumHarmonics; ++k) {
        float mag = 0.0f;
        if (inRange[k]) {
            const double re = s1[k] - cosW[k] * s2[k];
            const double im = sinW[k] * s2[k];
            mag = static_cast<float>(std::sqrt(re * re + im * im) / 1024.0);
            if (!std::isfinite(mag)) mag = 0.0f;
        }
        float& amp = partialAmps_[static_cast<size_t>(k)];
        amp = 0.5f * (amp + mag);
    }
    return current(1);
}

} // namespace nx
