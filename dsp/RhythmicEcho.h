// Rhythmic engine of the phantom layer: transients of the trigger signal fire grains cut from the recent
// source signal, echoed a sixteenth note apart at the host tempo, and leave tonal freeze tails behind.
// Audio thread only; prepare() is the only call that allocates.
#pragma once

#include "dsp/DspCommon.h"

#include <array>
#include <cstdint>
#include <vector>

namespace nx {

class RhythmicEcho {
public:
    static constexpr int kNumGrains = 32;
    static constexpr int kNumTails = 8;
    static constexpr int kMaxPeaks = 8;
    static constexpr int kFftSize = 512;

    struct Grain {
        bool active = false;
        bool fromB = false;     // reads the source ring (B) rather than the trigger ring (A)
        int32_t startDelay = 0; // samples before it starts playing
        int32_t length = 0;     // playing length, samples
        int32_t pos = 0;        // samples played
        float rate = 1.0f;      // read-speed factor
        int32_t distance = 0;   // samples behind the write position where reading starts
        float gain = 1.0f;
        int32_t fadeSamples = 16; // linear attack
        float decayRate = 0.0f;   // exponential decay per sample after the attack
    };

    struct FreezeTail {
        bool active = false;
        int32_t length = 0;
        int32_t pos = 0;
        float gain = 0.0f;
        int32_t numPeaks = 0;
        float freqHz[kMaxPeaks] = {};
        float amp[kMaxPeaks] = {};
        float phase[kMaxPeaks] = {};
        float phaseStep[kMaxPeaks] = {}; // 2*pi*freqHz/sampleRate, radians per sample
    };

    RhythmicEcho() = default;

    // Sizes the rings and derives the rate-dependent values; resets. A rate not above 0 counts as
    // 44100 Hz; rates above 768 kHz are taken as 768 kHz.
    void prepare(double sampleRate);
    // Silences all state; keeps settings, buffer sizes and the random state.
    void reset() noexcept;

    // Setters ignore non-finite values (the previous setting stays), except setBpm, for which they mean
    // "no tempo".
    void setCharacter(float character) noexcept;     // [0, 1]
    void setGrainLpHz(float hz) noexcept;            // output low-pass corner, limited when rebuilt
    void setGrainEchoes(int32_t echoes) noexcept;    // [0, 8]
    void setGrainEchoDecay(float decay) noexcept;    // [0, 0.95]
    void setBpm(float bpm) noexcept;                 // sets the echo spacing
    void setFreeze(float freeze) noexcept;           // [0, 1]
    void setFreezeTonality(float tonality) noexcept; // at least 1
    void setFreezePeaks(int32_t peaks) noexcept;     // [1, 8]

    // trigger: n samples (never null); source: n samples or null; out: n samples. Non-finite input
    // samples are taken as 0.
    void process(const float* trigger, const float* source, float* out, int n) noexcept;

    // Read access for diagnostics and tests.
    const std::array<Grain, kNumGrains>& grains() const noexcept { return grains_; }
    const std::array<FreezeTail, kNumTails>& tails() const noexcept { return tails_; }
    int32_t nextGrain() const noexcept { return nextGrain_; }
    int32_t nextTail() const noexcept { return nextTail_; }
    int32_t samplesSinceOnset() const noexcept { return samplesSinceOnset_; }
    int32_t refractorySamples() const noexcept { return refractorySamples_; }
    int32_t stepSamples() const noexcept { return stepSamples_; }
    int32_t fallbackStepSamples() const noexcept { return fallbackStepSamples_; }
    int32_t minGrainSamples() const noexcept { return minGrainSamples_; }
    int32_t maxGrainSamples() const noexcept { return maxGrainSamples_; }
    int32_t jitterSamples() const noexcept { return jitterSamples_; }
    size_t bufferLength() const noexcept { return bufA_.data.size(); }
    float sourceEnv() const noexcept { return sourceEnv_; }
    const Biquad& outputFilter() const noexcept { return lp_; }

private:
    friend struct RhythmicEchoTestAccess;

    struct Ring {
        std::vector<float> data;
        uint64_t mask = 0;
        uint64_t writePos = 0;
    };

    void rebuildIfDirty() noexcept;
    int32_t randInt(int32_t lo, int32_t hi) noexcept;
    float randUnit() noexcept;
    void spawnGrain(int32_t startDelay, float gain, bool fromB) noexcept;
    void spawnFreezeTail(bool fromB) noexcept;
    void fft512() noexcept;

    // Transient detector.
    float slowEnv_ = 0.0f;
    float fastEnv_ = 0.0f;
    float peakHold_ = 0.000001f;
    int32_t samplesSinceOnset_ = 0;
    int32_t refractorySamples_ = 0;
    float slowCoef_ = 0.005f;
    float fastCoef_ = 0.1f;
    float onsetRatio_ = 0.25f;
    float peakDecay_ = 0.0f;

    Ring bufA_; // trigger
    Ring bufB_; // source

    float sourceEnv_ = 0.0f;
    float sourceEnvCoef_ = 0.0f;

    std::array<Grain, kNumGrains> grains_{};
    int32_t nextGrain_ = 0;

    Biquad lp_; // output low-pass, pass-through until the first rebuild

    float grainLpHz_ = 7000.0f;
    int32_t grainEchoes_ = 3;
    float grainEchoDecay_ = 0.55f;
    float character_ = 0.5f;
    bool dirty_ = true;
    Xorshift32 rng_{0xC0FFEEu}; // seeded once, by construction: the sequence runs on across resets

    std::array<FreezeTail, kNumTails> tails_{};
    int32_t nextTail_ = 0;

    float fftRe_[kFftSize] = {};
    float fftIm_[kFftSize] = {};

    float freeze_ = 0.0f;
    float freezeTonality_ = 5.0f;
    int32_t freezePeaks_ = 8;
    double sampleRate_ = 44100.0;
    int32_t fallbackStepSamples_ = 0;
    int32_t stepSamples_ = 0;
    float bpm_ = 0.0f;
    int32_t minGrainSamples_ = 0;
    int32_t maxGrainSamples_ = 0;
    int32_t jitterSamples_ = 0;
};

} // namespace nx
