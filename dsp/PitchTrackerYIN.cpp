// YIN: difference function over the overlap of the frame with its shifted copy, cumulative mean
// normalisation, absolute threshold with local descent, fallback minimum and parabolic interpolation.
#include "dsp/PitchTrackerYIN.h"

#include <algorithm>
#include <cmath>

namespace nx {

void PitchTrackerYIN::prepare(double sampleRate, int windowSize, float fMinHz, float fMaxHz,
                              float threshold) {
    sampleRate_ = sampleRate > 0.0 ? sampleRate : 44100.0;
    windowSize_ = std::max(windowSize, 64);
    threshold_ = std::isnan(threshold) ? 0.12f : std::clamp(threshold, 0.02f, 0.3f);

    const double f = fMaxHz > 50.0f ? fMaxHz : 50.0;
    tauMin_ = std::max(2, static_cast<int32_t>(std::min(sampleRate_ / f, 1.0e9)));
    const double g = fMinHz > 20.0f ? fMinHz : 20.0;
    const int32_t candidate =
        static_cast<int32_t>(std::min(std::ceil(sampleRate_ / g), static_cast<double>(windowSize_ / 2)));
    tauMax_ = tauMin_ < candidate ? candidate : tauMin_ + 1;

    difference_.assign(static_cast<size_t>(tauMax_) + 1, 0.0f);
    normalised_.assign(static_cast<size_t>(tauMax_) + 1, 1.0f);

    int fftSize = 4;
    while (fftSize < windowSize_ + tauMax_ + 1) fftSize <<= 1;
    fft_.prepare(fftSize);
    padded_.assign(static_cast<size_t>(fftSize), 0.0);
    spectrumRe_.assign(static_cast<size_t>(fftSize / 2 + 1), 0.0);
    spectrumIm_.assign(static_cast<size_t>(fftSize / 2 + 1), 0.0);
    prefixEnergy_.assign(static_cast<size_t>(windowSize_) + 1, 0.0);
}

// d[tau] = sum_{j=0}^{W-1-tau} (x[j] - x[j+tau])^2
//        = E(0, W-tau) + E(tau, W) - 2 r[tau], with E(a, b) the energy of x[a..b-1] and r the
// autocorrelation over the overlap. r comes from the power spectrum: its transform is real and even, so
// the same forward real FFT inverts it (up to the factor fftSize).
void PitchTrackerYIN::computeDifference(const float* frame) noexcept {
    const int w = windowSize_;
    const int t = std::min(tauMax_, w);
    const int n = fft_.size();
    double* x = padded_.data();
    double energy = 0.0;
    prefixEnergy_[0] = 0.0;
    for (int j = 0; j < w; ++j) {
        x[j] = frame[j];
        energy += x[j] * x[j];
        prefixEnergy_[static_cast<size_t>(j) + 1] = energy;
    }
    std::fill(x + w, x + n, 0.0);

    double* re = spectrumRe_.data();
    double* im = spectrumIm_.data();
    fft_.transform(x, re, im);
    const int half = n / 2;
    for (int k = 0; k <= half; ++k) x[k] = re[k] * re[k] + im[k] * im[k];
    for (int k = half + 1; k < n; ++k) x[k] = x[n - k];
    fft_.transform(x, re, im);

    const double scale = 1.0 / n;
    difference_[0] = 0.0f;
    for (int tau = 1; tau <= t; ++tau) {
        const double r = re[tau] * scale;
        const double d = prefixEnergy_[static_cast<size_t>(w - tau)] +
                         (energy - prefixEnergy_[static_cast<size_t>(tau)]) - 2.0 * r;
        // Rounding can leave a tiny negative value where the exact sum is 0.
        difference_[static_cast<size_t>(tau)] = static_cast<float>(d > 0.0 ? d : 0.0);
    }
    for (int tau = t + 1; tau <= tauMax_; ++tau) difference_[static_cast<size_t>(tau)] = 0.0f;
}

bool PitchTrackerYIN::analyse(const float* frame, float& f0Hz, float& aperiodicity) noexcept {
    const int T = tauMax_;
    computeDifference(frame);

    float* dn = normalised_.data();
    dn[0] = 1.0f;
    double runningSum = 0.0;
    for (int tau = 1; tau <= T; ++tau) {
        const double d = difference_[static_cast<size_t>(tau)];
        runningSum += d;
        dn[tau] = runningSum > 1e-12 ? static_cast<float>(tau * d / runningSum) : 1.0f;
    }

    int best = -1;
    for (int tau = tauMin_; tau < T; ++tau) {
        if (dn[tau] < threshold_) {
            while (tau + 1 < T && dn[tau + 1] < dn[tau]) ++tau;
            best = tau;
            break;
        }
    }
    if (best < 0) {
        best = tauMin_;
        for (int tau = tauMin_ + 1; tau <= T; ++tau)
            if (dn[tau] < dn[best]) best = tau;
        // Written so that a non-finite minimum (from non-finite input) also counts as aperiodic.
        if (!(dn[best] <= 0.5f)) return false;
    }

    double tauHat = best;
    if (best > 1 && best < T) {
        const double a = dn[best - 1], b = dn[best], c = dn[best + 1];
        const double den = a + c - 2.0 * b;
        if (std::fabs(den) > 1e-12) {
            const double delta = 0.5 * (a - c) / den;
            if (std::fabs(delta) < 1.0) tauHat = best + delta;
        }
    }
    f0Hz = static_cast<float>(sampleRate_ / tauHat);
    aperiodicity = dn[best];
    return aperiodicity < threshold_;
}

} // namespace nx
