// Counts heap allocations made by the calling thread. The global operator new/delete replacements that
// feed it live in test_postmix_shaper.cpp, once for the whole dsp_tests executable.
#pragma once

#include <cstddef>

namespace nx::test {

// Allocations (any form of operator new) made so far by the calling thread.
std::size_t threadAllocationCount() noexcept;

// Allocations made by the calling thread while f() runs.
template <class F>
std::size_t allocationsDuring(F&& f) {
    const std::size_t before = threadAllocationCount();
    f();
    return threadAllocationCount() - before;
}

} // namespace nx::test
