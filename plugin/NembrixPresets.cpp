// Nembrix's preset operations: loading an entry of the preset list into the parameters, and saving the
// current parameters as a user preset. Editor's UI thread; the list lock is never held while parameters
// are written or the engine is updated.
#include "plugin/Nembrix.h"

#include "presets/NembrixPresetMgr.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace nx {

void Nembrix::applyPreset(int index) {
    if (index < 0 || !presetMgr) return;

    std::vector<double> values;
    uint32_t mask = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(presetMgr->mutex);
        if (size_t(index) >= presetMgr->presets.size()) return;
        const Preset& p = presetMgr->presets[size_t(index)];
        values = p.values;
        mask = p.advOverrideMask;
    }

    // Each value goes through its parameter's constraint (step rounding, then the range).
    const int n = std::min(static_cast<int>(values.size()), NParams());
    for (int i = 0; i < n; ++i) GetParam(i)->Set(values[size_t(i)]);
    // Only the nine advanced bits mean anything; a hand-edited file may hold others.
    advOverrideMask.store(mask & kAdvancedOverrideBits, std::memory_order_relaxed);
    pushAllParamsToEngine();
    // The values changed behind the host's back: it re-reads them (automation lanes, generic editors).
    NotifyAllParamValuesChanged();

    std::lock_guard<std::recursive_mutex> lock(presetMgr->mutex);
    if (size_t(index) < presetMgr->presets.size()) {
        presetMgr->currentIndex = index;
        presetMgr->modified.store(false);
    }
}

bool Nembrix::savePresetAs(const char* name) {
    if (!presetMgr || name == nullptr || name[0] == '\0') return false;
    std::vector<double> values(static_cast<size_t>(NParams()));
    for (int i = 0; i < NParams(); ++i) values[size_t(i)] = GetParam(i)->Value();
    const bool saved = presetMgr->SaveUserPreset(
        name, values.data(), NParams(), advOverrideMask.load(std::memory_order_relaxed), ParamNames());
    if (saved) presetMgr->modified.store(false);
    return saved;
}

} // namespace nx
