// The VST3 adapter, driven through the built fixture module's GetPluginFactory as a host drives it.
#include "AllocCounter.h"

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"
#include "pluginterfaces/vst/vstspeaker.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

using GetFactoryProc = IPluginFactory* (*)();

void* Module() {
    static void* handle = dlopen(NX_FIXTURE_VST3, RTLD_NOW | RTLD_LOCAL);
    return handle;
}

IPluginFactory* Factory() {
    auto get = reinterpret_cast<GetFactoryProc>(dlsym(Module(), "GetPluginFactory"));
    return get ? get() : nullptr;
}

std::string Utf8(const char16* s) {
    std::string out;
    for (; *s; ++s) out += static_cast<char>(*s);
    return out;
}

void ToUtf16(const char* s, String128 out) {
    size_t i = 0;
    for (; s[i] && i < 127; ++i) out[i] = static_cast<char16>(s[i]);
    out[i] = 0;
}

// Host objects live on the stack; reference counts are not used to free them.
#define NXTEST_FUNKNOWN(Iface)                                                                               \
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {                                 \
        if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) || FUnknownPrivate::iidEqual(iid, Iface::iid)) {   \
            *obj = static_cast<Iface*>(this);                                                                \
            return kResultOk;                                                                                \
        }                                                                                                    \
        *obj = nullptr;                                                                                      \
        return kNoInterface;                                                                                 \
    }                                                                                                        \
    uint32 PLUGIN_API addRef() override {                                                                    \
        return 2;                                                                                            \
    }                                                                                                        \
    uint32 PLUGIN_API release() override {                                                                   \
        return 1;                                                                                            \
    }

// A memory stream that moves at most `piece` bytes per call and counts reads.
class Stream : public IBStream {
public:
    NXTEST_FUNKNOWN(IBStream)
    std::vector<uint8_t> bytes;
    size_t pos = 0;
    size_t piece = 1u << 30;
    int reads = 0;
    tresult PLUGIN_API read(void* buffer, int32 numBytes, int32* numBytesRead) override {
        ++reads;
        const size_t n = std::min({static_cast<size_t>(numBytes), piece, bytes.size() - pos});
        if (n) std::memcpy(buffer, bytes.data() + pos, n);
        pos += n;
        if (numBytesRead) *numBytesRead = static_cast<int32>(n);
        return kResultOk;
    }
    tresult PLUGIN_API write(void* buffer, int32 numBytes, int32* numBytesWritten) override {
        const size_t n = std::min(static_cast<size_t>(numBytes), piece);
        bytes.insert(bytes.end(), static_cast<uint8_t*>(buffer), static_cast<uint8_t*>(buffer) + n);
        if (numBytesWritten) *numBytesWritten = static_cast<int32>(n);
        return kResultOk;
    }
    tresult PLUGIN_API seek(int64, int32, int64*) override { return kNotImplemented; }
    tresult PLUGIN_API tell(int64* p) override {
        if (p) *p = static_cast<int64>(pos);
        return kResultOk;
    }
};

class Queue : public IParamValueQueue {
public:
    NXTEST_FUNKNOWN(IParamValueQueue)
    ParamID id = 0;
    std::vector<std::pair<int32, ParamValue>> points;
    ParamID PLUGIN_API getParameterId() override { return id; }
    int32 PLUGIN_API getPointCount() override { return static_cast<int32>(points.size()); }
    tresult PLUGIN_API getPoint(int32 i, int32& offset, ParamValue& value) override {
        if (i < 0 || i >= getPointCount()) return kInvalidArgument;
        offset = points[i].first;
        value = points[i].second;
        return kResultOk;
    }
    tresult PLUGIN_API addPoint(int32, ParamValue, int32&) override { return kNotImplemented; }
};

class Changes : public IParameterChanges {
public:
    NXTEST_FUNKNOWN(IParameterChanges)
    std::vector<Queue> queues;
    void Add(ParamID id, std::vector<ParamValue> values) {
        Queue q;
        q.id = id;
        for (size_t i = 0; i < values.size(); ++i) q.points.push_back({static_cast<int32>(i), values[i]});
        queues.push_back(q);
    }
    int32 PLUGIN_API getParameterCount() override { return static_cast<int32>(queues.size()); }
    IParamValueQueue* PLUGIN_API getParameterData(int32 i) override { return &queues[i]; }
    IParamValueQueue* PLUGIN_API addParameterData(const ParamID&, int32&) override { return nullptr; }
};

// Records each call with the thread it arrived on.
class Handler : public IComponentHandler {
public:
    NXTEST_FUNKNOWN(IComponentHandler)
    struct Call {
        std::string what;
        std::thread::id thread;
    };
    std::mutex mutex;
    std::vector<Call> calls;
    void Record(std::string what) {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back({std::move(what), std::this_thread::get_id()});
    }
    std::vector<Call> Calls() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
    tresult PLUGIN_API beginEdit(ParamID id) override {
        Record("begin " + std::to_string(id));
        return kResultOk;
    }
    tresult PLUGIN_API performEdit(ParamID id, ParamValue v) override {
        Record("perform " + std::to_string(id) + " " + std::to_string(v));
        return kResultOk;
    }
    tresult PLUGIN_API endEdit(ParamID id) override {
        Record("end " + std::to_string(id));
        return kResultOk;
    }
    tresult PLUGIN_API restartComponent(int32 flags) override {
        Record("restart " + std::to_string(flags));
        return kResultOk;
    }
};

// A plug frame, with or without a run loop; the run loop's timer runs only when the test says so.
class Frame : public IPlugFrame, public Linux::IRunLoop {
public:
    explicit Frame(bool withRunLoop) : mWithRunLoop(withRunLoop) {}
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
        if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) ||
            FUnknownPrivate::iidEqual(iid, IPlugFrame::iid)) {
            *obj = static_cast<IPlugFrame*>(this);
            return kResultOk;
        }
        if (mWithRunLoop && FUnknownPrivate::iidEqual(iid, Linux::IRunLoop::iid)) {
            *obj = static_cast<Linux::IRunLoop*>(this);
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 2; }
    uint32 PLUGIN_API release() override { return 1; }

    tresult PLUGIN_API resizeView(IPlugView* view, ViewRect* r) override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            resizes.push_back(std::to_string(r->getWidth()) + "x" + std::to_string(r->getHeight()));
            resizeThreads.push_back(std::this_thread::get_id());
        }
        view->onSize(r);
        return kResultTrue;
    }
    size_t ResizeCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return resizes.size();
    }
    tresult PLUGIN_API registerEventHandler(Linux::IEventHandler*, Linux::FileDescriptor) override {
        return kNotImplemented;
    }
    tresult PLUGIN_API unregisterEventHandler(Linux::IEventHandler*) override { return kResultOk; }
    tresult PLUGIN_API registerTimer(Linux::ITimerHandler* h, Linux::TimerInterval ms) override {
        timer = h;
        intervalMs = ms;
        return kResultOk;
    }
    tresult PLUGIN_API unregisterTimer(Linux::ITimerHandler* h) override {
        if (h == timer) timer = nullptr;
        ++unregisters;
        return kResultOk;
    }
    void RunTimer() {
        if (timer) timer->onTimer();
    }

    std::mutex mutex;
    Linux::ITimerHandler* timer = nullptr;
    Linux::TimerInterval intervalMs = 0;
    int unregisters = 0;
    std::vector<std::string> resizes;
    std::vector<std::thread::id> resizeThreads;

private:
    bool mWithRunLoop;
};

constexpr ParamID kGain = 0, kRoot = 2, kProbe = 3, kBypass = 4;
enum { kProbeGain = 0, kProbePieceLength, kProbeTempo, kProbeChannels, kProbeSetupCalls };

class Vst3Adapter : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(Module(), nullptr) << dlerror();
        factory = Factory();
        ASSERT_NE(factory, nullptr);
        PClassInfo info;
        ASSERT_EQ(factory->getClassInfo(0, &info), kResultOk);
        ASSERT_EQ(factory->createInstance(info.cid, IComponent::iid, reinterpret_cast<void**>(&component)),
                  kResultOk);
        ASSERT_NE(component, nullptr);
        ASSERT_EQ(component->initialize(nullptr), kResultOk);
        ASSERT_EQ(component->queryInterface(IAudioProcessor::iid, reinterpret_cast<void**>(&processor)),
                  kResultOk);
        ASSERT_EQ(component->queryInterface(IEditController::iid, reinterpret_cast<void**>(&controller)),
                  kResultOk);
        controller->setComponentHandler(&handler);
    }
    void TearDown() override {
        if (processor) processor->release();
        if (controller) controller->release();
        if (component) {
            component->terminate();
            component->release();
        }
        if (factory) factory->release();
    }
    void Prepare(int32 sampleSize, int32 maxBlock) {
        ProcessSetup setup{kRealtime, sampleSize, maxBlock, 48000.0};
        ASSERT_EQ(processor->setupProcessing(setup), kResultOk);
        ASSERT_EQ(component->setActive(true), kResultOk);
        ASSERT_EQ(processor->setProcessing(true), kResultOk);
    }
    template <typename T>
    void Run(std::vector<T>& l, std::vector<T>& r, std::vector<T>& ol, std::vector<T>& orr,
             Changes* changes = nullptr, ProcessContext* context = nullptr, int32 nIn = 2, int32 nOut = 2) {
        T* ins[2] = {l.data(), r.data()};
        T* outs[2] = {ol.data(), orr.data()};
        AudioBusBuffers in{}, out{};
        in.numChannels = nIn;
        out.numChannels = nOut;
        ProcessData data{};
        if constexpr (sizeof(T) == 8) {
            in.channelBuffers64 = ins;
            out.channelBuffers64 = outs;
            data.symbolicSampleSize = kSample64;
        } else {
            in.channelBuffers32 = ins;
            out.channelBuffers32 = outs;
            data.symbolicSampleSize = kSample32;
        }
        data.processMode = kRealtime;
        data.numSamples = static_cast<int32>(l.size());
        data.numInputs = 1;
        data.numOutputs = 1;
        data.inputs = &in;
        data.outputs = &out;
        data.inputParameterChanges = changes;
        data.processContext = context;
        ASSERT_EQ(processor->process(data), kResultOk);
    }
    void SetParam(ParamID id, double normalized) {
        Changes c;
        c.Add(id, {normalized});
        std::vector<double> none;
        Run(none, none, none, none, &c);
    }
    double Normalized(ParamID id, double plain) { return controller->plainParamToNormalized(id, plain); }

    IPluginFactory* factory = nullptr;
    IComponent* component = nullptr;
    IAudioProcessor* processor = nullptr;
    IEditController* controller = nullptr;
    Handler handler;
};

TEST_F(Vst3Adapter, FactoryDescribesOneClassWithItsExactIdentity) {
    IPluginFactory* again = Factory();
    EXPECT_EQ(again, factory) << "the same factory object on every call";
    again->release();
    PFactoryInfo fi;
    ASSERT_EQ(factory->getFactoryInfo(&fi), kResultOk);
    EXPECT_STREQ(fi.vendor, "NxTest");
    EXPECT_STREQ(fi.url, "");
    EXPECT_STREQ(fi.email, "");
    EXPECT_EQ(fi.flags, 16);
    EXPECT_EQ(factory->countClasses(), 1);

    IPluginFactory3* f3 = nullptr;
    ASSERT_EQ(factory->queryInterface(IPluginFactory3::iid, reinterpret_cast<void**>(&f3)), kResultOk);
    PClassInfo2 ci;
    ASSERT_EQ(f3->getClassInfo2(0, &ci), kResultOk);
    const uint8_t expectedId[16] = {0xF2, 0xAE, 0xE7, 0x0D, 0x00, 0xDE, 0x4F, 0x4E,
                                    'N',  'x',  'T',  's',  'F',  'i',  'x',  't'};
    EXPECT_EQ(std::memcmp(ci.cid, expectedId, 16), 0);
    EXPECT_EQ(ci.cardinality, 0x7FFFFFFF);
    EXPECT_STREQ(ci.category, "Audio Module Class");
    EXPECT_STREQ(ci.name, "NxFixture");
    EXPECT_EQ(ci.classFlags, 2u);
    EXPECT_STREQ(ci.subCategories, "Fx");
    EXPECT_STREQ(ci.vendor, "");
    EXPECT_STREQ(ci.version, "2.3.4");
    EXPECT_STREQ(ci.sdkVersion, "VST 3.7.2");
    PClassInfoW cw;
    ASSERT_EQ(f3->getClassInfoUnicode(0, &cw), kResultOk);
    EXPECT_EQ(Utf8(cw.name), "NxFixture");
    EXPECT_EQ(Utf8(cw.version), "2.3.4");
    EXPECT_NE(f3->getClassInfo2(1, &ci), kResultOk);
    f3->release();

    TUID wrong = {1, 2, 3};
    void* obj = &wrong;
    EXPECT_NE(factory->createInstance(wrong, IComponent::iid, &obj), kResultOk);
    EXPECT_EQ(obj, nullptr);

    auto entry = reinterpret_cast<bool (*)(void*)>(dlsym(Module(), "ModuleEntry"));
    auto exit = reinterpret_cast<bool (*)()>(dlsym(Module(), "ModuleExit"));
    ASSERT_NE(entry, nullptr);
    ASSERT_NE(exit, nullptr);
    EXPECT_TRUE(entry(Module()));
    EXPECT_TRUE(exit());
}

TEST_F(Vst3Adapter, ParametersAndTheHostBypassAsAHostSeesThem) {
    ASSERT_EQ(controller->getParameterCount(), 5);
    struct Case {
        const char* title;
        const char* units;
        int32 stepCount;
        double defaultNormalized;
        int32 flags;
    };
    const Case cases[] = {
        {"Gain", "dB", 0, 0.5, ParameterInfo::kCanAutomate},
        {"Mode", "", 1, 0.0, ParameterInfo::kCanAutomate},
        {"Root Note", "", 128, 0.0, ParameterInfo::kCanAutomate},
        {"Probe", "", 4, 0.0, ParameterInfo::kCanAutomate},
        {"Host Bypass", "", 1, 0.0, ParameterInfo::kCanAutomate | ParameterInfo::kIsBypass},
    };
    for (int32 i = 0; i < 5; ++i) {
        ParameterInfo info{};
        ASSERT_EQ(controller->getParameterInfo(i, info), kResultOk);
        EXPECT_EQ(info.id, static_cast<ParamID>(i));
        EXPECT_EQ(Utf8(info.title), cases[i].title);
        EXPECT_EQ(Utf8(info.units), cases[i].units);
        EXPECT_EQ(info.stepCount, cases[i].stepCount) << cases[i].title;
        EXPECT_DOUBLE_EQ(info.defaultNormalizedValue, cases[i].defaultNormalized) << cases[i].title;
        EXPECT_EQ(info.flags, cases[i].flags) << cases[i].title;
    }
    ParameterInfo info{};
    EXPECT_NE(controller->getParameterInfo(5, info), kResultOk);

    String128 text;
    ASSERT_EQ(controller->getParamStringByValue(kGain, Normalized(kGain, -6.04), text), kResultOk);
    EXPECT_EQ(Utf8(text), "-6.0");
    ASSERT_EQ(controller->getParamStringByValue(kRoot, 0.5, text), kResultOk);
    EXPECT_EQ(Utf8(text), "63");
    ASSERT_EQ(controller->getParamStringByValue(kBypass, 1.0, text), kResultOk);
    EXPECT_EQ(Utf8(text), "On");
    ToUtf16("12.5 dB", text);
    ParamValue v = -1;
    ASSERT_EQ(controller->getParamValueByString(kGain, text, v), kResultOk);
    EXPECT_DOUBLE_EQ(controller->normalizedParamToPlain(kGain, v), 12.5);
    ToUtf16("abc", text);
    EXPECT_NE(controller->getParamValueByString(kGain, text, v), kResultOk);
    EXPECT_EQ(controller->normalizedParamToPlain(kRoot, 1.0), 127.0);

    EXPECT_EQ(controller->setParamNormalized(kRoot, Normalized(kRoot, 64)), kResultOk);
    EXPECT_DOUBLE_EQ(controller->normalizedParamToPlain(kRoot, controller->getParamNormalized(kRoot)), 64.0);
    EXPECT_NE(controller->setParamNormalized(kRoot, std::nan("")), kResultOk);
    EXPECT_NE(controller->setParamNormalized(99, 0.5), kResultOk);
}

TEST_F(Vst3Adapter, ProcessAppliesLastChangesTempoAndSplitsLongBlocks) {
    Prepare(kSample32, 64);
    std::vector<float> l(200, 0.5f), r(200, 0.5f), ol(200), orr(200);
    Changes changes;
    changes.Add(kProbe, {Normalized(kProbe, kProbeTempo), Normalized(kProbe, kProbePieceLength)});
    Run(l, r, ol, orr, &changes);
    EXPECT_EQ(ol[0], 64.f) << "the last point of the queue applies to the block";
    EXPECT_EQ(ol[191], 64.f);
    EXPECT_EQ(ol[192], 8.f);
    EXPECT_EQ(orr[199], 8.f);

    SetParam(kProbe, Normalized(kProbe, kProbeTempo));
    ProcessContext context{};
    context.state = ProcessContext::kTempoValid;
    context.tempo = 97.5;
    Run(l, r, ol, orr, nullptr, &context);
    EXPECT_EQ(ol[10], 97.5f);
    context.state = 0;
    Run(l, r, ol, orr, nullptr, &context);
    EXPECT_EQ(ol[10], 0.f);

    SetParam(kProbe, Normalized(kProbe, kProbeSetupCalls));
    Run(l, r, ol, orr);
    EXPECT_EQ(ol[0], 1 * 1000 + 1) << "one OnReset from setActive, one restart from setProcessing";
}

TEST_F(Vst3Adapter, BothSampleSizesAndMonoArrangements) {
    SpeakerArrangement mono = SpeakerArr::kMono, stereo = SpeakerArr::kStereo, surround = SpeakerArr::k51;
    struct Case {
        SpeakerArrangement in, out;
        double probe;
    };
    const Case cases[] = {{stereo, stereo, 22}, {mono, mono, 11}, {mono, stereo, 12}};
    Prepare(kSample64, 128);
    for (const auto& c : cases) {
        SpeakerArrangement in = c.in, out = c.out;
        ASSERT_EQ(processor->setBusArrangements(&in, 1, &out, 1), kResultTrue);
        SpeakerArrangement got = 0;
        processor->getBusArrangement(kOutput, 0, got);
        EXPECT_EQ(got, c.out);
        BusInfo bus{};
        ASSERT_EQ(component->getBusInfo(kAudio, kInput, 0, bus), kResultOk);
        EXPECT_EQ(bus.channelCount, c.in == mono ? 1 : 2);
        SetParam(kProbe, Normalized(kProbe, kProbeChannels));
        std::vector<double> l(32, 0.0), r(32, 0.0), ol(32), orr(32);
        Run(l, r, ol, orr);
        EXPECT_EQ(ol[0], c.probe);
    }
    EXPECT_EQ(processor->setBusArrangements(&surround, 1, &stereo, 1), kResultFalse);
    EXPECT_EQ(processor->canProcessSampleSize(kSample32), kResultTrue);
    EXPECT_EQ(processor->canProcessSampleSize(kSample64), kResultTrue);
    EXPECT_EQ(processor->getLatencySamples(), 0u);

    SetParam(kProbe, Normalized(kProbe, kProbeGain));
    SetParam(kGain, Normalized(kGain, 6.0));
    std::vector<double> l(300, 0.25), r(300, -0.25), ol(300), orr(300);
    Run(l, r, ol, orr);
    EXPECT_DOUBLE_EQ(ol[299], 0.25 * std::pow(10.0, 6.0 / 20.0));
    std::vector<float> fl(300, 0.25f), fr(300, -0.25f), fol(300), forr(300);
    Run(fl, fr, fol, forr);
    EXPECT_FLOAT_EQ(forr[150], static_cast<float>(-0.25 * std::pow(10.0, 6.0 / 20.0)));
}

TEST_F(Vst3Adapter, HostBypassCopiesInputBitForBitWithoutRunningThePlugIn) {
    Prepare(kSample64, 64);
    SetParam(kProbe, Normalized(kProbe, kProbePieceLength)); // would write 64s if it ran
    SetParam(kBypass, 1.0);
    EXPECT_EQ(controller->getParamNormalized(kBypass), 1.0);
    std::vector<double> l(100), r(100), ol(100, 9.0), orr(100, 9.0);
    for (int i = 0; i < 100; ++i) l[i] = std::sin(i * 0.1) * 1e-3, r[i] = std::cos(i * 0.37);
    Run(l, r, ol, orr);
    EXPECT_EQ(std::memcmp(ol.data(), l.data(), 100 * sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(orr.data(), r.data(), 100 * sizeof(double)), 0);
    SetParam(kBypass, 0.0);
    Run(l, r, ol, orr);
    EXPECT_EQ(ol[0], 64.0);
}

TEST_F(Vst3Adapter, StateIsTheChunkAndTheBypassFlagAndRestoresSafely) {
    controller->setParamNormalized(kGain, Normalized(kGain, -7.5));
    controller->setParamNormalized(kRoot, Normalized(kRoot, 64));
    controller->setParamNormalized(kBypass, 1.0);
    Stream saved;
    saved.piece = 5; // a host stream that takes five bytes per write
    ASSERT_EQ(component->getState(&saved), kResultOk);
    ASSERT_EQ(saved.bytes.size(), 4u * 8u + 4u);
    int32 flag = 0;
    std::memcpy(&flag, saved.bytes.data() + 32, 4);
    EXPECT_EQ(flag, 1);
    double gain = 0;
    std::memcpy(&gain, saved.bytes.data(), 8);
    EXPECT_EQ(gain, -7.5);

    controller->setParamNormalized(kGain, 0.5);
    controller->setParamNormalized(kRoot, 0.0);
    saved.pos = 0;
    saved.piece = 1;
    ASSERT_EQ(component->setState(&saved), kResultOk);
    EXPECT_DOUBLE_EQ(controller->normalizedParamToPlain(kGain, controller->getParamNormalized(kGain)), -7.5);
    EXPECT_DOUBLE_EQ(controller->normalizedParamToPlain(kRoot, controller->getParamNormalized(kRoot)), 64.0);
    EXPECT_EQ(controller->getParamNormalized(kBypass), 0.0) << "a restore leaves the host bypass off";

    // What a host does next: the same stream to the controller, then the controller's own state.
    Stream other;
    const double values[4] = {3.0, 1.0, 5.0, 0.0};
    other.bytes.assign(reinterpret_cast<const uint8_t*>(values),
                       reinterpret_cast<const uint8_t*>(values) + 32);
    EXPECT_EQ(controller->setComponentState(&other), kResultOk);
    EXPECT_EQ(controller->setState(&other), kResultOk);
    EXPECT_DOUBLE_EQ(controller->normalizedParamToPlain(kGain, controller->getParamNormalized(kGain)), -7.5)
        << "no second application";
    Stream controllerState;
    EXPECT_EQ(controller->getState(&controllerState), kResultOk);
    EXPECT_TRUE(controllerState.bytes.empty());

    // Truncated: what was read stays applied, and the result says it failed.
    Stream cut;
    cut.bytes.assign(saved.bytes.begin(), saved.bytes.begin() + 12);
    std::memcpy(cut.bytes.data(), &values[0], 8);
    EXPECT_EQ(component->setState(&cut), kResultFalse);
    EXPECT_DOUBLE_EQ(controller->normalizedParamToPlain(kGain, controller->getParamNormalized(kGain)), 3.0);

    Stream empty;
    EXPECT_EQ(component->setState(&empty), kResultFalse);
    EXPECT_NE(component->setState(nullptr), kResultOk);

    Stream huge;
    huge.bytes.assign(4u << 20, 0);
    EXPECT_EQ(component->setState(&huge), kResultFalse);
    EXPECT_LT(huge.pos, 100u * 1024u) << "refused without reading it all";
    EXPECT_DOUBLE_EQ(controller->normalizedParamToPlain(kGain, controller->getParamNormalized(kGain)), 3.0);
}

TEST_F(Vst3Adapter, ProcessingRestartAndBlocksAllocateNothing) {
    Prepare(kSample32, 128);
    std::vector<float> l(300, 0.1f), r(300, 0.2f), ol(300), orr(300);
    std::vector<double> dl(64, 0.1), dr(64, 0.2), dol(64), dor(64);
    Run(l, r, ol, orr);
    Changes changes;
    changes.Add(kGain, {0.3});
    changes.Add(kBypass, {0.0});
    ProcessContext context{};
    context.state = ProcessContext::kTempoValid;
    context.tempo = 120;
    nxtest::StartCountingAllocations();
    ASSERT_EQ(processor->setProcessing(false), kResultOk);
    ASSERT_EQ(processor->setProcessing(true), kResultOk);
    for (int i = 0; i < 50; ++i) {
        Run(l, r, ol, orr, &changes, &context);
        Run(dl, dr, dol, dor);
    }
    EXPECT_EQ(nxtest::StopCountingAllocations(), 0u);
    // The count does see the module's allocations: saving state builds a chunk on the heap.
    Stream sink;
    nxtest::StartCountingAllocations();
    component->getState(&sink);
    EXPECT_GT(nxtest::StopCountingAllocations(), 0u);
}

TEST_F(Vst3Adapter, ViewSizesFollowTheHostAndThePlugInsConstraints) {
    IPlugView* view = controller->createView(ViewType::kEditor);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(controller->createView("other"), nullptr);
    EXPECT_EQ(view->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID), kResultTrue);
    EXPECT_EQ(view->isPlatformTypeSupported(kPlatformTypeHWND), kResultFalse);
    ViewRect rect;
    ASSERT_EQ(view->getSize(&rect), kResultOk);
    EXPECT_EQ(rect.getWidth(), 400);
    EXPECT_EQ(rect.getHeight(), 300);
    EXPECT_EQ(view->canResize(), kResultTrue);
    ViewRect asked(0, 0, 100, 5000);
    ASSERT_EQ(view->checkSizeConstraint(&asked), kResultTrue);
    EXPECT_EQ(asked.getWidth(), 200);
    EXPECT_EQ(asked.getHeight(), 1500);
    ViewRect set(0, 0, 800, 600);
    ASSERT_EQ(view->onSize(&set), kResultOk);
    ASSERT_EQ(view->getSize(&rect), kResultOk);
    EXPECT_EQ(rect.getWidth(), 800);
    IPlugViewContentScaleSupport* scale = nullptr;
    ASSERT_EQ(view->queryInterface(IPlugViewContentScaleSupport::iid, reinterpret_cast<void**>(&scale)),
              kResultOk);
    EXPECT_EQ(scale->setContentScaleFactor(-1.f), kInvalidArgument);
    scale->release();
    view->release();
    EXPECT_TRUE(handler.Calls().empty()) << "creating a view opens nothing";
}

TEST_F(Vst3Adapter, EditorCallsReachTheHostOnTheRunLoopThreadOnly) {
    Frame frame(true);
    IPlugView* view = controller->createView(ViewType::kEditor);
    ASSERT_NE(view, nullptr);
    view->setFrame(&frame);
    ASSERT_EQ(view->attached(reinterpret_cast<void*>(0x1234), kPlatformTypeX11EmbedWindowID), kResultOk);
    ASSERT_NE(frame.timer, nullptr);
    EXPECT_GT(frame.intervalMs, 0u);

    // Until the run loop fires, the editor's calls wait in the queue.
    for (int i = 0; i < 200 && handler.Calls().size() < 4; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        frame.RunTimer();
    }
    const auto calls = handler.Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].what, "begin 0");
    EXPECT_EQ(calls[1].what, "perform 0 " + std::to_string(0.25));
    EXPECT_EQ(calls[2].what, "perform 0 " + std::to_string(0.75));
    EXPECT_EQ(calls[3].what, "end 0");
    for (const auto& c : calls) EXPECT_EQ(c.thread, std::this_thread::get_id()) << c.what;
    for (int i = 0; i < 100 && frame.resizes.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        frame.RunTimer();
    }
    ASSERT_EQ(frame.resizes, std::vector<std::string>{"640x480"});
    EXPECT_EQ(frame.resizeThreads[0], std::this_thread::get_id());

    // A state restored while the editor is open: the host hears of the new values from its run loop.
    Stream state;
    ASSERT_EQ(component->getState(&state), kResultOk);
    ASSERT_EQ(component->setState(&state), kResultOk);
    EXPECT_EQ(handler.Calls().size(), 4u) << "nothing reaches the host outside the run loop";
    frame.RunTimer();
    ASSERT_EQ(handler.Calls().size(), 5u);
    EXPECT_EQ(handler.Calls()[4].what, "restart " + std::to_string(kParamValuesChanged));

    EXPECT_EQ(view->removed(), kResultOk);
    EXPECT_EQ(frame.timer, nullptr) << "the timer is unregistered";
    EXPECT_EQ(view->removed(), kResultFalse) << "not attached any more";
    view->release();
}

TEST_F(Vst3Adapter, ClosingWithEditsQueuedDeliversThemInOrder) {
    Frame frame(true);
    IPlugView* view = controller->createView(ViewType::kEditor);
    view->setFrame(&frame);
    ASSERT_EQ(view->attached(reinterpret_cast<void*>(0x1234), kPlatformTypeX11EmbedWindowID), kResultOk);
    // The run loop never fires; removed() joins the editor and hands over what it queued.
    ASSERT_EQ(view->removed(), kResultOk);
    const auto calls = handler.Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].what, "begin 0");
    EXPECT_EQ(calls[3].what, "end 0");
    for (const auto& c : calls) EXPECT_EQ(c.thread, std::this_thread::get_id());
    EXPECT_TRUE(frame.resizes.empty()) << "a resize for a removed view is dropped";
    view->release();
}

TEST_F(Vst3Adapter, WithoutARunLoopEditorCallsGoDirectly) {
    Frame frame(false);
    IPlugView* view = controller->createView(ViewType::kEditor);
    view->setFrame(&frame);
    ASSERT_EQ(view->attached(reinterpret_cast<void*>(0x1234), kPlatformTypeX11EmbedWindowID), kResultOk);
    for (int i = 0; i < 500 && frame.ResizeCount() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(view->removed(), kResultOk); // joins the editor thread
    const auto calls = handler.Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_NE(calls[0].thread, std::this_thread::get_id()) << "made on the editor's thread, as a last resort";
    EXPECT_EQ(frame.resizes, std::vector<std::string>{"640x480"});
    view->release();
}

} // namespace
