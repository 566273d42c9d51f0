// The five built-in presets. They differ only in the XY position; every other value is the parameter's
// default, in parameter-table order.
#include "presets/NembrixPresetMgr.h"

#include <array>

namespace nx {

namespace {

// Values of every factory preset in parameter-table order; XYx, XYy and DryWet are set per preset.
constexpr std::array<double, NembrixPresetMgr::kNumFactoryParams> kFactoryBase = {
    0.5,     // XYx
    0.5,     // XYy
    0.0,     // HarmonicLevel (dB)
    0.0,     // RhythmicLevel (dB)
    0.0,     // WashLevel (dB)
    0.0,     // ReturnLevel (dB)
    1.0,     // DryWet
    60.0,    // HP (Hz)
    10000.0, // LP (Hz)
    0.0,     // Mode (RECV)
    0.0,     // LinkSlot
    0.0,     // Wow
    0.0,     // Bypass
    0.5,     // Character
    0.0,     // Saturation
    0.0,     // Darkness
    0.0,     // Ducking
    1.0,     // StereoWidth
    0.0,     // PredelayMs
    5000.0,  // WashLp (Hz)
    0.0,     // Freeze
    5.0,     // FreezeTonality
    -1.0,    // RootNote (follow the detected pitch)
};

constexpr int kXYx = 0, kXYy = 1, kDryWet = 6;

Preset MakeFactoryPreset(const char* name, const char* category, float x, float y, float dryWet) {
    Preset p;
    p.name = name;
    p.category = category;
    p.values.assign(kFactoryBase.begin(), kFactoryBase.end());
    p.values[kXYx] = double(x);
    p.values[kXYy] = double(y);
    p.values[kDryWet] = double(dryWet);
    p.advOverrideMask = 0;
    p.isFactory = true;
    return p;
}

} // namespace

void NembrixPresetMgr::LoadFactoryPresets() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    presets.clear();
    presets.push_back(MakeFactoryPreset("Init", "Factory", 0.5f, 0.5f, 1.0f));
    presets.push_back(MakeFactoryPreset("Whisper", "Factory", 0.0f, 0.0f, 1.0f));
    presets.push_back(MakeFactoryPreset("Poltergeist", "Factory", 1.0f, 0.0f, 1.0f));
    presets.push_back(MakeFactoryPreset("Abyss", "Factory", 0.0f, 1.0f, 1.0f));
    presets.push_back(MakeFactoryPreset("Monolith", "Factory", 1.0f, 1.0f, 1.0f));
}

} // namespace nx
