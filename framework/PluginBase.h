// Format-neutral plug-in base: configuration, parameters, host presets, the hooks a plug-in overrides and
// the services it calls. The VST3 and CLAP adapters (framework/vst3, framework/clap) own one PluginBase
// each and translate their format's calls into these hooks. Thread rules are noted per member.
#pragma once

#include "framework/ByteChunk.h"
#include "framework/Param.h"

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace nx {

// Four-character code as a big-endian constant: FourCC("Vonx").
constexpr uint32_t FourCC(const char (&s)[5]) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

struct PluginConfig {
    int nParams = 0;
    int nPresets = 0;
    const char* channelIO = "2-2";
    const char* pluginName = "";
    const char* productName = "";
    const char* mfrName = "";
    int vendorVersion = 0x00010000; // major << 16 | minor << 8 | patch
    uint32_t uniqueId = 0;
    uint32_t mfrId = 0;
    int latency = 0;
    bool plugDoesMidiIn = false;
    bool plugDoesMidiOut = false;
    bool plugDoesMPE = false;
    bool plugDoesChunks = true;
    bool plugIsInstrument = false;
    bool plugHasUI = true;
    int editorWidth = 0, editorHeight = 0;
    int minWidth = 0, minHeight = 0;
    int maxWidth = 0, maxHeight = 0;
    bool hostResize = true;
    const char* bundleId = "";
    const char* appGroupId = "";
};

// Calls that reach the host, implemented by the format adapter. Any of them may be called from the
// editor's UI thread; the adapter marshals them to whichever thread its format requires.
class HostLink {
public:
    virtual ~HostLink() = default;
    virtual void BeginEdit(int paramIdx) = 0;
    virtual void PerformEdit(int paramIdx, double normalized) = 0;
    virtual void EndEdit(int paramIdx) = 0;
    // The plug-in's editor asks the host to resize its window; true when the host was asked.
    virtual bool ResizeView(int width, int height) = 0;
    // Every parameter value may have changed (after a state restore or an undo step).
    virtual void ParamValuesChanged() = 0;
};

class PluginBase {
public:
    explicit PluginBase(const PluginConfig& config);
    virtual ~PluginBase();
    PluginBase(const PluginBase&) = delete;
    PluginBase& operator=(const PluginBase&) = delete;

    // ---- Hooks the plug-in overrides ----------------------------------------------------------------
    // Audio thread. nFrames never exceeds GetBlockSize() (the adapters split longer host blocks; a block size
    // below 1 counts as 4096). inputs and outputs each hold two channel pointers; a channel the host does
    // not connect (mono) or does not provide is null. Input and output may be the same memory.
    virtual void ProcessBlock(double** inputs, double** outputs, int nFrames) = 0;
    // Main thread, after the host set up the sample rate and maximum block size; may allocate and lock.
    virtual void OnReset() {}
    // Processing (re)starts; may run on the audio thread: must not allocate, lock or wait.
    virtual void OnProcessingRestart() {}
    // Any thread, after a parameter's value changed.
    virtual void OnParamChange(int /*paramIdx*/) {}
    // Host threads. Default: the parameters alone.
    virtual bool SerializeState(ByteChunk& chunk) const { return SerializeParams(chunk); }
    virtual int UnserializeState(const ByteChunk& chunk, int startPos) {
        return UnserializeParams(chunk, startPos);
    }
    // After a state restore: notifies the editor side of every parameter's value.
    virtual void OnRestoreState() { NotifyAllParamValuesChanged(); }
    // Editor hooks, host's main thread. parent is the host's X11 window id cast to a pointer.
    virtual void* OpenWindow(void* /*parent*/) { return nullptr; }
    virtual void CloseWindow() {}
    virtual void ConstrainEditorResize(int& /*width*/, int& /*height*/) const {}
    virtual void OnParentWindowResize(int /*width*/, int /*height*/) {}

    // ---- Services -----------------------------------------------------------------------------------
    const PluginConfig& GetConfig() const { return mConfig; }
    int NParams() const { return static_cast<int>(mParams.size()); }
    Param* GetParam(int idx) { return idx >= 0 && idx < NParams() ? mParams[idx].get() : nullptr; }
    const Param* GetParam(int idx) const {
        return idx >= 0 && idx < NParams() ? mParams[idx].get() : nullptr;
    }

    double GetSampleRate() const { return mSampleRate.load(std::memory_order_relaxed); }
    int GetBlockSize() const { return mBlockSize.load(std::memory_order_relaxed); }
    // Host tempo in BPM for the current block; 0 when the host gives none.
    double GetTempo() const { return mTempo.load(std::memory_order_relaxed); }
    int NInChansConnected() const { return mInChans.load(std::memory_order_relaxed); }
    int NOutChansConnected() const { return mOutChans.load(std::memory_order_relaxed); }

    // Appends every parameter's value as a little-endian double, in id order.
    bool SerializeParams(ByteChunk& chunk) const;
    // Reads doubles from startPos (when >= 0) into the parameters in id order, each constrained; a
    // missing or non-finite double leaves that parameter unchanged (missing ends the reading with -1).
    // Then calls OnParamChange for every parameter. Returns the position after the last double, or -1.
    int UnserializeParams(const ByteChunk& chunk, int startPos);

    // Stored editor size (one packed atomic; any thread).
    void GetEditorSize(int& width, int& height) const;
    void SetEditorSize(int width, int height);
    // From the editor: stores the size and asks the host to resize its window. Sizes below 1 are refused.
    // needsPlatformResize is accepted for callers written against the three-argument form; the host
    // resizes the container either way, and the editor follows its container.
    bool EditorResizeFromUI(int width, int height);
    bool EditorResizeFromUI(int width, int height, bool needsPlatformResize);

    // From the editor: a gesture around value changes. SendParameterValueFromUI sets the value,
    // calls OnParamChange and informs the host.
    void BeginInformHostOfParamChangeFromUI(int paramIdx);
    void SendParameterValueFromUI(int paramIdx, double normalized);
    void EndInformHostOfParamChangeFromUI(int paramIdx);
    // From the editor, inside a gesture: tells the host a value the plug-in has already set itself
    // (no second set, no OnParamChange).
    void InformHostOfParamValueFromUI(int paramIdx);
    // Tells the host that every parameter value may have changed.
    void NotifyAllParamValuesChanged();

    // The host-level bypass flag (the framework's own, separate from any plug-in parameter).
    bool GetHostBypassed() const { return mHostBypassed.load(std::memory_order_relaxed); }
    void SetHostBypassed(bool on) { mHostBypassed.store(on, std::memory_order_relaxed); }

    // The host renders offline (VST3 kOffline, CLAP render mode offline): processing may then trade
    // real-time independence for results that depend on the input alone. Set by the adapters before
    // the set-up that follows; read by the plug-in when it prepares.
    bool IsRenderingOffline() const { return mRenderingOffline.load(std::memory_order_relaxed); }
    void SetRenderingOffline(bool on) { mRenderingOffline.store(on, std::memory_order_relaxed); }

    // Host presets made from named parameters: every parameter takes its current value, then the
    // listed (paramIdx, value) pairs override it.
    void MakePresetFromNamedParams(const char* name, std::initializer_list<std::pair<int, double>> named);
    int NPresets() const { return static_cast<int>(mPresets.size()); }
    const char* GetPresetName(int idx) const;
    // Applies a host preset (values constrained, OnParamChange for each); false for a bad index.
    bool RestorePreset(int idx);
    int GetCurrentPresetIdx() const { return mCurrentPreset.load(std::memory_order_relaxed); }

    // ---- Adapter side -------------------------------------------------------------------------------
    void SetHostLink(HostLink* link) { mHostLink.store(link, std::memory_order_release); }
    HostLink* GetHostLink() const { return mHostLink.load(std::memory_order_acquire); }
    void SetSampleRate(double sr) { mSampleRate.store(sr, std::memory_order_relaxed); }
    void SetBlockSize(int n) { mBlockSize.store(n, std::memory_order_relaxed); }
    void SetTempo(double bpm) { mTempo.store(bpm, std::memory_order_relaxed); }
    void SetChannelsConnected(int nIn, int nOut) {
        mInChans.store(nIn, std::memory_order_relaxed);
        mOutChans.store(nOut, std::memory_order_relaxed);
    }

protected:
    // Called by the plug-in's constructor to create its parameters, in id order. The first
    // config.nParams calls hand out the parameters the base created up front (so GetParam(i) is valid
    // from the start of the plug-in's constructor); later calls append new ones.
    Param* AddParam();

private:
    struct HostPreset {
        std::string name;
        std::vector<double> values;
    };

    PluginConfig mConfig;
    std::vector<std::unique_ptr<Param>> mParams;
    int mNextParamToInit = 0;
    std::vector<HostPreset> mPresets;
    std::atomic<int> mCurrentPreset{0};
    std::atomic<double> mSampleRate{44100.0};
    std::atomic<int> mBlockSize{512};
    std::atomic<double> mTempo{0.0};
    std::atomic<int> mInChans{2};
    std::atomic<int> mOutChans{2};
    std::atomic<uint64_t> mEditorSize{0}; // width << 32 | height
    std::atomic<bool> mHostBypassed{false};
    std::atomic<bool> mRenderingOffline{false};
    std::atomic<HostLink*> mHostLink{nullptr};
};

// Defined by the plug-in: constructs one instance with its configuration. The adapters call it while
// holding FactoryMutex(), so instances of one deliverable are constructed one at a time.
PluginBase* CreatePluginInstance();
std::recursive_mutex& FactoryMutex();

} // namespace nx
