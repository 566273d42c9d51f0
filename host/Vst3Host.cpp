// VST3 module loading and one hosted component (see Vst3Host.h).
#include "host/Vst3Host.h"

#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/vstspeaker.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <map>

using namespace Steinberg;

namespace nx::host {

// ---- Module --------------------------------------------------------------------------------------------

std::string vst3BinaryPath(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path p(path);
    if (fs::is_directory(p, ec)) {
        fs::path bundle = p;
        if (!bundle.has_filename()) bundle = bundle.parent_path();
        return (bundle / "Contents" / "x86_64-linux" / bundle.stem()).string() + ".so";
    }
    return path;
}

namespace {
std::mutex& moduleMutex() {
    static std::mutex m;
    return m;
}
std::map<std::string, std::weak_ptr<Vst3Module>>& liveModules() {
    static std::map<std::string, std::weak_ptr<Vst3Module>> m;
    return m;
}
using EntryFn = bool (*)(void*);
using ExitFn = bool (*)();
using FactoryFn = IPluginFactory* (*)();
} // namespace

std::shared_ptr<Vst3Module> Vst3Module::open(const std::string& path, std::string* error) {
    const std::string bin = vst3BinaryPath(path);
    std::lock_guard<std::mutex> lock(moduleMutex());
    if (auto live = liveModules()[bin].lock()) return live;
    std::shared_ptr<Vst3Module> m(new Vst3Module());
    m->mPath = path;
    m->mHandle = dlopen(bin.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m->mHandle) {
        if (error) {
            const char* e = dlerror();
            *error = std::string("cannot load ") + bin + ": " + (e ? e : "unknown error");
        }
        return nullptr;
    }
    auto entry = reinterpret_cast<EntryFn>(dlsym(m->mHandle, "ModuleEntry"));
    auto getFactory = reinterpret_cast<FactoryFn>(dlsym(m->mHandle, "GetPluginFactory"));
    if (!entry || !getFactory) {
        if (error) *error = bin + " is not a VST3 module (ModuleEntry or GetPluginFactory missing)";
        return nullptr;
    }
    if (!entry(m->mHandle)) {
        if (error) *error = bin + ": ModuleEntry failed";
        return nullptr;
    }
    m->mEntered = true;
    m->mFactory = getFactory();
    if (!m->mFactory) {
        if (error) *error = bin + ": GetPluginFactory returned null";
        return nullptr;
    }
    liveModules()[bin] = m;
    return m;
}

IPluginFactory* Vst3Module::getPluginFactoryAgain() const {
    auto getFactory = reinterpret_cast<FactoryFn>(dlsym(mHandle, "GetPluginFactory"));
    return getFactory ? getFactory() : nullptr;
}

Vst3Module::~Vst3Module() {
    if (mFactory) mFactory->release();
    if (mEntered)
        if (auto exitFn = reinterpret_cast<ExitFn>(dlsym(mHandle, "ModuleExit"))) exitFn();
    if (mHandle) dlclose(mHandle);
}

// ---- Instance ------------------------------------------------------------------------------------------

Vst3Host::Vst3Host(std::shared_ptr<Vst3Module> module)
    : mModule(std::move(module)), mHandler([this](const HostEdit& e) {
          recordEdit(e);
          if (e.kind == HostEdit::Kind::Perform) queueForProcessor(e.paramId, e.value);
      }),
      mFrame([this](IPlugView* view, ViewRect* r) -> tresult {
          recordResizeRequest(r->getWidth(), r->getHeight());
          if (!mAcceptResize) return kResultFalse;
          return view->onSize(r);
      }) {}

std::unique_ptr<Vst3Host> Vst3Host::create(std::shared_ptr<Vst3Module> module, const TUID* classId,
                                           std::string* error) {
    if (!module) return nullptr;
    std::unique_ptr<Vst3Host> h(new Vst3Host(std::move(module)));
    if (!h->init(classId, error)) return nullptr;
    return h;
}

bool Vst3Host::init(const TUID* classId, std::string* error) {
    IPluginFactory* f = mModule->factory();
    auto fail = [&](const std::string& why) {
        if (error) *error = mModule->path() + ": " + why;
        return false;
    };
    TUID cid{};
    bool found = false;
    if (classId) {
        std::memcpy(cid, *classId, sizeof(TUID));
        found = true;
    } else {
        for (int32 i = 0; i < f->countClasses() && !found; ++i) {
            PClassInfo ci{};
            if (f->getClassInfo(i, &ci) == kResultOk && !std::strcmp(ci.category, kVstAudioEffectClass)) {
                std::memcpy(cid, ci.cid, sizeof(TUID));
                found = true;
            }
        }
    }
    if (!found) return fail("no audio module class in the factory");
    if (f->createInstance(cid, Vst::IComponent::iid, reinterpret_cast<void**>(&mComponent)) != kResultOk ||
        !mComponent)
        return fail("createInstance of the component failed");
    if (mComponent->initialize(&mHostApp) != kResultOk) return fail("component initialize failed");
    if (mComponent->queryInterface(Vst::IAudioProcessor::iid, reinterpret_cast<void**>(&mProcessor)) !=
        kResultOk)
        return fail("the component is no IAudioProcessor");
    if (mComponent->queryInterface(Vst::IEditController::iid, reinterpret_cast<void**>(&mController)) !=
        kResultOk) {
        mController = nullptr;
        TUID ccid{};
        if (mComponent->getControllerClassId(ccid) != kResultOk ||
            f->createInstance(ccid, Vst::IEditController::iid, reinterpret_cast<void**>(&mController)) !=
                kResultOk ||
            !mController)
            return fail("no edit controller");
        mSeparateController = true;
        if (mController->initialize(&mHostApp) != kResultOk) return fail("controller initialize failed");
    }
    mController->setComponentHandler(&mHandler);

    const int32 n = mController->getParameterCount();
    for (int32 i = 0; i < n; ++i) {
        Vst::ParameterInfo vi{};
        if (mController->getParameterInfo(i, vi) != kResultOk) continue;
        ParamInfo p;
        p.id = vi.id;
        p.name = vst3::toUtf8(vi.title, 128);
        p.units = vst3::toUtf8(vi.units, 128);
        p.minValue = mController->normalizedParamToPlain(vi.id, 0.0);
        p.maxValue = mController->normalizedParamToPlain(vi.id, 1.0);
        p.defaultValue = mController->normalizedParamToPlain(vi.id, vi.defaultNormalizedValue);
        p.stepCount = vi.stepCount;
        p.stepped = vi.stepCount > 0;
        p.automatable = (vi.flags & Vst::ParameterInfo::kCanAutomate) != 0;
        p.readOnly = (vi.flags & Vst::ParameterInfo::kIsReadOnly) != 0;
        p.isBypass = (vi.flags & Vst::ParameterInfo::kIsBypass) != 0;
        mParams.push_back(p);
    }
    return true;
}

Vst3Host::~Vst3Host() {
    closeEditor();
    deactivate();
    if (mController) {
        mController->setComponentHandler(nullptr);
        if (mSeparateController) mController->terminate();
        mController->release();
    }
    if (mProcessor) mProcessor->release();
    if (mComponent) {
        mComponent->terminate();
        mComponent->release();
    }
}

double Vst3Host::paramValue(int index) {
    if (index < 0 || index >= int(mParams.size())) return std::nan("");
    const auto id = mParams[size_t(index)].id;
    return mController->normalizedParamToPlain(id, mController->getParamNormalized(id));
}

void Vst3Host::queueForProcessor(Vst::ParamID id, double normalized) {
    std::lock_guard<std::mutex> lock(mPendingProducer);
    mPending.push({id, normalized});
}

bool Vst3Host::setParam(int index, double plainValue) {
    if (index < 0 || index >= int(mParams.size()) || !std::isfinite(plainValue)) return false;
    const auto id = mParams[size_t(index)].id;
    const double norm = std::clamp(mController->plainParamToNormalized(id, plainValue), 0.0, 1.0);
    if (mController->setParamNormalized(id, norm) != kResultOk) return false;
    queueForProcessor(id, norm);
    return true;
}

std::string Vst3Host::paramText(int index, double plainValue) {
    if (index < 0 || index >= int(mParams.size())) return {};
    const auto id = mParams[size_t(index)].id;
    Vst::String128 s{};
    if (mController->getParamStringByValue(id, mController->plainParamToNormalized(id, plainValue), s) !=
        kResultOk)
        return {};
    return vst3::toUtf8(s, 128);
}

int Vst3Host::bypassParamIndex() const {
    for (size_t i = 0; i < mParams.size(); ++i)
        if (mParams[i].isBypass) return int(i);
    return -1;
}

bool Vst3Host::setHostBypass(bool on) {
    const int i = bypassParamIndex();
    return i >= 0 && setParam(i, on ? mParams[size_t(i)].maxValue : mParams[size_t(i)].minValue);
}

tresult Vst3Host::setProcessing(bool on) {
    const tresult r = mProcessor->setProcessing(on);
    mProcessing = on;
    return r;
}

bool Vst3Host::activate(const ProcessSetup& setup) {
    if (mActive) deactivate();
    if (setup.sampleRate <= 0 || setup.maxBlock < 1 || setup.channels < 1 || setup.channels > 2) return false;
    mSetup = setup;
    Vst::SpeakerArrangement arr = setup.channels == 1 ? Vst::SpeakerArr::kMono : Vst::SpeakerArr::kStereo;
    if (mProcessor->setBusArrangements(&arr, 1, &arr, 1) != kResultOk) return false;
    mComponent->activateBus(Vst::kAudio, Vst::kInput, 0, true);
    mComponent->activateBus(Vst::kAudio, Vst::kOutput, 0, true);
    const int32 sampleSize = setup.doublePrecision ? Vst::kSample64 : Vst::kSample32;
    if (mProcessor->canProcessSampleSize(sampleSize) != kResultOk) return false;
    Vst::ProcessSetup ps{};
    ps.processMode = setup.offline ? Vst::kOffline : Vst::kRealtime;
    ps.symbolicSampleSize = sampleSize;
    ps.maxSamplesPerBlock = setup.maxBlock;
    ps.sampleRate = setup.sampleRate;
    if (mProcessor->setupProcessing(ps) != kResultOk) return false;
    if (mComponent->setActive(true) != kResultOk) return false;
    mActive = true;
    setProcessing(true); // kNotImplemented is a valid answer
    mProjectSamples = 0;
    return true;
}

void Vst3Host::deactivate() {
    if (!mActive) return;
    if (mProcessing) setProcessing(false);
    mComponent->setActive(false);
    mActive = false;
}

bool Vst3Host::runProcess(Vst::ProcessData& data) {
    mInChanges.clear();
    mOutChanges.clear();
    Pending p;
    while (mPending.pop(p)) {
        int32 qi = 0, pi = 0;
        if (auto* q = mInChanges.addParameterData(p.id, qi)) q->addPoint(0, p.normalized, pi);
    }
    const double bpm = mTempo.load(std::memory_order_relaxed);
    mContext = {};
    mContext.state = Vst::ProcessContext::kPlaying | Vst::ProcessContext::kProjectTimeMusicValid |
                     Vst::ProcessContext::kTimeSigValid;
    mContext.sampleRate = mSetup.sampleRate;
    mContext.projectTimeSamples = mProjectSamples;
    mContext.timeSigNumerator = 4;
    mContext.timeSigDenominator = 4;
    if (bpm > 0) {
        mContext.state |= Vst::ProcessContext::kTempoValid;
        mContext.tempo = bpm;
        mContext.projectTimeMusic = double(mProjectSamples) / mSetup.sampleRate * bpm / 60.0;
    }
    data.processMode = mSetup.offline ? Vst::kOffline : Vst::kRealtime;
    data.inputParameterChanges = &mInChanges;
    data.outputParameterChanges = &mOutChanges;
    data.processContext = &mContext;
    const tresult r = mProcessor->process(data);
    mProjectSamples += data.numSamples;
    return r == kResultOk;
}

namespace {
template <typename From, typename To>
void convert(const From* const* in, To* const* out, int ch, int n) {
    for (int c = 0; c < ch; ++c)
        for (int k = 0; k < n; ++k) out[c][k] = To(in[c][k]);
}
} // namespace

bool Vst3Host::process(const float* const* in, float* const* out, int n) {
    if (!mActive || n < 0) return false;
    const int ch = mSetup.channels;
    if (mSetup.doublePrecision) {
        std::vector<double> scratch(size_t(4 * n));
        double* di[2] = {scratch.data(), scratch.data() + n};
        double* dout[2] = {scratch.data() + 2 * n, scratch.data() + 3 * n};
        convert(in, di, ch, n);
        if (!process(di, dout, n)) return false;
        convert(dout, out, ch, n);
        return true;
    }
    Vst::AudioBusBuffers ib{}, ob{};
    ib.numChannels = ch;
    ib.channelBuffers32 = const_cast<float**>(in);
    ob.numChannels = ch;
    ob.channelBuffers32 = const_cast<float**>(out);
    Vst::ProcessData data{};
    data.symbolicSampleSize = Vst::kSample32;
    data.numSamples = n;
    data.numInputs = 1;
    data.numOutputs = 1;
    data.inputs = &ib;
    data.outputs = &ob;
    return runProcess(data);
}

bool Vst3Host::process(const double* const* in, double* const* out, int n) {
    if (!mActive || n < 0) return false;
    const int ch = mSetup.channels;
    if (!mSetup.doublePrecision) {
        std::vector<float> scratch(size_t(4 * n));
        float* fi[2] = {scratch.data(), scratch.data() + n};
        float* fo[2] = {scratch.data() + 2 * n, scratch.data() + 3 * n};
        convert(in, fi, ch, n);
        if (!process(fi, fo, n)) return false;
        convert(fo, out, ch, n);
        return true;
    }
    Vst::AudioBusBuffers ib{}, ob{};
    ib.numChannels = ch;
    ib.channelBuffers64 = const_cast<double**>(in);
    ob.numChannels = ch;
    ob.channelBuffers64 = const_cast<double**>(out);
    Vst::ProcessData data{};
    data.symbolicSampleSize = Vst::kSample64;
    data.numSamples = n;
    data.numInputs = 1;
    data.numOutputs = 1;
    data.inputs = &ib;
    data.outputs = &ob;
    return runProcess(data);
}

bool Vst3Host::saveState(std::vector<uint8_t>& out, int maxBytesPerCall) {
    vst3::MemoryStream s({}, maxBytesPerCall);
    const tresult r = mComponent->getState(&s);
    out = s.bytes();
    return r == kResultOk;
}

bool Vst3Host::loadState(const std::vector<uint8_t>& in, int maxBytesPerCall) {
    // As JUCE-based hosts do: the component, then the controller's view of the component state, then
    // the controller's own (empty) state.
    vst3::MemoryStream s(in, maxBytesPerCall);
    mLastSetState = mComponent->setState(&s);
    s.seek(0, IBStream::kIBSeekSet, nullptr);
    mController->setComponentState(&s);
    vst3::MemoryStream empty;
    mController->setState(&empty);
    return mLastSetState == kResultOk;
}

// ---- Editor --------------------------------------------------------------------------------------------

bool Vst3Host::hasEditor() {
    if (mView) return true;
    // Hosts create and release a view just to ask; no window may open here.
    IPlugView* v = mController->createView(Vst::ViewType::kEditor);
    if (!v) return false;
    v->release();
    return true;
}

bool Vst3Host::openEditor(unsigned long parentWindow, double scale, EditorSize* size) {
    if (mView) return false;
    mView = mController->createView(Vst::ViewType::kEditor);
    if (!mView) return false;
    if (mView->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID) != kResultTrue) {
        mView->release();
        mView = nullptr;
        return false;
    }
    mView->setFrame(&mFrame);
    IPlugViewContentScaleSupport* scaleSupport = nullptr;
    if (mView->queryInterface(IPlugViewContentScaleSupport::iid, reinterpret_cast<void**>(&scaleSupport)) ==
            kResultOk &&
        scaleSupport) {
        scaleSupport->setContentScaleFactor(float(scale));
        scaleSupport->release();
    }
    if (mView->attached(reinterpret_cast<void*>(parentWindow), kPlatformTypeX11EmbedWindowID) != kResultOk) {
        mView->setFrame(nullptr);
        mView->release();
        mView = nullptr;
        return false;
    }
    ViewRect r{};
    mView->getSize(&r);
    if (size) *size = {r.getWidth(), r.getHeight()};
    return true;
}

bool Vst3Host::resizeEditor(int width, int height, EditorSize* size) {
    if (!mView) return false;
    ViewRect r(0, 0, width, height);
    if (mView->canResize() == kResultTrue) mView->checkSizeConstraint(&r);
    const bool ok = mView->onSize(&r) == kResultOk;
    if (size) *size = {r.getWidth(), r.getHeight()};
    return ok;
}

void Vst3Host::closeEditor() {
    if (!mView) return;
    mView->removed();
    mView->setFrame(nullptr);
    mView->release();
    mView = nullptr;
}

int Vst3Host::pumpMainThread() {
    return mFrame.pump();
}

} // namespace nx::host
