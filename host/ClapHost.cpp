// CLAP module loading and one hosted instance. Main-thread calls run on the thread that created the
// ClapHost; process() marks its calling thread as the audio thread (thread-check extension).
#include "host/ClapHost.h"

#include "framework/clap/ClapRenderExt.h"

#include "clap/ext/latency.h"
#include "clap/ext/thread-check.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <map>

namespace nx::host {

// ---- Module --------------------------------------------------------------------------------------------

namespace {
std::mutex& moduleMutex() {
    static std::mutex m;
    return m;
}
std::map<std::string, std::weak_ptr<ClapModule>>& liveModules() {
    static std::map<std::string, std::weak_ptr<ClapModule>> m;
    return m;
}
} // namespace

std::shared_ptr<ClapModule> ClapModule::open(const std::string& path, std::string* error) {
    std::lock_guard<std::mutex> lock(moduleMutex());
    if (auto live = liveModules()[path].lock()) return live;
    std::shared_ptr<ClapModule> m(new ClapModule());
    m->mPath = path;
    m->mHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m->mHandle) {
        if (error) {
            const char* e = dlerror();
            *error = std::string("cannot load ") + path + ": " + (e ? e : "unknown error");
        }
        return nullptr;
    }
    m->mEntry = static_cast<const clap_plugin_entry_t*>(dlsym(m->mHandle, "clap_entry"));
    if (!m->mEntry) {
        if (error) *error = path + " has no clap_entry";
        return nullptr;
    }
    if (!clap_version_is_compatible(m->mEntry->clap_version) || !m->mEntry->init(path.c_str())) {
        m->mEntry = nullptr; // never deinit what did not init
        if (error) *error = path + ": clap_entry init failed";
        return nullptr;
    }
    m->mFactory = static_cast<const clap_plugin_factory_t*>(m->mEntry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    if (!m->mFactory) {
        if (error) *error = path + " has no plug-in factory";
        return nullptr;
    }
    liveModules()[path] = m;
    return m;
}

ClapModule::~ClapModule() {
    if (mEntry) mEntry->deinit();
    if (mHandle) dlclose(mHandle);
}

// ---- Host callbacks ------------------------------------------------------------------------------------

struct ClapHostCallbacks {
    static void rescan(const clap_host_t* h, clap_param_rescan_flags) { ClapHost::self(h)->mRescans++; }
    static void clear(const clap_host_t*, clap_id, clap_param_clear_flags) {}
    static void requestFlush(const clap_host_t* h) { ClapHost::self(h)->mFlushRequested = true; }
    static void markDirty(const clap_host_t* h) { ClapHost::self(h)->mMarkDirty++; }
    static void resizeHintsChanged(const clap_host_t*) {}
    static bool requestResize(const clap_host_t* h, uint32_t w, uint32_t hh) {
        auto* s = ClapHost::self(h);
        s->recordResizeRequest(int(w), int(hh));
        std::lock_guard<std::mutex> lock(s->mResizeMutex);
        s->mResizePending = true;
        s->mResizeW = int(w);
        s->mResizeH = int(hh);
        return true;
    }
    static bool requestShow(const clap_host_t*) { return false; }
    static bool requestHide(const clap_host_t*) { return false; }
    static void closed(const clap_host_t*, bool) {}
    static bool registerTimer(const clap_host_t* h, uint32_t periodMs, clap_id* id) {
        auto* s = ClapHost::self(h);
        if (!id || std::this_thread::get_id() != s->mMainThread) return false;
        const clap_id newId = s->mNextTimerId++;
        s->mTimers.push_back({newId, std::max<uint32_t>(periodMs, 1),
                              std::chrono::steady_clock::now() + std::chrono::milliseconds(periodMs)});
        *id = newId;
        return true;
    }
    static bool unregisterTimer(const clap_host_t* h, clap_id id) {
        auto* s = ClapHost::self(h);
        auto it =
            std::find_if(s->mTimers.begin(), s->mTimers.end(), [&](const auto& t) { return t.id == id; });
        if (it == s->mTimers.end()) return false;
        s->mTimers.erase(it);
        return true;
    }
    static bool isMainThread(const clap_host_t* h) {
        return std::this_thread::get_id() == ClapHost::self(h)->mMainThread;
    }
    static bool isAudioThread(const clap_host_t* h) {
        return std::this_thread::get_id() == ClapHost::self(h)->mAudioThread.load();
    }
    static void latencyChanged(const clap_host_t*) {}
    static bool portsRescanSupported(const clap_host_t*, uint32_t) { return false; }
    static void portsRescan(const clap_host_t*, uint32_t) {}
};

const clap_host_params_t ClapHost::kHostParams = {ClapHostCallbacks::rescan, ClapHostCallbacks::clear,
                                                  ClapHostCallbacks::requestFlush};
const clap_host_state_t ClapHost::kHostState = {ClapHostCallbacks::markDirty};
const clap_host_gui_t ClapHost::kHostGui = {ClapHostCallbacks::resizeHintsChanged,
                                            ClapHostCallbacks::requestResize, ClapHostCallbacks::requestShow,
                                            ClapHostCallbacks::requestHide, ClapHostCallbacks::closed};
const clap_host_timer_support_t ClapHost::kHostTimer = {ClapHostCallbacks::registerTimer,
                                                        ClapHostCallbacks::unregisterTimer};
namespace {
const clap_host_thread_check_t kHostThreadCheck = {ClapHostCallbacks::isMainThread,
                                                   ClapHostCallbacks::isAudioThread};
const clap_host_latency_t kHostLatency = {ClapHostCallbacks::latencyChanged};
const clap_host_audio_ports_t kHostPorts = {ClapHostCallbacks::portsRescanSupported,
                                            ClapHostCallbacks::portsRescan};
} // namespace

const void* ClapHost::hostGetExtension(const clap_host_t*, const char* id) {
    if (!id) return nullptr;
    if (!std::strcmp(id, CLAP_EXT_PARAMS)) return &kHostParams;
    if (!std::strcmp(id, CLAP_EXT_STATE)) return &kHostState;
    if (!std::strcmp(id, CLAP_EXT_GUI)) return &kHostGui;
    if (!std::strcmp(id, CLAP_EXT_TIMER_SUPPORT)) return &kHostTimer;
    if (!std::strcmp(id, CLAP_EXT_THREAD_CHECK)) return &kHostThreadCheck;
    if (!std::strcmp(id, CLAP_EXT_LATENCY)) return &kHostLatency;
    if (!std::strcmp(id, CLAP_EXT_AUDIO_PORTS)) return &kHostPorts;
    return nullptr;
}
void ClapHost::hostRequestRestart(const clap_host_t* h) {
    self(h)->mRestartRequested = true;
}
void ClapHost::hostRequestProcess(const clap_host_t*) {}
void ClapHost::hostRequestCallback(const clap_host_t* h) {
    self(h)->mCallbackRequested = true;
}

// ---- Instance ------------------------------------------------------------------------------------------

ClapHost::ClapHost(std::shared_ptr<ClapModule> module) : mModule(std::move(module)) {
    mMainThread = std::this_thread::get_id();
    mHost.clap_version = CLAP_VERSION;
    mHost.host_data = this;
    mHost.name = "nx-host";
    mHost.vendor = "Nembrix tests";
    mHost.url = "";
    mHost.version = "1.0";
    mHost.get_extension = hostGetExtension;
    mHost.request_restart = hostRequestRestart;
    mHost.request_process = hostRequestProcess;
    mHost.request_callback = hostRequestCallback;
    mBlockEvents.reserve(1024);
}

std::unique_ptr<ClapHost> ClapHost::create(std::shared_ptr<ClapModule> module, const std::string& pluginId,
                                           std::string* error) {
    if (!module) return nullptr;
    std::unique_ptr<ClapHost> h(new ClapHost(std::move(module)));
    if (!h->init(pluginId, error)) return nullptr;
    return h;
}

bool ClapHost::init(const std::string& pluginId, std::string* error) {
    const clap_plugin_factory_t* f = mModule->factory();
    std::string id = pluginId;
    if (id.empty()) {
        const clap_plugin_descriptor_t* d =
            f->get_plugin_count(f) > 0 ? f->get_plugin_descriptor(f, 0) : nullptr;
        if (!d || !d->id) {
            if (error) *error = mModule->path() + ": the factory lists no plug-in";
            return false;
        }
        id = d->id;
    }
    mPlugin = f->create_plugin(f, &mHost, id.c_str());
    if (!mPlugin) {
        if (error) *error = mModule->path() + ": cannot create plug-in '" + id + "'";
        return false;
    }
    if (!mPlugin->init(mPlugin)) {
        mPlugin->destroy(mPlugin);
        mPlugin = nullptr;
        if (error) *error = mModule->path() + ": plug-in init failed";
        return false;
    }
    mParamsExt = static_cast<const clap_plugin_params_t*>(mPlugin->get_extension(mPlugin, CLAP_EXT_PARAMS));
    mStateExt = static_cast<const clap_plugin_state_t*>(mPlugin->get_extension(mPlugin, CLAP_EXT_STATE));
    mGuiExt = static_cast<const clap_plugin_gui_t*>(mPlugin->get_extension(mPlugin, CLAP_EXT_GUI));
    mTimerExt = static_cast<const clap_plugin_timer_support_t*>(
        mPlugin->get_extension(mPlugin, CLAP_EXT_TIMER_SUPPORT));
    mPortsExt =
        static_cast<const clap_plugin_audio_ports_t*>(mPlugin->get_extension(mPlugin, CLAP_EXT_AUDIO_PORTS));

    if (mPortsExt && mPortsExt->count(mPlugin, true) > 0) {
        clap_audio_port_info_t pi{};
        if (mPortsExt->get(mPlugin, 0, true, &pi))
            mSupports64 = (pi.flags & CLAP_AUDIO_PORT_SUPPORTS_64BITS) != 0;
    }

    if (mParamsExt) {
        const uint32_t n = mParamsExt->count(mPlugin);
        for (uint32_t i = 0; i < n; ++i) {
            clap_param_info_t ci{};
            if (!mParamsExt->get_info(mPlugin, i, &ci)) continue;
            ci.name[CLAP_NAME_SIZE - 1] = 0;
            mInfos.push_back(ci);
            ParamInfo p;
            p.id = ci.id;
            p.name = ci.name;
            p.minValue = ci.min_value;
            p.maxValue = ci.max_value;
            p.defaultValue = ci.default_value;
            p.stepped = (ci.flags & CLAP_PARAM_IS_STEPPED) != 0;
            p.stepCount = p.stepped ? int(std::lround(ci.max_value - ci.min_value)) : 0;
            p.automatable = (ci.flags & CLAP_PARAM_IS_AUTOMATABLE) != 0;
            p.readOnly = (ci.flags & CLAP_PARAM_IS_READONLY) != 0;
            p.isBypass = (ci.flags & CLAP_PARAM_IS_BYPASS) != 0;
            mParams.push_back(p);
        }
    }
    return true;
}

ClapHost::~ClapHost() {
    if (!mPlugin) return;
    closeEditor();
    deactivate();
    mPlugin->destroy(mPlugin);
    mPlugin = nullptr;
}

const clap_param_info_t* ClapHost::infoAt(int index) const {
    return index >= 0 && index < int(mInfos.size()) ? &mInfos[size_t(index)] : nullptr;
}

double ClapHost::paramValue(int index) {
    const clap_param_info_t* ci = infoAt(index);
    double v = std::nan("");
    if (ci && mParamsExt) mParamsExt->get_value(mPlugin, ci->id, &v);
    return v;
}

std::string ClapHost::paramText(int index, double plainValue) {
    const clap_param_info_t* ci = infoAt(index);
    char buf[256] = {};
    if (!ci || !mParamsExt || !mParamsExt->value_to_text(mPlugin, ci->id, plainValue, buf, sizeof buf))
        return {};
    buf[sizeof buf - 1] = 0;
    return buf;
}

namespace {
// Input event list over a contiguous array of parameter events.
struct InEvents {
    const clap_event_param_value_t* events;
    uint32_t count;
    static uint32_t size(const clap_input_events_t* l) { return static_cast<const InEvents*>(l->ctx)->count; }
    static const clap_event_header_t* get(const clap_input_events_t* l, uint32_t i) {
        const auto* s = static_cast<const InEvents*>(l->ctx);
        return i < s->count ? &s->events[i].header : nullptr;
    }
};
clap_event_param_value_t makeParamEvent(uint32_t id, void* cookie, double value) {
    clap_event_param_value_t ev{};
    ev.header.size = sizeof ev;
    ev.header.time = 0;
    ev.header.space_id = CLAP_CORE_EVENT_SPACE_ID;
    ev.header.type = CLAP_EVENT_PARAM_VALUE;
    ev.header.flags = 0;
    ev.param_id = id;
    ev.cookie = cookie;
    ev.note_id = -1;
    ev.port_index = -1;
    ev.channel = -1;
    ev.key = -1;
    ev.value = value;
    return ev;
}
} // namespace

void ClapHost::collectOutputEvent(const clap_event_header_t* ev) {
    if (!ev || ev->space_id != CLAP_CORE_EVENT_SPACE_ID) return;
    HostEdit e;
    e.thread = std::this_thread::get_id();
    switch (ev->type) {
    case CLAP_EVENT_PARAM_VALUE: {
        const auto* pv = reinterpret_cast<const clap_event_param_value_t*>(ev);
        e.kind = HostEdit::Kind::Perform;
        e.paramId = pv->param_id;
        e.value = pv->value;
        break;
    }
    case CLAP_EVENT_PARAM_GESTURE_BEGIN:
    case CLAP_EVENT_PARAM_GESTURE_END: {
        const auto* g = reinterpret_cast<const clap_event_param_gesture_t*>(ev);
        e.kind = ev->type == CLAP_EVENT_PARAM_GESTURE_BEGIN ? HostEdit::Kind::Begin : HostEdit::Kind::End;
        e.paramId = g->param_id;
        break;
    }
    default:
        return;
    }
    mAudioEdits.push(e);
}

bool ClapHost::setParam(int index, double plainValue) {
    const clap_param_info_t* ci = infoAt(index);
    if (!ci || !mParamsExt || !std::isfinite(plainValue)) return false;
    if (mActive) {
        std::lock_guard<std::mutex> lock(mPendingProducer);
        return mPending.push({ci->id, plainValue, ci->cookie});
    }
    // Not active: the main thread may flush directly.
    clap_event_param_value_t ev = makeParamEvent(ci->id, ci->cookie, plainValue);
    InEvents in{&ev, 1};
    clap_input_events_t inList{&in, InEvents::size, InEvents::get};
    clap_output_events_t outList{this, [](const clap_output_events_t* l, const clap_event_header_t* e) {
                                     static_cast<ClapHost*>(l->ctx)->collectOutputEvent(e);
                                     return true;
                                 }};
    mParamsExt->flush(mPlugin, &inList, &outList);
    drainAudioEdits();
    return true;
}

bool ClapHost::activate(const ProcessSetup& setup) {
    if (mActive) deactivate();
    if (setup.sampleRate <= 0 || setup.maxBlock < 1 || setup.channels < 1 || setup.channels > 2) return false;
    mSetup = setup;
    if (auto* render =
            static_cast<const nx_clap_plugin_render_t*>(mPlugin->get_extension(mPlugin, NX_CLAP_EXT_RENDER)))
        render->set(mPlugin, setup.offline ? NX_CLAP_RENDER_OFFLINE : NX_CLAP_RENDER_REALTIME);
    if (!mPlugin->activate(mPlugin, setup.sampleRate, 1, uint32_t(setup.maxBlock))) return false;
    mActive = true;
    mStarted = false;
    mSteadyTime = 0;
    return true;
}

void ClapHost::deactivate() {
    if (!mActive) return;
    if (mStarted) {
        // The audio thread is idle now; this thread stands in for it for the one call that belongs there.
        const std::thread::id audio = mAudioThread.exchange(std::this_thread::get_id());
        mPlugin->stop_processing(mPlugin);
        mAudioThread.store(audio);
    }
    mStarted = false;
    mPlugin->deactivate(mPlugin);
    mActive = false;
    drainAudioEdits();
}

bool ClapHost::runProcess(uint32_t n, clap_audio_buffer_t& inBuf, clap_audio_buffer_t& outBuf) {
    mAudioThread.store(std::this_thread::get_id());
    if (!mStarted) {
        if (!mPlugin->start_processing(mPlugin)) return false;
        mStarted = true;
    }
    // Parameter changes since the last block, all at offset 0. mBlockEvents keeps its capacity.
    mBlockEvents.clear();
    PendingParam p;
    while (mBlockEvents.size() < mBlockEvents.capacity() && mPending.pop(p))
        mBlockEvents.push_back(makeParamEvent(p.id, p.cookie, p.value));
    InEvents in{mBlockEvents.data(), uint32_t(mBlockEvents.size())};
    clap_input_events_t inList{&in, InEvents::size, InEvents::get};
    clap_output_events_t outList{this, [](const clap_output_events_t* l, const clap_event_header_t* e) {
                                     static_cast<ClapHost*>(l->ctx)->collectOutputEvent(e);
                                     return true;
                                 }};

    clap_event_transport_t tr{};
    const double bpm = mTempo.load(std::memory_order_relaxed);
    if (bpm > 0) {
        tr.header.size = sizeof tr;
        tr.header.type = CLAP_EVENT_TRANSPORT;
        tr.header.space_id = CLAP_CORE_EVENT_SPACE_ID;
        tr.flags = CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_HAS_BEATS_TIMELINE |
                   CLAP_TRANSPORT_HAS_SECONDS_TIMELINE | CLAP_TRANSPORT_HAS_TIME_SIGNATURE |
                   CLAP_TRANSPORT_IS_PLAYING;
        const double seconds = double(mSteadyTime) / mSetup.sampleRate;
        tr.song_pos_seconds = clap_sectime(std::llround(seconds * double(CLAP_SECTIME_FACTOR)));
        tr.song_pos_beats = clap_beattime(std::llround(seconds * bpm / 60.0 * double(CLAP_BEATTIME_FACTOR)));
        tr.tempo = bpm;
        tr.tsig_num = 4;
        tr.tsig_denom = 4;
    }

    clap_process_t pr{};
    pr.steady_time = mSteadyTime;
    pr.frames_count = n;
    pr.transport = bpm > 0 ? &tr : nullptr;
    pr.audio_inputs = &inBuf;
    pr.audio_outputs = &outBuf;
    pr.audio_inputs_count = 1;
    pr.audio_outputs_count = 1;
    pr.in_events = &inList;
    pr.out_events = &outList;
    const clap_process_status st = mPlugin->process(mPlugin, &pr);
    mSteadyTime += n;
    return st != CLAP_PROCESS_ERROR;
}

bool ClapHost::process(const float* const* in, float* const* out, int n) {
    if (!mActive || n < 0) return false;
    clap_audio_buffer_t ib{}, ob{};
    ib.data32 = const_cast<float**>(in);
    ib.channel_count = uint32_t(mSetup.channels);
    ob.data32 = const_cast<float**>(out);
    ob.channel_count = uint32_t(mSetup.channels);
    return runProcess(uint32_t(n), ib, ob);
}

bool ClapHost::process(const double* const* in, double* const* out, int n) {
    if (!mActive || n < 0) return false;
    if (mSupports64) {
        clap_audio_buffer_t ib{}, ob{};
        ib.data64 = const_cast<double**>(in);
        ib.channel_count = uint32_t(mSetup.channels);
        ob.data64 = const_cast<double**>(out);
        ob.channel_count = uint32_t(mSetup.channels);
        return runProcess(uint32_t(n), ib, ob);
    }
    // A 32-bit-only plug-in: convert through scratch buffers (grown only when a block is longer).
    const size_t ch = size_t(mSetup.channels);
    if (mScratch32.size() < 2 * ch * size_t(n)) mScratch32.resize(2 * ch * size_t(n));
    float* fi[2] = {mScratch32.data(), mScratch32.data() + n};
    float* fo[2] = {mScratch32.data() + ch * size_t(n), mScratch32.data() + ch * size_t(n) + n};
    for (size_t c = 0; c < ch; ++c)
        for (int k = 0; k < n; ++k) fi[c][k] = float(in[c][k]);
    if (!process(fi, fo, n)) return false;
    for (size_t c = 0; c < ch; ++c)
        for (int k = 0; k < n; ++k) out[c][k] = double(fo[c][k]);
    return true;
}

// ---- State ---------------------------------------------------------------------------------------------

namespace {
struct OutStream {
    std::vector<uint8_t>* bytes;
    uint64_t limit;
    static int64_t write(const clap_ostream_t* s, const void* buf, uint64_t size) {
        auto* o = static_cast<OutStream*>(s->ctx);
        if (!buf && size) return -1;
        const uint64_t n = o->limit ? std::min(size, o->limit) : size;
        const auto* b = static_cast<const uint8_t*>(buf);
        o->bytes->insert(o->bytes->end(), b, b + n);
        return int64_t(n);
    }
};
struct InStream {
    const std::vector<uint8_t>* bytes;
    uint64_t pos;
    uint64_t limit;
    static int64_t read(const clap_istream_t* s, void* buf, uint64_t size) {
        auto* o = static_cast<InStream*>(s->ctx);
        if (!buf && size) return -1;
        uint64_t n = std::min<uint64_t>(size, o->bytes->size() - o->pos);
        if (o->limit) n = std::min(n, o->limit);
        if (n) std::memcpy(buf, o->bytes->data() + o->pos, n);
        o->pos += n;
        return int64_t(n);
    }
};
} // namespace

bool ClapHost::saveState(std::vector<uint8_t>& out, int maxBytesPerCall) {
    out.clear();
    if (!mStateExt) return false;
    OutStream o{&out, uint64_t(std::max(0, maxBytesPerCall))};
    clap_ostream_t s{&o, OutStream::write};
    return mStateExt->save(mPlugin, &s);
}

bool ClapHost::loadState(const std::vector<uint8_t>& in, int maxBytesPerCall) {
    if (!mStateExt) return false;
    InStream i{&in, 0, uint64_t(std::max(0, maxBytesPerCall))};
    clap_istream_t s{&i, InStream::read};
    return mStateExt->load(mPlugin, &s);
}

// ---- Editor --------------------------------------------------------------------------------------------

bool ClapHost::hasEditor() {
    return mGuiExt && mGuiExt->is_api_supported(mPlugin, CLAP_WINDOW_API_X11, false);
}

bool ClapHost::openEditor(unsigned long parentWindow, double scale, EditorSize* size) {
    if (mGuiCreated || !hasEditor()) return false;
    if (!mGuiExt->create(mPlugin, CLAP_WINDOW_API_X11, false)) return false;
    mGuiCreated = true;
    mGuiExt->set_scale(mPlugin, scale); // may refuse: X11 plug-ins often read the scale themselves
    clap_window_t w{};
    w.api = CLAP_WINDOW_API_X11;
    w.x11 = parentWindow;
    if (!mGuiExt->set_parent(mPlugin, &w)) {
        closeEditor();
        return false;
    }
    uint32_t width = 0, height = 0;
    mGuiExt->get_size(mPlugin, &width, &height);
    if (size) *size = {int(width), int(height)};
    mGuiExt->show(mPlugin);
    return true;
}

bool ClapHost::resizeEditor(int width, int height, EditorSize* size) {
    if (!mGuiCreated || width < 0 || height < 0) return false;
    uint32_t w = uint32_t(width), h = uint32_t(height);
    if (mGuiExt->can_resize(mPlugin)) mGuiExt->adjust_size(mPlugin, &w, &h);
    const bool ok = mGuiExt->set_size(mPlugin, w, h);
    if (size) *size = {int(w), int(h)};
    return ok;
}

bool ClapHost::showEditor(bool visible) {
    if (!mGuiCreated) return false;
    return visible ? mGuiExt->show(mPlugin) : mGuiExt->hide(mPlugin);
}

void ClapHost::closeEditor() {
    if (!mGuiCreated) return;
    mGuiExt->hide(mPlugin);
    mGuiExt->destroy(mPlugin);
    mGuiCreated = false;
}

// ---- Main-thread work ----------------------------------------------------------------------------------

void ClapHost::drainAudioEdits() {
    HostEdit e;
    while (mAudioEdits.pop(e)) recordEdit(e);
}

int ClapHost::pumpMainThread() {
    int calls = 0;
    if (mCallbackRequested.exchange(false)) {
        mPlugin->on_main_thread(mPlugin);
        ++calls;
    }
    if (mFlushRequested.exchange(false)) {
        if (!mActive && mParamsExt) {
            InEvents in{nullptr, 0};
            clap_input_events_t inList{&in, InEvents::size, InEvents::get};
            clap_output_events_t outList{this,
                                         [](const clap_output_events_t* l, const clap_event_header_t* e) {
                                             static_cast<ClapHost*>(l->ctx)->collectOutputEvent(e);
                                             return true;
                                         }};
            mParamsExt->flush(mPlugin, &inList, &outList);
            ++calls;
        } else if (mActive && !mStarted) {
            mFlushRequested = true; // the next process call delivers it
        }
    }
    if (mTimerExt) {
        const auto now = std::chrono::steady_clock::now();
        const std::vector<Timer> due = mTimers; // a callback may (un)register timers
        for (const Timer& t : due) {
            if (t.due > now) continue;
            auto it =
                std::find_if(mTimers.begin(), mTimers.end(), [&](const Timer& x) { return x.id == t.id; });
            if (it == mTimers.end()) continue;
            it->due = now + std::chrono::milliseconds(it->periodMs);
            mTimerExt->on_timer(mPlugin, t.id);
            ++calls;
        }
    }
    bool resize = false;
    int rw = 0, rh = 0;
    {
        std::lock_guard<std::mutex> lock(mResizeMutex);
        std::swap(resize, mResizePending);
        rw = mResizeW;
        rh = mResizeH;
    }
    if (resize && mGuiCreated) {
        mGuiExt->set_size(mPlugin, uint32_t(rw), uint32_t(rh));
        ++calls;
    }
    drainAudioEdits();
    return calls;
}

} // namespace nx::host
