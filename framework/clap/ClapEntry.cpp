// The CLAP entry point, plug-in factory and descriptor. init/deinit are counted: the descriptor is built
// by the first init and freed by the deinit that balances the last one, so a second user of the module
// in the same process never leaves live instances with a freed descriptor. Main thread.
#include "framework/PluginBase.h"
#include "framework/PluginIdentity.h"
#include "framework/clap/ClapPlugin.h"

#include "clap/entry.h"
#include "clap/plugin-factory.h"
#include "clap/plugin.h"
#include "clap/version.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <string>

namespace nx::clap {

namespace {

struct EntryState {
    std::mutex mutex;
    int initCount = 0;
    std::unique_ptr<std::string> path;
    std::unique_ptr<clap_plugin_descriptor_t> descriptor;
};

EntryState& State() {
    static EntryState sState;
    return sState;
}

std::unique_ptr<clap_plugin_descriptor_t> MakeDescriptor() {
    const PluginIdentity& id = GetPluginIdentity();
    auto d = std::make_unique<clap_plugin_descriptor_t>();
    std::memset(d.get(), 0, sizeof(*d));
    d->clap_version = clap_version_t{id.clapVersion[0], id.clapVersion[1], id.clapVersion[2]};
    d->id = id.clapId;
    d->name = id.name;
    d->vendor = id.vendor;
    d->url = "";
    d->manual_url = "";
    d->support_url = "";
    d->version = id.version;
    d->description = id.clapDescription;
    static const char* const kNoFeatures[] = {nullptr};
    d->features =
        id.clapFeatures ? const_cast<const char**>(id.clapFeatures) : const_cast<const char**>(kNoFeatures);
    return d;
}

bool EntryInit(const char* pluginPath) {
    try {
        EntryState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.descriptor) {
            s.descriptor = MakeDescriptor();
            s.path = std::make_unique<std::string>(pluginPath ? pluginPath : "");
        }
        ++s.initCount;
        return true;
    } catch (...) {
        return false;
    }
}

void EntryDeinit() {
    try {
        EntryState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.initCount == 0) return; // unbalanced: nothing to undo
        if (--s.initCount == 0) {
            s.descriptor.reset();
            s.path.reset();
        }
    } catch (...) {
    }
}

const clap_plugin_descriptor_t* CurrentDescriptor() {
    EntryState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.descriptor.get();
}

uint32_t FactoryCount(const clap_plugin_factory_t* /*factory*/) {
    return 1;
}

const clap_plugin_descriptor_t* FactoryDescriptor(const clap_plugin_factory_t* /*factory*/, uint32_t index) {
    try {
        return index == 0 ? CurrentDescriptor() : nullptr;
    } catch (...) {
        return nullptr;
    }
}

const clap_plugin_t* FactoryCreate(const clap_plugin_factory_t* /*factory*/, const clap_host_t* host,
                                   const char* pluginId) {
    if (!host || !pluginId || !clap_version_is_compatible(host->clap_version)) return nullptr;
    try {
        const clap_plugin_descriptor_t* descriptor = CurrentDescriptor();
        if (!descriptor || std::strcmp(pluginId, descriptor->id) != 0) return nullptr;
        PluginBase* plug = nullptr;
        {
            std::lock_guard<std::recursive_mutex> lock(FactoryMutex());
            plug = CreatePluginInstance();
        }
        if (!plug) return nullptr;
        auto* plugin = new ClapPlugin(host, descriptor, plug);
        return plugin->ClapObject();
    } catch (...) {
        return nullptr;
    }
}

const clap_plugin_factory_t kFactory = {&FactoryCount, &FactoryDescriptor, &FactoryCreate};

const void* EntryGetFactory(const char* factoryId) {
    if (factoryId && std::strcmp(factoryId, CLAP_PLUGIN_FACTORY_ID) == 0) return &kFactory;
    return nullptr;
}

} // namespace

} // namespace nx::clap

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {
    CLAP_VERSION_INIT, &nx::clap::EntryInit, &nx::clap::EntryDeinit, &nx::clap::EntryGetFactory};
