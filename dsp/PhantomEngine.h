// The engine frame: smooths the pad, morphs the four corners into the block's settings, runs the three
// phantom engines and the post-mix shaper, meters everything and adds the shaped layer to the dry input.
// prepare/reset/processBlock run on the audio thread (or its reset path); setters on any thread; the
// meters, the mode and currentAnchors() may be read from any thread.
#pragma once

#include "dsp/DspCommon.h"

#include <cstdint>
#include <memory>

namespace nx {

// The gains the last processed block mixed with (linear), and its smoothed dry/wet amount.
struct EngineMix {
    float harmonicGain = 0.0f;
    float rhythmicGain = 0.0f;
    float washGain = 0.0f;
    float returnGain = 0.0f;
    float dryWet = 0.0f;
};

class PhantomEngine {
public:
    PhantomEngine();
    ~PhantomEngine();
    PhantomEngine(const PhantomEngine&) = delete;
    PhantomEngine& operator=(const PhantomEngine&) = delete;
    PhantomEngine(PhantomEngine&&) = delete;
    PhantomEngine& operator=(PhantomEngine&&) = delete;

    // Sizes every buffer for blocks of up to maxBlockSize samples and prepares the components; the only
    // call that allocates. A rate not above 0 (or not finite) counts as 44100 Hz, a block size below 1 as 1.
    void prepare(double sampleRate, int maxBlockSize);
    // Clears the components' audio state; smoothers, meters, settings and published anchors stay.
    // Allocation- and lock-free.
    void reset() noexcept;

    // Setters store values that the next processBlock picks up (relaxed atomics, any thread).
    // Non-finite arguments are ignored unless noted.
    void setXY(float x, float y) noexcept;           // each clamped to [0, 1]
    void setSharpness(float sharpness) noexcept;     // not above 0.1 (or NaN) becomes 0.1
    void setHarmonicTrimDb(float trimDb) noexcept;   // unclamped
    void setRhythmicTrimDb(float trimDb) noexcept;   // unclamped
    void setWashTrimDb(float trimDb) noexcept;       // unclamped
    void setReturnTrimDb(float trimDb) noexcept;     // unclamped
    void setDryWet(float amount) noexcept;           // clamped to [0, 1]
    void setMode(int mode) noexcept;                 // stored as is; only 1 (SEND) changes processing
    void setUserHpHz(float hz) noexcept;             // user high-pass on the layer; 20 Hz and below: off
    void setUserLpHz(float hz) noexcept;             // user low-pass on the layer; 20 kHz and above: off
    void setWow(float depth) noexcept;               // clamped to [0, 1]
    void setBpm(float bpm) noexcept;                 // not above 0 (or not finite) becomes 0 = no tempo
    void setRootNoteOverride(int midiNote) noexcept; // clamped to [-1, 127]; -1 follows the detected pitch
    // Bit i of mask makes value i replace the morphed field i (character, saturation, darkness, ducking,
    // stereoWidth, predelayMs, washLpHz, freeze, freezeTonality). Values are stored unclamped.
    void setAdvancedOverrides(unsigned mask, float character, float saturation, float darkness, float ducking,
                              float stereoWidth, float predelayMs, float washLpHz, float freeze,
                              float freezeTonality) noexcept;

    // One block of 1..maxBlockSize samples (other n: returns at once, nothing touched). peerSum may be
    // null (no peers); outL/outR may alias inL/inR. Real-time safe.
    void processBlock(const float* inL, const float* inR, const float* peerSum, float* outL, float* outR,
                      int n) noexcept;

    // The settings of the last block (morphed and overridden), as one consistent record; zeros before the
    // first block. Never blocks the audio thread.
    AnchorParams currentAnchors() const noexcept;

    int rootNoteOverride() const noexcept;
    int currentMode() const noexcept;
    // (inL + inR) / 2 of the last block: lastBlockSize() valid samples, until the next processBlock.
    const float* localDryMono() const noexcept;
    int lastBlockSize() const noexcept;

    // Smoothed block RMS values, linear amplitude.
    float harmonicMeter() const noexcept;
    float rhythmicMeter() const noexcept;
    float washMeter() const noexcept;
    float phantomMeter() const noexcept;
    float peerSumMeter() const noexcept;
    float localDryMeter() const noexcept;

    // Gains and dry/wet amount of the last block (each value read whole; any thread).
    EngineMix lastMix() const noexcept;

    // Pitch the harmonic cloud currently follows, Hz (100 until one is detected; the last one is kept
    // through silence).
    float harmonicF0Hz() const noexcept;
    // Offline renders: the harmonic analysis runs in step with the audio instead of on its worker thread,
    // so the same input gives the same output bit for bit. Any thread; takes effect at the next block.
    void setOfflineMode(bool offline) noexcept;
    // Root the spectral wash currently resonates on, Hz (130 after prepare).
    float washRootHz() const noexcept;

    double sampleRate() const noexcept;
    int maxBlockSize() const noexcept;

private:
    struct EngineState;
    std::unique_ptr<EngineState> state_;
};

} // namespace nx
