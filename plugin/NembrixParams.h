// The plug-in's 23 host-visible parameters: ids, their preset keys and the table they are created from.
// Constant data; any thread.
#pragma once

#include <cstdint>

namespace nx {

enum ParamId : int {
    kParamXYx = 0,
    kParamXYy,
    kParamHarmonicLevel,
    kParamRhythmicLevel,
    kParamWashLevel,
    kParamReturnLevel,
    kParamDryWet,
    kParamHP,
    kParamLP,
    kParamMode,
    kParamLinkSlot,
    kParamWow,
    kParamBypass,
    kParamCharacter, // first advanced parameter: override bit (id - kParamCharacter)
    kParamSaturation,
    kParamDarkness,
    kParamDucking,
    kParamStereoWidth,
    kParamPredelayMs,
    kParamWashLp,
    kParamFreeze,
    kParamFreezeTonality,
    kParamRootNote,
    kNumParams
};

constexpr int kFirstAdvancedParam = kParamCharacter;
constexpr int kNumAdvancedParams = 9;
constexpr uint32_t kAdvancedOverrideBits = 0x1FFu; // bits 0..8, one per advanced parameter

struct ParamSpec {
    const char* key;  // preset key
    const char* name; // host-visible name
    bool isInt;       // integer parameters are stepped with step 1
    double minValue;
    double maxValue;
    double defaultValue;
    double step;
    const char* label; // unit shown beside the value; empty for none
};

// The parameter table in id order (kNumParams entries).
const ParamSpec* ParamTable();

// The preset keys in id order (kNumParams constant strings).
const char* const* ParamNames();

} // namespace nx
