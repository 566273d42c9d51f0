// Format-neutral parts of the host: loading by path and the records of host calls.
#include "host/PluginHost.h"

#include "host/ClapHost.h"
#include "host/Vst3Host.h"

namespace nx::host {

Format formatFromPath(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    auto endsWith = [&](const char* s) {
        const std::string e(s);
        return p.size() >= e.size() && p.compare(p.size() - e.size(), e.size(), e) == 0;
    };
    if (endsWith(".vst3") || p.find(".vst3/") != std::string::npos) return Format::Vst3;
    return Format::Clap;
}

int PluginHost::paramIndex(const std::string& name) const {
    const auto& ps = params();
    for (size_t i = 0; i < ps.size(); ++i)
        if (ps[i].name == name) return int(i);
    return -1;
}

std::vector<HostEdit> PluginHost::takeEdits() {
    std::lock_guard<std::mutex> lock(mRecordMutex);
    return std::exchange(mEdits, {});
}

std::vector<EditorSize> PluginHost::takeResizeRequests() {
    std::lock_guard<std::mutex> lock(mRecordMutex);
    return std::exchange(mResizeRequests, {});
}

void PluginHost::recordEdit(const HostEdit& e) {
    std::lock_guard<std::mutex> lock(mRecordMutex);
    mEdits.push_back(e);
}

void PluginHost::recordResizeRequest(int width, int height) {
    std::lock_guard<std::mutex> lock(mRecordMutex);
    mResizeRequests.push_back({width, height});
}

std::unique_ptr<PluginHost> openPlugin(const std::string& path, std::string* error) {
    return openPlugin(path, formatFromPath(path), error);
}

std::unique_ptr<PluginHost> openPlugin(const std::string& path, Format format, std::string* error) {
    if (format == Format::Vst3) return Vst3Host::create(Vst3Module::open(path, error), nullptr, error);
    return ClapHost::create(ClapModule::open(path, error), "", error);
}

} // namespace nx::host
