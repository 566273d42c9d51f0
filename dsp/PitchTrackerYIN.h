// YIN fundamental-frequency estimator for one frame of mono audio. Owned by the harmonic analysis and
// run on whichever single thread analyses (the cloud's worker, or the audio thread in offline renders).
// prepare() allocates; analyse() allocates nothing.
#pragma once

#include "dsp/RealFft.h"

#include <cstdint>
#include <vector>

namespace nx {

class PitchTrackerYIN {
public:
    // Derives the lag range from the pitch range and sizes every buffer. A sample rate not above 0 counts
    // as 44100 Hz; the window is at least 64 samples; the threshold is clamped to [0.02, 0.3].
    void prepare(double sampleRate, int windowSize, float fMinHz, float fMaxHz, float threshold);

    // Examines frame[0 .. windowSize-1]. Returns true for a periodic frame. f0Hz and aperiodicity are
    // written for a periodic or weakly periodic frame (minimum normalised difference up to 0.5) and left
    // untouched for an aperiodic one.
    bool analyse(const float* frame, float& f0Hz, float& aperiodicity) noexcept;

    int windowSize() const noexcept { return windowSize_; }
    int tauMin() const noexcept { return tauMin_; }
    int tauMax() const noexcept { return tauMax_; }
    float threshold() const noexcept { return threshold_; }
    // d[tau] and d'[tau] for tau = 0..tauMax of the last analysed frame.
    const std::vector<float>& difference() const noexcept { return difference_; }
    const std::vector<float>& normalised() const noexcept { return normalised_; }

private:
    void computeDifference(const float* frame) noexcept;

    double sampleRate_ = 44100.0;
    int32_t windowSize_ = 2048;
    int32_t tauMin_ = 45;
    int32_t tauMax_ = 740;
    float threshold_ = 0.12f;
    std::vector<float> difference_;
    std::vector<float> normalised_;

    // The difference function is computed from the autocorrelation (by FFT, zero-padded so that no lag
    // up to tauMax wraps around) and prefix sums of squares, both in double precision.
    RealFft fft_;
    std::vector<double> padded_;                  // fftSize samples
    std::vector<double> spectrumRe_, spectrumIm_; // fftSize/2 + 1 bins
    std::vector<double> prefixEnergy_;            // windowSize + 1 partial sums of frame[j]^2
};

} // namespace nx
