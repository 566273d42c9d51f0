// The CLAP plug-in object: owns one PluginBase and answers the host's calls and extensions (audio-ports,
// params, state, latency, gui). Thread of each call as CLAP defines it: process, start_processing, reset
// and (while active) params.flush on the audio thread, everything else on the main thread. The editor's
// calls into the host are queued and leave through process or flush.
#pragma once

#include "framework/AudioBridge.h"
#include "framework/EditQueue.h"
#include "framework/PluginBase.h"

#include "clap/ext/audio-ports.h"
#include "clap/ext/gui.h"
#include "clap/ext/params.h"
#include "clap/host.h"
#include "clap/plugin.h"
#include "clap/stream.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace nx::clap {

// Largest state stream the state extension accepts; no valid state comes close.
constexpr int64_t kMaxStateBytes = 64 * 1024;

class ClapPlugin final : public HostLink {
public:
    // Takes ownership of plug.
    ClapPlugin(const clap_host_t* host, const clap_plugin_descriptor_t* descriptor, PluginBase* plug);
    ~ClapPlugin() override;
    ClapPlugin(const ClapPlugin&) = delete;
    ClapPlugin& operator=(const ClapPlugin&) = delete;

    const clap_plugin_t* ClapObject() const { return &mClap; }

    // HostLink (any thread)
    void BeginEdit(int paramIdx) override;
    void PerformEdit(int paramIdx, double normalized) override;
    void EndEdit(int paramIdx) override;
    bool ResizeView(int width, int height) override;
    void ParamValuesChanged() override;

private:
    static ClapPlugin* From(const clap_plugin_t* plugin);

    // clap_plugin_t
    static bool Init(const clap_plugin_t* plugin);
    static void Destroy(const clap_plugin_t* plugin);
    static bool Activate(const clap_plugin_t* plugin, double sampleRate, uint32_t minFrames,
                         uint32_t maxFrames);
    static void Deactivate(const clap_plugin_t* plugin);
    static bool StartProcessing(const clap_plugin_t* plugin);
    static void StopProcessing(const clap_plugin_t* plugin);
    static void Reset(const clap_plugin_t* plugin);
    static clap_process_status Process(const clap_plugin_t* plugin, const clap_process_t* process);
    static const void* GetExtension(const clap_plugin_t* plugin, const char* id);
    static void OnMainThread(const clap_plugin_t* plugin);

    // audio-ports
    static uint32_t PortsCount(const clap_plugin_t* plugin, bool isInput);
    static bool PortsGet(const clap_plugin_t* plugin, uint32_t index, bool isInput,
                         clap_audio_port_info_t* info);
    // params
    static uint32_t ParamsCount(const clap_plugin_t* plugin);
    static bool ParamsGetInfo(const clap_plugin_t* plugin, uint32_t index, clap_param_info_t* info);
    static bool ParamsGetValue(const clap_plugin_t* plugin, clap_id id, double* value);
    static bool ParamsValueToText(const clap_plugin_t* plugin, clap_id id, double value, char* display,
                                  uint32_t size);
    static bool ParamsTextToValue(const clap_plugin_t* plugin, clap_id id, const char* display,
                                  double* value);
    static void ParamsFlush(const clap_plugin_t* plugin, const clap_input_events_t* in,
                            const clap_output_events_t* out);
    // state
    static bool StateSave(const clap_plugin_t* plugin, const clap_ostream_t* stream);
    static bool StateLoad(const clap_plugin_t* plugin, const clap_istream_t* stream);
    // latency
    static uint32_t LatencyGet(const clap_plugin_t* plugin);
    // render
    static bool RenderHasHardRealtimeRequirement(const clap_plugin_t* plugin);
    static bool RenderSet(const clap_plugin_t* plugin, int32_t mode);
    // gui
    static bool GuiIsApiSupported(const clap_plugin_t* plugin, const char* api, bool isFloating);
    static bool GuiGetPreferredApi(const clap_plugin_t* plugin, const char** api, bool* isFloating);
    static bool GuiCreate(const clap_plugin_t* plugin, const char* api, bool isFloating);
    static void GuiDestroy(const clap_plugin_t* plugin);
    static bool GuiSetScale(const clap_plugin_t* plugin, double scale);
    static bool GuiGetSize(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height);
    static bool GuiCanResize(const clap_plugin_t* plugin);
    static bool GuiGetResizeHints(const clap_plugin_t* plugin, clap_gui_resize_hints_t* hints);
    static bool GuiAdjustSize(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height);
    static bool GuiSetSize(const clap_plugin_t* plugin, uint32_t width, uint32_t height);
    static bool GuiSetParent(const clap_plugin_t* plugin, const clap_window_t* window);
    static bool GuiSetTransient(const clap_plugin_t* plugin, const clap_window_t* window);
    static void GuiSuggestTitle(const clap_plugin_t* plugin, const char* title);
    static bool GuiShow(const clap_plugin_t* plugin);
    static bool GuiHide(const clap_plugin_t* plugin);

    void ApplyEvents(const clap_input_events_t* in);
    void SendQueuedEdits(const clap_output_events_t* out);
    void QueueEdit(const HostEdit& edit);
    void CloseEditor();

    clap_plugin_t mClap{};
    const clap_host_t* mHost;
    const clap_host_params_t* mHostParams = nullptr;
    const clap_host_gui_t* mHostGui = nullptr;
    std::unique_ptr<PluginBase> mPlug;
    AudioBridge mBridge;
    EditQueue mEdits;
    std::atomic<bool> mProcessing{false};
    std::atomic<bool> mValuesChanged{false};
    bool mGuiCreated = false;
    bool mWindowOpen = false;
};

} // namespace nx::clap
