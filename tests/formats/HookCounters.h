// Counts heap allocations (global operator new) and blocking mutex locks (pthread_mutex_lock) made on
// one thread while counting is switched on. The test executable replaces operator new and interposes
// pthread_mutex_lock; the dlopened deliverables bind to both, so their calls are counted too.
#pragma once

#include <cstdint>

namespace nx::test {

struct HookCounts {
    uint64_t allocations = 0;
    uint64_t locks = 0;
};

// Switches counting on for the calling thread and clears its counts.
void beginCounting();
// Switches counting off for the calling thread and returns what it counted.
HookCounts endCounting();

// RAII form for a scope on the calling thread.
class CountingScope {
public:
    CountingScope() { beginCounting(); }
    ~CountingScope() {
        if (!mEnded) endCounting();
    }
    HookCounts end() {
        mEnded = true;
        return endCounting();
    }

private:
    bool mEnded = false;
};

} // namespace nx::test
