// Bounded lock-free queue of editor-to-host calls (gesture begin, value, gesture end), drained on the
// thread the format requires (VST3: the host's run loop; CLAP: process or flush). Any thread may push;
// one thread at a time pops. Order is kept; nothing blocks. A push into a full queue fails and raises
// the overflow flag, so that the drainer can tell the host to re-read every value instead.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace nx {

struct HostEdit {
    enum class Kind : uint8_t { Begin, Perform, End };
    Kind kind = Kind::Perform;
    int paramIdx = 0;
    double normalized = 0.0;
};

class EditQueue {
public:
    static constexpr size_t kCapacity = 1024; // a power of two

    EditQueue() {
        for (size_t i = 0; i < kCapacity; ++i) mCells[i].sequence.store(i, std::memory_order_relaxed);
    }
    EditQueue(const EditQueue&) = delete;
    EditQueue& operator=(const EditQueue&) = delete;

    bool Push(const HostEdit& edit) {
        size_t pos = mEnqueuePos.load(std::memory_order_relaxed);
        for (;;) {
            Cell& cell = mCells[pos & (kCapacity - 1)];
            const size_t seq = cell.sequence.load(std::memory_order_acquire);
            const auto diff = static_cast<std::ptrdiff_t>(seq) - static_cast<std::ptrdiff_t>(pos);
            if (diff == 0) {
                if (mEnqueuePos.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                    cell.edit = edit;
                    cell.sequence.store(pos + 1, std::memory_order_release);
                    return true;
                }
            } else if (diff < 0) {
                mOverflowed.store(true, std::memory_order_release);
                return false;
            } else {
                pos = mEnqueuePos.load(std::memory_order_relaxed);
            }
        }
    }

    bool Pop(HostEdit& edit) {
        size_t pos = mDequeuePos.load(std::memory_order_relaxed);
        for (;;) {
            Cell& cell = mCells[pos & (kCapacity - 1)];
            const size_t seq = cell.sequence.load(std::memory_order_acquire);
            const auto diff = static_cast<std::ptrdiff_t>(seq) - static_cast<std::ptrdiff_t>(pos + 1);
            if (diff == 0) {
                if (mDequeuePos.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                    edit = cell.edit;
                    cell.sequence.store(pos + kCapacity, std::memory_order_release);
                    return true;
                }
            } else if (diff < 0) {
                return false;
            } else {
                pos = mDequeuePos.load(std::memory_order_relaxed);
            }
        }
    }

    // True once since the last call when a push was refused for lack of room.
    bool TakeOverflow() { return mOverflowed.exchange(false, std::memory_order_acq_rel); }

private:
    struct Cell {
        std::atomic<size_t> sequence{0};
        HostEdit edit;
    };
    std::array<Cell, kCapacity> mCells;
    alignas(64) std::atomic<size_t> mEnqueuePos{0};
    alignas(64) std::atomic<size_t> mDequeuePos{0};
    std::atomic<bool> mOverflowed{false};
};

} // namespace nx
