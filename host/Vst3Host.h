// VST3 side of the host: the module (dlopen of the bundle's .so, ModuleEntry/ModuleExit,
// GetPluginFactory) and one component driven through the PluginHost interface, set up the way
// JUCE-based Linux hosts do it. Raw interfaces are exposed for format tests.
#pragma once

#include "host/PluginHost.h"
#include "host/SpscRing.h"
#include "host/Vst3HostObjects.h"

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"

#include <memory>
#include <string>
#include <vector>

namespace nx::host {

// The .so inside a bundle folder ("X.vst3" → "X.vst3/Contents/x86_64-linux/X.so"); other paths as given.
std::string vst3BinaryPath(const std::string& path);

class Vst3Module {
public:
    // Shared per binary path: ModuleEntry runs once on load, ModuleExit once when the last user is gone.
    static std::shared_ptr<Vst3Module> open(const std::string& path, std::string* error);
    ~Vst3Module();

    // The factory obtained at load (one reference held by the module).
    Steinberg::IPluginFactory* factory() const { return mFactory; }
    // Calls GetPluginFactory again; the caller owns the returned reference.
    Steinberg::IPluginFactory* getPluginFactoryAgain() const;
    const std::string& path() const { return mPath; }

private:
    Vst3Module() = default;
    void* mHandle = nullptr;
    bool mEntered = false;
    Steinberg::IPluginFactory* mFactory = nullptr;
    std::string mPath;
};

class Vst3Host final : public PluginHost {
public:
    // Creates the first class of category "Audio Module Class" (or the class with this 16-byte id).
    static std::unique_ptr<Vst3Host> create(std::shared_ptr<Vst3Module> module,
                                            const Steinberg::TUID* classId, std::string* error);
    ~Vst3Host() override;

    Format format() const override { return Format::Vst3; }
    const std::string& path() const override { return mModule->path(); }

    const std::vector<ParamInfo>& params() const override { return mParams; }
    double paramValue(int index) override;
    bool setParam(int index, double plainValue) override;
    std::string paramText(int index, double plainValue) override;

    bool activate(const ProcessSetup& setup) override;
    void deactivate() override;
    bool isActive() const override { return mActive; }
    void setTempo(double bpm) override { mTempo.store(bpm, std::memory_order_relaxed); }
    bool process(const float* const* in, float* const* out, int n) override;
    bool process(const double* const* in, double* const* out, int n) override;

    bool saveState(std::vector<uint8_t>& out, int maxBytesPerCall = 0) override;
    bool loadState(const std::vector<uint8_t>& in, int maxBytesPerCall = 0) override;

    bool hasEditor() override;
    bool openEditor(unsigned long parentWindow, double scale, EditorSize* size) override;
    bool resizeEditor(int width, int height, EditorSize* size) override;
    bool showEditor(bool) override { return false; }
    void closeEditor() override;
    bool editorOpen() const override { return mView != nullptr; }

    int pumpMainThread() override;

    // ---- Direct access for format tests --------------------------------------------------------------
    Vst3Module& module() const { return *mModule; }
    Steinberg::Vst::IComponent* component() const { return mComponent; }
    Steinberg::Vst::IAudioProcessor* processor() const { return mProcessor; }
    Steinberg::Vst::IEditController* controller() const { return mController; }
    Steinberg::IPlugView* view() const { return mView; }
    // The component's setState result of the last loadState.
    Steinberg::tresult lastSetStateResult() const { return mLastSetState; }
    // The host-level bypass: sets the parameter flagged kIsBypass (false when there is none).
    bool setHostBypass(bool on);
    int bypassParamIndex() const;
    // Calls setProcessing directly (tests count what it does on their thread).
    Steinberg::tresult setProcessing(bool on);
    int runLoopTimerCount() { return mFrame.timerCount(); }
    // When false, resizeView requests are recorded and refused (the host keeps its size).
    void setAcceptResize(bool accept) { mAcceptResize = accept; }

private:
    struct Pending {
        Steinberg::Vst::ParamID id = 0;
        double normalized = 0.0;
    };

    explicit Vst3Host(std::shared_ptr<Vst3Module> module);
    bool init(const Steinberg::TUID* classId, std::string* error);
    bool runProcess(Steinberg::Vst::ProcessData& data);
    void queueForProcessor(Steinberg::Vst::ParamID id, double normalized);

    std::shared_ptr<Vst3Module> mModule;
    vst3::HostApplication mHostApp;
    vst3::ComponentHandler mHandler;
    vst3::PlugFrame mFrame;
    Steinberg::Vst::IComponent* mComponent = nullptr;
    Steinberg::Vst::IAudioProcessor* mProcessor = nullptr;
    Steinberg::Vst::IEditController* mController = nullptr;
    bool mSeparateController = false;
    Steinberg::IPlugView* mView = nullptr;
    std::vector<ParamInfo> mParams;

    bool mActive = false;
    bool mProcessing = false;
    bool mAcceptResize = true;
    ProcessSetup mSetup;
    std::atomic<double> mTempo{0.0};
    int64_t mProjectSamples = 0;
    Steinberg::tresult mLastSetState = Steinberg::kResultOk;

    std::mutex mPendingProducer;
    SpscRing<Pending, 1024> mPending;
    vst3::ParameterChanges mInChanges;
    vst3::ParameterChanges mOutChanges;
    Steinberg::Vst::ProcessContext mContext{};
};

} // namespace nx::host
