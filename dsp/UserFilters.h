// The user's global high-pass and low-pass on the shaped phantom layer (both channels), applied after the
// post-mix shaper. Audio thread only; nothing here allocates.
#pragma once

#include "dsp/DspCommon.h"

namespace nx {

class UserFilters {
public:
    // A corner at or beyond these limits bypasses its filter: the layer passes bit for bit unchanged.
    static constexpr float kHpBypassHz = 20.0f;
    static constexpr float kLpBypassHz = 20000.0f;
    // A corner is redesigned only when it moves by more than this.
    static constexpr float kRebuildThresholdHz = 0.5f;

    UserFilters() = default;

    // A rate not above 0 counts as 44100 Hz. Clears state and redesigns both filters.
    void prepare(double sampleRate) noexcept;
    void reset() noexcept;

    // Corners in Hz, limited to [20, 20000]; NaN leaves the corner unchanged. A move of 0.5 Hz or less is
    // ignored, except that reaching a bypass limit always takes effect.
    void setHpHz(float hz) noexcept;
    void setLpHz(float hz) noexcept;

    // Filters n samples of both channels in place. A block that leaves a filter's state non-finite is
    // replaced by silence and the filters start clean.
    void process(float* left, float* right, int n) noexcept;

    float hpHz() const noexcept { return hpHz_; }
    float lpHz() const noexcept { return lpHz_; }
    bool hpActive() const noexcept { return hpHz_ > kHpBypassHz; }
    bool lpActive() const noexcept { return lpHz_ < kLpBypassHz; }
    // Counts coefficient designs since construction; lets callers verify the rebuild rule.
    unsigned rebuildCount() const noexcept { return rebuildCount_; }

private:
    void rebuildIfDirty() noexcept;

    double sampleRate_ = 44100.0;
    float hpHz_ = 60.0f;
    float lpHz_ = 10000.0f;
    bool dirty_ = true;
    unsigned rebuildCount_ = 0;
    Biquad hpL_, hpR_, lpL_, lpR_;
};

} // namespace nx
