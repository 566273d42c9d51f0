// Nembrix, the plug-in class both deliverables instantiate: parameters, the audio callback, routing of
// parameter values to the engine, the state chunk, and the members the editor reads and writes.
// Thread rules are noted per member; the audio thread only ever enters through ProcessBlock.
#pragma once

#include "dsp/PhantomEngine.h"
#include "framework/PluginBase.h"
#include "peerlink/NembrixSHM.h"
#include "plugin/NembrixParams.h"
#if NX_HAS_UI
#include "ui/NembrixUI.h"
#endif

#include <atomic>
#include <cstdint>
#include <deque>
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
    // Editor hooks, host's main thread (plugin/NembrixEditor.cpp). Without the editor built they open
    // nothing.
    void* OpenWindow(void* parent) override;
    void CloseWindow() override;
    void ConstrainEditorResize(int& width, int& height) const override;
    void OnParentWindowResize(int width, int height) override;

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

    // ---- Presets (editor's UI thread; plugin/NembrixPresets.cpp) -------------------------------------
    // Loads list entry index into the parameters (each constrained) and the override mask, pushes them to
    // the engine and tells the host; an index outside the list changes nothing. Records no undo step.
    void applyPreset(int index);
    // Saves the current parameters and override mask as the user preset name; false when nothing was
    // saved (parameters, list and flags then stay as they were).
    bool savePresetAs(const char* name);

    // ---- Undo history (editor's UI thread; plugin/NembrixUndo.cpp) -----------------------------------
    struct UndoSnapshot {
        std::vector<double> values; // every parameter's value, in id order
        uint32_t overrideMask = 0;  // advOverrideMask at capture time
    };
    static constexpr size_t kMaxUndoSteps = 64; // per stack; the oldest step is dropped beyond it

    UndoSnapshot captureSnapshot() const;
    // Makes s the current state (values constrained), pushes it to the engine, tells the host and marks
    // the current preset modified.
    void applyUndoSnapshot(const UndoSnapshot& s);
    // Records the current state as an undo step and clears the redo steps; the editor calls it before
    // it starts changing a value.
    void pushUndoSnapshot();
    void undo();
    void redo();
    bool canUndo() const;
    bool canRedo() const;

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
    // Undo history, newest at the back; both guarded by undoMutex, which is never held while a snapshot
    // is applied.
    std::deque<UndoSnapshot> undoStack, redoStack;
    mutable std::mutex undoMutex;

    PhantomEngine engine;
    NembrixSHM shm;
    std::atomic<uint64_t> mutedPeerIds[kMutedPeerEntries] = {};
    std::atomic<int32_t> linkSlot{0};      // LinkSlot clamped to 0..16
    std::atomic<uint64_t> linkedPeerId{0}; // the peer linkSlot resolved to; 0 = none
#if NX_HAS_UI
    NembrixUI ui; // the editor; closed until the host opens it, joined before the registry and engine go
#endif

private:
    // Audio work buffers: grown by prepareDSP only, never shrunk.
    std::vector<float> inL, inR, outL, outR, peerSum, sendMono;
    int32_t maxBlock = kDefaultBlockSize;
};

} // namespace nx
