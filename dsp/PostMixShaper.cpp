// Post-mix shaper: per-block settings with hysteresis, per-sample chain with the decisions hoisted out of
// the loop. Audio thread only.
#include "dsp/PostMixShaper.h"

#include <algorithm>
#include <cmath>

namespace nx {

namespace {

uint64_t nextPowerOfTwo(uint64_t v) noexcept {
    uint64_t p = 1;
    while (p < v) p <<= 1;
    return p;
}

// Clamp that maps NaN to lo, so a value that reaches a formula is always inside [lo, hi].
float clampf(float v, float lo, float hi) noexcept {
    if (!(v >= lo)) return lo;
    return v > hi ? hi : v;
}

float finiteOrZero(float v) noexcept {
    return std::isfinite(v) ? v : 0.0f;
}

bool finiteState(const Biquad& b) noexcept {
    return std::isfinite(b.z1) && std::isfinite(b.z2);
}

} // namespace

void PostMixShaper::prepare(double sampleRate, int /*maxBlockSize*/) {
    sampleRate_ = sampleRate > 0.0 ? sampleRate : 44100.0;
    const double sr = sampleRate_;

    const uint64_t predelayLen =
        std::max<uint64_t>(2, nextPowerOfTwo(std::max<uint64_t>(std::llround(0.6 * sr), 1024)));
    predelayBuffer_.assign(predelayLen, 0.0f);
    predelayMask_ = predelayLen - 1;
    predelayWrite_ = 0;

    const uint64_t haasLen = nextPowerOfTwo(std::max<uint64_t>(std::llround(0.01 * sr), 64));
    haasBuffer_.assign(haasLen, 0.0f);
    haasMask_ = haasLen - 1;
    haasWrite_ = 0;

    envelopeCoefficient_ = static_cast<float>(1.0 - std::exp(-1.0 / (sr * 0.05)));
    peakDecay_ = static_cast<float>(std::exp(-1.0 / (0.5 * sr)));
    delayCoefficient_ = static_cast<float>(1.0 - std::exp(-1.0 / (sr * 0.03)));

    constexpr double kButterworthQ = 1.41421356 / 2.0;
    designLowPass(saturationSmoother_, std::min(0.49 * sr, 10000.0), sr, kButterworthQ);
    designLowPass(haasLowPass_, std::min(0.49 * sr, 9000.0), sr, kButterworthQ);

    reset();
    dirty_ = true;
}

void PostMixShaper::reset() noexcept {
    std::fill(predelayBuffer_.begin(), predelayBuffer_.end(), 0.0f);
    std::fill(haasBuffer_.begin(), haasBuffer_.end(), 0.0f);
    predelayWrite_ = haasWrite_ = 0;
    highPass_.clear();
    lowPass_.clear();
    darkShelf_.clear();
    saturationSmoother_.clear();
    haasLowPass_.clear();
    envelope_ = 0.0f;
    peak_ = 0.000001f;
    firstBlock_ = true;
}

void PostMixShaper::setAnchorParams(const AnchorParams& a) noexcept {
    // A NaN field fails every comparison and is therefore never taken over.
    auto take = [this](float& stored, float v, float threshold) {
        if (std::fabs(stored - v) > threshold) {
            stored = v;
            dirty_ = true;
        }
    };
    take(hpHz_, a.hpHz, 0.5f);
    take(lpHz_, a.lpHz, 0.5f);
    take(saturation_, a.saturation, 0.001f);
    take(darkness_, a.darkness, 0.001f);
    take(ducking_, a.ducking, 0.001f);
    take(stereoWidth_, a.stereoWidth, 0.001f);
    take(predelayMs_, a.predelayMs, 0.5f);
}

void PostMixShaper::rebuildIfDirty() noexcept {
    if (!dirty_) return;
    dirty_ = false;
    const double sr = sampleRate_;
    const double nyq = 0.49 * sr;
    constexpr double kButterworthQ = 1.41421356 / 2.0;

    designHighPass(highPass_, std::min(std::max(static_cast<double>(hpHz_), 20.0), nyq), sr, kButterworthQ);
    designLowPass(lowPass_, std::min(std::max(static_cast<double>(lpHz_), 200.0), nyq), sr, kButterworthQ);
    const double d = clampf(darkness_, 0.0f, 1.0f);
    designHighShelf(darkShelf_, std::min(2000.0, nyq), sr, -12.0 * d);

    const double s = clampf(saturation_, 0.0f, 1.0f);
    const double drive = 1.0 + 4.0 * s;
    const double th = std::tanh(0.5 * drive);
    drive_ = static_cast<float>(drive);
    makeup_ = th > 0.000001 ? static_cast<float>(0.5 / th) : 1.0f;
}

void PostMixShaper::process(const float* in, const float* dry, float* outL, float* outR, int n) noexcept {
    rebuildIfDirty();

    const float duck = clampf(ducking_, 0.0f, 1.0f);
    const float sat = clampf(saturation_, 0.0f, 1.0f);
    // The predelay is limited to what the ring holds; longer requests would read wrapped, stale audio.
    const float predelayMax = static_cast<float>(predelayMask_);
    const float predelayTarget =
        clampf(static_cast<float>(0.001 * predelayMs_ * sampleRate_), 0.0f, predelayMax);
    const float haasMs = clampf(1.5f + 3.0f * stereoWidth_, 0.5f, 10.0f);
    const float haasMax = haasMask_ > 1 ? static_cast<float>(haasMask_ - 1) : 0.0f;
    const float haasTarget = std::min(static_cast<float>(0.001 * sampleRate_ * haasMs), haasMax);
    const float widthTarget = 0.5f * clampf(stereoWidth_, 0.0f, 2.0f);

    if (firstBlock_) {
        firstBlock_ = false;
        predelaySamples_ = predelayTarget;
        haasSamples_ = haasTarget;
        widthWeight_ = widthTarget;
    }
    if (n < 1) return;
    if (predelayBuffer_.empty()) { // not prepared: no rings to run on
        std::fill(outL, outL + n, 0.0f);
        std::fill(outR, outR + n, 0.0f);
        return;
    }

    const bool saturate = sat > 0.001f;
    const bool ducked = duck > 0.001f && dry != nullptr; // without a key there is nothing to duck against
    if (saturate) {
        if (ducked)
            run<true, true>(in, dry, outL, outR, n, duck, predelayTarget, haasTarget, widthTarget);
        else
            run<true, false>(in, dry, outL, outR, n, duck, predelayTarget, haasTarget, widthTarget);
    } else {
        if (ducked)
            run<false, true>(in, dry, outL, outR, n, duck, predelayTarget, haasTarget, widthTarget);
        else
            run<false, false>(in, dry, outL, outR, n, duck, predelayTarget, haasTarget, widthTarget);
    }
    haasWrite_ += static_cast<uint64_t>(n);

    // Backstop: extreme (finite) input can still overflow a filter. Such a block is dropped and the
    // shaper starts clean, instead of carrying infinities or NaN in its state for good.
    float probe = 0.0f;
    for (int k = 0; k < n; ++k) probe += outL[k] * 0.0f + outR[k] * 0.0f; // NaN once any sample is not finite
    const bool stateOk = finiteState(highPass_) && finiteState(lowPass_) && finiteState(darkShelf_) &&
                         finiteState(saturationSmoother_) && finiteState(haasLowPass_) &&
                         std::isfinite(envelope_) && std::isfinite(peak_);
    if (!std::isfinite(probe) || !stateOk) {
        reset();
        std::fill(outL, outL + n, 0.0f);
        std::fill(outR, outR + n, 0.0f);
    }
}

template <bool Saturate, bool Duck>
void PostMixShaper::run(const float* in, const float* dry, float* outL, float* outR, int n, float duck,
                        float predelayTarget, float haasTarget, float widthTarget) noexcept {
    float* const pre = predelayBuffer_.data();
    float* const haas = haasBuffer_.data();
    const uint64_t pmask = predelayMask_, hmask = haasMask_;
    const float dc = delayCoefficient_;
    const float drive = drive_, makeup = makeup_;

    for (int k = 0; k < n; ++k) {
        const float x = finiteOrZero(in[k]);

        predelaySamples_ += (predelayTarget - predelaySamples_) * dc;
        haasSamples_ += (haasTarget - haasSamples_) * dc;
        widthWeight_ += (widthTarget - widthWeight_) * dc;

        const uint64_t p = predelayWrite_ & pmask;
        pre[p] = x;
        ++predelayWrite_;
        float y = x;
        const float d = predelaySamples_;
        if (d >= 1.0f) {
            const uint64_t D = static_cast<uint64_t>(d);
            const float f = d - static_cast<float>(D);
            y = (1.0f - f) * pre[(p + 1 - D) & pmask] + f * pre[(p - D) & pmask];
        }

        y = lowPass_.process(highPass_.process(y));

        if constexpr (Saturate) {
            const float u = y * drive;
            const float t = u >= 0.0f ? std::tanh(1.1f * u) : std::tanh(0.92f * u);
            y = (0.75f * t + 0.25f * saturationSmoother_.process(t)) * makeup;
        }

        y = darkShelf_.process(y);

        if constexpr (Duck) {
            const float key = std::fabs(finiteOrZero(dry[k]));
            envelope_ += (key - envelope_) * envelopeCoefficient_;
            peak_ = std::max(peak_ * peakDecay_, envelope_);
            if (peak_ > 0.000001f) y *= 1.0f - duck * envelope_ / peak_;
        } else {
            (void)dry;
            (void)duck;
        }

        // Stereo width. The mono shaped signal y is written to the Haas ring; a copy h, read back
        // haasSamples behind (1.5 + 3 * width ms, smoothed) and low-passed at 9 kHz, is the side signal:
        //     L = y + g * h,  R = y - g * h,  g = 0.5 * clamp(width, 0, 2) (smoothed like the delay times).
        // So L + R = 2y at every width (mono compatible), width 0 gives L = R = y, and width 2 gives a
        // side signal as strong as the mid, where uncorrelated material reaches L/R correlation near 0.
        const uint64_t w = (haasWrite_ + static_cast<uint64_t>(k)) & hmask;
        haas[w] = y;
        const float hd = haasSamples_;
        const uint64_t D = static_cast<uint64_t>(hd);
        const float f = hd - static_cast<float>(D);
        const float delayed = (1.0f - f) * haas[(w - D) & hmask] + f * haas[(w - D - 1) & hmask];
        const float side = widthWeight_ * haasLowPass_.process(delayed);
        outL[k] = y + side;
        outR[k] = y - side;
    }
}

} // namespace nx
