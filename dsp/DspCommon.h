// Shared DSP records: the morphed engine settings (AnchorParams), the biquad filter record and the
// xorshift random generator. Plain data, usable on any thread; nothing here allocates.
#pragma once

#include <cmath>
#include <cstdint>

namespace nx {

// The 19 engine settings one XY position yields (17 floats, 2 signed 32-bit integers), in this order.
struct AnchorParams {
    float harmonicLevelDb; // dB; -60 or lower mutes
    float rhythmicLevelDb; // dB; -60 or lower mutes
    float washLevelDb;     // dB; -60 or lower mutes
    float returnLevelDb;   // dB; -60 or lower mutes
    float hpHz;            // post-mix high-pass corner
    float lpHz;            // post-mix low-pass corner
    float character;       // 0..1
    float saturation;      // 0..1
    float darkness;        // 0..1
    float ducking;         // 0..1
    float stereoWidth;     // 0..2
    float predelayMs;      // ms
    float washLpHz;        // spectral wash low-pass
    float freeze;          // 0..1
    float freezeTonality;  // 1..15
    int32_t freezePeaks;   // count >= 0
    float grainLpHz;       // rhythmic echo grain low-pass
    int32_t grainEchoes;   // count >= 0
    float grainEchoDecay;  // factor per echo
};
static_assert(sizeof(AnchorParams) == 19 * 4, "AnchorParams is 19 fields of 32 bits");

// Biquad in transposed direct form II. Coefficients are normalised by a0 and stored as float; they are
// computed in double precision by the caller (Audio EQ Cookbook designs) and handed to set().
// Setting new coefficients leaves the state z1, z2 as it was. Starts as a pass-through.
struct Biquad {
    float b0 = 1.0f, b1 = 0.0f, b2 = 0.0f, a1 = 0.0f, a2 = 0.0f;
    float z1 = 0.0f, z2 = 0.0f;

    // Raw cookbook coefficients (not yet normalised); a0 must not be 0.
    void set(double rb0, double rb1, double rb2, double ra0, double ra1, double ra2) noexcept {
        const double inv = 1.0 / ra0;
        b0 = static_cast<float>(rb0 * inv);
        b1 = static_cast<float>(rb1 * inv);
        b2 = static_cast<float>(rb2 * inv);
        a1 = static_cast<float>(ra1 * inv);
        a2 = static_cast<float>(ra2 * inv);
    }
    void setIdentity() noexcept {
        b0 = 1.0f;
        b1 = b2 = a1 = a2 = 0.0f;
    }
    void clear() noexcept { z1 = z2 = 0.0f; }

    float process(float x) noexcept {
        const float y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

// Marsaglia's 32-bit xorshift (13, 17, 5). Every call of next() advances the state once.
struct Xorshift32 {
    uint32_t state;
    explicit constexpr Xorshift32(uint32_t seed) noexcept : state(seed) {}
    constexpr uint32_t next() noexcept {
        uint32_t x = state;
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        state = x;
        return x;
    }
};

// Audio EQ Cookbook (RBJ) designs, computed in double and stored through Biquad::set. w0 = 2*pi*f0/sr,
// alpha = sin(w0) / (2*q). The caller keeps f0 inside (0, sr/2). Filter state is left as it was.
inline void designLowPass(Biquad& b, double f0Hz, double sampleRate, double q) noexcept {
    const double w = 2.0 * 3.14159265358979323846 * f0Hz / sampleRate;
    const double c = std::cos(w), alpha = std::sin(w) / (2.0 * q);
    b.set((1.0 - c) / 2.0, 1.0 - c, (1.0 - c) / 2.0, 1.0 + alpha, -2.0 * c, 1.0 - alpha);
}
inline void designHighPass(Biquad& b, double f0Hz, double sampleRate, double q) noexcept {
    const double w = 2.0 * 3.14159265358979323846 * f0Hz / sampleRate;
    const double c = std::cos(w), alpha = std::sin(w) / (2.0 * q);
    b.set((1.0 + c) / 2.0, -(1.0 + c), (1.0 + c) / 2.0, 1.0 + alpha, -2.0 * c, 1.0 - alpha);
}
// Band-pass with a constant 0 dB peak gain.
inline void designBandPass(Biquad& b, double f0Hz, double sampleRate, double q) noexcept {
    const double w = 2.0 * 3.14159265358979323846 * f0Hz / sampleRate;
    const double alpha = std::sin(w) / (2.0 * q);
    b.set(alpha, 0.0, -alpha, 1.0 + alpha, -2.0 * std::cos(w), 1.0 - alpha);
}
// High shelf with slope S = 1 (alpha = sin(w0) / 1.41421356), gainDb above f0.
inline void designHighShelf(Biquad& b, double f0Hz, double sampleRate, double gainDb) noexcept {
    const double w = 2.0 * 3.14159265358979323846 * f0Hz / sampleRate;
    const double c = std::cos(w), alpha = std::sin(w) / 1.41421356;
    const double A = std::pow(10.0, gainDb / 40.0), sa = 2.0 * std::sqrt(A) * alpha;
    b.set(A * ((A + 1.0) + (A - 1.0) * c + sa), -2.0 * A * ((A - 1.0) + (A + 1.0) * c),
          A * ((A + 1.0) + (A - 1.0) * c - sa), (A + 1.0) - (A - 1.0) * c + sa,
          2.0 * ((A - 1.0) - (A + 1.0) * c), (A + 1.0) - (A - 1.0) * c - sa);
}

} // namespace nx
