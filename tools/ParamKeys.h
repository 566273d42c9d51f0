// The plug-in's parameter keys in id order: the names its preset files and the command-line tools use.
// The host sees the parameters under their display names; the tools address them by id.
#pragma once

#include <cstring>

namespace nx::tools {

inline constexpr int kNumParams = 23;
inline constexpr const char* kParamKeys[kNumParams] = {"XYx",
                                                       "XYy",
                                                       "HarmonicLevel",
                                                       "RhythmicLevel",
                                                       "WashLevel",
                                                       "ReturnLevel",
                                                       "DryWet",
                                                       "HP",
                                                       "LP",
                                                       "Mode",
                                                       "LinkSlot",
                                                       "Wow",
                                                       "Bypass",
                                                       "Character",
                                                       "Saturation",
                                                       "Darkness",
                                                       "Ducking",
                                                       "StereoWidth",
                                                       "PredelayMs",
                                                       "WashLp",
                                                       "Freeze",
                                                       "FreezeTonality",
                                                       "RootNote"};

// Parameter id of a key (exact, case-sensitive), or -1.
inline int paramIdFromKey(const char* key) {
    for (int i = 0; i < kNumParams; ++i)
        if (std::strcmp(kParamKeys[i], key) == 0) return i;
    return -1;
}

inline constexpr int kParamMode = 9;
inline constexpr int kParamDryWet = 6;

} // namespace nx::tools
