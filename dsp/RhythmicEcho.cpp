// Rhythmic echo: transient detector, trigger and source rings, the grain pool with its tempo-spaced
// echoes, freeze tails from a 512-point FFT of the last source samples, and the output low-pass.
#include "dsp/RhythmicEcho.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace nx {

namespace {
constexpr float kTwoPi = static_cast<float>(2.0 * std::numbers::pi);
constexpr double kMaxSampleRate = 768000.0;

// Nearest integer, halves away from zero.
int32_t roundToInt(double v) noexcept {
    return static_cast<int32_t>(std::lround(v));
}

float finiteOrZero(float v) noexcept {
    return std::isfinite(v) ? v : 0.0f;
}
} // namespace

void RhythmicEcho::prepare(double sampleRate) {
    const double sr = sampleRate > 0.0 ? std::min(sampleRate, kMaxSampleRate) : 44100.0;
    sampleRate_ = sr;
    peakDecay_ = static_cast<float>(std::exp(-1.0 / (0.5 * sr)));
    refractorySamples_ = roundToInt(0.06 * sr);
    slowCoef_ = static_cast<float>(1.0 - std::exp(-1.0 / (0.2 * sr)));
    fastCoef_ = static_cast<float>(1.0 - std::exp(-1.0 / (0.01 * sr)));
    fallbackStepSamples_ = stepSamples_ = roundToInt(0.12 * sr);
    minGrainSamples_ = roundToInt(0.2 * sr);
    maxGrainSamples_ = roundToInt(0.45 * sr);
    jitterSamples_ = roundToInt(0.3 * sr);

    const int64_t needed = std::max<int64_t>(2 * int64_t{maxGrainSamples_}, roundToInt(2.0 * sr));
    uint64_t length = 1;
    while (length < static_cast<uint64_t>(needed)) length <<= 1;
    for (Ring* ring : {&bufA_, &bufB_}) {
        ring->data.assign(length, 0.0f);
        ring->mask = length - 1;
        ring->writePos = 0;
    }
    sourceEnvCoef_ = static_cast<float>(1.0 - std::exp(-1.0 / (0.2 * sr)));

    reset();
    dirty_ = true;
}

void RhythmicEcho::reset() noexcept {
    for (Ring* ring : {&bufA_, &bufB_}) {
        std::fill(ring->data.begin(), ring->data.end(), 0.0f);
        ring->writePos = 0;
    }
    samplesSinceOnset_ = refractorySamples_;
    sourceEnv_ = 0.0f;
    slowEnv_ = fastEnv_ = 0.0f;
    peakHold_ = 0.000001f;
    grains_.fill(Grain{});
    nextGrain_ = 0;
    lp_.clear();
    tails_.fill(FreezeTail{});
    nextTail_ = 0;
}

void RhythmicEcho::setCharacter(float character) noexcept {
    if (std::isnan(character)) return;
    character_ = std::clamp(character, 0.0f, 1.0f);
}

void RhythmicEcho::setGrainLpHz(float hz) noexcept {
    if (std::isnan(hz)) return;
    if (hz != grainLpHz_) {
        grainLpHz_ = hz;
        dirty_ = true;
    }
}

void RhythmicEcho::setGrainEchoes(int32_t echoes) noexcept {
    grainEchoes_ = std::clamp(echoes, 0, 8);
}

void RhythmicEcho::setGrainEchoDecay(float decay) noexcept {
    if (std::isnan(decay)) return;
    grainEchoDecay_ = std::clamp(decay, 0.0f, 0.95f);
}

void RhythmicEcho::setBpm(float bpm) noexcept {
    if (!(bpm > 0.0f)) {
        bpm_ = 0.0f;
        stepSamples_ = fallbackStepSamples_;
        return;
    }
    bpm_ = bpm;
    if (bpm > 1.0f)
        stepSamples_ = std::max(32, roundToInt((15.0 / bpm) * sampleRate_));
    else
        stepSamples_ = fallbackStepSamples_;
}

void RhythmicEcho::setFreeze(float freeze) noexcept {
    if (std::isnan(freeze)) return;
    freeze_ = std::clamp(freeze, 0.0f, 1.0f);
}

void RhythmicEcho::setFreezeTonality(float tonality) noexcept {
    if (std::isnan(tonality)) return;
    freezeTonality_ = tonality > 1.0f ? tonality : 1.0f;
}

void RhythmicEcho::setFreezePeaks(int32_t peaks) noexcept {
    freezePeaks_ = std::clamp(peaks, 1, 8);
}

void RhythmicEcho::rebuildIfDirty() noexcept {
    if (!dirty_) return;
    dirty_ = false;
    const double fc = std::min(std::max(static_cast<double>(grainLpHz_), 200.0), 0.49 * sampleRate_);
    const double w = 2.0 * std::numbers::pi * fc / sampleRate_;
    const double cw = std::cos(w);
    const double alpha = std::sin(w) / std::numbers::sqrt2;
    lp_.set((1.0 - cw) / 2.0, 1.0 - cw, (1.0 - cw) / 2.0, 1.0 + alpha, -2.0 * cw, 1.0 - alpha);
}

int32_t RhythmicEcho::randInt(int32_t lo, int32_t hi) noexcept {
    const uint32_t s = rng_.next();
    if (hi <= lo) return lo;
    const uint64_t span = static_cast<uint64_t>(int64_t{hi} - int64_t{lo}) + 1;
    return static_cast<int32_t>(int64_t{lo} + static_cast<int64_t>(s % span));
}

float RhythmicEcho::randUnit() noexcept {
    return static_cast<float>(static_cast<int32_t>(rng_.next())) * (1.0f / 2147483648.0f);
}

void RhythmicEcho::spawnGrain(int32_t startDelay, float gain, bool fromB) noexcept {
    Grain& g = grains_[static_cast<size_t>(nextGrain_)];
    nextGrain_ = (nextGrain_ + 1) % kNumGrains;

    const int32_t len = randInt(minGrainSamples_, maxGrainSamples_);
    const int32_t fade = std::max(16, roundToInt(0.003 * sampleRate_));
    const float decayRate = 4.0f / static_cast<float>(std::max(1, len - fade));
    const float rate = std::exp2(5.0f * character_ * randUnit() / 12.0f);
    const int32_t jitter = randInt(-jitterSamples_, jitterSamples_);
    const int64_t bufferLength = static_cast<int64_t>((fromB ? bufB_ : bufA_).data.size());
    int64_t distance = int64_t{jitter} + std::lround(static_cast<float>(len) * rate);
    distance = std::max<int64_t>(distance, 1);
    if (distance >= bufferLength) distance = bufferLength - 1;

    g.active = true;
    g.fromB = fromB;
    g.startDelay = startDelay;
    g.length = len;
    g.pos = 0;
    g.rate = rate;
    g.distance = static_cast<int32_t>(distance);
    g.gain = gain;
    g.fadeSamples = fade;
    g.decayRate = decayRate;
}

// Radix-2 decimation in time, in place, forward sign, no scaling; twiddles computed directly per k.
void RhythmicEcho::fft512() noexcept {
    for (int i = 1, j = 0; i < kFftSize; ++i) {
        int bit = kFftSize >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) {
            std::swap(fftRe_[i], fftRe_[j]);
            std::swap(fftIm_[i], fftIm_[j]);
        }
    }
    for (int span = 2; span <= kFftSize; span <<= 1) {
        const int half = span / 2;
        const float theta = -kTwoPi / static_cast<float>(span);
        for (int k = 0; k < half; ++k) {
            const float angle = static_cast<float>(k) * theta;
            const float wr = std::cos(angle);
            const float wi = std::sin(angle);
            for (int start = 0; start < kFftSize; start += span) {
                const int a = start + k;
                const int b = a + half;
                const float vr = wr * fftRe_[b] - wi * fftIm_[b];
                const float vi = wr * fftIm_[b] + wi * fftRe_[b];
                const float ur = fftRe_[a];
                const float ui = fftIm_[a];
                fftRe_[a] = ur + vr;
                fftIm_[a] = ui + vi;
                fftRe_[b] = ur - vr;
                fftIm_[b] = ui - vi;
            }
        }
    }
}

void RhythmicEcho::spawnFreezeTail(bool fromB) noexcept {
    if (freeze_ < 0.001f) return;

    const Ring& ring = fromB ? bufB_ : bufA_;
    for (int i = 0; i < kFftSize; ++i) {
        fftRe_[i] = ring.data[(ring.writePos - kFftSize + static_cast<uint64_t>(i)) & ring.mask];
        fftIm_[i] = 0.0f;
    }
    fft512();

    constexpr int kBins = kFftSize / 2;
    float maxMag = 0.0f;
    float sum = 0.0f;
    for (int k = 0; k < kBins; ++k) {
        const float m = std::sqrt(fftRe_[k] * fftRe_[k] + fftIm_[k] * fftIm_[k]);
        fftRe_[k] = m;
        maxMag = std::max(maxMag, m);
        sum += m;
    }
    const float mean = sum / static_cast<float>(kBins) + 0.000000001f;
    // Written so that a non-finite ratio (from non-finite samples) keeps the gate closed.
    if (!(freezeTonality_ <= maxMag / mean)) return;

    const int separation = std::max(2, roundToInt(76800.0 / sampleRate_));
    bool excluded[kBins] = {};
    int peaks[kMaxPeaks];
    int numPeaks = 0;
    const int wanted = std::min(freezePeaks_, kMaxPeaks);
    while (numPeaks < wanted) {
        int best = -1;
        float bestMag = 0.0f;
        for (int b = 1; b < kBins; ++b) {
            if (!excluded[b] && fftRe_[b] > bestMag) {
                bestMag = fftRe_[b];
                best = b;
            }
        }
        if (best < 0 || bestMag < 0.5f * mean) break;
        peaks[numPeaks++] = best;
        const int lo = std::max(0, best - (separation - 1));
        const int hi = std::min(kBins - 1, best + (separation - 1));
        for (int b = lo; b <= hi; ++b) excluded[b] = true;
    }
    if (numPeaks == 0) return;

    const double beats = bpm_ > 1.0f ? (60.0 / bpm_) : 0.3;
    const int64_t len = std::lround(beats * sampleRate_ * freeze_);
    if (len <= 255) return;

    FreezeTail& tail = tails_[static_cast<size_t>(nextTail_)];
    nextTail_ = (nextTail_ + 1) % kNumTails;
    tail.active = true;
    tail.length = static_cast<int32_t>(std::min<int64_t>(len, std::numeric_limits<int32_t>::max()));
    tail.pos = 0;
    tail.gain = 0.08f * freeze_;
    tail.numPeaks = numPeaks;
    const float binHz = static_cast<float>(sampleRate_ / kFftSize);
    const float srF = static_cast<float>(sampleRate_);
    for (int p = 0; p < kMaxPeaks; ++p) {
        const bool used = p < numPeaks;
        tail.freqHz[p] = used ? static_cast<float>(peaks[p]) * binHz : 0.0f;
        tail.amp[p] = used ? fftRe_[peaks[p]] / 256.0f : 0.0f;
        tail.phase[p] = 0.0f;
        tail.phaseStep[p] = kTwoPi * tail.freqHz[p] / srF;
    }
}

void RhythmicEcho::process(const float* trigger, const float* source, float* out, int n) noexcept {
    rebuildIfDirty();
    if (n <= 0) return;
    if (bufA_.data.empty()) { // not prepared
        std::fill(out, out + n, 0.0f);
        return;
    }

    const float envKeep = 1.0f - sourceEnvCoef_;
    for (int i = 0; i < n; ++i) {
        const float trig = finiteOrZero(trigger[i]);
        bufA_.data[bufA_.writePos & bufA_.mask] = trig;
        ++bufA_.writePos;
        if (source != nullptr) {
            const float src = finiteOrZero(source[i]);
            bufB_.data[bufB_.writePos & bufB_.mask] = src;
            ++bufB_.writePos;
            sourceEnv_ += (std::fabs(src) - sourceEnv_) * sourceEnvCoef_;
        } else {
            sourceEnv_ = sourceEnv_ * envKeep;
        }

        const float x = std::fabs(trig);
        slowEnv_ += (x - slowEnv_) * slowCoef_;
        fastEnv_ += (x - fastEnv_) * fastCoef_;
        const float d = std::max(0.0f, fastEnv_ - slowEnv_);
        peakHold_ = std::max(peakHold_ * peakDecay_, d);
        if (samplesSinceOnset_ >= refractorySamples_ && d > onsetRatio_ * peakHold_ && d > 0.0001f) {
            samplesSinceOnset_ = 0;
            const bool fromB = source != nullptr && sourceEnv_ > 0.0001f;
            spawnGrain(0, 0.28f, fromB);
            float g = 0.28f;
            for (int k = 1; k <= grainEchoes_; ++k) {
                g *= grainEchoDecay_;
                if (g < 0.02f) break;
                spawnGrain(k * stepSamples_, g, fromB);
            }
        } else if (samplesSinceOnset_ < std::numeric_limits<int32_t>::max()) {
            // Held at its maximum after about 13.5 hours without a transient, so that one can still fire.
            ++samplesSinceOnset_;
        }

        float sum = 0.0f;
        for (Grain& g : grains_) {
            if (!g.active) continue;
            if (g.startDelay > 0) {
                --g.startDelay;
                continue;
            }
            if (g.pos >= g.length) {
                g.active = false;
                spawnFreezeTail(g.fromB);
                continue;
            }
            const float env = g.pos < g.fadeSamples
                                  ? static_cast<float>(g.pos) / static_cast<float>(g.fadeSamples)
                                  : std::exp(-static_cast<float>(g.pos - g.fadeSamples) * g.decayRate);
            const Ring& ring = g.fromB ? bufB_ : bufA_;
            const float r = static_cast<float>(g.distance) - static_cast<float>(g.pos) * g.rate;
            float sample;
            if (r < 1.0f) {
                sample = ring.data[(ring.writePos - 1) & ring.mask];
            } else {
                const float f = std::floor(r);
                const float t = r - f;
                const uint64_t back = static_cast<uint64_t>(f);
                sample = (1.0f - t) * ring.data[(ring.writePos - back) & ring.mask] +
                         t * ring.data[(ring.writePos - back - 1) & ring.mask];
            }
            sum += sample * env * g.gain;
            ++g.pos;
        }

        for (FreezeTail& tail : tails_) {
            if (!tail.active) continue;
            if (tail.pos >= tail.length) {
                tail.active = false;
                continue;
            }
            float s = 0.0f;
            for (int p = 0; p < tail.numPeaks; ++p) {
                s += tail.amp[p] * std::sin(tail.phase[p]);
                tail.phase[p] += tail.phaseStep[p];
                if (tail.phase[p] > kTwoPi) tail.phase[p] -= kTwoPi;
            }
            const float e = 1.0f - static_cast<float>(tail.pos) / static_cast<float>(tail.length);
            sum += tail.gain * (e * e * e) * s;
            ++tail.pos;
        }

        const float y = lp_.b0 * sum + lp_.z1;
        lp_.z1 = lp_.b1 * sum + lp_.z2 - lp_.a1 * y;
        lp_.z2 = lp_.b2 * sum - lp_.a2 * y;
        out[i] = y;
    }
    // Extreme (finite) input can overflow the filter; never let that silence it for good.
    if (!std::isfinite(lp_.z1) || !std::isfinite(lp_.z2)) lp_.clear();
}

} // namespace nx
