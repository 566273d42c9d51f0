// One round of the preset reader on arbitrary bytes, with the reader's invariants checked: at most one
// entry appended, a non-empty name without line feeds or NUL bytes, one finite value per parameter, and a
// record written back in the file format reads back to the same record. Shared by the libFuzzer target and
// the deterministic robustness test.
#pragma once

#include "presets/NembrixPresetMgr.h"
#include "tests/presets/PresetKeys.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace nxfuzz {

inline nx::NembrixPresetMgr& FuzzManager() {
    static nx::NembrixPresetMgr* m = [] {
        auto* mgr = new nx::NembrixPresetMgr();
        mgr->LoadFactoryPresets();
        mgr->factoryCount = static_cast<int32_t>(mgr->presets.size());
        mgr->paramKeys = nxtest::kKeys;
        return mgr;
    }();
    return *m;
}

// Empty when the invariants hold, else what broke.
inline std::string CheckPresetReader(const uint8_t* data, size_t size) {
    nx::NembrixPresetMgr& m = FuzzManager();
    const size_t base = size_t(m.factoryCount);
    m.presets.resize(base);
    m.LoadPresetText(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.nxpreset");
    if (m.presets.size() > base + 1) return "more than one entry from one file";
    if (m.presets.size() == base) return {};

    const nx::Preset p = m.presets.back();
    if (p.name.empty()) return "empty name listed";
    if (p.name.find('\n') != std::string::npos || p.name.find('\0') != std::string::npos)
        return "line feed or NUL in a name";
    if (p.category.find('\n') != std::string::npos) return "line feed in a category";
    if (p.isFactory || p.sourcePath != "fuzz.nxpreset") return "bad record origin";
    if (p.values.size() != size_t(m.numParams)) return "wrong number of values";
    for (double v : p.values)
        if (!std::isfinite(v)) return "non-finite value";

    const std::string text = m.FormatPresetText(p.name, p.values.data(), int32_t(p.values.size()),
                                                p.advOverrideMask, nxtest::kKeys);
    m.presets.resize(base);
    m.LoadPresetText(text, "again.nxpreset");
    if (m.presets.size() != base + 1) return "written record not read back";
    const nx::Preset& q = m.presets.back();
    if (q.name != p.name || q.category != "User" || q.advOverrideMask != p.advOverrideMask)
        return "written record reads back differently";
    for (size_t i = 0; i < p.values.size(); ++i)
        if (q.values[i] != nx::presettext::ParseLeadingDouble(nx::presettext::FormatG6(p.values[i])))
            return "value does not survive writing";
    return {};
}

} // namespace nxfuzz
