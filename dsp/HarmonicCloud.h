// Harmonic engine of the phantom layer: tracks the pitch and harmonic levels of the local dry signal on a
// worker thread it owns, and resynthesises them on the audio thread as three detuned voices of eight
// harmonics with vibrato and tremolo. Audio thread and worker meet only in two sequence-locked mailboxes.
#pragma once

#include "dsp/HarmonicAnalyser.h"
#include "dsp/SeqLockBuffer.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace nx {

class HarmonicCloud {
public:
    static constexpr int kFrameSize = HarmonicAnalyser::kFrameSize; // samples per analysed frame
    static constexpr int kHopSize = 512;                            // samples between two frames
    static constexpr int kNumHarmonics = HarmonicAnalyser::kNumHarmonics;
    static constexpr int kNumVoices = 3;
    static constexpr float kVoiceCents[kNumVoices] = {-15.0f, 0.0f, 15.0f};

    HarmonicCloud() = default;
    ~HarmonicCloud(); // stops and joins the worker within one pass
    HarmonicCloud(const HarmonicCloud&) = delete;
    HarmonicCloud& operator=(const HarmonicCloud&) = delete;

    // Setup or audio thread, never concurrently with process(). Allocates on first use; starts the worker
    // once. A rate not above 0 counts as 44100 Hz.
    void prepare(double sampleRate);
    // Clears the audio-side state and makes the analysis start over.
    void reset() noexcept;

    void setCharacter(float character) noexcept; // tremolo depth, clamped to [0, 1]
    // When on, each hop's analysis runs on the calling thread in step with the audio, so the output
    // depends on the input alone (offline renders); when off, the worker analyses. Any thread.
    void setOfflineMode(bool on) noexcept { offlineMode_.store(on, std::memory_order_relaxed); }
    bool offlineMode() const noexcept { return offlineMode_.load(std::memory_order_relaxed); }

    float currentF0Hz() const noexcept { return currentF0Shared_.load(std::memory_order_relaxed); }
    float character() const noexcept { return character_; }
    bool workerRunning() const noexcept { return workerStarted_.load(std::memory_order_acquire); }

    // Audio thread. in and out hold n samples and may be the same buffer. Non-finite input samples are
    // taken as 0.
    void process(const float* in, float* out, int n) noexcept;

    // The two sides of the mailbox protocol, each to be called only on the thread named.
    void startWorker();
    void publishFrame() noexcept;                                              // audio thread
    void latchAnalysis() noexcept;                                             // audio thread
    bool tryReadFrame(float* dst) noexcept;                                    // worker thread
    void publishResult(float f0, unsigned voiced, const float* amps) noexcept; // worker thread

private:
    void workerLoop() noexcept;
    void offlineHop() noexcept;
    template <bool kExactSines>
    void render(const float* in, float* out, int n) noexcept;

    friend struct HarmonicCloudTestAccess;

    // Audio-thread state.
    std::vector<float> inputRing_;
    int32_t ringWrite_ = 0;
    int32_t hopCounter_ = 0;
    float currentF0_ = 100.0f;
    float previousF0_ = 100.0f;
    std::array<float, kNumHarmonics> currentAmps_{};
    std::array<float, kNumHarmonics> previousAmps_{};
    int32_t interpCounter_ = 0;
    float interpLength_ = 512.0f;
    float partialPhases_[kNumVoices][kNumHarmonics] = {};
    float vibratoPhases_[kNumVoices] = {};
    float tremoloPhase_ = 0.0f;
    double sampleRate_ = 44100.0;
    float character_ = 0.5f;
    std::atomic<float> currentF0Shared_{100.0f}; // currentF0 for other threads
    bool exactSines_ = false; // std::sin for every oscillator: the reference the fast form is held to

    // Offline analysis, run on the audio thread: its own analyser, a contiguous frame and the result
    // that the next hop latches.
    HarmonicAnalyser offlineAnalyser_;
    std::vector<float> offlineFrame_;
    HarmonicAnalyser::Result offlinePending_;
    std::atomic<bool> offlineMode_{false};

    // Shared with the worker: the frame mailbox (audio -> worker, 2048 samples, oldest first) and the
    // result mailbox (worker -> audio: f0 in Hz, voiced as 0 or 1, the eight amplitudes), each written by
    // one thread only. Both are sized once, before the worker starts, and never move.
    static constexpr size_t kResultF0 = 0, kResultVoiced = 1, kResultAmps = 2;
    static constexpr size_t kResultSize = kResultAmps + kNumHarmonics;
    SeqLockBuffer frameBuffer_;
    SeqLockBuffer result_;
    std::atomic<double> workerSampleRate_{0.0};
    std::atomic<int32_t> generation_{0};
    std::thread worker_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> workerStarted_{false};

    // Worker-thread state.
    HarmonicAnalyser analyser_;
    std::vector<float> frameCopy_;
    int32_t seenGeneration_ = 0;
    uint32_t seenFrameSequence_ = 0;
};

} // namespace nx
