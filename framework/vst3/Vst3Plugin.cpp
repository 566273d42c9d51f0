// The VST3 component: translates processor and controller calls into PluginBase hooks.
#include "framework/vst3/Vst3Plugin.h"

#include "framework/vst3/Vst3Common.h"
#include "framework/vst3/Vst3View.h"

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"
#include "pluginterfaces/vst/ivstunits.h"
#include "pluginterfaces/vst/vstspeaker.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace nx::vst3 {

namespace {

// Largest block the adapter prepares for; longer host blocks are processed in pieces of this size.
constexpr int32 kMaxPreparedFrames = 65536;

int ChannelCount(SpeakerArrangement arr) {
    return arr == SpeakerArr::kMono ? 1 : 2;
}

uint64_t PackSize(int width, int height) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(width)) << 32) | static_cast<uint32_t>(height);
}

} // namespace

Vst3Plugin::Vst3Plugin(PluginBase* plug)
    : mPlug(plug), mInArr(SpeakerArr::kStereo), mOutArr(SpeakerArr::kStereo) {
    mPlug->SetChannelsConnected(2, 2);
    mPlug->SetHostLink(this);
}

Vst3Plugin::~Vst3Plugin() {
    // The plug-in closes its editor (and joins the editor's thread) before it goes; the host link stays
    // valid until then.
    mPlug.reset();
    if (IComponentHandler* handler = mHandler.exchange(nullptr)) handler->release();
    if (mHostContext) mHostContext->release();
}

// ---- FUnknown ------------------------------------------------------------------------------------------

tresult PLUGIN_API Vst3Plugin::queryInterface(const TUID iid, void** obj) {
    if (!obj) return kInvalidArgument;
    void* found = nullptr;
    if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) || FUnknownPrivate::iidEqual(iid, IPluginBase::iid) ||
        FUnknownPrivate::iidEqual(iid, IComponent::iid)) {
        found = static_cast<IComponent*>(static_cast<ComponentStateCalls*>(this));
    } else if (FUnknownPrivate::iidEqual(iid, IAudioProcessor::iid)) {
        found = static_cast<IAudioProcessor*>(this);
    } else if (FUnknownPrivate::iidEqual(iid, IEditController::iid)) {
        found = static_cast<IEditController*>(static_cast<ControllerStateCalls*>(this));
    } else if (FUnknownPrivate::iidEqual(iid, IProcessContextRequirements::iid)) {
        found = static_cast<IProcessContextRequirements*>(this);
    }
    *obj = found;
    if (!found) return kNoInterface;
    addRef();
    return kResultOk;
}

uint32 PLUGIN_API Vst3Plugin::addRef() {
    return static_cast<uint32>(++mRefCount);
}

uint32 PLUGIN_API Vst3Plugin::release() {
    const int32_t left = --mRefCount;
    if (left == 0) {
        try {
            delete this;
        } catch (...) {
        }
        return 0;
    }
    return static_cast<uint32>(left);
}

// ---- IPluginBase ---------------------------------------------------------------------------------------

tresult PLUGIN_API Vst3Plugin::initialize(FUnknown* context) {
    // A host may initialise the component and then the same object as controller: keep the first context.
    if (context && !mHostContext) {
        mHostContext = context;
        mHostContext->addRef();
    }
    return kResultOk;
}

tresult PLUGIN_API Vst3Plugin::terminate() {
    if (IComponentHandler* handler = mHandler.exchange(nullptr)) handler->release();
    if (mHostContext) {
        mHostContext->release();
        mHostContext = nullptr;
    }
    return kResultOk;
}

// ---- IComponent ----------------------------------------------------------------------------------------

tresult PLUGIN_API Vst3Plugin::getControllerClassId(TUID /*classId*/) {
    return kResultFalse;
}

tresult PLUGIN_API Vst3Plugin::setIoMode(IoMode /*mode*/) {
    return kResultOk;
}

int32 PLUGIN_API Vst3Plugin::getBusCount(MediaType type, BusDirection /*dir*/) {
    return type == kAudio ? 1 : 0;
}

tresult PLUGIN_API Vst3Plugin::getBusInfo(MediaType type, BusDirection dir, int32 index, BusInfo& bus) {
    if (type != kAudio || index != 0) return kInvalidArgument;
    bus.mediaType = kAudio;
    bus.direction = dir;
    bus.channelCount = ChannelCount(dir == kInput ? mInArr : mOutArr);
    CopyUtf8ToUtf16(dir == kInput ? "Input" : "Output", bus.name, sizeof(bus.name) / sizeof(bus.name[0]));
    bus.busType = kMain;
    bus.flags = BusInfo::kDefaultActive;
    return kResultOk;
}

tresult PLUGIN_API Vst3Plugin::getRoutingInfo(RoutingInfo& /*inInfo*/, RoutingInfo& /*outInfo*/) {
    return kNotImplemented;
}

tresult PLUGIN_API Vst3Plugin::activateBus(MediaType type, BusDirection /*dir*/, int32 index,
                                           TBool /*state*/) {
    return (type == kAudio && index == 0) ? kResultOk : kInvalidArgument;
}

tresult PLUGIN_API Vst3Plugin::setActive(TBool state) {
    return Guarded<tresult>(kInternalError, [&]() -> tresult {
        if (state) {
            // Main thread: the only place where the adapter and the plug-in allocate for processing.
            mBridge.Prepare(mPlug->GetBlockSize());
            mPlug->OnReset();
        }
        return kResultOk;
    });
}

tresult Vst3Plugin::setComponentStateFromHost(IBStream* state) {
    if (!state) return kInvalidArgument;
    return Guarded<tresult>(kInternalError, [&]() -> tresult {
        ByteChunk chunk;
        uint8_t piece[128];
        for (;;) {
            int32 got = 0;
            const tresult result = state->read(piece, static_cast<int32>(sizeof(piece)), &got);
            if (got > 0) {
                got = std::min<int32>(got, static_cast<int32>(sizeof(piece)));
                // Refused before it is read to the end: no valid state is this long.
                if (chunk.Size() + static_cast<int64>(got) > kMaxStateBytes) return kResultFalse;
                chunk.PutBytes(piece, got);
            }
            if (result != kResultOk || got <= 0) break;
        }
        if (chunk.Size() == 0) return kResultFalse;

        const int pos = mPlug->UnserializeState(chunk, 0);
        // The controller is this object: its parameters already hold the restored values. A restore
        // always leaves the host-level bypass off.
        mPlug->SetHostBypassed(false);
        mPlug->OnRestoreState();
        mPlug->SetHostBypassed(false);
        // A truncated state keeps what was read before the cut, and says it failed.
        return pos < 0 ? kResultFalse : kResultOk;
    });
}

tresult Vst3Plugin::getComponentState(IBStream* state) {
    if (!state) return kInvalidArgument;
    return Guarded<tresult>(kInternalError, [&]() -> tresult {
        ByteChunk chunk;
        if (!mPlug->SerializeState(chunk)) return kResultFalse;
        const int32 bypass = mPlug->GetHostBypassed() ? 1 : 0;
        chunk.Put(&bypass);
        int32 offset = 0;
        while (offset < chunk.Size()) {
            int32 written = 0;
            const tresult result = state->write(chunk.GetData() + offset, chunk.Size() - offset, &written);
            if (result != kResultOk || written <= 0) return kResultFalse;
            offset += std::min(written, chunk.Size() - offset);
        }
        return kResultOk;
    });
}

// ---- IAudioProcessor -----------------------------------------------------------------------------------

tresult PLUGIN_API Vst3Plugin::setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                  SpeakerArrangement* outputs, int32 numOuts) {
    if (numIns != 1 || numOuts != 1 || !inputs || !outputs) return kResultFalse;
    auto supported = [](SpeakerArrangement arr) {
        return arr == SpeakerArr::kStereo || arr == SpeakerArr::kMono;
    };
    if (!supported(inputs[0]) || !supported(outputs[0])) return kResultFalse;
    mInArr = inputs[0];
    mOutArr = outputs[0];
    mPlug->SetChannelsConnected(ChannelCount(mInArr), ChannelCount(mOutArr));
    return kResultTrue;
}

tresult PLUGIN_API Vst3Plugin::getBusArrangement(BusDirection dir, int32 index, SpeakerArrangement& arr) {
    if (index != 0) return kInvalidArgument;
    arr = dir == kInput ? mInArr : mOutArr;
    return kResultOk;
}

tresult PLUGIN_API Vst3Plugin::canProcessSampleSize(int32 symbolicSampleSize) {
    return (symbolicSampleSize == kSample32 || symbolicSampleSize == kSample64) ? kResultTrue : kResultFalse;
}

uint32 PLUGIN_API Vst3Plugin::getLatencySamples() {
    return static_cast<uint32>(std::max(0, mPlug->GetConfig().latency));
}

tresult PLUGIN_API Vst3Plugin::setupProcessing(ProcessSetup& setup) {
    if (!(setup.sampleRate > 0.0) || !std::isfinite(setup.sampleRate)) return kInvalidArgument;
    if (setup.symbolicSampleSize != kSample32 && setup.symbolicSampleSize != kSample64)
        return kInvalidArgument;
    mSampleSize = setup.symbolicSampleSize;
    mPlug->SetRenderingOffline(setup.processMode == kOffline);
    mPlug->SetSampleRate(setup.sampleRate);
    // A maximum below 1 is passed on as given: the plug-in then prepares for its own default.
    mPlug->SetBlockSize(std::min(setup.maxSamplesPerBlock, kMaxPreparedFrames));
    return kResultOk;
}

tresult PLUGIN_API Vst3Plugin::setProcessing(TBool state) {
    // May run on the audio thread: only the light restart, which neither allocates nor locks.
    return Guarded<tresult>(kInternalError, [&]() -> tresult {
        if (state) mPlug->OnProcessingRestart();
        return kResultOk;
    });
}

tresult PLUGIN_API Vst3Plugin::process(ProcessData& data) {
    try {
        ApplyParamChanges(data.inputParameterChanges);

        double tempo = 0.0;
        if (data.processContext && (data.processContext->state & ProcessContext::kTempoValid) &&
            std::isfinite(data.processContext->tempo) && data.processContext->tempo > 0.0) {
            tempo = data.processContext->tempo;
        }
        mPlug->SetTempo(tempo);

        if (data.numSamples <= 0) return kResultOk;

        AudioBusBuffers* in = (data.numInputs > 0 && data.inputs) ? &data.inputs[0] : nullptr;
        AudioBusBuffers* out = (data.numOutputs > 0 && data.outputs) ? &data.outputs[0] : nullptr;
        const int nIn = in ? std::max(0, in->numChannels) : 0;
        const int nOut = out ? std::max(0, out->numChannels) : 0;
        const bool bypassed = mPlug->GetHostBypassed();
        if (data.symbolicSampleSize == kSample64) {
            mBridge.Process(*mPlug, in ? in->channelBuffers64 : nullptr, nIn,
                            out ? out->channelBuffers64 : nullptr, nOut, data.numSamples, bypassed);
        } else {
            mBridge.Process(*mPlug, in ? in->channelBuffers32 : nullptr, nIn,
                            out ? out->channelBuffers32 : nullptr, nOut, data.numSamples, bypassed);
        }
        if (out) out->silenceFlags = 0;
        return kResultOk;
    } catch (...) {
        return kInternalError;
    }
}

uint32 PLUGIN_API Vst3Plugin::getTailSamples() {
    // The output depends on audio from other instances as well as on this input: never assume that
    // silence in means silence out.
    return kInfiniteTail;
}

uint32 PLUGIN_API Vst3Plugin::getProcessContextRequirements() {
    return IProcessContextRequirements::kNeedTempo | IProcessContextRequirements::kNeedTransportState;
}

void Vst3Plugin::ApplyParamChanges(IParameterChanges* changes) {
    if (!changes) return;
    const int32 count = changes->getParameterCount();
    for (int32 i = 0; i < count; ++i) {
        IParamValueQueue* queue = changes->getParameterData(i);
        if (!queue) continue;
        const int32 points = queue->getPointCount();
        if (points <= 0) continue;
        int32 offset = 0;
        ParamValue value = 0.0;
        // The block runs with the last value the host gives for it.
        if (queue->getPoint(points - 1, offset, value) == kResultOk)
            SetParamFromHost(queue->getParameterId(), value);
    }
}

void Vst3Plugin::SetParamFromHost(ParamID id, double normalized) {
    if (!std::isfinite(normalized)) return;
    if (id == BypassParamId()) {
        mPlug->SetHostBypassed(normalized >= 0.5);
        return;
    }
    Param* param = mPlug->GetParam(static_cast<int>(id));
    if (!param) return;
    param->SetNormalized(normalized);
    mPlug->OnParamChange(static_cast<int>(id));
}

// ---- IEditController -----------------------------------------------------------------------------------

tresult PLUGIN_API Vst3Plugin::setComponentState(IBStream* /*state*/) {
    // The component state was applied by the component's setState on this same object.
    return kResultOk;
}

tresult Vst3Plugin::setControllerState(IBStream* /*state*/) {
    return kResultOk;
}

tresult Vst3Plugin::getControllerState(IBStream* /*state*/) {
    return kResultOk;
}

int32 PLUGIN_API Vst3Plugin::getParameterCount() {
    return mPlug->NParams() + 1;
}

tresult PLUGIN_API Vst3Plugin::getParameterInfo(int32 paramIndex, ParameterInfo& info) {
    if (paramIndex < 0 || paramIndex > mPlug->NParams()) return kInvalidArgument;
    std::memset(&info, 0, sizeof(info));
    info.id = static_cast<ParamID>(paramIndex);
    info.unitId = kRootUnitId;
    constexpr size_t kLen = sizeof(info.title) / sizeof(info.title[0]);
    if (static_cast<ParamID>(paramIndex) == BypassParamId()) {
        CopyUtf8ToUtf16("Host Bypass", info.title, kLen);
        CopyUtf8ToUtf16("Bypass", info.shortTitle, kLen);
        info.stepCount = 1;
        info.defaultNormalizedValue = 0.0;
        info.flags = ParameterInfo::kCanAutomate | ParameterInfo::kIsBypass;
        return kResultOk;
    }
    const Param* param = mPlug->GetParam(paramIndex);
    CopyUtf8ToUtf16(param->GetName(), info.title, kLen);
    CopyUtf8ToUtf16(param->GetName(), info.shortTitle, kLen);
    CopyUtf8ToUtf16(param->GetLabel(), info.units, kLen);
    info.stepCount = param->GetStepCount();
    info.defaultNormalizedValue = param->GetDefaultNormalized();
    info.flags = ParameterInfo::kCanAutomate;
    return kResultOk;
}

tresult PLUGIN_API Vst3Plugin::getParamStringByValue(ParamID id, ParamValue valueNormalized,
                                                     String128 string) {
    if (!string) return kInvalidArgument;
    return Guarded<tresult>(kInternalError, [&]() -> tresult {
        constexpr size_t kLen = 128;
        if (id == BypassParamId()) {
            CopyUtf8ToUtf16(valueNormalized >= 0.5 ? "On" : "Off", string, kLen);
            return kResultOk;
        }
        const Param* param = mPlug->GetParam(static_cast<int>(id));
        if (!param) return kInvalidArgument;
        CopyUtf8ToUtf16(param->DisplayText(param->FromNormalized(valueNormalized)).c_str(), string, kLen);
        return kResultOk;
    });
}

tresult PLUGIN_API Vst3Plugin::getParamValueByString(ParamID id, TChar* string, ParamValue& valueNormalized) {
    if (!string) return kInvalidArgument;
    return Guarded<tresult>(kInternalError, [&]() -> tresult {
        const std::string text = Utf16ToUtf8(string, 128);
        if (id == BypassParamId()) {
            if (text == "On" || text == "on" || text == "1")
                valueNormalized = 1.0;
            else if (text == "Off" || text == "off" || text == "0")
                valueNormalized = 0.0;
            else
                return kResultFalse;
            return kResultOk;
        }
        const Param* param = mPlug->GetParam(static_cast<int>(id));
        if (!param) return kInvalidArgument;
        double value = 0.0;
        if (!param->FromDisplayText(text.c_str(), value)) return kResultFalse;
        valueNormalized = param->ToNormalized(value);
        return kResultOk;
    });
}

ParamValue PLUGIN_API Vst3Plugin::normalizedParamToPlain(ParamID id, ParamValue valueNormalized) {
    if (id == BypassParamId()) return valueNormalized >= 0.5 ? 1.0 : 0.0;
    const Param* param = mPlug->GetParam(static_cast<int>(id));
    return param ? param->FromNormalized(valueNormalized) : 0.0;
}

ParamValue PLUGIN_API Vst3Plugin::plainParamToNormalized(ParamID id, ParamValue plainValue) {
    if (id == BypassParamId()) return plainValue >= 0.5 ? 1.0 : 0.0;
    const Param* param = mPlug->GetParam(static_cast<int>(id));
    return param ? param->ToNormalized(plainValue) : 0.0;
}

ParamValue PLUGIN_API Vst3Plugin::getParamNormalized(ParamID id) {
    if (id == BypassParamId()) return mPlug->GetHostBypassed() ? 1.0 : 0.0;
    const Param* param = mPlug->GetParam(static_cast<int>(id));
    return param ? param->GetNormalized() : 0.0;
}

tresult PLUGIN_API Vst3Plugin::setParamNormalized(ParamID id, ParamValue value) {
    if (id != BypassParamId() && !mPlug->GetParam(static_cast<int>(id))) return kInvalidArgument;
    if (!std::isfinite(value)) return kInvalidArgument;
    return Guarded<tresult>(kInternalError, [&]() -> tresult {
        SetParamFromHost(id, value);
        return kResultOk;
    });
}

tresult PLUGIN_API Vst3Plugin::setComponentHandler(IComponentHandler* handler) {
    if (handler == mHandler.load()) return kResultOk;
    if (handler) handler->addRef();
    if (IComponentHandler* old = mHandler.exchange(handler)) old->release();
    return kResultOk;
}

IPlugView* PLUGIN_API Vst3Plugin::createView(FIDString name) {
    if (!name || std::strcmp(name, ViewType::kEditor) != 0 || !mPlug->GetConfig().plugHasUI) return nullptr;
    return Guarded<IPlugView*>(nullptr, [&]() -> IPlugView* { return new Vst3View(this); });
}

// ---- Host calls from the editor --------------------------------------------------------------------------

void Vst3Plugin::CallHostEdit(const HostEdit& edit) {
    IComponentHandler* handler = mHandler.load(std::memory_order_acquire);
    if (!handler) return;
    const auto id = static_cast<ParamID>(edit.paramIdx);
    switch (edit.kind) {
    case HostEdit::Kind::Begin:
        handler->beginEdit(id);
        break;
    case HostEdit::Kind::Perform:
        handler->performEdit(id, edit.normalized);
        break;
    case HostEdit::Kind::End:
        handler->endEdit(id);
        break;
    }
}

void Vst3Plugin::BeginEdit(int paramIdx) {
    const HostEdit edit{HostEdit::Kind::Begin, paramIdx, 0.0};
    if (mDeferHostCalls.load(std::memory_order_acquire))
        mEdits.Push(edit);
    else
        CallHostEdit(edit);
}

void Vst3Plugin::PerformEdit(int paramIdx, double normalized) {
    const HostEdit edit{HostEdit::Kind::Perform, paramIdx, normalized};
    if (mDeferHostCalls.load(std::memory_order_acquire))
        mEdits.Push(edit);
    else
        CallHostEdit(edit);
}

void Vst3Plugin::EndEdit(int paramIdx) {
    const HostEdit edit{HostEdit::Kind::End, paramIdx, 0.0};
    if (mDeferHostCalls.load(std::memory_order_acquire))
        mEdits.Push(edit);
    else
        CallHostEdit(edit);
}

bool Vst3Plugin::ResizeView(int width, int height) {
    if (width < 1 || height < 1) return false;
    if (mDeferHostCalls.load(std::memory_order_acquire)) {
        mPendingResize.store(PackSize(width, height), std::memory_order_release);
        return true;
    }
    return ResizeViewNow(width, height);
}

void Vst3Plugin::ParamValuesChanged() {
    if (mDeferHostCalls.load(std::memory_order_acquire))
        mValuesChanged.store(true, std::memory_order_release);
    else
        RestartComponentValues();
}

void Vst3Plugin::RestartComponentValues() {
    if (IComponentHandler* handler = mHandler.load(std::memory_order_acquire))
        handler->restartComponent(kParamValuesChanged);
}

bool Vst3Plugin::ResizeViewNow(int width, int height) {
    Vst3View* view = mView.load(std::memory_order_acquire);
    return view && view->ResizeFromPlugin(width, height);
}

void Vst3Plugin::DrainHostCalls(bool includeResize) {
    HostEdit edit;
    while (mEdits.Pop(edit)) CallHostEdit(edit);
    // Edits that found the queue full are not lost: their values are set; the host re-reads them all.
    const bool lost = mEdits.TakeOverflow();
    if (mValuesChanged.exchange(false, std::memory_order_acq_rel) || lost) RestartComponentValues();
    const uint64_t resize = mPendingResize.exchange(0, std::memory_order_acq_rel);
    if (includeResize && resize != 0) {
        ResizeViewNow(static_cast<int>(resize >> 32), static_cast<int>(resize & 0xFFFFFFFFu));
    }
}

void Vst3Plugin::SetView(Vst3View* view, Vst3View* expected) {
    if (!expected)
        mView.store(view, std::memory_order_release);
    else
        mView.compare_exchange_strong(expected, view, std::memory_order_acq_rel);
}

} // namespace nx::vst3
