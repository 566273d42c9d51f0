// Nembrix, the plug-in class both deliverables instantiate: parameters, the audio callback, routing of
// parameter values to the engine, the state chunk, and the members the editor reads and writes.
// Thread rules are noted per member; the audio thread only ever enters through ProcessBlock.
#pragma once

#include "dsp/PhantomEngine.h"
#include "framework/PluginBase.h"
#include "peerlink/NembrixSHM.h"
#include "plugin/NembrixParams.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace nx {

class NembrixPresetMgr;

class Nembrix : public PluginBase {
public:
    static constexpr int kNameBytes = 64;        // instance name buffer, NUL-terminated
    static constexpr int kMutedPeerEntries = 16; // 0 = empty entry
    static constexpr int kDefaultBlockSize = 4096;

    Nembrix();
    ~Nembrix() override;

    // ---- Framework hooks ----------------------------------------------------------------------------
    // Audio thread.
    void ProcessBlock(double** inputs, double** outputs, int nFrames) override;
    // Main thread (host set-up): prepareDSP(true).
    void OnReset() override;
    // Processing (re)starts, possibly on the audio thread: clears the engine's audio state only.
    void OnProcessingRestart() override;
    // Any thread.
    void OnParamChange(int paramIdx) override;
    // Host threads.
    bool SerializeState(ByteChunk& chunk) const override;
    int UnserializeState(const ByteChunk& chunk, int startPos) override;
    void OnRestoreState() override;

    // ---- Own operations -----------------------------------------------------------------------------
    // (Re)prepares engine and work buffers for the framework's sample rate and block size, attaches to the
    // registry when reconnect is set, and pushes every parameter. Main thread, or once on the audio thread
    // (reconnect false) when the host never reset the plug-in.
    void prepareDSP(bool reconnect);
    void pushAllParamsToEngine();
    void pushAdvancedToEngine();
    // Sets or clears override bit 0..8 (other bits are ignored), then sends the advanced values.
    void setAdvOverride(int bit, bool on);
    // Renames the instance (at most 63 characters) and its registry slot; null is ignored. Any thread
    // but the audio thread.
    void SetInstanceName(const char* name);
    // Copies the instance name into out (always NUL-terminated when outSize > 0). Any thread but audio.
    void getInstanceName(char* out, int outSize) const;

    bool isPrepared() const { return prepared.load(std::memory_order_acquire); }
    double preparedSampleRate() const { return sampleRate; }
    int preparedBlockSize() const { return maxBlock; }

private:
    void resolveLink();
    void markPresetModified();
    // Copies the name into the registry slot; on the audio thread only when the name lock is free.
    void copyNameToSlot(bool mayWait);
    // Reads the chunk's header fields; returns where its parameters start, or -1 when it was cut short.
    int readChunkHeader(const ByteChunk& chunk, int startPos);

    mutable std::mutex nameMutex; // guards instanceName (editor, state, host threads)
    char instanceName[kNameBytes] = {};
    double sampleRate = 44100.0;
    std::atomic<bool> prepared{false};

public:
    // ---- Shared with the editor ---------------------------------------------------------------------
    std::atomic<uint64_t> processBlockCount{0};
    std::atomic<uint32_t> advOverrideMask{0};   // bits 0..8; whole stores or read-modify-write
    std::atomic<bool> advancedPanelOpen{false}; // saved in the state chunk

    // Preset store (owned; null until created in the constructor).
    std::unique_ptr<NembrixPresetMgr> presetMgr;

    PhantomEngine engine;
    NembrixSHM shm;
    std::atomic<uint64_t> mutedPeerIds[kMutedPeerEntries] = {};
    std::atomic<int32_t> linkSlot{0};      // LinkSlot clamped to 0..16
    std::atomic<uint64_t> linkedPeerId{0}; // the peer linkSlot resolved to; 0 = none

private:
    // Audio work buffers: grown by prepareDSP only, never shrunk.
    std::vector<float> inL, inR, outL, outR, peerSum, sendMono;
    int32_t maxBlock = kDefaultBlockSize;
};

} // namespace nx
