// Harmonic cloud: audio-side ring, hop and glide, additive resynthesis; the worker's loop and the two
// sequence-locked mailboxes between them.
#include "dsp/HarmonicCloud.h"

#include "dsp/FastSine.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <numbers>
#include <system_error>

namespace nx {

namespace {
constexpr float kTwoPi = static_cast<float>(2.0 * std::numbers::pi);
// Frequency ratio of each voice's detune.
const float kVoiceRatio[HarmonicCloud::kNumVoices] = {std::exp2(HarmonicCloud::kVoiceCents[0] / 1200.0f),
                                                      std::exp2(HarmonicCloud::kVoiceCents[1] / 1200.0f),
                                                      std::exp2(HarmonicCloud::kVoiceCents[2] / 1200.0f)};
constexpr int kNumPartials = HarmonicCloud::kNumVoices * HarmonicCloud::kNumHarmonics;
static_assert(kNumPartials % 4 == 0, "the oscillators are processed four at a time");

// Four oscillators at a time (the compilers' generic vector types: SSE on x86-64). Every lane computes
// exactly what the scalar expression would.
using Vec4 = float __attribute__((vector_size(16)));
using Mask4 = int32_t __attribute__((vector_size(16)));
inline Vec4 load4(const float* p) noexcept {
    Vec4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store4(float* p, Vec4 v) noexcept {
    std::memcpy(p, &v, sizeof v);
}
inline Vec4 select4(Mask4 m, Vec4 a, Vec4 b) noexcept {
    return reinterpret_cast<Vec4>((reinterpret_cast<Mask4>(a) & m) | (reinterpret_cast<Mask4>(b) & ~m));
}
// fastSinPhase for four phases.
inline Vec4 fastSin4(Vec4 phase) noexcept {
    constexpr float kPi = std::numbers::pi_v<float>;
    constexpr float kHalfPi = 0.5f * std::numbers::pi_v<float>;
    Vec4 x = select4(phase > kPi, phase - 2.0f * kPi, phase);
    x = select4(x > kHalfPi, kPi - x, x);
    x = select4(x < -kHalfPi, -kPi - x, x);
    const Vec4 x2 = x * x;
    return x * (1.0f +
                x2 * (-1.0f / 6.0f +
                      x2 * (1.0f / 120.0f +
                            x2 * (-1.0f / 5040.0f + x2 * (1.0f / 362880.0f + x2 * (-1.0f / 39916800.0f))))));
}
// (harmonic number) * (voice ratio) of each oscillator, voice-major.
const std::array<float, kNumPartials> kPartialRatio = [] {
    std::array<float, kNumPartials> r{};
    for (int v = 0; v < HarmonicCloud::kNumVoices; ++v)
        for (int k = 0; k < HarmonicCloud::kNumHarmonics; ++k)
            r[static_cast<size_t>(v * HarmonicCloud::kNumHarmonics + k)] =
                static_cast<float>(k + 1) * kVoiceRatio[v];
    return r;
}();
constexpr int kRingMask = HarmonicCloud::kFrameSize - 1;

// 2 ms; a sleep interrupted by a signal is resumed for the time that remains.
void sleepTwoMs() noexcept {
    timespec request{0, 2'000'000};
    timespec remaining{};
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR) request = remaining;
}
} // namespace

HarmonicCloud::~HarmonicCloud() {
    stopRequested_.store(true, std::memory_order_release);
    if (worker_.joinable()) worker_.join();
}

void HarmonicCloud::prepare(double sampleRate) {
    sampleRate_ = sampleRate > 0.0 ? sampleRate : 44100.0;

    inputRing_.assign(kFrameSize, 0.0f);
    offlineFrame_.assign(kFrameSize, 0.0f);
    if (frameBuffer_.empty()) {
        // First prepare: the worker does not exist yet, so the mailboxes may be allocated freely. They
        // keep their size for the object's life, so the worker never sees them move.
        frameBuffer_.assign(kFrameSize, 0.0f);
        result_.assign(kResultSize, 0.0f);
        result_.beginWrite();
        result_.store(kResultF0, 100.0f);
        result_.endWrite();
    } else {
        // The worker may be copying the frame right now: clear it under the sequence counter, as a
        // publish does, so that it never accepts a half-cleared frame.
        frameBuffer_.clear();
    }
    offlineAnalyser_.prepare(sampleRate_);

    reset();

    workerSampleRate_.store(sampleRate_, std::memory_order_relaxed);
    generation_.fetch_add(1, std::memory_order_release);
    startWorker();
}

void HarmonicCloud::reset() noexcept {
    std::fill(inputRing_.begin(), inputRing_.end(), 0.0f);
    ringWrite_ = 0;
    hopCounter_ = 0;
    currentAmps_.fill(0.0f);
    previousAmps_.fill(0.0f);
    currentF0_ = previousF0_ = 100.0f;
    currentF0Shared_.store(100.0f, std::memory_order_relaxed);
    interpCounter_ = 0;
    interpLength_ = 512.0f;
    for (auto& voice : partialPhases_) std::fill(std::begin(voice), std::end(voice), 0.0f);
    const float third = static_cast<float>(2.0 * std::numbers::pi / 3.0);
    vibratoPhases_[0] = 0.0f;
    vibratoPhases_[1] = third;
    vibratoPhases_[2] = 2.0f * third;
    tremoloPhase_ = 0.0f;

    offlineAnalyser_.restart();
    offlinePending_ = HarmonicAnalyser::Result{};

    generation_.fetch_add(1, std::memory_order_release);
}

void HarmonicCloud::setCharacter(float character) noexcept {
    if (std::isnan(character)) return;
    character_ = std::clamp(character, 0.0f, 1.0f);
}

void HarmonicCloud::startWorker() {
    if (workerStarted_.exchange(true, std::memory_order_acq_rel)) return;
    try {
        worker_ = std::thread([this] { workerLoop(); });
    } catch (const std::system_error&) {
        // No thread could be made: the cloud stays silent in real time (offline renders still analyse),
        // and the next prepare tries again.
        workerStarted_.store(false, std::memory_order_release);
    }
}

void HarmonicCloud::publishFrame() noexcept {
    frameBuffer_.beginWrite();
    for (int j = 0; j < kFrameSize; ++j)
        frameBuffer_.store(static_cast<size_t>(j),
                           inputRing_[static_cast<size_t>((ringWrite_ + j) & kRingMask)]);
    frameBuffer_.endWrite();
}

void HarmonicCloud::latchAnalysis() noexcept {
    float candidateF0 = currentF0_;
    std::array<float, kNumHarmonics> candidateAmps = currentAmps_;
    float copy[kResultSize];
    // A result being written right now is skipped: the old values hold for one more hop.
    if (!result_.empty() && result_.tryCopy(copy)) {
        candidateF0 = copy[kResultF0];
        std::copy_n(copy + kResultAmps, kNumHarmonics, candidateAmps.begin());
    }
    previousF0_ = currentF0_;
    previousAmps_ = currentAmps_;
    currentF0_ = candidateF0;
    currentAmps_ = candidateAmps;
    currentF0Shared_.store(currentF0_, std::memory_order_relaxed);
}

bool HarmonicCloud::tryReadFrame(float* dst) noexcept {
    for (int attempt = 0; attempt < 16; ++attempt) {
        const uint32_t s = frameBuffer_.sequence();
        if (s & 1u) continue;
        if (s == seenFrameSequence_) return false;
        frameBuffer_.copyTo(dst);
        if (frameBuffer_.sequence() == s) {
            seenFrameSequence_ = s;
            return true;
        }
    }
    return false;
}

void HarmonicCloud::publishResult(float f0, unsigned voiced, const float* amps) noexcept {
    result_.beginWrite();
    result_.store(kResultVoiced, voiced ? 1.0f : 0.0f);
    result_.store(kResultF0, f0);
    for (int k = 0; k < kNumHarmonics; ++k) result_.store(kResultAmps + static_cast<size_t>(k), amps[k]);
    result_.endWrite();
}

void HarmonicCloud::workerLoop() noexcept {
    while (!stopRequested_.load(std::memory_order_acquire)) {
        const int32_t g = generation_.load(std::memory_order_acquire);
        if (g != seenGeneration_) {
            seenGeneration_ = g;
            const double rate = workerSampleRate_.load(std::memory_order_relaxed);
            try {
                analyser_.prepare(rate);
                if (frameCopy_.empty()) frameCopy_.assign(kFrameSize, 0.0f);
            } catch (...) {
                // Out of memory: stay unprepared; the next generation tries again.
            }
            analyser_.restart();
            const HarmonicAnalyser::Result r = analyser_.current(0);
            publishResult(r.f0Hz, 0, r.amps.data());
        }
        // In offline mode the audio thread analyses; the worker stays idle.
        if (!offlineMode_.load(std::memory_order_relaxed) && analyser_.isPrepared() && !frameCopy_.empty() &&
            tryReadFrame(frameCopy_.data())) {
            const HarmonicAnalyser::Result r = analyser_.analyse(frameCopy_.data());
            publishResult(r.f0Hz, r.voiced, r.amps.data());
            continue;
        }
        sleepTwoMs();
    }
}

// Offline: the result of the previous frame is latched now and the new frame is analysed for the next
// hop, which is when a worker that keeps up delivers it in real time.
void HarmonicCloud::offlineHop() noexcept {
    previousF0_ = currentF0_;
    previousAmps_ = currentAmps_;
    currentF0_ = offlinePending_.f0Hz;
    currentAmps_ = offlinePending_.amps;
    currentF0Shared_.store(currentF0_, std::memory_order_relaxed);
    if (!offlineAnalyser_.isPrepared()) return;
    const int oldest = ringWrite_;
    std::copy(inputRing_.begin() + oldest, inputRing_.end(), offlineFrame_.begin());
    std::copy(inputRing_.begin(), inputRing_.begin() + oldest, offlineFrame_.begin() + (kFrameSize - oldest));
    offlinePending_ = offlineAnalyser_.analyse(offlineFrame_.data());
}

void HarmonicCloud::process(const float* in, float* out, int n) noexcept {
    if (n <= 0) return;
    if (inputRing_.empty()) { // not prepared
        std::fill(out, out + n, 0.0f);
        return;
    }
    if (exactSines_)
        render<true>(in, out, n);
    else
        render<false>(in, out, n);
}

// The partials' sines are evaluated by a polynomial (within 3e-7 of std::sin) unless kExactSines; the
// vibrato keeps std::sin, so the oscillator frequencies and phases are the same either way and the two
// outputs stay within a few 1e-6 of each other for good.
template <bool kExactSines>
void HarmonicCloud::render(const float* in, float* out, int n) noexcept {
    const bool offline = offlineMode_.load(std::memory_order_relaxed);
    const float sr = static_cast<float>(sampleRate_);
    const float phaseScale = static_cast<float>(2.0 * std::numbers::pi / sampleRate_);
    const float vibratoStep = static_cast<float>(17.592918 / sampleRate_);
    const float tremoloStep = static_cast<float>(31.415928 / sampleRate_);
    const float nyquistGuard = 0.49f * sr;
    const float tremoloDepth = 0.006f * character_;
    auto tremoloSin = [](float phase) noexcept {
        if constexpr (kExactSines)
            return std::sin(phase);
        else
            return fastSinPhase(phase);
    };

    for (int i = 0; i < n; ++i) {
        const float x = in[i];
        inputRing_[static_cast<size_t>(ringWrite_)] = std::isfinite(x) ? x : 0.0f;
        ringWrite_ = (ringWrite_ + 1) & kRingMask;

        float t;
        if (++hopCounter_ >= kHopSize) {
            hopCounter_ = 0;
            publishFrame();
            if (offline)
                offlineHop();
            else
                latchAnalysis();
            t = 0.0f;
            interpCounter_ = 1;
        } else {
            t = static_cast<float>(interpCounter_) / interpLength_;
            interpCounter_ = std::min(interpCounter_ + 1, kHopSize);
        }

        const float f0 = previousF0_ + (currentF0_ - previousF0_) * t;
        float amps[kNumHarmonics];
        for (int k = 0; k < kNumHarmonics; ++k)
            amps[k] = previousAmps_[static_cast<size_t>(k)] +
                      (currentAmps_[static_cast<size_t>(k)] - previousAmps_[static_cast<size_t>(k)]) * t;

        // The 24 oscillators as one flat loop without branches (voice-major, as partialPhases_ is laid
        // out), so that it vectorises. A harmonic sounds when its amplitude is at least 0.000001 and its
        // frequency below the guard; frequencies grow with the harmonic number, so the harmonics of a
        // voice above the guard are exactly those the voice stops at. Silent oscillators keep their phase.
        alignas(16) float vfLane[kNumPartials];
        alignas(16) float ampLane[kNumPartials];
        for (int v = 0; v < kNumVoices; ++v) {
            const float vib = std::sin(vibratoPhases_[v]);
            vibratoPhases_[v] += vibratoStep;
            if (vibratoPhases_[v] > kTwoPi) vibratoPhases_[v] -= kTwoPi;
            const float vf = (1.0f + 0.015f * vib) * f0;
            for (int k = 0; k < kNumHarmonics; ++k) {
                vfLane[v * kNumHarmonics + k] = vf;
                ampLane[v * kNumHarmonics + k] = amps[k];
            }
        }
        float* phases = &partialPhases_[0][0];
        alignas(16) float contribution[kNumPartials];
        const Vec4 zero = {};
        for (int q = 0; q < kNumPartials; q += 4) {
            const Vec4 freq = load4(kPartialRatio.data() + q) * load4(vfLane + q);
            const Vec4 amp = load4(ampLane + q);
            const Vec4 old = load4(phases + q);
            const Mask4 sounding = (amp >= 0.000001f) & (freq < nyquistGuard);
            const Vec4 advanced = old + phaseScale * freq;
            const Vec4 wrapped = advanced - kTwoPi;
            const Vec4 phase = select4(sounding, select4(advanced > kTwoPi, wrapped, advanced), old);
            store4(phases + q, phase);
            Vec4 sine;
            if constexpr (kExactSines) {
                for (int l = 0; l < 4; ++l) sine[l] = std::sin(phase[l]);
            } else {
                sine = fastSin4(phase);
            }
            store4(contribution + q, select4(sounding, sine * amp / 3.0f, zero));
        }
        // Summed in oscillator order, as a voice-by-voice loop would.
        float sum = 0.0f;
        for (int j = 0; j < kNumPartials; ++j) sum += contribution[j];

        const float s = tremoloSin(tremoloPhase_);
        tremoloPhase_ += tremoloStep;
        if (tremoloPhase_ > kTwoPi) tremoloPhase_ -= kTwoPi;
        out[i] = (1.0f + tremoloDepth * s) * sum;
    }
}

} // namespace nx
