// A deterministic test signal shared by the registry tests and their helper process: exact dyadic values
// in [-1, 1), scrambled over seed and sample index so that a misaligned read shows.
#pragma once

#include <cmath>
#include <cstdint>

namespace nx::test {

inline float peerPattern(uint32_t seed, uint32_t k) {
    const uint32_t x = (seed * 0x10001u + k) * 2654435761u;
    const uint32_t v = x >> 21; // 0..2047
    return float(int(v) - 1024) / 1024.0f;
}

} // namespace nx::test

namespace nx::test {

// The stereo test tone the plug-in helper feeds: a 440 Hz sine at 44100 Hz, sample t of the stream,
// scaled per channel.
inline double toneSample(double amplitude, long t) {
    return amplitude * std::sin(2.0 * 3.14159265358979323846 * 440.0 * double(t) / 44100.0);
}

// What an instance in SEND mode publishes for that input: (L + R) / 2 of the single-precision input.
inline float toneMono(double ampL, double ampR, long t) {
    return (float(toneSample(ampL, t)) + float(toneSample(ampR, t))) * 0.5f;
}

} // namespace nx::test
