// The XY morph: blends the four character corners (Whisper, Poltergeist, Abyss, Monolith) into one set of
// engine settings for a pad position. Stateless; compute() is real-time safe and runs on the audio thread.
#pragma once

#include "dsp/DspCommon.h"

namespace nx {

class XYMorph {
public:
    XYMorph() = delete;

    // Weighted blend of the corners for pad position (x, y), each clamped to [0, 1] (NaN counts as 0).
    // The bilinear corner weights are raised to sharpness (at least 0.1) and normalised; levels are blended
    // as linear amplitudes, the two counts are rounded. When every weight underflows, the nearest corner is
    // returned unchanged.
    static AnchorParams compute(float x, float y, float sharpness) noexcept;

    static const AnchorParams& whisper() noexcept;  // x 0, y 0
    static const AnchorParams& brutal() noexcept;   // x 1, y 0 (the Poltergeist corner)
    static const AnchorParams& abyss() noexcept;    // x 0, y 1
    static const AnchorParams& monolith() noexcept; // x 1, y 1
};

} // namespace nx
