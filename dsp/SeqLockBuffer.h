// A block of floats handed from one writer thread to reader threads under a sequence counter (a seqlock):
// the writer never waits, a reader copies and keeps the copy only if the counter was even and unchanged
// around it. Used for the harmonic cloud's frame and result mailboxes. Only assign() allocates.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace nx {

class SeqLockBuffer {
public:
    // Sizes the buffer and fills it with v. Not concurrent with any reader or writer.
    void assign(size_t n, float v) { data_.assign(n, v); }
    size_t size() const noexcept { return data_.size(); }
    bool empty() const noexcept { return data_.empty(); }

    // Writer: the counter is odd between beginWrite and endWrite. The element stores are release stores,
    // so none of them can become visible before the odd counter value; the even value is stored with
    // release, so it cannot become visible before any of them.
    void beginWrite() noexcept {
        writeSequence_ = sequence_.load(std::memory_order_relaxed);
        sequence_.store(writeSequence_ + 1, std::memory_order_relaxed);
    }
    void store(size_t i, float v) noexcept {
        std::atomic_ref<float>(data_[i]).store(v, std::memory_order_release);
    }
    void endWrite() noexcept { sequence_.store(writeSequence_ + 2, std::memory_order_release); }
    // Writes zeros under the counter, so a reader never keeps a half-cleared copy.
    void clear() noexcept {
        beginWrite();
        for (size_t i = 0; i < data_.size(); ++i) store(i, 0.0f);
        endWrite();
    }

    // Reader: s = sequence(); if s is even, copyTo(dst); the copy is consistent if sequence() still
    // equals s. The element loads are acquire loads: a reader that sees any value of a write in progress
    // also sees that write's odd counter value (or a later one) on its second load.
    uint32_t sequence() const noexcept { return sequence_.load(std::memory_order_acquire); }
    void copyTo(float* dst) noexcept {
        for (size_t i = 0; i < data_.size(); ++i)
            dst[i] = std::atomic_ref<float>(data_[i]).load(std::memory_order_acquire);
    }
    // One attempt of the above: true (and dst filled, *seq set) when the copy is consistent.
    bool tryCopy(float* dst, uint32_t* seq = nullptr) noexcept {
        const uint32_t s = sequence();
        if (s & 1u) return false;
        copyTo(dst);
        if (sequence() != s) return false;
        if (seq) *seq = s;
        return true;
    }

private:
    std::vector<float> data_;
    std::atomic<uint32_t> sequence_{0};
    uint32_t writeSequence_ = 0; // writer's own copy of the counter
};

} // namespace nx
