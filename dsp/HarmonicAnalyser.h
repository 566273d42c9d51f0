// The harmonic cloud's analysis of one 2048-sample frame: YIN pitch, smoothed fundamental and the
// smoothed magnitudes of harmonics 1..8 (Hann window, Goertzel). One object per analysing thread: the
// cloud's worker has one, and the audio thread has another for offline renders. prepare() allocates;
// restart() and analyse() do not.
#pragma once

#include "dsp/PitchTrackerYIN.h"

#include <array>
#include <vector>

namespace nx {

class HarmonicAnalyser {
public:
    static constexpr int kFrameSize = 2048;
    static constexpr int kNumHarmonics = 8;

    struct Result {
        float f0Hz = 100.0f;
        unsigned voiced = 0;
        std::array<float, kNumHarmonics> amps{};
    };

    // Builds the window and work buffers on first use and (re)prepares the tracker when the rate changed.
    // A rate not above 0 leaves the analyser unprepared.
    void prepare(double sampleRate);
    bool isPrepared() const noexcept { return trackerSampleRate_ > 0.0 && !window_.empty(); }
    double sampleRate() const noexcept { return trackerSampleRate_; }

    // Forgets the estimates: fundamental back to 100 Hz, amplitudes 0.
    void restart() noexcept;
    Result current(unsigned voiced) const noexcept;

    // Analyses frame[0..2047] (oldest sample first) and returns the new estimates. Unvoiced frames halve
    // the amplitudes and keep the fundamental.
    Result analyse(const float* frame) noexcept;

private:
    PitchTrackerYIN tracker_;
    std::vector<float> window_;
    std::vector<float> windowed_;
    float f0Estimate_ = 100.0f;
    std::array<float, kNumHarmonics> partialAmps_{};
    double trackerSampleRate_ = 0.0;
};

} // namespace nx
