// The VST3 component: one object that is processor and edit controller at once, owning the PluginBase it
// was created with. Host calls arrive on the host's main thread except process(), which runs on the audio
// thread (setProcessing may run there too). Calls the editor makes into the host are queued and handed to
// the host on its UI thread by the view's run-loop timer (Vst3View).
#pragma once

#include "framework/AudioBridge.h"
#include "framework/EditQueue.h"
#include "framework/PluginBase.h"

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <atomic>
#include <memory>

namespace nx::vst3 {

class Vst3View;

// Largest state stream accepted by setState; no valid state comes close.
constexpr Steinberg::int64 kMaxStateBytes = 64 * 1024;

// IComponent and IEditController both declare setState/getState with one signature; these two bases give
// each interface's pair its own name, so that the controller's calls never re-apply the component state.
class ComponentStateCalls : public Steinberg::Vst::IComponent {
public:
    Steinberg::tresult PLUGIN_API setState(Steinberg::IBStream* state) final {
        return setComponentStateFromHost(state);
    }
    Steinberg::tresult PLUGIN_API getState(Steinberg::IBStream* state) final {
        return getComponentState(state);
    }
    virtual Steinberg::tresult setComponentStateFromHost(Steinberg::IBStream* state) = 0;
    virtual Steinberg::tresult getComponentState(Steinberg::IBStream* state) = 0;
};

class ControllerStateCalls : public Steinberg::Vst::IEditController {
public:
    Steinberg::tresult PLUGIN_API setState(Steinberg::IBStream* state) final {
        return setControllerState(state);
    }
    Steinberg::tresult PLUGIN_API getState(Steinberg::IBStream* state) final {
        return getControllerState(state);
    }
    virtual Steinberg::tresult setControllerState(Steinberg::IBStream* state) = 0;
    virtual Steinberg::tresult getControllerState(Steinberg::IBStream* state) = 0;
};

class Vst3Plugin final : public ComponentStateCalls,
                         public Steinberg::Vst::IAudioProcessor,
                         public ControllerStateCalls,
                         public Steinberg::Vst::IProcessContextRequirements,
                         public HostLink {
public:
    // Takes ownership of plug.
    explicit Vst3Plugin(PluginBase* plug);
    ~Vst3Plugin() override;

    // FUnknown
    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

    // IPluginBase
    Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown* context) override;
    Steinberg::tresult PLUGIN_API terminate() override;

    // IComponent
    Steinberg::tresult PLUGIN_API getControllerClassId(Steinberg::TUID classId) override;
    Steinberg::tresult PLUGIN_API setIoMode(Steinberg::Vst::IoMode mode) override;
    Steinberg::int32 PLUGIN_API getBusCount(Steinberg::Vst::MediaType type,
                                            Steinberg::Vst::BusDirection dir) override;
    Steinberg::tresult PLUGIN_API getBusInfo(Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
                                             Steinberg::int32 index, Steinberg::Vst::BusInfo& bus) override;
    Steinberg::tresult PLUGIN_API getRoutingInfo(Steinberg::Vst::RoutingInfo& inInfo,
                                                 Steinberg::Vst::RoutingInfo& outInfo) override;
    Steinberg::tresult PLUGIN_API activateBus(Steinberg::Vst::MediaType type,
                                              Steinberg::Vst::BusDirection dir, Steinberg::int32 index,
                                              Steinberg::TBool state) override;
    Steinberg::tresult PLUGIN_API setActive(Steinberg::TBool state) override;
    // Component state: the plug-in's chunk followed by the 32-bit host-bypass flag.
    Steinberg::tresult setComponentStateFromHost(Steinberg::IBStream* state) override;
    Steinberg::tresult getComponentState(Steinberg::IBStream* state) override;

    // IAudioProcessor
    Steinberg::tresult PLUGIN_API setBusArrangements(Steinberg::Vst::SpeakerArrangement* inputs,
                                                     Steinberg::int32 numIns,
                                                     Steinberg::Vst::SpeakerArrangement* outputs,
                                                     Steinberg::int32 numOuts) override;
    Steinberg::tresult PLUGIN_API getBusArrangement(Steinberg::Vst::BusDirection dir, Steinberg::int32 index,
                                                    Steinberg::Vst::SpeakerArrangement& arr) override;
    Steinberg::tresult PLUGIN_API canProcessSampleSize(Steinberg::int32 symbolicSampleSize) override;
    Steinberg::uint32 PLUGIN_API getLatencySamples() override;
    Steinberg::tresult PLUGIN_API setupProcessing(Steinberg::Vst::ProcessSetup& setup) override;
    Steinberg::tresult PLUGIN_API setProcessing(Steinberg::TBool state) override;
    Steinberg::tresult PLUGIN_API process(Steinberg::Vst::ProcessData& data) override;
    Steinberg::uint32 PLUGIN_API getTailSamples() override;

    // IProcessContextRequirements
    Steinberg::uint32 PLUGIN_API getProcessContextRequirements() override;

    // IEditController
    Steinberg::tresult PLUGIN_API setComponentState(Steinberg::IBStream* state) override;
    // The controller has no state of its own: both calls succeed, setting nothing and writing nothing.
    Steinberg::tresult setControllerState(Steinberg::IBStream* state) override;
    Steinberg::tresult getControllerState(Steinberg::IBStream* state) override;
    Steinberg::int32 PLUGIN_API getParameterCount() override;
    Steinberg::tresult PLUGIN_API getParameterInfo(Steinberg::int32 paramIndex,
                                                   Steinberg::Vst::ParameterInfo& info) override;
    Steinberg::tresult PLUGIN_API getParamStringByValue(Steinberg::Vst::ParamID id,
                                                        Steinberg::Vst::ParamValue valueNormalized,
                                                        Steinberg::Vst::String128 string) override;
    Steinberg::tresult PLUGIN_API getParamValueByString(Steinberg::Vst::ParamID id,
                                                        Steinberg::Vst::TChar* string,
                                                        Steinberg::Vst::ParamValue& valueNormalized) override;
    Steinberg::Vst::ParamValue PLUGIN_API
    normalizedParamToPlain(Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue valueNormalized) override;
    Steinberg::Vst::ParamValue PLUGIN_API
    plainParamToNormalized(Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue plainValue) override;
    Steinberg::Vst::ParamValue PLUGIN_API getParamNormalized(Steinberg::Vst::ParamID id) override;
    Steinberg::tresult PLUGIN_API setParamNormalized(Steinberg::Vst::ParamID id,
                                                     Steinberg::Vst::ParamValue value) override;
    Steinberg::tresult PLUGIN_API setComponentHandler(Steinberg::Vst::IComponentHandler* handler) override;
    Steinberg::IPlugView* PLUGIN_API createView(Steinberg::FIDString name) override;

    // HostLink (any thread; see the class comment)
    void BeginEdit(int paramIdx) override;
    void PerformEdit(int paramIdx, double normalized) override;
    void EndEdit(int paramIdx) override;
    bool ResizeView(int width, int height) override;
    void ParamValuesChanged() override;

    // ---- For the view (host UI thread) ----
    PluginBase& Plug() { return *mPlug; }
    // While set, editor calls are queued for DrainHostCalls instead of reaching the host directly.
    void SetDeferHostCalls(bool on) { mDeferHostCalls.store(on, std::memory_order_release); }
    // Hands queued edits, a values-changed notice and the latest resize request to the host.
    void DrainHostCalls(bool includeResize);
    // The view that resize requests go to; a view unsets itself only (expected = itself).
    void SetView(Vst3View* view, Vst3View* expected = nullptr);
    Steinberg::Vst::ParamID BypassParamId() const {
        return static_cast<Steinberg::Vst::ParamID>(mPlug->NParams());
    }

private:
    void ApplyParamChanges(Steinberg::Vst::IParameterChanges* changes);
    void SetParamFromHost(Steinberg::Vst::ParamID id, double normalized);
    void CallHostEdit(const HostEdit& edit);
    void RestartComponentValues();
    bool ResizeViewNow(int width, int height);

    std::atomic<int32_t> mRefCount{1};
    std::unique_ptr<PluginBase> mPlug;
    AudioBridge mBridge;
    std::atomic<Steinberg::Vst::IComponentHandler*> mHandler{nullptr};
    Steinberg::FUnknown* mHostContext = nullptr;
    Steinberg::Vst::SpeakerArrangement mInArr;
    Steinberg::Vst::SpeakerArrangement mOutArr;
    Steinberg::int32 mSampleSize = Steinberg::Vst::kSample32;
    std::atomic<Vst3View*> mView{nullptr};
    EditQueue mEdits;
    std::atomic<bool> mDeferHostCalls{false};
    std::atomic<bool> mValuesChanged{false};
    std::atomic<uint64_t> mPendingResize{0}; // width << 32 | height; 0 = none
};

} // namespace nx::vst3
