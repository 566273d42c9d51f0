// The CLAP plug-in object and its extensions.
#include "framework/clap/ClapPlugin.h"

#include "clap/ext/audio-ports.h"
#include "clap/ext/latency.h"
#include "clap/ext/state.h"
#include "framework/clap/ClapRenderExt.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>

namespace nx::clap {

namespace {

// Largest block the adapter prepares for; longer host blocks are processed in pieces of this size.
constexpr uint32_t kMaxPreparedFrames = 65536;

void CopyText(const std::string& text, char* dst, size_t capacity) {
    if (!dst || capacity == 0) return;
    const size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(dst, text.data(), n);
    dst[n] = 0;
}

template <typename R, typename Fn>
R Guarded(R fallback, Fn&& fn) noexcept {
    try {
        return fn();
    } catch (...) {
        return fallback;
    }
}

int ClampToInt(uint32_t v) {
    return v > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(v);
}

} // namespace

ClapPlugin::ClapPlugin(const clap_host_t* host, const clap_plugin_descriptor_t* descriptor, PluginBase* plug)
    : mHost(host), mPlug(plug) {
    mClap.desc = descriptor;
    mClap.plugin_data = this;
    mClap.init = &ClapPlugin::Init;
    mClap.destroy = &ClapPlugin::Destroy;
    mClap.activate = &ClapPlugin::Activate;
    mClap.deactivate = &ClapPlugin::Deactivate;
    mClap.start_processing = &ClapPlugin::StartProcessing;
    mClap.stop_processing = &ClapPlugin::StopProcessing;
    mClap.reset = &ClapPlugin::Reset;
    mClap.process = &ClapPlugin::Process;
    mClap.get_extension = &ClapPlugin::GetExtension;
    mClap.on_main_thread = &ClapPlugin::OnMainThread;
    mPlug->SetChannelsConnected(2, 2);
    mPlug->SetHostLink(this);
}

ClapPlugin::~ClapPlugin() {
    // The plug-in closes its editor (joining the editor's thread) while the host link is still valid.
    CloseEditor();
    mPlug.reset();
}

ClapPlugin* ClapPlugin::From(const clap_plugin_t* plugin) {
    return plugin ? static_cast<ClapPlugin*>(plugin->plugin_data) : nullptr;
}

// ---- clap_plugin_t -------------------------------------------------------------------------------------

bool ClapPlugin::Init(const clap_plugin_t* plugin) {
    ClapPlugin* self = From(plugin);
    if (!self) return false;
    return Guarded(false, [&] {
        if (self->mHost && self->mHost->get_extension) {
            self->mHostParams = static_cast<const clap_host_params_t*>(
                self->mHost->get_extension(self->mHost, CLAP_EXT_PARAMS));
            self->mHostGui =
                static_cast<const clap_host_gui_t*>(self->mHost->get_extension(self->mHost, CLAP_EXT_GUI));
        }
        return true;
    });
}

void ClapPlugin::Destroy(const clap_plugin_t* plugin) {
    ClapPlugin* self = From(plugin);
    try {
        delete self;
    } catch (...) {
    }
}

bool ClapPlugin::Activate(const clap_plugin_t* plugin, double sampleRate, uint32_t /*minFrames*/,
                          uint32_t maxFrames) {
    ClapPlugin* self = From(plugin);
    if (!self || !(sampleRate > 0.0) || !std::isfinite(sampleRate) || maxFrames < 1) return false;
    return Guarded(false, [&] {
        const int maxBlock = static_cast<int>(std::min(maxFrames, kMaxPreparedFrames));
        self->mPlug->SetSampleRate(sampleRate);
        self->mPlug->SetBlockSize(maxBlock);
        self->mBridge.Prepare(maxBlock);
        // Main thread: the one place where the plug-in prepares (allocates, attaches) for processing.
        self->mPlug->OnReset();
        return true;
    });
}

void ClapPlugin::Deactivate(const clap_plugin_t* /*plugin*/) {}

bool ClapPlugin::StartProcessing(const clap_plugin_t* plugin) {
    ClapPlugin* self = From(plugin);
    if (!self) return false;
    // Audio thread: the light restart only (no allocation, no lock).
    return Guarded(false, [&] {
        self->mPlug->OnProcessingRestart();
        self->mProcessing.store(true, std::memory_order_release);
        return true;
    });
}

void ClapPlugin::StopProcessing(const clap_plugin_t* plugin) {
    if (ClapPlugin* self = From(plugin)) self->mProcessing.store(false, std::memory_order_release);
}

void ClapPlugin::Reset(const clap_plugin_t* plugin) {
    ClapPlugin* self = From(plugin);
    if (!self) return;
    try {
        self->mPlug->OnProcessingRestart();
    } catch (...) {
    }
}

clap_process_status ClapPlugin::Process(const clap_plugin_t* plugin, const clap_process_t* process) {
    ClapPlugin* self = From(plugin);
    if (!self || !process) return CLAP_PROCESS_ERROR;
    try {
        PluginBase& plug = *self->mPlug;
        double tempo = 0.0;
        if (process->transport && (process->transport->flags & CLAP_TRANSPORT_HAS_TEMPO) &&
            std::isfinite(process->transport->tempo) && process->transport->tempo > 0.0) {
            tempo = process->transport->tempo;
        }
        plug.SetTempo(tempo);
        // Parameter changes apply from the start of the block.
        self->ApplyEvents(process->in_events);

        const int nFrames = ClampToInt(process->frames_count);
        const clap_audio_buffer_t* in =
            (process->audio_inputs_count > 0 && process->audio_inputs) ? &process->audio_inputs[0] : nullptr;
        clap_audio_buffer_t* out = (process->audio_outputs_count > 0 && process->audio_outputs)
                                       ? &process->audio_outputs[0]
                                       : nullptr;
        const int nIn = in ? static_cast<int>(std::min<uint32_t>(in->channel_count, 2)) : 0;
        const int nOut = out ? static_cast<int>(std::min<uint32_t>(out->channel_count, 2)) : 0;
        if (nFrames > 0) {
            if ((nIn > 0 && nIn != plug.NInChansConnected()) ||
                (nOut > 0 && nOut != plug.NOutChansConnected()))
                plug.SetChannelsConnected(nIn > 0 ? nIn : plug.NInChansConnected(),
                                          nOut > 0 ? nOut : plug.NOutChansConnected());
            if (out && out->data64) {
                self->mBridge.Process(plug, in ? in->data64 : nullptr, in && in->data64 ? nIn : 0,
                                      out->data64, nOut, nFrames, false);
            } else if (out && out->data32) {
                self->mBridge.Process(plug, in ? in->data32 : nullptr, in && in->data32 ? nIn : 0,
                                      out->data32, nOut, nFrames, false);
            } else {
                float* const* none = nullptr;
                self->mBridge.Process(plug, in ? in->data32 : none, in && in->data32 ? nIn : 0, none, 0,
                                      nFrames, false);
            }
            if (out) out->constant_mask = 0;
        }
        self->SendQueuedEdits(process->out_events);
        // The output depends on other instances' audio as well as on this input: never ask to sleep.
        return CLAP_PROCESS_CONTINUE;
    } catch (...) {
        return CLAP_PROCESS_ERROR;
    }
}

void ClapPlugin::OnMainThread(const clap_plugin_t* plugin) {
    ClapPlugin* self = From(plugin);
    if (!self) return;
    try {
        const bool lost = self->mEdits.TakeOverflow();
        if ((self->mValuesChanged.exchange(false, std::memory_order_acq_rel) || lost) && self->mHostParams &&
            self->mHostParams->rescan) {
            self->mHostParams->rescan(self->mHost, CLAP_PARAM_RESCAN_VALUES);
        }
    } catch (...) {
    }
}

const void* ClapPlugin::GetExtension(const clap_plugin_t* plugin, const char* id) {
    static const clap_plugin_audio_ports_t kAudioPorts = {&ClapPlugin::PortsCount, &ClapPlugin::PortsGet};
    static const clap_plugin_params_t kParams = {
        &ClapPlugin::ParamsCount,       &ClapPlugin::ParamsGetInfo,     &ClapPlugin::ParamsGetValue,
        &ClapPlugin::ParamsValueToText, &ClapPlugin::ParamsTextToValue, &ClapPlugin::ParamsFlush};
    static const clap_plugin_state_t kState = {&ClapPlugin::StateSave, &ClapPlugin::StateLoad};
    static const clap_plugin_latency_t kLatency = {&ClapPlugin::LatencyGet};
    static const nx_clap_plugin_render_t kRender = {&ClapPlugin::RenderHasHardRealtimeRequirement,
                                                    &ClapPlugin::RenderSet};
    static const clap_plugin_gui_t kGui = {&ClapPlugin::GuiIsApiSupported,
                                           &ClapPlugin::GuiGetPreferredApi,
                                           &ClapPlugin::GuiCreate,
                                           &ClapPlugin::GuiDestroy,
                                           &ClapPlugin::GuiSetScale,
                                           &ClapPlugin::GuiGetSize,
                                           &ClapPlugin::GuiCanResize,
                                           &ClapPlugin::GuiGetResizeHints,
                                           &ClapPlugin::GuiAdjustSize,
                                           &ClapPlugin::GuiSetSize,
                                           &ClapPlugin::GuiSetParent,
                                           &ClapPlugin::GuiSetTransient,
                                           &ClapPlugin::GuiSuggestTitle,
                                           &ClapPlugin::GuiShow,
                                           &ClapPlugin::GuiHide};

    ClapPlugin* self = From(plugin);
    if (!self || !id) return nullptr;
    if (std::strcmp(id, CLAP_EXT_AUDIO_PORTS) == 0) return &kAudioPorts;
    if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &kParams;
    if (std::strcmp(id, CLAP_EXT_STATE) == 0) return &kState;
    if (std::strcmp(id, CLAP_EXT_LATENCY) == 0) return &kLatency;
    if (std::strcmp(id, NX_CLAP_EXT_RENDER) == 0) return &kRender;
    if (std::strcmp(id, CLAP_EXT_GUI) == 0 && self->mPlug->GetConfig().plugHasUI) return &kGui;
    return nullptr;
}

// ---- audio-ports ---------------------------------------------------------------------------------------

uint32_t ClapPlugin::PortsCount(const clap_plugin_t* /*plugin*/, bool /*isInput*/) {
    return 1;
}

bool ClapPlugin::PortsGet(const clap_plugin_t* /*plugin*/, uint32_t index, bool isInput,
                          clap_audio_port_info_t* info) {
    if (index != 0 || !info) return false;
    std::memset(info, 0, sizeof(*info));
    info->id = 0;
    CopyText(isInput ? "Input" : "Output", info->name, sizeof(info->name));
    info->flags = CLAP_AUDIO_PORT_IS_MAIN | CLAP_AUDIO_PORT_SUPPORTS_64BITS;
    info->channel_count = 2;
    info->port_type = CLAP_PORT_STEREO;
    info->in_place_pair = CLAP_INVALID_ID;
    return true;
}

// ---- params --------------------------------------------------------------------------------------------

uint32_t ClapPlugin::ParamsCount(const clap_plugin_t* plugin) {
    ClapPlugin* self = From(plugin);
    return self ? static_cast<uint32_t>(self->mPlug->NParams()) : 0;
}

bool ClapPlugin::ParamsGetInfo(const clap_plugin_t* plugin, uint32_t index, clap_param_info_t* info) {
    ClapPlugin* self = From(plugin);
    if (!self || !info || index >= static_cast<uint32_t>(self->mPlug->NParams())) return false;
    const Param* param = self->mPlug->GetParam(static_cast<int>(index));
    std::memset(info, 0, sizeof(*info));
    info->id = index;
    info->flags = CLAP_PARAM_IS_AUTOMATABLE;
    if (param->IsStepped()) info->flags |= CLAP_PARAM_IS_STEPPED;
    info->cookie = nullptr;
    CopyText(param->GetName(), info->name, sizeof(info->name));
    info->module[0] = 0;
    info->min_value = param->GetMin();
    info->max_value = param->GetMax();
    info->default_value = param->GetDefault();
    return true;
}

bool ClapPlugin::ParamsGetValue(const clap_plugin_t* plugin, clap_id id, double* value) {
    ClapPlugin* self = From(plugin);
    const Param* param = self ? self->mPlug->GetParam(static_cast<int>(id)) : nullptr;
    if (!param || !value || id > static_cast<clap_id>(INT_MAX)) return false;
    *value = param->Value();
    return true;
}

bool ClapPlugin::ParamsValueToText(const clap_plugin_t* plugin, clap_id id, double value, char* display,
                                   uint32_t size) {
    ClapPlugin* self = From(plugin);
    const Param* param =
        self && id <= static_cast<clap_id>(INT_MAX) ? self->mPlug->GetParam(static_cast<int>(id)) : nullptr;
    if (!param || !display || size == 0) return false;
    return Guarded(false, [&] {
        std::string text = param->DisplayText(value);
        if (param->GetLabel()[0]) text += std::string(" ") + param->GetLabel();
        CopyText(text, display, size);
        return true;
    });
}

bool ClapPlugin::ParamsTextToValue(const clap_plugin_t* plugin, clap_id id, const char* display,
                                   double* value) {
    ClapPlugin* self = From(plugin);
    const Param* param =
        self && id <= static_cast<clap_id>(INT_MAX) ? self->mPlug->GetParam(static_cast<int>(id)) : nullptr;
    if (!param || !display || !value) return false;
    double parsed = 0.0;
    if (!param->FromDisplayText(display, parsed)) return false;
    *value = parsed;
    return true;
}

void ClapPlugin::ParamsFlush(const clap_plugin_t* plugin, const clap_input_events_t* in,
                             const clap_output_events_t* out) {
    ClapPlugin* self = From(plugin);
    if (!self) return;
    try {
        self->ApplyEvents(in);
        self->SendQueuedEdits(out);
    } catch (...) {
    }
}

void ClapPlugin::ApplyEvents(const clap_input_events_t* in) {
    if (!in || !in->size || !in->get) return;
    const uint32_t count = in->size(in);
    for (uint32_t i = 0; i < count; ++i) {
        const clap_event_header_t* header = in->get(in, i);
        if (!header || header->space_id != CLAP_CORE_EVENT_SPACE_ID ||
            header->type != CLAP_EVENT_PARAM_VALUE || header->size < sizeof(clap_event_param_value_t))
            continue;
        const auto* event = reinterpret_cast<const clap_event_param_value_t*>(header);
        if (event->param_id > static_cast<clap_id>(INT_MAX) || !std::isfinite(event->value)) continue;
        const int idx = static_cast<int>(event->param_id);
        Param* param = mPlug->GetParam(idx);
        if (!param) continue;
        param->Set(event->value);
        mPlug->OnParamChange(idx);
    }
}

void ClapPlugin::SendQueuedEdits(const clap_output_events_t* out) {
    if (!out || !out->try_push) return;
    HostEdit edit;
    while (mEdits.Pop(edit)) {
        const Param* param = mPlug->GetParam(edit.paramIdx);
        if (!param) continue;
        if (edit.kind == HostEdit::Kind::Perform) {
            clap_event_param_value_t event{};
            event.header.size = sizeof(event);
            event.header.time = 0;
            event.header.space_id = CLAP_CORE_EVENT_SPACE_ID;
            event.header.type = CLAP_EVENT_PARAM_VALUE;
            event.header.flags = 0;
            event.param_id = static_cast<clap_id>(edit.paramIdx);
            event.cookie = nullptr;
            event.note_id = -1;
            event.port_index = -1;
            event.channel = -1;
            event.key = -1;
            event.value = param->FromNormalized(edit.normalized);
            out->try_push(out, &event.header);
        } else {
            clap_event_param_gesture_t event{};
            event.header.size = sizeof(event);
            event.header.time = 0;
            event.header.space_id = CLAP_CORE_EVENT_SPACE_ID;
            event.header.type = edit.kind == HostEdit::Kind::Begin ? CLAP_EVENT_PARAM_GESTURE_BEGIN
                                                                   : CLAP_EVENT_PARAM_GESTURE_END;
            event.header.flags = 0;
            event.param_id = static_cast<clap_id>(edit.paramIdx);
            out->try_push(out, &event.header);
        }
    }
}

// ---- state ---------------------------------------------------------------------------------------------

bool ClapPlugin::StateSave(const clap_plugin_t* plugin, const clap_ostream_t* stream) {
    ClapPlugin* self = From(plugin);
    if (!self || !stream || !stream->write) return false;
    return Guarded(false, [&] {
        ByteChunk chunk;
        if (!self->mPlug->SerializeState(chunk)) return false;
        const int64_t size = chunk.Size();
        int64_t offset = 0;
        // A stream may take fewer bytes than offered; a stream that takes none has failed.
        while (offset < size) {
            const int64_t written =
                stream->write(stream, chunk.GetData() + offset, static_cast<uint64_t>(size - offset));
            if (written <= 0) return false;
            offset += std::min(written, size - offset);
        }
        return true;
    });
}

bool ClapPlugin::StateLoad(const clap_plugin_t* plugin, const clap_istream_t* stream) {
    ClapPlugin* self = From(plugin);
    if (!self || !stream || !stream->read) return false;
    return Guarded(false, [&] {
        ByteChunk chunk;
        uint8_t piece[4096];
        for (;;) {
            const int64_t got = stream->read(stream, piece, sizeof(piece));
            if (got < 0) return false;
            if (got == 0) break;
            const int64_t n = std::min<int64_t>(got, static_cast<int64_t>(sizeof(piece)));
            // Refused before it is read to the end: no valid state is this long.
            if (chunk.Size() + n > kMaxStateBytes) return false;
            chunk.PutBytes(piece, static_cast<int>(n));
        }
        if (chunk.Size() == 0) return false;
        if (self->mPlug->UnserializeState(chunk, 0) < 0) return false;
        self->mPlug->OnRestoreState();
        return true;
    });
}

uint32_t ClapPlugin::LatencyGet(const clap_plugin_t* plugin) {
    ClapPlugin* self = From(plugin);
    return self ? static_cast<uint32_t>(std::max(0, self->mPlug->GetConfig().latency)) : 0;
}

// ---- render --------------------------------------------------------------------------------------------

bool ClapPlugin::RenderHasHardRealtimeRequirement(const clap_plugin_t* /*plugin*/) {
    return false;
}

bool ClapPlugin::RenderSet(const clap_plugin_t* plugin, int32_t mode) {
    ClapPlugin* self = From(plugin);
    if (!self || (mode != NX_CLAP_RENDER_REALTIME && mode != NX_CLAP_RENDER_OFFLINE)) return false;
    self->mPlug->SetRenderingOffline(mode == NX_CLAP_RENDER_OFFLINE);
    return true;
}

// ---- gui -----------------------------------------------------------------------------------------------

bool ClapPlugin::GuiIsApiSupported(const clap_plugin_t* /*plugin*/, const char* api, bool isFloating) {
    return api && std::strcmp(api, CLAP_WINDOW_API_X11) == 0 && !isFloating;
}

bool ClapPlugin::GuiGetPreferredApi(const clap_plugin_t* /*plugin*/, const char** api, bool* isFloating) {
    if (!api || !isFloating) return false;
    *api = CLAP_WINDOW_API_X11;
    *isFloating = false;
    return true;
}

bool ClapPlugin::GuiCreate(const clap_plugin_t* plugin, const char* api, bool isFloating) {
    ClapPlugin* self = From(plugin);
    if (!self || !GuiIsApiSupported(plugin, api, isFloating) || self->mGuiCreated) return false;
    self->mGuiCreated = true;
    return true;
}

void ClapPlugin::GuiDestroy(const clap_plugin_t* plugin) {
    ClapPlugin* self = From(plugin);
    if (!self) return;
    try {
        self->CloseEditor();
    } catch (...) {
    }
    self->mGuiCreated = false;
}

void ClapPlugin::CloseEditor() {
    if (!mWindowOpen) return;
    mWindowOpen = false;
    mPlug->CloseWindow();
}

bool ClapPlugin::GuiSetScale(const clap_plugin_t* /*plugin*/, double /*scale*/) {
    // The editor reads the display's scale itself (the X server's resources): the call is ignored.
    return false;
}

bool ClapPlugin::GuiGetSize(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height) {
    ClapPlugin* self = From(plugin);
    if (!self || !width || !height) return false;
    int w = 0, h = 0;
    self->mPlug->GetEditorSize(w, h);
    if (w <= 0 || h <= 0) {
        w = self->mPlug->GetConfig().editorWidth;
        h = self->mPlug->GetConfig().editorHeight;
    }
    if (w <= 0 || h <= 0) return false;
    *width = static_cast<uint32_t>(w);
    *height = static_cast<uint32_t>(h);
    return true;
}

bool ClapPlugin::GuiCanResize(const clap_plugin_t* plugin) {
    ClapPlugin* self = From(plugin);
    return self && self->mPlug->GetConfig().hostResize;
}

bool ClapPlugin::GuiGetResizeHints(const clap_plugin_t* plugin, clap_gui_resize_hints_t* hints) {
    ClapPlugin* self = From(plugin);
    if (!self || !hints) return false;
    const bool resizable = self->mPlug->GetConfig().hostResize;
    hints->can_resize_horizontally = resizable;
    hints->can_resize_vertically = resizable;
    // The editor letterboxes its canvas: any aspect ratio is fine.
    hints->preserve_aspect_ratio = false;
    hints->aspect_ratio_width = 0;
    hints->aspect_ratio_height = 0;
    return true;
}

bool ClapPlugin::GuiAdjustSize(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height) {
    ClapPlugin* self = From(plugin);
    if (!self || !width || !height) return false;
    return Guarded(false, [&] {
        int w = ClampToInt(*width);
        int h = ClampToInt(*height);
        self->mPlug->ConstrainEditorResize(w, h);
        *width = static_cast<uint32_t>(std::max(0, w));
        *height = static_cast<uint32_t>(std::max(0, h));
        return true;
    });
}

bool ClapPlugin::GuiSetSize(const clap_plugin_t* plugin, uint32_t width, uint32_t height) {
    ClapPlugin* self = From(plugin);
    if (!self || width == 0 || height == 0) return false;
    return Guarded(false, [&] {
        const int w = ClampToInt(width);
        const int h = ClampToInt(height);
        self->mPlug->SetEditorSize(w, h);
        self->mPlug->OnParentWindowResize(w, h);
        return true;
    });
}

bool ClapPlugin::GuiSetParent(const clap_plugin_t* plugin, const clap_window_t* window) {
    ClapPlugin* self = From(plugin);
    if (!self || !self->mGuiCreated || !window || !window->x11) return false;
    if (window->api && std::strcmp(window->api, CLAP_WINDOW_API_X11) != 0) return false;
    return Guarded(false, [&] {
        // A new parent replaces the old one: the editor reopens inside it.
        self->CloseEditor();
        self->mPlug->OpenWindow(reinterpret_cast<void*>(static_cast<uintptr_t>(window->x11)));
        self->mWindowOpen = true;
        return true;
    });
}

bool ClapPlugin::GuiSetTransient(const clap_plugin_t* /*plugin*/, const clap_window_t* /*window*/) {
    return false; // embedded only
}

void ClapPlugin::GuiSuggestTitle(const clap_plugin_t* /*plugin*/, const char* /*title*/) {}

// The host shows and hides its own container; the editor inside follows it (and redraws on exposure).
bool ClapPlugin::GuiShow(const clap_plugin_t* plugin) {
    ClapPlugin* self = From(plugin);
    return self && self->mGuiCreated;
}

bool ClapPlugin::GuiHide(const clap_plugin_t* plugin) {
    ClapPlugin* self = From(plugin);
    return self && self->mGuiCreated;
}

// ---- Host calls from the editor --------------------------------------------------------------------------

void ClapPlugin::QueueEdit(const HostEdit& edit) {
    mEdits.Push(edit);
    // While processing, the next process call sends it; otherwise the host is asked for a flush.
    if (!mProcessing.load(std::memory_order_acquire) && mHostParams && mHostParams->request_flush)
        mHostParams->request_flush(mHost);
}

void ClapPlugin::BeginEdit(int paramIdx) {
    QueueEdit({HostEdit::Kind::Begin, paramIdx, 0.0});
}

void ClapPlugin::PerformEdit(int paramIdx, double normalized) {
    QueueEdit({HostEdit::Kind::Perform, paramIdx, normalized});
}

void ClapPlugin::EndEdit(int paramIdx) {
    QueueEdit({HostEdit::Kind::End, paramIdx, 0.0});
}

bool ClapPlugin::ResizeView(int width, int height) {
    if (width < 1 || height < 1 || !mHostGui || !mHostGui->request_resize) return false;
    // request_resize may be called from any thread.
    return mHostGui->request_resize(mHost, static_cast<uint32_t>(width), static_cast<uint32_t>(height));
}

void ClapPlugin::ParamValuesChanged() {
    mValuesChanged.store(true, std::memory_order_release);
    if (mHost && mHost->request_callback) mHost->request_callback(mHost);
}

} // namespace nx::clap
