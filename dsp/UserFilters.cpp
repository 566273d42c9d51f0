// User high-pass and low-pass on the shaped phantom layer. Audio thread only.
#include "dsp/UserFilters.h"

#include <algorithm>
#include <cmath>

namespace nx {

namespace {

constexpr double kButterworthQ = 0.70710678118654752440;

// Stores v when it moved past the threshold or when it reaches the bypass limit; true when stored.
bool takeCorner(float& stored, float v, bool reachesBypass, bool storedBypassed) noexcept {
    if (std::fabs(stored - v) > UserFilters::kRebuildThresholdHz || (reachesBypass && !storedBypassed)) {
        stored = v;
        return true;
    }
    return false;
}

bool finiteState(const Biquad& b) noexcept {
    return std::isfinite(b.z1) && std::isfinite(b.z2);
}

} // namespace

void UserFilters::prepare(double sampleRate) noexcept {
    sampleRate_ = sampleRate > 0.0 ? sampleRate : 44100.0;
    reset();
    dirty_ = true;
}

void UserFilters::reset() noexcept {
    hpL_.clear();
    hpR_.clear();
    lpL_.clear();
    lpR_.clear();
}

void UserFilters::setHpHz(float hz) noexcept {
    if (std::isnan(hz)) return;
    const float v = std::clamp(hz, kHpBypassHz, kLpBypassHz);
    if (takeCorner(hpHz_, v, v <= kHpBypassHz, !hpActive())) dirty_ = true;
}

void UserFilters::setLpHz(float hz) noexcept {
    if (std::isnan(hz)) return;
    const float v = std::clamp(hz, kHpBypassHz, kLpBypassHz);
    if (takeCorner(lpHz_, v, v >= kLpBypassHz, !lpActive())) dirty_ = true;
}

void UserFilters::rebuildIfDirty() noexcept {
    if (!dirty_) return;
    dirty_ = false;
    ++rebuildCount_;
    const double nyq = 0.49 * sampleRate_;
    // A bypassed filter forgets its state, so that it starts clean when it comes back.
    if (hpActive()) {
        designHighPass(hpL_, std::min<double>(hpHz_, nyq), sampleRate_, kButterworthQ);
        designHighPass(hpR_, std::min<double>(hpHz_, nyq), sampleRate_, kButterworthQ);
    } else {
        hpL_.clear();
        hpR_.clear();
    }
    if (lpActive()) {
        designLowPass(lpL_, std::min<double>(lpHz_, nyq), sampleRate_, kButterworthQ);
        designLowPass(lpR_, std::min<double>(lpHz_, nyq), sampleRate_, kButterworthQ);
    } else {
        lpL_.clear();
        lpR_.clear();
    }
}

void UserFilters::process(float* left, float* right, int n) noexcept {
    rebuildIfDirty();
    if (n <= 0) return;
    const bool hp = hpActive(), lp = lpActive();
    if (!hp && !lp) return;

    if (hp && lp) {
        for (int i = 0; i < n; ++i) {
            left[i] = lpL_.process(hpL_.process(left[i]));
            right[i] = lpR_.process(hpR_.process(right[i]));
        }
    } else if (hp) {
        for (int i = 0; i < n; ++i) {
            left[i] = hpL_.process(left[i]);
            right[i] = hpR_.process(right[i]);
        }
    } else {
        for (int i = 0; i < n; ++i) {
            left[i] = lpL_.process(left[i]);
            right[i] = lpR_.process(right[i]);
        }
    }

    // A non-finite sample would stay in the recursive state for good: drop the block and start clean.
    if (!(finiteState(hpL_) && finiteState(hpR_) && finiteState(lpL_) && finiteState(lpR_))) {
        reset();
        std::fill(left, left + n, 0.0f);
        std::fill(right, right + n, 0.0f);
    }
}

} // namespace nx
