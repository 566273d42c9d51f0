// The CLAP adapter, driven through the built fixture module's clap_entry as a host drives it.
#include "AllocCounter.h"

#include "clap/entry.h"
#include "clap/events.h"
#include "clap/ext/audio-ports.h"
#include "clap/ext/gui.h"
#include "clap/ext/latency.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/host.h"
#include "clap/plugin-factory.h"
#include "clap/process.h"
#include "clap/stream.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

const clap_plugin_entry_t* Entry() {
    static void* handle = dlopen(NX_FIXTURE_CLAP, RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    return static_cast<const clap_plugin_entry_t*>(dlsym(handle, "clap_entry"));
}

// A host with the params and gui extensions that records what the plug-in asks of it.
struct TestHost {
    clap_host_t host{};
    clap_host_params_t params{};
    clap_host_gui_t gui{};
    std::atomic<int> flushRequests{0};
    std::atomic<int> rescans{0};
    std::atomic<int> callbacks{0};
    std::atomic<uint64_t> lastResize{0};

    TestHost() {
        host.clap_version = CLAP_VERSION;
        host.host_data = this;
        host.name = "test host";
        host.vendor = "";
        host.url = "";
        host.version = "1";
        host.get_extension = [](const clap_host_t* h, const char* id) -> const void* {
            auto* self = static_cast<TestHost*>(h->host_data);
            if (!std::strcmp(id, CLAP_EXT_PARAMS)) return &self->params;
            if (!std::strcmp(id, CLAP_EXT_GUI)) return &self->gui;
            return nullptr;
        };
        host.request_restart = [](const clap_host_t*) {};
        host.request_process = [](const clap_host_t*) {};
        host.request_callback = [](const clap_host_t* h) {
            ++static_cast<TestHost*>(h->host_data)->callbacks;
        };
        params.rescan = [](const clap_host_t* h, clap_param_rescan_flags) {
            ++static_cast<TestHost*>(h->host_data)->rescans;
        };
        params.clear = [](const clap_host_t*, clap_id, clap_param_clear_flags) {};
        params.request_flush = [](const clap_host_t* h) {
            ++static_cast<TestHost*>(h->host_data)->flushRequests;
        };
        gui.resize_hints_changed = [](const clap_host_t*) {};
        gui.request_resize = [](const clap_host_t* h, uint32_t w, uint32_t hh) {
            static_cast<TestHost*>(h->host_data)->lastResize = (uint64_t(w) << 32) | hh;
            return true;
        };
        gui.request_show = [](const clap_host_t*) { return true; };
        gui.request_hide = [](const clap_host_t*) { return true; };
        gui.closed = [](const clap_host_t*, bool) {};
    }
};

// Input events from a list of parameter values; output events recorded.
struct Events {
    std::vector<clap_event_param_value_t> in;
    std::vector<std::vector<uint8_t>> out;
    clap_input_events_t inList{};
    clap_output_events_t outList{};

    Events() {
        inList.ctx = this;
        inList.size = [](const clap_input_events_t* l) {
            return uint32_t(static_cast<Events*>(l->ctx)->in.size());
        };
        inList.get = [](const clap_input_events_t* l, uint32_t i) -> const clap_event_header_t* {
            return &static_cast<Events*>(l->ctx)->in[i].header;
        };
        outList.ctx = this;
        outList.try_push = [](const clap_output_events_t* l, const clap_event_header_t* e) {
            auto* bytes = reinterpret_cast<const uint8_t*>(e);
            static_cast<Events*>(l->ctx)->out.emplace_back(bytes, bytes + e->size);
            return true;
        };
    }
    void Value(clap_id id, double value) {
        clap_event_param_value_t e{};
        e.header.size = sizeof(e);
        e.header.space_id = CLAP_CORE_EVENT_SPACE_ID;
        e.header.type = CLAP_EVENT_PARAM_VALUE;
        e.param_id = id;
        e.note_id = -1;
        e.port_index = -1;
        e.channel = -1;
        e.key = -1;
        e.value = value;
        in.push_back(e);
    }
    std::string Describe(size_t i) const {
        auto* h = reinterpret_cast<const clap_event_header_t*>(out[i].data());
        if (h->type == CLAP_EVENT_PARAM_VALUE) {
            auto* v = reinterpret_cast<const clap_event_param_value_t*>(h);
            return "value " + std::to_string(v->param_id) + " " + std::to_string(v->value);
        }
        auto* g = reinterpret_cast<const clap_event_param_gesture_t*>(h);
        return std::string(h->type == CLAP_EVENT_PARAM_GESTURE_BEGIN ? "begin " : "end ") +
               std::to_string(g->param_id);
    }
};

constexpr clap_id kGain = 0, kRoot = 2, kProbe = 3;
enum { kProbeGain = 0, kProbePieceLength, kProbeTempo, kProbeChannels, kProbeSetupCalls };

class ClapAdapter : public ::testing::Test {
protected:
    void SetUp() override {
        entry = Entry();
        ASSERT_NE(entry, nullptr) << dlerror();
        ASSERT_TRUE(entry->init(NX_FIXTURE_CLAP));
        factory = static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
        ASSERT_NE(factory, nullptr);
    }
    void TearDown() override {
        if (plugin) plugin->destroy(plugin);
        if (entry) entry->deinit();
    }
    const clap_plugin_t* Create() {
        plugin = factory->create_plugin(factory, &host.host, "org.nxtest.fixture");
        if (plugin && !plugin->init(plugin)) return nullptr;
        return plugin;
    }
    template <typename T>
    const T* Ext(const char* id) {
        return static_cast<const T*>(plugin->get_extension(plugin, id));
    }
    void SetParams(std::initializer_list<std::pair<clap_id, double>> values) {
        Events ev;
        for (auto [id, v] : values) ev.Value(id, v);
        Ext<clap_plugin_params_t>(CLAP_EXT_PARAMS)->flush(plugin, &ev.inList, &ev.outList);
    }
    // One process call over stereo float or double buffers.
    template <typename T>
    void Run(std::vector<T>& l, std::vector<T>& r, std::vector<T>& ol, std::vector<T>& orr,
             const clap_event_transport_t* transport = nullptr, Events* events = nullptr) {
        T* ins[2] = {l.data(), r.data()};
        T* outs[2] = {ol.data(), orr.data()};
        clap_audio_buffer_t in{}, out{};
        in.channel_count = out.channel_count = 2;
        if constexpr (sizeof(T) == 8) {
            in.data64 = ins;
            out.data64 = outs;
        } else {
            in.data32 = ins;
            out.data32 = outs;
        }
        Events none;
        Events& ev = events ? *events : none;
        clap_process_t p{};
        p.steady_time = -1;
        p.frames_count = static_cast<uint32_t>(l.size());
        p.transport = transport;
        p.audio_inputs = &in;
        p.audio_outputs = &out;
        p.audio_inputs_count = 1;
        p.audio_outputs_count = 1;
        p.in_events = &ev.inList;
        p.out_events = &ev.outList;
        ASSERT_EQ(plugin->process(plugin, &p), CLAP_PROCESS_CONTINUE);
    }

    const clap_plugin_entry_t* entry = nullptr;
    const clap_plugin_factory_t* factory = nullptr;
    const clap_plugin_t* plugin = nullptr;
    TestHost host;
};

TEST_F(ClapAdapter, FactoryAndDescriptorIdentifyThePlugIn) {
    EXPECT_EQ(entry->get_factory("clap.something-else"), nullptr);
    EXPECT_EQ(factory->get_plugin_count(factory), 1u);
    const clap_plugin_descriptor_t* d = factory->get_plugin_descriptor(factory, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(factory->get_plugin_descriptor(factory, 1), nullptr);
    EXPECT_STREQ(d->id, "org.nxtest.fixture");
    EXPECT_STREQ(d->name, "NxFixture");
    EXPECT_STREQ(d->vendor, "NxTest");
    EXPECT_STREQ(d->version, "2.3.4");
    EXPECT_STREQ(d->description, "Adapter test fixture");
    EXPECT_STREQ(d->url, "");
    ASSERT_NE(d->features, nullptr);
    EXPECT_STREQ(d->features[0], "audio-effect");
    EXPECT_EQ(d->features[1], nullptr);
    EXPECT_EQ(factory->create_plugin(factory, &host.host, "org.nxtest.other"), nullptr);
    EXPECT_EQ(factory->create_plugin(factory, &host.host, nullptr), nullptr);
    EXPECT_EQ(factory->create_plugin(factory, nullptr, "org.nxtest.fixture"), nullptr);
    clap_host_t old = host.host;
    old.clap_version = {0, 9, 0};
    EXPECT_EQ(factory->create_plugin(factory, &old, "org.nxtest.fixture"), nullptr) << "pre-1.0 host";
}

TEST_F(ClapAdapter, ASecondInitDeinitPairLeavesLiveInstancesValid) {
    ASSERT_NE(Create(), nullptr);
    const clap_plugin_descriptor_t* d = plugin->desc;
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(entry->init("/another/user"));
    entry->deinit();
    EXPECT_EQ(factory->get_plugin_descriptor(factory, 0), d) << "the same descriptor is still alive";
    EXPECT_STREQ(plugin->desc->id, "org.nxtest.fixture");
    // Still initialised: new instances can be made.
    const clap_plugin_t* second = factory->create_plugin(factory, &host.host, "org.nxtest.fixture");
    ASSERT_NE(second, nullptr);
    second->destroy(second);
}

TEST_F(ClapAdapter, FinalDeinitFreesTheDescriptorAndExtraDeinitsAreHarmless) {
    ASSERT_TRUE(entry->init(NX_FIXTURE_CLAP));
    entry->deinit();
    entry->deinit(); // balances SetUp's init
    EXPECT_EQ(factory->get_plugin_descriptor(factory, 0), nullptr);
    EXPECT_EQ(factory->create_plugin(factory, &host.host, "org.nxtest.fixture"), nullptr);
    entry->deinit();                           // unbalanced: ignored
    ASSERT_TRUE(entry->init(NX_FIXTURE_CLAP)); // TearDown's deinit balances this one
    EXPECT_NE(factory->get_plugin_descriptor(factory, 0), nullptr);
}

TEST_F(ClapAdapter, ParamsShowTheirRangesAndConvertText) {
    ASSERT_NE(Create(), nullptr);
    auto* params = Ext<clap_plugin_params_t>(CLAP_EXT_PARAMS);
    ASSERT_NE(params, nullptr);
    ASSERT_EQ(params->count(plugin), 4u);
    struct Case {
        const char* name;
        double min, max, def;
        bool stepped;
    };
    const Case cases[] = {
        {"Gain", -24, 24, 0, false}, {"Mode", 0, 1, 0, true}, {"Root Note", -1, 127, -1, true}};
    for (uint32_t i = 0; i < 3; ++i) {
        clap_param_info_t info{};
        ASSERT_TRUE(params->get_info(plugin, i, &info));
        EXPECT_EQ(info.id, i);
        EXPECT_STREQ(info.name, cases[i].name);
        EXPECT_EQ(info.min_value, cases[i].min);
        EXPECT_EQ(info.max_value, cases[i].max);
        EXPECT_EQ(info.default_value, cases[i].def);
        EXPECT_EQ((info.flags & CLAP_PARAM_IS_STEPPED) != 0, cases[i].stepped) << cases[i].name;
        EXPECT_NE(info.flags & CLAP_PARAM_IS_AUTOMATABLE, 0u);
    }
    clap_param_info_t info{};
    EXPECT_FALSE(params->get_info(plugin, 4, &info));

    char text[64];
    ASSERT_TRUE(params->value_to_text(plugin, kGain, -6.04, text, sizeof(text)));
    EXPECT_STREQ(text, "-6.0 dB");
    ASSERT_TRUE(params->value_to_text(plugin, kRoot, 60, text, 3));
    EXPECT_STREQ(text, "60") << "cut to the buffer";
    EXPECT_FALSE(params->value_to_text(plugin, 99, 0, text, sizeof(text)));
    double v = 0;
    ASSERT_TRUE(params->text_to_value(plugin, kGain, "-6.5 dB", &v));
    EXPECT_EQ(v, -6.5);
    EXPECT_FALSE(params->text_to_value(plugin, kGain, "loud", &v));
    EXPECT_FALSE(params->text_to_value(plugin, 1u << 31, "1", &v));

    // Values arriving through flush are constrained; NaN is ignored.
    SetParams({{kRoot, -3.0}, {kGain, 30.0}, {1, 0.6}, {kGain, std::nan("")}});
    ASSERT_TRUE(params->get_value(plugin, kRoot, &v));
    EXPECT_EQ(v, -1.0);
    ASSERT_TRUE(params->get_value(plugin, kGain, &v));
    EXPECT_EQ(v, 24.0);
    ASSERT_TRUE(params->get_value(plugin, 1, &v));
    EXPECT_EQ(v, 1.0);
    EXPECT_FALSE(params->get_value(plugin, 42, &v));
}

TEST_F(ClapAdapter, PortsAndLatency) {
    ASSERT_NE(Create(), nullptr);
    auto* ports = Ext<clap_plugin_audio_ports_t>(CLAP_EXT_AUDIO_PORTS);
    ASSERT_NE(ports, nullptr);
    for (bool isInput : {true, false}) {
        EXPECT_EQ(ports->count(plugin, isInput), 1u);
        clap_audio_port_info_t info{};
        ASSERT_TRUE(ports->get(plugin, 0, isInput, &info));
        EXPECT_EQ(info.channel_count, 2u);
        EXPECT_NE(info.flags & CLAP_AUDIO_PORT_IS_MAIN, 0u);
        EXPECT_STREQ(info.port_type, CLAP_PORT_STEREO);
        EXPECT_FALSE(ports->get(plugin, 1, isInput, &info));
    }
    auto* latency = Ext<clap_plugin_latency_t>(CLAP_EXT_LATENCY);
    ASSERT_NE(latency, nullptr);
    EXPECT_EQ(latency->get(plugin), 0u);
    EXPECT_EQ(plugin->get_extension(plugin, "clap.unknown"), nullptr);
}

TEST_F(ClapAdapter, ProcessAppliesEventsTempoAndSplitsLongBlocks) {
    ASSERT_NE(Create(), nullptr);
    ASSERT_FALSE(plugin->activate(plugin, 0.0, 1, 64)) << "no sample rate";
    ASSERT_TRUE(plugin->activate(plugin, 48000, 1, 64));
    ASSERT_TRUE(plugin->start_processing(plugin));

    // 200 frames at a maximum of 64: pieces of 64, 64, 64, 8. The probe event in the same block applies.
    std::vector<float> l(200, 0.5f), r(200, 0.5f), ol(200), orr(200);
    Events ev;
    ev.Value(kProbe, kProbePieceLength);
    Run(l, r, ol, orr, nullptr, &ev);
    EXPECT_EQ(ol[0], 64.f);
    EXPECT_EQ(ol[191], 64.f);
    EXPECT_EQ(ol[192], 8.f);
    EXPECT_EQ(orr[199], 8.f);

    // Tempo only when the transport says it has one.
    SetParams({{kProbe, kProbeTempo}});
    std::vector<double> dl(16, 0.0), dr(16, 0.0), dol(16), dor(16);
    clap_event_transport_t transport{};
    transport.header.size = sizeof(transport);
    transport.header.type = CLAP_EVENT_TRANSPORT;
    transport.flags = CLAP_TRANSPORT_HAS_TEMPO;
    transport.tempo = 133.0;
    Run(dl, dr, dol, dor, &transport);
    EXPECT_EQ(dol[5], 133.0);
    transport.flags = 0;
    Run(dl, dr, dol, dor, &transport);
    EXPECT_EQ(dol[5], 0.0);
    Run(dl, dr, dol, dor, nullptr);
    EXPECT_EQ(dol[5], 0.0);

    // Gain through both sample sizes.
    SetParams({{kProbe, kProbeGain}, {kGain, -6.0}});
    const double g = std::pow(10.0, -6.0 / 20.0);
    std::fill(dl.begin(), dl.end(), 0.8);
    Run(dl, dr, dol, dor);
    EXPECT_DOUBLE_EQ(dol[3], 0.8 * g);
    std::fill(l.begin(), l.end(), 0.8f);
    Run(l, r, ol, orr);
    EXPECT_FLOAT_EQ(ol[150], static_cast<float>(0.8f * g));

    // Set-up calls: activate prepared once; start_processing and reset are light restarts.
    plugin->reset(plugin);
    SetParams({{kProbe, kProbeSetupCalls}});
    Run(dl, dr, dol, dor);
    EXPECT_EQ(dol[0], 1 * 1000 + 2);
    plugin->stop_processing(plugin);
    plugin->deactivate(plugin);
}

// Streams that move one byte per call, or fail, as hosts' streams may.
struct ByteStreams {
    std::vector<uint8_t> bytes;
    size_t readPos = 0;
    size_t chunk = 1;
    int reads = 0;
    bool fail = false;
    clap_ostream_t out{this, [](const clap_ostream_t* s, const void* buf, uint64_t size) -> int64_t {
                           auto* self = static_cast<ByteStreams*>(s->ctx);
                           if (self->fail) return -1;
                           const size_t n = std::min<uint64_t>(size, self->chunk);
                           self->bytes.insert(self->bytes.end(), static_cast<const uint8_t*>(buf),
                                              static_cast<const uint8_t*>(buf) + n);
                           return static_cast<int64_t>(n);
                       }};
    clap_istream_t in{
        this, [](const clap_istream_t* s, void* buf, uint64_t size) -> int64_t {
            auto* self = static_cast<ByteStreams*>(s->ctx);
            ++self->reads;
            if (self->fail) return -1;
            const size_t n = std::min<uint64_t>({size, self->chunk, self->bytes.size() - self->readPos});
            if (n) std::memcpy(buf, self->bytes.data() + self->readPos, n);
            self->readPos += n;
            return static_cast<int64_t>(n);
        }};
};

TEST_F(ClapAdapter, ProcessingRestartsAndBlocksAllocateNothing) {
    ASSERT_NE(Create(), nullptr);
    ASSERT_TRUE(plugin->activate(plugin, 44100, 1, 128));
    std::vector<float> l(300, 0.1f), r(300, 0.2f), ol(300), orr(300);
    std::vector<double> dl(128, 0.1), dr(128, 0.2), dol(128), dor(128);
    ASSERT_TRUE(plugin->start_processing(plugin));
    Run(l, r, ol, orr); // first block outside the count
    Events ev;
    ev.Value(kGain, -3.0);
    nxtest::StartCountingAllocations();
    ASSERT_TRUE(plugin->start_processing(plugin));
    plugin->reset(plugin);
    for (int i = 0; i < 50; ++i) {
        Run(l, r, ol, orr, nullptr, &ev);
        Run(dl, dr, dol, dor);
    }
    plugin->stop_processing(plugin);
    EXPECT_EQ(nxtest::StopCountingAllocations(), 0u);
    plugin->deactivate(plugin);

    // The count does see the module's allocations: saving state builds a chunk on the heap.
    ByteStreams sink;
    nxtest::StartCountingAllocations();
    Ext<clap_plugin_state_t>(CLAP_EXT_STATE)->save(plugin, &sink.out);
    EXPECT_GT(nxtest::StopCountingAllocations(), 0u);
}

TEST_F(ClapAdapter, StateSurvivesOneByteStreamsAndRejectsBadStreams) {
    ASSERT_NE(Create(), nullptr);
    auto* state = Ext<clap_plugin_state_t>(CLAP_EXT_STATE);
    auto* params = Ext<clap_plugin_params_t>(CLAP_EXT_PARAMS);
    ASSERT_NE(state, nullptr);
    SetParams({{kGain, -7.5}, {kRoot, 64}});

    ByteStreams saved;
    ASSERT_TRUE(state->save(plugin, &saved.out));
    ASSERT_EQ(saved.bytes.size(), 4u * 8u) << "the fixture's chunk: its four parameters";

    SetParams({{kGain, 0.0}, {kRoot, -1}});
    saved.readPos = 0;
    ASSERT_TRUE(state->load(plugin, &saved.in));
    double v = 0;
    params->get_value(plugin, kGain, &v);
    EXPECT_EQ(v, -7.5);
    params->get_value(plugin, kRoot, &v);
    EXPECT_EQ(v, 64.0);
    EXPECT_GT(host.callbacks.load(), 0) << "values changed: the host is asked for a main-thread callback";
    plugin->on_main_thread(plugin);
    EXPECT_EQ(host.rescans.load(), 1) << "the host re-reads the values";
    plugin->on_main_thread(plugin);
    EXPECT_EQ(host.rescans.load(), 1) << "once";

    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        bool fail;
    };
    std::vector<uint8_t> cut(saved.bytes.begin(), saved.bytes.begin() + 20);
    const Case cases[] = {
        {"empty", {}, false},
        {"truncated", cut, false},
        {"read error", saved.bytes, true},
    };
    for (const auto& c : cases) {
        ByteStreams s;
        s.bytes = c.bytes;
        s.fail = c.fail;
        s.chunk = 7;
        EXPECT_FALSE(state->load(plugin, &s.in)) << c.what;
    }

    // A stream longer than any state is refused before it is read to the end.
    ByteStreams huge;
    huge.bytes.assign(10u << 20, 0);
    huge.chunk = 4096;
    EXPECT_FALSE(state->load(plugin, &huge.in));
    EXPECT_LT(huge.readPos, 100u * 1024u);
    params->get_value(plugin, kGain, &v);
    EXPECT_EQ(v, -7.5) << "nothing applied";

    ByteStreams failing;
    failing.fail = true;
    EXPECT_FALSE(state->save(plugin, &failing.out));
}

TEST_F(ClapAdapter, GuiRoutesSizesAndSendsEditorEditsThroughFlush) {
    ASSERT_NE(Create(), nullptr);
    auto* gui = Ext<clap_plugin_gui_t>(CLAP_EXT_GUI);
    auto* params = Ext<clap_plugin_params_t>(CLAP_EXT_PARAMS);
    ASSERT_NE(gui, nullptr);
    EXPECT_TRUE(gui->is_api_supported(plugin, CLAP_WINDOW_API_X11, false));
    EXPECT_FALSE(gui->is_api_supported(plugin, CLAP_WINDOW_API_X11, true)) << "embedded only";
    EXPECT_FALSE(gui->is_api_supported(plugin, CLAP_WINDOW_API_WIN32, false));
    EXPECT_FALSE(gui->create(plugin, CLAP_WINDOW_API_X11, true));
    ASSERT_TRUE(gui->create(plugin, CLAP_WINDOW_API_X11, false));

    uint32_t w = 0, h = 0;
    ASSERT_TRUE(gui->get_size(plugin, &w, &h));
    EXPECT_EQ(w, 400u);
    EXPECT_EQ(h, 300u);
    EXPECT_TRUE(gui->can_resize(plugin));
    clap_gui_resize_hints_t hints{};
    ASSERT_TRUE(gui->get_resize_hints(plugin, &hints));
    EXPECT_TRUE(hints.can_resize_horizontally);
    EXPECT_FALSE(hints.preserve_aspect_ratio);
    w = 100;
    h = 5000;
    ASSERT_TRUE(gui->adjust_size(plugin, &w, &h));
    EXPECT_EQ(w, 200u);
    EXPECT_EQ(h, 1500u);
    ASSERT_TRUE(gui->set_size(plugin, 800, 600));
    ASSERT_TRUE(gui->get_size(plugin, &w, &h));
    EXPECT_EQ(w, 800u);
    EXPECT_EQ(h, 600u);
    EXPECT_FALSE(gui->set_size(plugin, 0, 600));

    // The fixture's editor thread makes a gesture with two values and asks for a resize.
    clap_window_t window{};
    window.api = CLAP_WINDOW_API_X11;
    window.x11 = 0x1234;
    ASSERT_TRUE(gui->set_parent(plugin, &window));
    EXPECT_TRUE(gui->show(plugin));
    gui->destroy(plugin); // joins the editor thread
    EXPECT_EQ(host.lastResize.load(), (uint64_t(640) << 32) | 480u);
    EXPECT_GE(host.flushRequests.load(), 1) << "not processing: the host is asked to flush";

    Events ev;
    params->flush(plugin, &ev.inList, &ev.outList);
    ASSERT_EQ(ev.out.size(), 4u);
    EXPECT_EQ(ev.Describe(0), "begin 0");
    EXPECT_EQ(ev.Describe(1), "value 0 " + std::to_string(-12.0));
    EXPECT_EQ(ev.Describe(2), "value 0 " + std::to_string(12.0));
    EXPECT_EQ(ev.Describe(3), "end 0");
    Events again;
    params->flush(plugin, &again.inList, &again.outList);
    EXPECT_TRUE(again.out.empty()) << "sent once";
}

} // namespace
