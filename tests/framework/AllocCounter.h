// Counts heap allocations made by the current thread while counting is on, including those made inside
// a dlopen'ed module (the test executable exports its operator new, which the module binds to).
#pragma once

#include <cstddef>

namespace nxtest {

void StartCountingAllocations();
// Stops counting and returns the number of allocations since the start.
size_t StopCountingAllocations();

} // namespace nxtest
