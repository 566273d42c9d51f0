// What a host reads about a deliverable before any instance exists: names, ids, categories and the
// format-specific identity strings. Each deliverable links exactly one definition of GetPluginIdentity().
#pragma once

#include <cstdint>

namespace nx {

struct PluginIdentity {
    const char* name = "";
    const char* vendor = "";
    const char* url = "";
    const char* email = "";
    const char* version = ""; // "major.minor.patch"
    uint32_t mfrId = 0;       // four-character codes, as FourCC() builds them
    uint32_t uniqueId = 0;
    // VST3
    const char* vst3SubCategories = "";
    const char* vst3SdkVersion = "";
    // CLAP
    uint32_t clapVersion[3] = {1, 0, 0};
    const char* clapId = "";
    const char* clapDescription = "";
    const char* const* clapFeatures = nullptr; // null-terminated
};

const PluginIdentity& GetPluginIdentity();

} // namespace nx
