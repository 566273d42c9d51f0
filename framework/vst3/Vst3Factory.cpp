// The VST3 module's entry points and its plug-in factory: one audio-effect class, created through the
// plug-in's CreatePluginInstance under the process-wide factory lock. Host main thread.
#include "framework/PluginBase.h"
#include "framework/PluginIdentity.h"
#include "framework/vst3/Vst3Common.h"
#include "framework/vst3/Vst3Plugin.h"

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstcomponent.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

using namespace Steinberg;

namespace nx::vst3 {

namespace {

// The class id: two fixed words, then the manufacturer id and the unique id, each most significant byte
// first, so the bytes are the same on every platform.
void MakeClassId(TUID cid) {
    const PluginIdentity& id = GetPluginIdentity();
    const uint32_t words[4] = {0xF2AEE70Du, 0x00DE4F4Eu, id.mfrId, id.uniqueId};
    for (int w = 0; w < 4; ++w) {
        for (int b = 0; b < 4; ++b) cid[w * 4 + b] = static_cast<char>((words[w] >> (24 - 8 * b)) & 0xFF);
    }
}

class Vst3Factory final : public IPluginFactory3 {
public:
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
        if (!obj) return kInvalidArgument;
        if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) ||
            FUnknownPrivate::iidEqual(iid, IPluginFactory::iid) ||
            FUnknownPrivate::iidEqual(iid, IPluginFactory2::iid) ||
            FUnknownPrivate::iidEqual(iid, IPluginFactory3::iid)) {
            *obj = static_cast<IPluginFactory3*>(this);
            addRef();
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    // The factory lives as long as the module; references are counted only for the host's bookkeeping.
    uint32 PLUGIN_API addRef() override { return static_cast<uint32>(++mRefCount); }
    uint32 PLUGIN_API release() override {
        const int32_t left = --mRefCount;
        return static_cast<uint32>(left > 0 ? left : 0);
    }

    tresult PLUGIN_API getFactoryInfo(PFactoryInfo* info) override {
        if (!info) return kInvalidArgument;
        std::memset(static_cast<void*>(info), 0, sizeof(*info));
        const PluginIdentity& id = GetPluginIdentity();
        CopyString(id.vendor, info->vendor, sizeof(info->vendor));
        CopyString(id.url, info->url, sizeof(info->url));
        CopyString(id.email, info->email, sizeof(info->email));
        info->flags = PFactoryInfo::kUnicode;
        return kResultOk;
    }

    int32 PLUGIN_API countClasses() override { return 1; }

    tresult PLUGIN_API getClassInfo(int32 index, PClassInfo* info) override {
        if (index != 0 || !info) return kInvalidArgument;
        std::memset(static_cast<void*>(info), 0, sizeof(*info));
        MakeClassId(info->cid);
        info->cardinality = PClassInfo::kManyInstances;
        CopyString(kVstAudioEffectClass, info->category, sizeof(info->category));
        CopyString(GetPluginIdentity().name, info->name, sizeof(info->name));
        return kResultOk;
    }

    tresult PLUGIN_API getClassInfo2(int32 index, PClassInfo2* info) override {
        if (index != 0 || !info) return kInvalidArgument;
        std::memset(static_cast<void*>(info), 0, sizeof(*info));
        const PluginIdentity& id = GetPluginIdentity();
        MakeClassId(info->cid);
        info->cardinality = PClassInfo::kManyInstances;
        CopyString(kVstAudioEffectClass, info->category, sizeof(info->category));
        CopyString(id.name, info->name, sizeof(info->name));
        info->classFlags = Vst::kSimpleModeSupported;
        CopyString(id.vst3SubCategories, info->subCategories, sizeof(info->subCategories));
        info->vendor[0] = 0; // the factory's vendor applies
        CopyString(id.version, info->version, sizeof(info->version));
        CopyString(id.vst3SdkVersion, info->sdkVersion, sizeof(info->sdkVersion));
        return kResultOk;
    }

    tresult PLUGIN_API getClassInfoUnicode(int32 index, PClassInfoW* info) override {
        if (index != 0 || !info) return kInvalidArgument;
        std::memset(static_cast<void*>(info), 0, sizeof(*info));
        const PluginIdentity& id = GetPluginIdentity();
        MakeClassId(info->cid);
        info->cardinality = PClassInfo::kManyInstances;
        CopyString(kVstAudioEffectClass, info->category, sizeof(info->category));
        CopyUtf8ToUtf16(id.name, info->name, sizeof(info->name) / sizeof(info->name[0]));
        info->classFlags = Vst::kSimpleModeSupported;
        CopyString(id.vst3SubCategories, info->subCategories, sizeof(info->subCategories));
        info->vendor[0] = 0;
        CopyUtf8ToUtf16(id.version, info->version, sizeof(info->version) / sizeof(info->version[0]));
        CopyUtf8ToUtf16(id.vst3SdkVersion, info->sdkVersion,
                        sizeof(info->sdkVersion) / sizeof(info->sdkVersion[0]));
        return kResultOk;
    }

    tresult PLUGIN_API createInstance(FIDString cid, FIDString iid, void** obj) override {
        if (!obj) return kInvalidArgument;
        *obj = nullptr;
        if (!cid || !iid) return kInvalidArgument;
        TUID ours;
        MakeClassId(ours);
        if (!FUnknownPrivate::iidEqual(cid, ours)) return kInvalidArgument;
        try {
            PluginBase* plug = nullptr;
            {
                std::lock_guard<std::recursive_mutex> lock(FactoryMutex());
                plug = CreatePluginInstance();
            }
            if (!plug) return kOutOfMemory;
            auto* component = new Vst3Plugin(plug);
            const tresult result = component->queryInterface(iid, obj);
            component->release(); // the reference queryInterface added is the caller's
            return result;
        } catch (...) {
            *obj = nullptr;
            return kInternalError;
        }
    }

    tresult PLUGIN_API setHostContext(FUnknown* /*context*/) override { return kResultOk; }

private:
    std::atomic<int32_t> mRefCount{0};
};

Vst3Factory& TheFactory() {
    static Vst3Factory sFactory;
    return sFactory;
}

} // namespace

} // namespace nx::vst3

extern "C" {

__attribute__((visibility("default"))) IPluginFactory* PLUGIN_API GetPluginFactory() {
    try {
        auto& factory = nx::vst3::TheFactory();
        factory.addRef();
        return &factory;
    } catch (...) {
        return nullptr;
    }
}

__attribute__((visibility("default"))) bool ModuleEntry(void* /*sharedLibraryHandle*/) {
    return true;
}

__attribute__((visibility("default"))) bool ModuleExit() {
    return true;
}

} // extern "C"
