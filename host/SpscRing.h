// Fixed-capacity single-producer single-consumer ring for handing small records between the host's
// main thread and its audio thread without allocating or locking on either side.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>

namespace nx::host {

template <typename T, size_t N>
class SpscRing {
    static_assert((N & (N - 1)) == 0, "capacity must be a power of two");

public:
    // Producer side. False when full (the record is dropped).
    bool push(const T& v) {
        const size_t w = mWrite.load(std::memory_order_relaxed);
        if (w - mRead.load(std::memory_order_acquire) >= N) return false;
        mItems[w & (N - 1)] = v;
        mWrite.store(w + 1, std::memory_order_release);
        return true;
    }
    // Consumer side. False when empty.
    bool pop(T& v) {
        const size_t r = mRead.load(std::memory_order_relaxed);
        if (r == mWrite.load(std::memory_order_acquire)) return false;
        v = mItems[r & (N - 1)];
        mRead.store(r + 1, std::memory_order_release);
        return true;
    }

private:
    std::array<T, N> mItems{};
    std::atomic<size_t> mWrite{0};
    std::atomic<size_t> mRead{0};
};

} // namespace nx::host
