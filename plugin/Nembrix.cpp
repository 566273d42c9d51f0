// Nembrix: construction, preparation, the audio callback, renaming and destruction.
// Construction and destruction run on host threads; ProcessBlock on the audio thread.
#include "plugin/Nembrix.h"

#include "plugin/ScopedFlushDenormals.h"
#include "presets/NembrixPresetMgr.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace nx {
namespace {

// Process-wide: one number per constructed instance, never reused.
std::atomic<int32_t> sInstanceCounter{0};

constexpr double kDefaultSampleRate = 44100.0;
// Host values beyond these are not audio set-ups; they would only make the buffers absurdly large.
constexpr double kMaxSampleRate = 768000.0;
constexpr int kMaxBlockSize = 1 << 20;

PluginConfig MakeConfig() {
    PluginConfig c;
    c.nParams = kNumParams;
    c.nPresets = 4;
    c.channelIO = "2-2";
    c.pluginName = "Nembrix";
    c.productName = "Nembrix";
    c.mfrName = "VornAudio";
    c.vendorVersion = 0x00010000; // 1.0.0
    c.uniqueId = FourCC("Vonx");
    c.mfrId = FourCC("Vorn");
    c.latency = 0;
    c.plugDoesMidiIn = false;
    c.plugDoesMidiOut = false;
    c.plugDoesMPE = false;
    c.plugDoesChunks = true;
    c.plugIsInstrument = false;
    c.plugHasUI = true;
    c.editorWidth = 960;
    c.editorHeight = 622;
    c.minWidth = 320;
    c.minHeight = 207;
    c.maxWidth = 2880;
    c.maxHeight = 1866;
    c.hostResize = true;
    c.bundleId = "";
    c.appGroupId = "";
    return c;
}

double usableSampleRate(double rate) {
    if (!(rate > 0.0) || !std::isfinite(rate)) return kDefaultSampleRate;
    return std::min(rate, kMaxSampleRate);
}

// Copies one channel of doubles unless either side is missing or both are the same buffer.
void copyChannel(const double* in, double* out, int n) {
    if (in == nullptr || out == nullptr || in == out || n <= 0) return;
    std::memcpy(out, in, sizeof(double) * static_cast<size_t>(n));
}

void toDouble(const float* in, double* out, int n) {
    if (out == nullptr) return;
    for (int k = 0; k < n; ++k) out[k] = static_cast<double>(in[k]);
}

} // namespace

Nembrix::Nembrix() : PluginBase(MakeConfig()) {
    // Parameters in id order, then the host presets (every other parameter at its default).
    const ParamSpec* table = ParamTable();
    for (int i = 0; i < kNumParams; ++i) {
        const ParamSpec& p = table[i];
        Param* param = AddParam();
        if (p.isInt) {
            param->InitInt(p.name, static_cast<int>(p.defaultValue), static_cast<int>(p.minValue),
                           static_cast<int>(p.maxValue), p.label);
        } else {
            param->InitDouble(p.name, p.defaultValue, p.minValue, p.maxValue, p.step, p.label);
        }
    }
    MakePresetFromNamedParams("Whisper", {{kParamXYx, 0.0}, {kParamXYy, 0.0}});
    MakePresetFromNamedParams("Poltergeist", {{kParamXYx, 1.0}, {kParamXYy, 0.0}});
    MakePresetFromNamedParams("Abyss", {{kParamXYx, 0.0}, {kParamXYy, 1.0}});
    MakePresetFromNamedParams("Monolith", {{kParamXYx, 1.0}, {kParamXYy, 1.0}});

    const int32_t number = sInstanceCounter.fetch_add(1, std::memory_order_relaxed) + 1;
    std::snprintf(instanceName, sizeof instanceName, "Nembrix #%d", static_cast<int>(number));

    shm.open();
    if (shm.isConnected()) shm.setSlotName(instanceName);

    // Preset store: the factory presets, then the user's presets read with the parameter keys.
    presetMgr = std::make_unique<NembrixPresetMgr>("Nembrix", "nxpreset", kNumParams);
    presetMgr->LoadFactoryPresets();
    presetMgr->factoryCount = static_cast<int32_t>(presetMgr->presets.size());
    presetMgr->ScanUserPresets(ParamNames());
    presetMgr->currentIndex = 0;
    presetMgr->modified.store(false);

    for (std::vector<float>* buffer : {&inL, &inR, &outL, &outR, &peerSum, &sendMono})
        buffer->assign(kDefaultBlockSize, 0.0f);
    maxBlock = kDefaultBlockSize;

    engine.prepare(kDefaultSampleRate, kDefaultBlockSize);
}

// Members go in reverse order of declaration: work buffers, registry slot, engine (joining its worker),
// undo history, preset store, then the framework base.
Nembrix::~Nembrix() = default;

void Nembrix::prepareDSP(bool reconnect) {
    sampleRate = usableSampleRate(GetSampleRate());
    const int hostBlock = GetBlockSize();
    maxBlock = hostBlock < 1 ? kDefaultBlockSize : std::min(hostBlock, kMaxBlockSize);

    // Offline renders analyse in step with the audio so that a bounce depends on its input alone.
    engine.setOfflineMode(IsRenderingOffline());
    engine.prepare(sampleRate, maxBlock);
    engine.reset();

    if (inL.size() < static_cast<size_t>(maxBlock)) {
        for (std::vector<float>* buffer : {&inL, &inR, &outL, &outR, &peerSum, &sendMono})
            buffer->assign(static_cast<size_t>(maxBlock), 0.0f);
    }

    if (reconnect && !shm.isConnected()) shm.open();
    if (shm.isConnected()) copyNameToSlot(reconnect);

    pushAllParamsToEngine();
    prepared.store(true, std::memory_order_release);
}

void Nembrix::OnReset() {
    prepareDSP(true);
}

void Nembrix::OnProcessingRestart() {
    engine.reset();
}

void Nembrix::ProcessBlock(double** inputs, double** outputs, int nFrames) {
    const ScopedFlushDenormals flushDenormals;
    processBlockCount.fetch_add(1, std::memory_order_relaxed);
    if (!prepared.load(std::memory_order_acquire)) prepareDSP(false);

    int nIn = NInChansConnected();
    int nOut = NOutChansConnected();
    if (nIn <= 0) nIn = 2;
    if (nOut <= 0) nOut = 2;
    const bool mono = std::max(nIn, nOut) == 1;
    // Channel 1 is used only where the framework reports it connected: a mono side has no second pointer.
    const double* in0 = inputs != nullptr ? inputs[0] : nullptr;
    const double* in1 = (inputs != nullptr && !mono && nIn > 1) ? inputs[1] : nullptr;
    double* out0 = outputs != nullptr ? outputs[0] : nullptr;
    double* out1 = (outputs != nullptr && !mono && nOut > 1) ? outputs[1] : nullptr;

    if (GetParam(kParamBypass)->Int() != 0) {
        copyChannel(in0, out0, nFrames);
        copyChannel(in1, out1, nFrames);
        return;
    }

    const int mode = engine.currentMode();
    const bool attached = shm.isConnected();
    engine.setBpm(static_cast<float>(GetTempo()));

    const int n = nFrames;
    if (n < 0 || n > maxBlock || static_cast<size_t>(n) > inL.size()) return;

    // Read all of the input before any output is written: hosts process in place.
    if (in0 != nullptr) {
        for (int k = 0; k < n; ++k) inL[k] = static_cast<float>(in0[k]);
    } else {
        std::fill_n(inL.data(), n, 0.0f);
    }
    if (in1 != nullptr) {
        for (int k = 0; k < n; ++k) inR[k] = static_cast<float>(in1[k]);
    } else {
        std::copy_n(inL.data(), n, inR.data());
    }

    if (mode == 1) {
        if (attached) {
            for (int k = 0; k < n; ++k) {
                const float v = (inL[k] + inR[k]) * 0.5f;
                sendMono[k] = std::isfinite(v) ? v : 0.0f;
            }
            shm.publish(sendMono.data(), n);
        }
        toDouble(inL.data(), out0, n);
        toDouble(inR.data(), out1, n);
        return;
    }

    std::fill_n(peerSum.data(), n, 0.0f);
    if (attached) {
        // A peer ring holds kRingSamples samples: a longer host block is exchanged and processed in
        // pieces of at most that length, so no part of it loses its peer signal. An empty block still
        // refreshes the heartbeat.
        const int link = linkSlot.load(std::memory_order_relaxed);
        const uint64_t linked = linkedPeerId.load(std::memory_order_relaxed);
        int done = 0;
        do {
            const int piece = std::min(n - done, kRingSamples);
            shm.gather(peerSum.data() + done, piece, link, linked, mutedPeerIds);
            if (piece >= 1)
                engine.processBlock(inL.data() + done, inR.data() + done, peerSum.data() + done,
                                    outL.data() + done, outR.data() + done, piece);
            shm.publish(engine.localDryMono(), piece);
            done += piece;
        } while (done < n);
    } else if (n >= 1) {
        engine.processBlock(inL.data(), inR.data(), nullptr, outL.data(), outR.data(), n);
    }
    toDouble(outL.data(), out0, n);
    toDouble(outR.data(), out1, n);
}

void Nembrix::SetInstanceName(const char* name) {
    if (name == nullptr) return;
    std::lock_guard<std::mutex> lock(nameMutex);
    std::strncpy(instanceName, name, kNameBytes - 1);
    instanceName[kNameBytes - 1] = '\0';
    if (shm.isConnected()) shm.setSlotName(instanceName);
}

void Nembrix::getInstanceName(char* out, int outSize) const {
    if (out == nullptr || outSize <= 0) return;
    std::lock_guard<std::mutex> lock(nameMutex);
    std::snprintf(out, static_cast<size_t>(outSize), "%s", instanceName);
}

void Nembrix::copyNameToSlot(bool mayWait) {
    std::unique_lock<std::mutex> lock(nameMutex, std::defer_lock);
    if (mayWait) {
        lock.lock();
    } else if (!lock.try_lock()) {
        return; // the next prepareDSP copies it
    }
    shm.setSlotName(instanceName);
}

} // namespace nx
