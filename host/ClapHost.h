// CLAP side of the host: the module (dlopen, clap_entry init/deinit, factory) and one plug-in
// instance driven through the PluginHost interface. The raw entry, factory and plug-in pointers are
// exposed for tests that call the format directly.
#pragma once

#include "host/PluginHost.h"
#include "host/SpscRing.h"

#include "clap/entry.h"
#include "clap/ext/audio-ports.h"
#include "clap/ext/gui.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/ext/timer-support.h"
#include "clap/plugin-factory.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace nx::host {

// One loaded .clap file. The entry is initialised once per ClapModule; deinit and dlclose run in the
// destructor. Modules are shared per path (ClapModule::open returns the live one when there is one).
class ClapModule {
public:
    static std::shared_ptr<ClapModule> open(const std::string& path, std::string* error);
    ~ClapModule();

    const clap_plugin_entry_t* entry() const { return mEntry; }
    const clap_plugin_factory_t* factory() const { return mFactory; }
    const std::string& path() const { return mPath; }

private:
    ClapModule() = default;
    void* mHandle = nullptr;
    const clap_plugin_entry_t* mEntry = nullptr;
    const clap_plugin_factory_t* mFactory = nullptr;
    std::string mPath;
};

class ClapHost final : public PluginHost {
public:
    // Creates the plug-in with the given id (empty: the factory's first descriptor). Null on failure.
    static std::unique_ptr<ClapHost> create(std::shared_ptr<ClapModule> module, const std::string& pluginId,
                                            std::string* error);
    ~ClapHost() override;

    Format format() const override { return Format::Clap; }
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
    bool showEditor(bool visible) override;
    void closeEditor() override;
    bool editorOpen() const override { return mGuiCreated; }

    int pumpMainThread() override;

    // ---- Direct access for format tests --------------------------------------------------------------
    const clap_plugin_t* plugin() const { return mPlugin; }
    const clap_host_t* hostStruct() const { return &mHost; }
    ClapModule& module() const { return *mModule; }
    const clap_plugin_params_t* paramsExt() const { return mParamsExt; }
    const clap_plugin_state_t* stateExt() const { return mStateExt; }
    const clap_plugin_gui_t* guiExt() const { return mGuiExt; }
    // True once the plug-in has processed a block since activate (start_processing was called).
    bool processingStarted() const { return mStarted; }
    // Counters of host callbacks the plug-in made.
    int rescanCount() const { return mRescans.load(); }
    int markDirtyCount() const { return mMarkDirty.load(); }

private:
    struct PendingParam {
        uint32_t id = 0;
        double value = 0.0;
        void* cookie = nullptr;
    };
    struct Timer {
        clap_id id;
        uint32_t periodMs;
        std::chrono::steady_clock::time_point due;
    };

    explicit ClapHost(std::shared_ptr<ClapModule> module);
    bool init(const std::string& pluginId, std::string* error);
    bool runProcess(uint32_t n, clap_audio_buffer_t& inBuf, clap_audio_buffer_t& outBuf);
    void collectOutputEvent(const clap_event_header_t* ev);
    void drainAudioEdits();
    const clap_param_info_t* infoAt(int index) const;

    // Host callbacks.
    static const void* hostGetExtension(const clap_host_t* h, const char* id);
    static void hostRequestRestart(const clap_host_t* h);
    static void hostRequestProcess(const clap_host_t* h);
    static void hostRequestCallback(const clap_host_t* h);
    static ClapHost* self(const clap_host_t* h) { return static_cast<ClapHost*>(h->host_data); }

    std::shared_ptr<ClapModule> mModule;
    clap_host_t mHost{};
    const clap_plugin_t* mPlugin = nullptr;
    const clap_plugin_params_t* mParamsExt = nullptr;
    const clap_plugin_state_t* mStateExt = nullptr;
    const clap_plugin_gui_t* mGuiExt = nullptr;
    const clap_plugin_timer_support_t* mTimerExt = nullptr;
    const clap_plugin_audio_ports_t* mPortsExt = nullptr;
    std::vector<clap_param_info_t> mInfos;
    std::vector<ParamInfo> mParams;

    std::thread::id mMainThread;
    std::atomic<std::thread::id> mAudioThread{};
    bool mActive = false;
    bool mStarted = false;
    bool mSupports64 = false;
    ProcessSetup mSetup;
    std::atomic<double> mTempo{0.0};
    int64_t mSteadyTime = 0;

    // Main thread → audio thread: parameter values for the next block.
    std::mutex mPendingProducer;
    SpscRing<PendingParam, 1024> mPending;
    // Audio thread → main thread: what the plug-in emitted in process.
    SpscRing<HostEdit, 4096> mAudioEdits;
    // Event storage for one block (audio thread only).
    std::vector<clap_event_param_value_t> mBlockEvents;
    std::vector<float> mScratch32;

    std::atomic<bool> mFlushRequested{false};
    std::atomic<bool> mCallbackRequested{false};
    std::atomic<bool> mRestartRequested{false};
    std::atomic<int> mRescans{0};
    std::atomic<int> mMarkDirty{0};
    std::vector<Timer> mTimers;
    clap_id mNextTimerId = 1;
    std::mutex mResizeMutex;
    bool mResizePending = false;
    int mResizeW = 0, mResizeH = 0;
    bool mGuiCreated = false;

    static const clap_host_params_t kHostParams;
    static const clap_host_state_t kHostState;
    static const clap_host_gui_t kHostGui;
    static const clap_host_timer_support_t kHostTimer;
    friend struct ClapHostCallbacks;
};

} // namespace nx::host
