// String conversion for the VST3 adapter.
#include "framework/vst3/Vst3Common.h"

#include <algorithm>
#include <cstring>

namespace nx::vst3 {

void CopyUtf8ToUtf16(const char* src, Steinberg::char16* dst, size_t capacity) {
    if (!dst || capacity == 0) return;
    size_t out = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(src ? src : "");
    while (*p) {
        uint32_t cp = *p;
        int extra = 0;
        if (cp >= 0xF0)
            cp &= 0x07, extra = 3;
        else if (cp >= 0xE0)
            cp &= 0x0F, extra = 2;
        else if (cp >= 0xC0)
            cp &= 0x1F, extra = 1;
        else if (cp >= 0x80)
            cp = 0xFFFD; // stray continuation byte
        ++p;
        for (int i = 0; i < extra; ++i) {
            if ((*p & 0xC0) != 0x80) {
                cp = 0xFFFD;
                break;
            }
            cp = (cp << 6) | (*p & 0x3F);
            ++p;
        }
        const size_t units = cp > 0xFFFF ? 2 : 1;
        if (out + units >= capacity) break;
        if (cp > 0xFFFF) {
            cp -= 0x10000;
            dst[out++] = static_cast<Steinberg::char16>(0xD800 + (cp >> 10));
            dst[out++] = static_cast<Steinberg::char16>(0xDC00 + (cp & 0x3FF));
        } else {
            dst[out++] = static_cast<Steinberg::char16>(cp);
        }
    }
    dst[out] = 0;
}

std::string Utf16ToUtf8(const Steinberg::char16* src, size_t maxUnits) {
    std::string out;
    if (!src) return out;
    for (size_t i = 0; i < maxUnits && src[i]; ++i) {
        uint32_t cp = static_cast<uint16_t>(src[i]);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < maxUnits) {
            const uint32_t lo = static_cast<uint16_t>(src[i + 1]);
            if (lo >= 0xDC00 && lo < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

void CopyString(const char* src, char* dst, size_t capacity) {
    if (!dst || capacity == 0) return;
    const size_t n = src ? std::min(std::strlen(src), capacity - 1) : 0;
    if (n) std::memcpy(dst, src, n);
    dst[n] = 0;
}

} // namespace nx::vst3
