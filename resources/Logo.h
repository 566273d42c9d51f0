// The editor's logo: a 100 x 118 RGBA PNG drawn by MakeLogo at build time and embedded read-only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nx {

extern const uint8_t kLogoPng[];
extern const size_t kLogoPngSize;
constexpr int kLogoWidth = 100;
constexpr int kLogoHeight = 118;

} // namespace nx
