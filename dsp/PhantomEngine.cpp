// The engine frame: state record, setters, block-rate smoothing, morph and overrides, the anchors'
// sequence lock, the engines' gains and the final mix. Audio thread except the setters and readers.
#include "dsp/PhantomEngine.h"

#include "dsp/HarmonicCloud.h"
#include "dsp/PostMixShaper.h"
#include "dsp/RhythmicEcho.h"
#include "dsp/SpectralWashV8.h"
#include "dsp/UserFilters.h"
#include "dsp/XYMorph.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <thread>
#include <vector>

namespace nx {
namespace {

constexpr double kDefaultSampleRate = 44100.0;
constexpr float kMuteLevelDb = -60.0f;   // an anchor level at or below this mutes its engine exactly
constexpr float kInitialRootHz = 130.0f; // wash root until a pitch or an override moves it
constexpr float kMinRootHz = 40.0f;      // detected pitches outside 40..600 Hz leave the root alone
constexpr float kMaxRootHz = 600.0f;
constexpr int kOverrideCount = 9;
constexpr int kAnchorWords = static_cast<int>(sizeof(AnchorParams) / sizeof(uint32_t));

// Block-rate one-pole smoothing: advancing by n samples at once lands where n single steps would.
struct OnePoleSmoother {
    double sampleRate = kDefaultSampleRate;
    float coefficient = 0.01f;
    float current = 0.0f;
    float target = 0.0f;

    void setTimeMs(double sr, float timeMs) noexcept {
        sampleRate = sr;
        const float seconds = timeMs * 0.001f;
        coefficient = 1.0f - std::exp(-1.0f / (static_cast<float>(sr) * seconds));
    }
    void snapTo(float v) noexcept { current = target = v; }
    void advance(int n) noexcept {
        const float a = 1.0f - std::pow(1.0f - coefficient, static_cast<float>(n));
        current += a * (target - current);
    }
};

// Relaxed atomics: each setting is one 32-bit value, read once per block.
void store(std::atomic<float>& field, float v) noexcept {
    field.store(v, std::memory_order_relaxed);
}
float load(const std::atomic<float>& field) noexcept {
    return field.load(std::memory_order_relaxed);
}
void storeIfFinite(std::atomic<float>& field, float v) noexcept {
    if (std::isfinite(v)) store(field, v);
}
float clamp01(float v) noexcept {
    return std::clamp(v, 0.0f, 1.0f);
}

float engineGain(float levelDb, float trimDb) noexcept {
    return levelDb > kMuteLevelDb ? std::pow(10.0f, (levelDb + trimDb) / 20.0f) : 0.0f;
}

// Non-finite samples must not reach the engines' recursive state: they count as silence.
float finiteOrZero(float v) noexcept {
    return std::isfinite(v) ? v : 0.0f;
}

float blockRms(const float* v, int n) noexcept {
    float sum = 0.0f;
    for (int i = 0; i < n; ++i) sum += v[i] * v[i];
    return std::sqrt(sum / static_cast<float>(n));
}

// Block RMS of a caller's buffer in which a non-finite sample counts as 0 (the others still count).
float blockRmsOfFinite(const float* v, int n) noexcept {
    float sum = 0.0f;
    for (int i = 0; i < n; ++i) {
        const float x = finiteOrZero(v[i]);
        sum += x * x;
    }
    return finiteOrZero(std::sqrt(sum / static_cast<float>(n)));
}

} // namespace

struct PhantomEngine::EngineState {
    // Audio thread (prepare).
    double sampleRate = kDefaultSampleRate;
    int maxBlockSize = 512;

    // Settings: written by the setters on any thread, read once per block.
    std::atomic<float> x{0.5f}, y{0.5f};
    std::atomic<float> sharpness{2.6f};
    std::atomic<float> harmonicTrimDb{0.0f}, rhythmicTrimDb{0.0f}, washTrimDb{0.0f}, returnTrimDb{0.0f};
    std::atomic<float> dryWet{0.5f};
    std::atomic<int32_t> mode{0};
    std::atomic<float> userHpHz{60.0f}, userLpHz{10000.0f};
    std::atomic<float> wow{0.0f};
    std::atomic<float> bpm{0.0f};
    std::atomic<int32_t> rootNoteOverride{-1};
    std::atomic<uint32_t> advancedOverrideMask{0};
    // character, saturation, darkness, ducking, stereoWidth, predelayMs, washLpHz, freeze, freezeTonality
    std::array<std::atomic<float>, kOverrideCount> overrideValues{0.5f, 0.0f,    0.0f, 0.0f, 1.0f,
                                                                  0.0f, 5000.0f, 0.0f, 5.0f};

    // The last block's settings for the editor, guarded by anchorSequence (odd while being written).
    // Stored as 32-bit words so that readers and the writer never race on plain memory.
    std::array<std::atomic<uint32_t>, kAnchorWords> publishedAnchors{};
    std::atomic<uint32_t> anchorSequence{0};

    // Meters: written by the audio thread, read anywhere.
    std::atomic<float> harmonicMeter{0.0f}, rhythmicMeter{0.0f}, washMeter{0.0f}, phantomMeter{0.0f};
    std::atomic<float> peerSumMeter{0.0f}, localDryMeter{0.0f};
    float meterCoefficient = 0.0f;

    OnePoleSmoother xSmoother, ySmoother, dryWetSmoother, rootHzSmoother;
    std::atomic<float> washRootHz{kInitialRootHz};
    std::atomic<float> lastHarmonicGain{0.0f}, lastRhythmicGain{0.0f}, lastWashGain{0.0f},
        lastReturnGain{0.0f};
    std::atomic<float> lastDryWet{0.0f};

    // Components, constructed in this order: wash, cloud, echo, shaper; then the user's high- and
    // low-pass on the shaped layer.
    SpectralWashV8 wash;
    HarmonicCloud cloud;
    RhythmicEcho echo;
    PostMixShaper shaper;
    UserFilters userFilters;

    std::vector<float> washInput, localDryMono, washOut, harmonicOut, rhythmicOut, phantomMix, shaperOutL,
        shaperOutR;
    std::atomic<int32_t> lastBlockSize{0};
};

PhantomEngine::PhantomEngine() : state_(std::make_unique<EngineState>()) {}

PhantomEngine::~PhantomEngine() = default;

void PhantomEngine::prepare(double sampleRate, int maxBlockSize) {
    EngineState& s = *state_;
    s.sampleRate = (sampleRate > 0.0 && std::isfinite(sampleRate)) ? sampleRate : kDefaultSampleRate;
    s.maxBlockSize = std::max(maxBlockSize, 1);

    s.dryWetSmoother.setTimeMs(s.sampleRate, 50.0f);
    s.dryWetSmoother.snapTo(load(s.dryWet));
    s.meterCoefficient = static_cast<float>(1.0 - std::exp(-1.0 / (s.sampleRate * 0.08)));
    s.xSmoother.setTimeMs(s.sampleRate, 60.0f);
    s.xSmoother.snapTo(load(s.x));
    s.ySmoother.setTimeMs(s.sampleRate, 60.0f);
    s.ySmoother.snapTo(load(s.y));
    s.rootHzSmoother.setTimeMs(s.sampleRate, 3000.0f);
    s.rootHzSmoother.snapTo(kInitialRootHz);
    store(s.washRootHz, kInitialRootHz);

    // Components: wash (then its root to 130 Hz), cloud, echo, shaper.
    s.wash.prepare(s.sampleRate);
    s.wash.setRootHz(kInitialRootHz);
    s.cloud.prepare(s.sampleRate);
    s.echo.prepare(s.sampleRate);
    s.shaper.prepare(s.sampleRate, s.maxBlockSize);
    s.userFilters.prepare(s.sampleRate);

    const auto size = static_cast<size_t>(s.maxBlockSize);
    for (std::vector<float>* buffer : {&s.washInput, &s.localDryMono, &s.washOut, &s.harmonicOut,
                                       &s.rhythmicOut, &s.phantomMix, &s.shaperOutL, &s.shaperOutR})
        buffer->assign(size, 0.0f);
}

void PhantomEngine::reset() noexcept {
    // Components: wash, cloud, echo, shaper, in this order.
    state_->wash.reset();
    state_->cloud.reset();
    state_->echo.reset();
    state_->shaper.reset();
    state_->userFilters.reset();
}

void PhantomEngine::setXY(float x, float y) noexcept {
    if (!std::isnan(x)) store(state_->x, clamp01(x));
    if (!std::isnan(y)) store(state_->y, clamp01(y));
}

void PhantomEngine::setSharpness(float sharpness) noexcept {
    if (std::isinf(sharpness) && sharpness > 0.0f) return;
    store(state_->sharpness, sharpness > 0.1f ? sharpness : 0.1f);
}

void PhantomEngine::setHarmonicTrimDb(float trimDb) noexcept {
    storeIfFinite(state_->harmonicTrimDb, trimDb);
}
void PhantomEngine::setRhythmicTrimDb(float trimDb) noexcept {
    storeIfFinite(state_->rhythmicTrimDb, trimDb);
}
void PhantomEngine::setWashTrimDb(float trimDb) noexcept {
    storeIfFinite(state_->washTrimDb, trimDb);
}
void PhantomEngine::setReturnTrimDb(float trimDb) noexcept {
    storeIfFinite(state_->returnTrimDb, trimDb);
}

void PhantomEngine::setDryWet(float amount) noexcept {
    if (!std::isnan(amount)) store(state_->dryWet, clamp01(amount));
}

void PhantomEngine::setMode(int mode) noexcept {
    state_->mode.store(mode, std::memory_order_relaxed);
}
void PhantomEngine::setUserHpHz(float hz) noexcept {
    storeIfFinite(state_->userHpHz, hz);
}
void PhantomEngine::setUserLpHz(float hz) noexcept {
    storeIfFinite(state_->userLpHz, hz);
}

void PhantomEngine::setWow(float depth) noexcept {
    if (!std::isnan(depth)) store(state_->wow, clamp01(depth));
}

void PhantomEngine::setBpm(float bpm) noexcept {
    store(state_->bpm, (bpm > 0.0f && std::isfinite(bpm)) ? bpm : 0.0f);
}

void PhantomEngine::setRootNoteOverride(int midiNote) noexcept {
    state_->rootNoteOverride.store(std::clamp(midiNote, -1, 127), std::memory_order_relaxed);
}

int PhantomEngine::rootNoteOverride() const noexcept {
    return state_->rootNoteOverride.load(std::memory_order_relaxed);
}

void PhantomEngine::setAdvancedOverrides(unsigned mask, float character, float saturation, float darkness,
                                         float ducking, float stereoWidth, float predelayMs, float washLpHz,
                                         float freeze, float freezeTonality) noexcept {
    EngineState& s = *state_;
    s.advancedOverrideMask.store(mask, std::memory_order_relaxed);
    const float values[kOverrideCount] = {character,  saturation, darkness, ducking,       stereoWidth,
                                          predelayMs, washLpHz,   freeze,   freezeTonality};
    for (int i = 0; i < kOverrideCount; ++i) storeIfFinite(s.overrideValues[i], values[i]);
}

void PhantomEngine::processBlock(const float* inL, const float* inR, const float* peerSum, float* outL,
                                 float* outR, int n) noexcept {
    EngineState& s = *state_;
    // Blocks without samples, longer than the buffers, or without audio pointers are left alone: the RMS
    // terms divide by n and the work buffers hold maxBlockSize samples.
    if (n < 1 || n > s.maxBlockSize || s.localDryMono.size() < static_cast<size_t>(n)) return;
    if (inL == nullptr || inR == nullptr || outL == nullptr || outR == nullptr) return;
    s.lastBlockSize.store(n, std::memory_order_relaxed);

    // Pad smoothing and morph.
    s.xSmoother.target = load(s.x);
    s.ySmoother.target = load(s.y);
    s.xSmoother.advance(n);
    s.ySmoother.advance(n);
    AnchorParams a = XYMorph::compute(s.xSmoother.current, s.ySmoother.current, load(s.sharpness));

    // Advanced overrides.
    const uint32_t mask = s.advancedOverrideMask.load(std::memory_order_relaxed);
    float* const overridden[kOverrideCount] = {&a.character, &a.saturation,  &a.darkness,
                                               &a.ducking,   &a.stereoWidth, &a.predelayMs,
                                               &a.washLpHz,  &a.freeze,      &a.freezeTonality};
    for (int i = 0; i < kOverrideCount; ++i)
        if (mask & (1u << i)) *overridden[i] = load(s.overrideValues[i]);

    // Publish for the editor: the word stores are release stores, so none of them can move before the odd
    // counter value or after the even one.
    const uint32_t seq = s.anchorSequence.load(std::memory_order_relaxed);
    s.anchorSequence.store(seq + 1, std::memory_order_relaxed);
    const auto words = std::bit_cast<std::array<uint32_t, kAnchorWords>>(a);
    for (int i = 0; i < kAnchorWords; ++i) s.publishedAnchors[i].store(words[i], std::memory_order_release);
    s.anchorSequence.store(seq + 2, std::memory_order_release);

    // Configure the components from a, wow and bpm.
    const float blockBpm = load(s.bpm);
    s.wash.setCharacter(a.character);
    s.wash.setWashLpHz(a.washLpHz);
    s.wash.setWow(load(s.wow));
    s.wash.setBpm(blockBpm);
    s.cloud.setCharacter(a.character);
    s.echo.setCharacter(a.character);
    s.echo.setGrainLpHz(a.grainLpHz);
    s.echo.setGrainEchoes(a.grainEchoes);
    s.echo.setGrainEchoDecay(a.grainEchoDecay);
    s.echo.setBpm(blockBpm);
    s.echo.setFreeze(a.freeze);
    s.echo.setFreezeTonality(a.freezeTonality);
    s.echo.setFreezePeaks(a.freezePeaks);

    // Local dry mono and the wash input.
    float* const mono = s.localDryMono.data();
    float* const washIn = s.washInput.data();
    // A non-finite sample of one input counts as 0; the other channel's sample still counts.
    for (int i = 0; i < n; ++i) mono[i] = finiteOrZero((finiteOrZero(inL[i]) + finiteOrZero(inR[i])) * 0.5f);
    if (peerSum != nullptr) {
        for (int i = 0; i < n; ++i) washIn[i] = finiteOrZero(mono[i] + finiteOrZero(peerSum[i]));
    } else {
        std::copy_n(mono, n, washIn);
    }

    // Input meters.
    const float m = 1.0f - std::pow(1.0f - s.meterCoefficient, static_cast<float>(n));
    auto follow = [m](std::atomic<float>& meter, float target) {
        const float v = load(meter);
        store(meter, v + m * (target - v));
    };
    follow(s.localDryMeter, blockRms(mono, n));
    follow(s.peerSumMeter, peerSum != nullptr ? blockRmsOfFinite(peerSum, n) : 0.0f);

    // Harmonic cloud on the local mono.
    s.cloud.process(mono, s.harmonicOut.data(), n);

    // Wash root: a fixed note, or the detected pitch when it is plausible.
    const int rootNote = s.rootNoteOverride.load(std::memory_order_relaxed);
    bool haveRootTarget = false;
    float rootTarget = 0.0f;
    if (rootNote >= 0) {
        rootTarget = 440.0f * std::pow(2.0f, static_cast<float>(rootNote - 69) / 12.0f);
        haveRootTarget = true;
    } else {
        const float f0 = harmonicF0Hz();
        if (f0 >= kMinRootHz && f0 <= kMaxRootHz) {
            rootTarget = f0;
            haveRootTarget = true;
        }
    }
    if (haveRootTarget) {
        s.rootHzSmoother.target = rootTarget;
        s.rootHzSmoother.advance(n);
        s.wash.setRootHz(s.rootHzSmoother.current);
        store(s.washRootHz, s.wash.rootHz()); // the wash keeps its root within 40..600 Hz
    }

    // Spectral wash on local mono plus peers.
    s.wash.process(washIn, s.washOut.data(), n);

    // Rhythmic echo: triggered by the local mono, grains cut from peerSum (null: no peers).
    s.echo.process(mono, peerSum, s.rhythmicOut.data(), n);

    // Engine gains; the mute test looks at the anchor level alone.
    const float harmonicGain = engineGain(a.harmonicLevelDb, load(s.harmonicTrimDb));
    const float rhythmicGain = engineGain(a.rhythmicLevelDb, load(s.rhythmicTrimDb));
    const float washGain = engineGain(a.washLevelDb, load(s.washTrimDb));
    const float returnGain = engineGain(a.returnLevelDb, load(s.returnTrimDb));

    s.dryWetSmoother.target = load(s.dryWet);
    s.dryWetSmoother.advance(n);
    const float w = s.dryWetSmoother.current;
    store(s.lastHarmonicGain, harmonicGain);
    store(s.lastRhythmicGain, rhythmicGain);
    store(s.lastWashGain, washGain);
    store(s.lastReturnGain, returnGain);
    store(s.lastDryWet, w);

    // SEND: the engines above keep running warm, the audio passes unchanged and the engine meters hold.
    if (s.mode.load(std::memory_order_relaxed) == 1) {
        if (outL != inL) std::copy_n(inL, n, outL);
        if (outR != inR) std::copy_n(inR, n, outR);
        return;
    }

    float* const mix = s.phantomMix.data();
    const float* const harmonic = s.harmonicOut.data();
    const float* const wash = s.washOut.data();
    const float* const rhythmic = s.rhythmicOut.data();
    for (int i = 0; i < n; ++i)
        mix[i] = harmonicGain * harmonic[i] + washGain * wash[i] + rhythmicGain * rhythmic[i];

    follow(s.washMeter, washGain * blockRms(wash, n));
    follow(s.harmonicMeter, harmonicGain * blockRms(harmonic, n));
    follow(s.rhythmicMeter, rhythmicGain * blockRms(rhythmic, n));
    follow(s.phantomMeter, blockRms(mix, n));

    // Post-mix shaper keyed by the dry mono, then the user's high- and low-pass on both channels.
    s.shaper.setAnchorParams(a);
    s.shaper.process(mix, mono, s.shaperOutL.data(), s.shaperOutR.data(), n);
    s.userFilters.setHpHz(load(s.userHpHz));
    s.userFilters.setLpHz(load(s.userLpHz));
    s.userFilters.process(s.shaperOutL.data(), s.shaperOutR.data(), n);

    const float g = w * returnGain;
    const float* const shapedL = s.shaperOutL.data();
    const float* const shapedR = s.shaperOutR.data();
    for (int i = 0; i < n; ++i) outL[i] = inL[i] + g * shapedL[i];
    for (int i = 0; i < n; ++i) outR[i] = inR[i] + g * shapedR[i];
}

AnchorParams PhantomEngine::currentAnchors() const noexcept {
    const EngineState& s = *state_;
    std::array<uint32_t, kAnchorWords> words{};
    for (;;) {
        const uint32_t before = s.anchorSequence.load(std::memory_order_acquire);
        if (before & 1u) {
            std::this_thread::yield(); // the audio thread is mid-write; it never waits for us
            continue;
        }
        // Acquire loads: the closing counter load below cannot move above them.
        for (int i = 0; i < kAnchorWords; ++i)
            words[i] = s.publishedAnchors[i].load(std::memory_order_acquire);
        if (s.anchorSequence.load(std::memory_order_relaxed) == before) break;
    }
    return std::bit_cast<AnchorParams>(words);
}

int PhantomEngine::currentMode() const noexcept {
    return state_->mode.load(std::memory_order_relaxed);
}
const float* PhantomEngine::localDryMono() const noexcept {
    return state_->localDryMono.data();
}
int PhantomEngine::lastBlockSize() const noexcept {
    return state_->lastBlockSize.load(std::memory_order_relaxed);
}

float PhantomEngine::harmonicMeter() const noexcept {
    return load(state_->harmonicMeter);
}
float PhantomEngine::rhythmicMeter() const noexcept {
    return load(state_->rhythmicMeter);
}
float PhantomEngine::washMeter() const noexcept {
    return load(state_->washMeter);
}
float PhantomEngine::phantomMeter() const noexcept {
    return load(state_->phantomMeter);
}
float PhantomEngine::peerSumMeter() const noexcept {
    return load(state_->peerSumMeter);
}
float PhantomEngine::localDryMeter() const noexcept {
    return load(state_->localDryMeter);
}

EngineMix PhantomEngine::lastMix() const noexcept {
    const EngineState& s = *state_;
    return {load(s.lastHarmonicGain), load(s.lastRhythmicGain), load(s.lastWashGain), load(s.lastReturnGain),
            load(s.lastDryWet)};
}

float PhantomEngine::harmonicF0Hz() const noexcept {
    return state_->cloud.currentF0Hz();
}

void PhantomEngine::setOfflineMode(bool offline) noexcept {
    state_->cloud.setOfflineMode(offline);
}

float PhantomEngine::washRootHz() const noexcept {
    return load(state_->washRootHz);
}
double PhantomEngine::sampleRate() const noexcept {
    return state_->sampleRate;
}
int PhantomEngine::maxBlockSize() const noexcept {
    return state_->maxBlockSize;
}

} // namespace nx
