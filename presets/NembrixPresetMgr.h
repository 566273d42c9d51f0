// The plug-in's preset store: the generic preset list with the five built-in presets of this product.
// Created once by the plug-in's constructor; used from the editor's UI thread afterwards.
#pragma once

#include "presets/PresetManager.h"

namespace nx {

class NembrixPresetMgr : public PresetManager {
public:
    static constexpr int32_t kNumFactoryParams = 23;

    NembrixPresetMgr(const char* productName_ = "Nembrix", const char* extension_ = "nxpreset",
                     int32_t numParams_ = kNumFactoryParams)
        : PresetManager(productName_, extension_, numParams_) {}

    // Empties the list, then appends "Init", "Whisper", "Poltergeist", "Abyss" and "Monolith": the centre
    // and the four corners of the XY pad, every other parameter at its default.
    void LoadFactoryPresets() override;
};

} // namespace nx
