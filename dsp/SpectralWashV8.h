// Spectral wash: 24 resonators on the first eight harmonics of a root, a breath of band-passed noise that
// follows the input level, four damped combs and two allpasses, a slow level drift, a low-pass and a
// tempo-synced tape-wow delay. Mono in, mono out. Audio thread only; prepare() is the only allocating call.
#pragma once

#include "dsp/DspCommon.h"

#include <array>
#include <cstdint>
#include <vector>

namespace nx {

class SpectralWashV8 {
public:
    static constexpr int kResonators = 24;
    static constexpr int kBreathBands = 4;
    static constexpr int kCombs = 4;
    static constexpr int kAllpasses = 2;
    // Comb lengths at 44.1 kHz (Freeverb's tunings); the allpasses use 556 and 225.
    static constexpr std::array<int, kCombs> kCombSamples44k{1557, 1617, 1491, 1422};
    static constexpr std::array<int, kAllpasses> kAllpassSamples44k{556, 225};

    SpectralWashV8() = default;

    // Sizes every buffer for the rate (not above 0 counts as 44100 Hz), resets, marks coefficients dirty.
    void prepare(double sampleRate);
    // Silences all audio state and reseeds the breath noise; settings and coefficients stay.
    void reset() noexcept;

    // Setters clamp; a NaN argument leaves the setting unchanged (setBpm: NaN and infinity mean no tempo).
    void setRootHz(float hz) noexcept;      // 40..600
    void setCharacter(float c) noexcept;    // 0..1
    void setWashLpHz(float hz) noexcept;    // 200..0.49 * sampleRate
    void setWow(float depth) noexcept;      // 0..1, at once
    void setWowBeats(float beats) noexcept; // 2..64
    void setBpm(float bpm) noexcept;        // > 0, else 0 = no tempo

    // n samples in, n samples out (in and out may be the same buffer). Non-finite input samples count as 0.
    void process(const float* in, float* out, int n) noexcept;
    void rebuildIfDirty() noexcept;

    // Read-only views for tests and the editor.
    float rootHz() const noexcept { return rootHz_; }
    float character() const noexcept { return character_; }
    float washLpHz() const noexcept { return washLpHz_; }
    float wow() const noexcept { return wow_; }
    float wowBeats() const noexcept { return wowBeats_; }
    float bpm() const noexcept { return bpm_; }
    bool dirty() const noexcept { return dirty_; }
    double sampleRate() const noexcept { return sampleRate_; }
    size_t combLength(int i) const noexcept { return combs_[i].buffer.size(); }
    float combFeedback(int i) const noexcept { return combs_[i].feedback; }
    float combDamp(int i) const noexcept { return combs_[i].damp; }
    size_t allpassLength(int i) const noexcept { return allpasses_[i].buffer.size(); }
    size_t wowRingSize() const noexcept { return wowBuffer_.size(); }
    float resonatorGain(int i) const noexcept { return resonatorGains_[i]; }

private:
    struct Comb {
        std::vector<float> buffer;
        uint64_t index = 0;
        float feedback = 0.84f;
        float damp = 0.2f;
        float damp2 = 0.8f;
        float store = 0.0f; // state of the damping low-pass
    };
    struct Allpass {
        std::vector<float> buffer;
        uint64_t index = 0;
        float feedback = 0.5f;
    };

    std::array<Biquad, kResonators> resonators_{};    // per harmonic k: flat, exact, sharp
    std::array<float, kResonators> resonatorGains_{}; // 0 silences a resonator (it still runs)
    std::array<Biquad, kBreathBands> breathBands_{};  // band-passes on harmonics 1..4
    uint32_t noiseState_ = 42;
    std::array<Comb, kCombs> combs_{};
    std::array<Allpass, kAllpasses> allpasses_{};
    float driftPhase_ = 0.0f; // radians
    Biquad lowpass_;
    float inputEnv_ = 0.0f;
    float inputEnvCoef_ = 0.0f;
    std::vector<float> wowBuffer_; // power-of-two length
    uint64_t wowMask_ = 0;
    uint64_t wowWrite_ = 0;
    float wow_ = 0.0f;
    float wowBeats_ = 16.0f;
    float bpm_ = 0.0f;
    float wowPhase_ = 0.0f; // radians
    double sampleRate_ = 44100.0;
    float rootHz_ = 130.0f;
    float character_ = 0.55f;
    float washLpHz_ = 6000.0f;
    bool dirty_ = true;
};

} // namespace nx
