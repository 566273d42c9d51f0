// Small helpers shared by the VST3 adapter's files: string conversion into the SDK's fixed buffers and
// the guard that keeps exceptions inside the module.
#pragma once

#include "pluginterfaces/base/funknown.h"
#include "pluginterfaces/vst/vsttypes.h"

#include <cstddef>
#include <string>

namespace nx::vst3 {

// UTF-8 into a NUL-terminated UTF-16 buffer of `capacity` units (cut at the last whole character).
void CopyUtf8ToUtf16(const char* src, Steinberg::char16* dst, size_t capacity);
// UTF-16 (NUL-terminated, at most maxUnits read) to UTF-8.
std::string Utf16ToUtf8(const Steinberg::char16* src, size_t maxUnits);
// NUL-terminated copy into a fixed char buffer.
void CopyString(const char* src, char* dst, size_t capacity);

// Runs fn; an exception becomes `fallback`.
template <typename R, typename Fn>
R Guarded(R fallback, Fn&& fn) noexcept {
    try {
        return fn();
    } catch (...) {
        return fallback;
    }
}

} // namespace nx::vst3
