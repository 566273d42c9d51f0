// Spectral wash: coefficient rebuild on change, and the per-sample chain of resonators, breath, combs,
// allpasses, drift, low-pass and wow. Audio thread only.
#include "dsp/SpectralWashV8.h"

#include <algorithm>
#include <cmath>

namespace nx {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kTwoPiF = 6.28318530717958647692f;

uint64_t roundedLength(double v) noexcept {
    const long long r = std::llround(v); // halves away from zero
    return r < 1 ? 1u : static_cast<uint64_t>(r);
}

} // namespace

void SpectralWashV8::prepare(double sampleRate) {
    sampleRate_ = sampleRate > 0.0 ? sampleRate : 44100.0;
    const double s = sampleRate_ / 44100.0;
    for (int i = 0; i < kCombs; ++i) combs_[i].buffer.assign(roundedLength(kCombSamples44k[i] * s), 0.0f);
    for (int i = 0; i < kAllpasses; ++i)
        allpasses_[i].buffer.assign(roundedLength(kAllpassSamples44k[i] * s), 0.0f);
    inputEnvCoef_ = static_cast<float>(1.0 - std::exp(-1.0 / (0.03 * sampleRate_)));

    const uint64_t wowMin = roundedLength(0.012 * sampleRate_);
    uint64_t wowLen = 1;
    while (wowLen < wowMin) wowLen <<= 1;
    wowBuffer_.assign(wowLen, 0.0f);
    wowMask_ = wowLen - 1;

    reset();
    dirty_ = true;
}

void SpectralWashV8::reset() noexcept {
    for (auto& b : resonators_) b.clear();
    for (auto& b : breathBands_) b.clear();
    lowpass_.clear();
    for (auto& c : combs_) {
        std::fill(c.buffer.begin(), c.buffer.end(), 0.0f);
        c.index = 0;
        c.store = 0.0f;
    }
    for (auto& a : allpasses_) {
        std::fill(a.buffer.begin(), a.buffer.end(), 0.0f);
        a.index = 0;
    }
    driftPhase_ = 0.0f;
    noiseState_ = 42;
    inputEnv_ = 0.0f;
    wowPhase_ = 0.0f;
    std::fill(wowBuffer_.begin(), wowBuffer_.end(), 0.0f);
    wowWrite_ = 0;
}

void SpectralWashV8::setRootHz(float hz) noexcept {
    if (std::isnan(hz)) return;
    const float v = std::clamp(hz, 40.0f, 600.0f);
    if (v != rootHz_) {
        rootHz_ = v;
        dirty_ = true;
    }
}

void SpectralWashV8::setCharacter(float c) noexcept {
    if (std::isnan(c)) return;
    const float v = std::clamp(c, 0.0f, 1.0f);
    if (v != character_) {
        character_ = v;
        dirty_ = true;
    }
}

void SpectralWashV8::setWashLpHz(float hz) noexcept {
    if (std::isnan(hz)) return;
    const float v = std::min(std::max(hz, 200.0f), static_cast<float>(0.49 * sampleRate_));
    if (v != washLpHz_) {
        washLpHz_ = v;
        dirty_ = true;
    }
}

void SpectralWashV8::setWow(float depth) noexcept {
    if (!std::isnan(depth)) wow_ = std::clamp(depth, 0.0f, 1.0f);
}

void SpectralWashV8::setWowBeats(float beats) noexcept {
    if (!std::isnan(beats)) wowBeats_ = std::clamp(beats, 2.0f, 64.0f);
}

void SpectralWashV8::setBpm(float bpm) noexcept {
    bpm_ = (bpm > 0.0f && std::isfinite(bpm)) ? bpm : 0.0f;
}

void SpectralWashV8::rebuildIfDirty() noexcept {
    if (!dirty_) return;
    dirty_ = false;
    const double sr = sampleRate_;
    const double nyq = 0.49 * sr;
    const double fmax = 0.9 * nyq;
    const double root = rootHz_;
    const double character = character_;

    // Resonators: half a cent flat, exact, half a cent sharp on each harmonic.
    const double q = 30.0 + 60.0 * character;
    constexpr double kDetune[3] = {0.9997112154960632, 1.0, 1.0002888441085815};
    for (int k = 1; k <= 8; ++k) {
        const double weight = 1.0 / std::pow(static_cast<double>(k), 0.6);
        const double f = root * k;
        for (int v = 0; v < 3; ++v) {
            const int j = 3 * (k - 1) + v;
            const double freq = f * kDetune[v];
            if (freq < 20.0 || freq > fmax) {
                resonatorGains_[j] = 0.0f; // coefficients stay as they were
                continue;
            }
            designBandPass(resonators_[j], std::min(freq, nyq), sr, q);
            resonatorGains_[j] = static_cast<float>(weight * 0.06 * q / 3.0);
        }
    }

    // Breath bands: 40 Hz wide, at most Q 8.
    for (int h = 1; h <= kBreathBands; ++h) {
        const double f = root * h;
        if (f < 20.0 || f > fmax) continue;
        designBandPass(breathBands_[h - 1], std::min(f, nyq), sr, f <= 320.0 ? f / 40.0 : 8.0);
    }

    // Combs: a 60 dB decay over T samples (3 to 6 s); damping opens from 1 kHz to 6 kHz of wash low-pass.
    const double T = 3.0 * sr * (1.0 + character);
    const double t = std::clamp((static_cast<double>(washLpHz_) - 1000.0) / 5000.0, 0.0, 1.0);
    const double damp = 0.4 - 0.35 * t;
    for (auto& c : combs_) {
        const double L = static_cast<double>(c.buffer.size());
        c.feedback = static_cast<float>(std::clamp(std::pow(10.0, -3.0 * L / T), 0.5, 0.97));
        c.damp = static_cast<float>(damp);
        c.damp2 = static_cast<float>(1.0 - damp);
    }
    for (auto& a : allpasses_) a.feedback = 0.5f;

    const double fc = std::min(std::max(static_cast<double>(washLpHz_), 10.0), nyq);
    designLowPass(lowpass_, fc, sr, 1.0 / std::sqrt(2.0));
}

void SpectralWashV8::process(const float* in, float* out, int n) noexcept {
    rebuildIfDirty();
    if (n <= 0) return;
    if (wowBuffer_.empty()) { // not prepared: no buffers to run on
        std::fill(out, out + n, 0.0f);
        return;
    }

    const double sr = sampleRate_;
    const float driftStep = static_cast<float>(2.0 * kPi * 0.07 / sr);
    const bool wowOn = wow_ > 0.001f;
    const double wb = wowBeats_ > 0.5f ? wowBeats_ : 0.5;
    const double omega = bpm_ > 0.0f ? 2.0 * kPi * (bpm_ / 60.0) / wb : kPi / 4.0;
    const float wowStep = static_cast<float>(omega / sr);
    const float wowScale = static_cast<float>(sr * 0.004) * wow_; // samples of delay per unit of (1 + sin)
    if (!(wowPhase_ >= 0.0f && wowPhase_ <= kTwoPiF))             // keep the phase bounded whatever the step
        wowPhase_ = std::isfinite(wowPhase_) ? std::fmod(std::fabs(wowPhase_), kTwoPiF) : 0.0f;

    Xorshift32 noise(noiseState_);
    for (int i = 0; i < n; ++i) {
        const float x = std::isfinite(in[i]) ? in[i] : 0.0f;

        inputEnv_ += (std::fabs(x) - inputEnv_) * inputEnvCoef_;
        const float drive = std::min(12.0f * inputEnv_, 1.0f);

        float R = 0.0f;
        for (int j = 0; j < kResonators; ++j) R += resonatorGains_[j] * resonators_[j].process(x);

        const float nz = static_cast<float>(static_cast<int32_t>(noise.next())) * 4.6566129e-11f;
        float N = 0.0f;
        for (auto& b : breathBands_) N += b.process(nz);

        const float e = R + 0.18f * N * drive;

        float c = 0.0f;
        for (auto& cb : combs_) {
            float* buf = cb.buffer.data();
            const float o = buf[cb.index];
            cb.store = cb.store * cb.damp + o * cb.damp2;
            buf[cb.index] = e + cb.store * cb.feedback;
            if (++cb.index >= cb.buffer.size()) cb.index = 0;
            c += o;
        }
        c *= 0.25f;

        float u = c;
        for (auto& ap : allpasses_) {
            float* buf = ap.buffer.data();
            const float b = buf[ap.index];
            buf[ap.index] = u + ap.feedback * b;
            u = b - u;
            if (++ap.index >= ap.buffer.size()) ap.index = 0;
        }

        const float m = 0.55f * e + 0.45f * u;
        const float v = m * (1.0f - 0.075f * (1.0f + std::sin(driftPhase_)));
        driftPhase_ += driftStep;
        if (driftPhase_ > kTwoPiF) driftPhase_ -= kTwoPiF;

        const float y = lowpass_.process(v);

        if (!wowOn) {
            out[i] = y;
            continue;
        }
        wowBuffer_[wowWrite_ & wowMask_] = y;
        ++wowWrite_;
        const float d = (1.0f + std::sin(wowPhase_)) * wowScale;
        wowPhase_ += wowStep;
        if (wowPhase_ > kTwoPiF) wowPhase_ -= kTwoPiF;
        if (d <= 1.0f) {
            out[i] = y;
        } else {
            const uint64_t f = static_cast<uint64_t>(d);
            const float t = d - static_cast<float>(f);
            out[i] = (1.0f - t) * wowBuffer_[(wowWrite_ - f) & wowMask_] +
                     t * wowBuffer_[(wowWrite_ - f - 1) & wowMask_];
        }
    }
    noiseState_ = noise.state;

    // Backstop: input of absurd (finite) size can still overflow the feedback paths. Such a block is
    // dropped and the wash starts clean rather than carrying infinities or NaN for good.
    float probe = 0.0f;
    for (int i = 0; i < n; ++i) probe += out[i] * 0.0f; // NaN once any sample is not finite
    bool stateOk = std::isfinite(inputEnv_) && std::isfinite(lowpass_.z1) && std::isfinite(lowpass_.z2);
    for (const auto& cb : combs_) stateOk = stateOk && std::isfinite(cb.store);
    if (!std::isfinite(probe) || !stateOk) {
        reset();
        std::fill(out, out + n, 0.0f);
    }
}

} // namespace nx
