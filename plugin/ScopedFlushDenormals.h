// Sets flush-to-zero and denormals-are-zero for the lifetime of one object and restores the previous
// floating-point control state on every way out of the scope. Used around the audio callback.
#pragma once

#include <xmmintrin.h>

namespace nx {

class ScopedFlushDenormals {
public:
    static constexpr unsigned kFlushToZero = 0x8000u;      // MXCSR.FTZ
    static constexpr unsigned kDenormalsAreZero = 0x0040u; // MXCSR.DAZ

    ScopedFlushDenormals() noexcept : saved_(_mm_getcsr()) {
        _mm_setcsr(saved_ | kFlushToZero | kDenormalsAreZero);
    }
    ~ScopedFlushDenormals() { _mm_setcsr(saved_); }
    ScopedFlushDenormals(const ScopedFlushDenormals&) = delete;
    ScopedFlushDenormals& operator=(const ScopedFlushDenormals&) = delete;

private:
    unsigned saved_;
};

} // namespace nx
