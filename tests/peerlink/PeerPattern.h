// A deterministic test signal shared by the registry tests and their helper process: exact dyadic values
// in [-1, 1), scrambled over seed and sample index so that a misaligned read shows.
#pragma once

#include <cstdint>

namespace nx::test {

inline float peerPattern(uint32_t seed, uint32_t k) {
    const uint32_t x = (seed * 0x10001u + k) * 2654435761u;
    const uint32_t v = x >> 21; // 0..2047
    return float(int(v) - 1024) / 1024.0f;
}

} // namespace nx::test
