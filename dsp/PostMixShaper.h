// Last stage of the phantom layer: predelay, high- and low-pass, asymmetric tape saturation, a darkening
// shelf at 2 kHz, ducking keyed by the dry signal, and a Haas-based stereo width.
// Audio thread only; prepare() is the only call that allocates.
#pragma once

#include "dsp/DspCommon.h"

#include <cstdint>
#include <vector>

namespace nx {

class PostMixShaper {
public:
    PostMixShaper() = default;

    // Sizes the rings and computes the fixed filters. A rate not above 0 counts as 44100 Hz.
    // maxBlockSize is accepted for symmetry with the other components and not used.
    void prepare(double sampleRate, int maxBlockSize);
    // Clears rings, filter states and the ducking envelope; settings stay.
    void reset() noexcept;
    // Takes over hpHz, lpHz, saturation, darkness, ducking, stereoWidth and predelayMs, each only when it
    // moved past its threshold (0.5 for Hz and ms, 0.001 for the 0..1 and width values). NaN never passes.
    void setAnchorParams(const AnchorParams& a) noexcept;
    void rebuildIfDirty() noexcept;
    // Shapes n samples of in into outL/outR; dry is the ducking key (null: no ducking). Non-finite samples
    // of in or dry are taken as 0. outL/outR may alias in.
    void process(const float* in, const float* dry, float* outL, float* outR, int n) noexcept;

    // Read-only views for tests and the editor.
    double sampleRate() const noexcept { return sampleRate_; }
    size_t predelayRingSize() const noexcept { return predelayBuffer_.size(); }
    size_t haasRingSize() const noexcept { return haasBuffer_.size(); }
    float hpHz() const noexcept { return hpHz_; }
    float lpHz() const noexcept { return lpHz_; }
    float saturation() const noexcept { return saturation_; }
    float darkness() const noexcept { return darkness_; }
    float ducking() const noexcept { return ducking_; }
    float stereoWidth() const noexcept { return stereoWidth_; }
    float predelayMs() const noexcept { return predelayMs_; }
    bool dirty() const noexcept { return dirty_; }
    float drive() const noexcept { return drive_; }
    float makeup() const noexcept { return makeup_; }
    float envelope() const noexcept { return envelope_; }
    float peak() const noexcept { return peak_; }
    const Biquad& highPass() const noexcept { return highPass_; }

private:
    template <bool Saturate, bool Duck>
    void run(const float* in, const float* dry, float* outL, float* outR, int n, float duck,
             float predelayTarget, float haasTarget, float widthTarget) noexcept;

    double sampleRate_ = 44100.0;
    std::vector<float> predelayBuffer_;
    uint64_t predelayMask_ = 0;
    uint64_t predelayWrite_ = 0;
    Biquad highPass_;
    Biquad lowPass_;
    Biquad darkShelf_;
    Biquad saturationSmoother_;
    Biquad haasLowPass_;
    float envelope_ = 0.0f;
    float envelopeCoefficient_ = 0.001f;
    float peak_ = 0.000001f;
    float peakDecay_ = 0.0f;
    std::vector<float> haasBuffer_;
    uint64_t haasMask_ = 0;
    uint64_t haasWrite_ = 0;
    float hpHz_ = 60.0f;
    float lpHz_ = 10000.0f;
    float saturation_ = 0.0f;
    float darkness_ = 0.0f;
    float ducking_ = 0.0f;
    float stereoWidth_ = 0.6f;
    float predelayMs_ = 0.0f;
    bool dirty_ = true;
    float predelaySamples_ = 0.0f;
    float haasSamples_ = 0.0f;
    float delayCoefficient_ = 0.0f;
    bool firstBlock_ = true;
    float drive_ = 1.0f;
    float makeup_ = 1.0f;
    float widthWeight_ = 0.0f; // smoothed weight of the Haas side signal, see process()
};

} // namespace nx
