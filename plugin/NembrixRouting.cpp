// Parameter routing: turns parameter values into engine setter calls, keeps the advanced override mask and
// resolves the LinkSlot parameter into the id of the peer to listen to. Any thread; no locks.
#include "plugin/Nembrix.h"

#include "presets/NembrixPresetMgr.h"

#include <algorithm>

namespace nx {
namespace {

constexpr int kMaxLinkSlot = 16; // registry slots; the parameter itself stops at 4

} // namespace

void Nembrix::OnParamChange(int paramIdx) {
    markPresetModified();
    auto value = [this](int idx) { return static_cast<float>(GetParam(idx)->Value()); };
    switch (paramIdx) {
    case kParamXYx:
    case kParamXYy:
        engine.setXY(value(kParamXYx), value(kParamXYy));
        break;
    case kParamHarmonicLevel:
        engine.setHarmonicTrimDb(value(kParamHarmonicLevel));
        break;
    case kParamRhythmicLevel:
        engine.setRhythmicTrimDb(value(kParamRhythmicLevel));
        break;
    case kParamWashLevel:
        engine.setWashTrimDb(value(kParamWashLevel));
        break;
    case kParamReturnLevel:
        engine.setReturnTrimDb(value(kParamReturnLevel));
        break;
    case kParamDryWet:
        engine.setDryWet(value(kParamDryWet));
        break;
    case kParamHP:
        engine.setUserHpHz(value(kParamHP));
        break;
    case kParamLP:
        engine.setUserLpHz(value(kParamLP));
        break;
    case kParamMode:
        engine.setMode(GetParam(kParamMode)->Int());
        break;
    case kParamLinkSlot:
        resolveLink();
        break;
    case kParamWow:
        engine.setWow(value(kParamWow));
        break;
    case kParamBypass:
        break; // read by the audio callback every block
    case kParamCharacter:
    case kParamSaturation:
    case kParamDarkness:
    case kParamDucking:
    case kParamStereoWidth:
    case kParamPredelayMs:
    case kParamWashLp:
    case kParamFreeze:
    case kParamFreezeTonality:
        pushAdvancedToEngine();
        break;
    case kParamRootNote:
        engine.setRootNoteOverride(GetParam(kParamRootNote)->Int());
        break;
    default:
        break;
    }
}

void Nembrix::pushAllParamsToEngine() {
    auto value = [this](int idx) { return static_cast<float>(GetParam(idx)->Value()); };
    engine.setXY(value(kParamXYx), value(kParamXYy));
    engine.setHarmonicTrimDb(value(kParamHarmonicLevel));
    engine.setRhythmicTrimDb(value(kParamRhythmicLevel));
    engine.setWashTrimDb(value(kParamWashLevel));
    engine.setReturnTrimDb(value(kParamReturnLevel));
    engine.setDryWet(value(kParamDryWet));
    engine.setUserHpHz(value(kParamHP));
    engine.setUserLpHz(value(kParamLP));
    engine.setMode(GetParam(kParamMode)->Int());
    engine.setWow(value(kParamWow));
    engine.setRootNoteOverride(GetParam(kParamRootNote)->Int());
    resolveLink();
    pushAdvancedToEngine();
}

void Nembrix::pushAdvancedToEngine() {
    auto value = [this](int idx) { return static_cast<float>(GetParam(idx)->Value()); };
    engine.setAdvancedOverrides(advOverrideMask.load(std::memory_order_relaxed), value(kParamCharacter),
                                value(kParamSaturation), value(kParamDarkness), value(kParamDucking),
                                value(kParamStereoWidth), value(kParamPredelayMs), value(kParamWashLp),
                                value(kParamFreeze), value(kParamFreezeTonality));
}

void Nembrix::setAdvOverride(int bit, bool on) {
    if (bit < 0 || bit >= kNumAdvancedParams) return;
    const uint32_t flag = 1u << bit;
    if (on) {
        advOverrideMask.fetch_or(flag, std::memory_order_relaxed);
    } else {
        advOverrideMask.fetch_and(~flag, std::memory_order_relaxed);
    }
    pushAdvancedToEngine();
    markPresetModified();
}

void Nembrix::resolveLink() {
    const int slot = std::clamp(GetParam(kParamLinkSlot)->Int(), 0, kMaxLinkSlot);
    linkSlot.store(slot, std::memory_order_relaxed);
    linkedPeerId.store(shm.resolveLink(slot), std::memory_order_relaxed);
}

void Nembrix::markPresetModified() {
    if (presetMgr) presetMgr->modified.store(true);
}

} // namespace nx
