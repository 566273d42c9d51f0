// A small plug-in host: loads a built Nembrix.clap or Nembrix.vst3 with dlopen and drives one instance
// the way a DAW does (set-up, audio blocks with parameter changes and tempo, state, editor). Tests and
// tools use this format-neutral interface; ClapHost.h and Vst3Host.h add what only one format has.
//
// Threads: call everything from one "main" thread except process(), which may run on another thread
// (the audio thread of this host). pumpMainThread() delivers what the plug-in asked to run on the main
// thread (VST3 run-loop timers and fd handlers, CLAP on_main_thread, flushes, resize requests).
//
// Editor use (tests/editor):
//   X11ParentWindow parent(960, 622);                 // host/X11ParentWindow.h, needs DISPLAY
//   auto h = nx::host::openPlugin(path, &err);
//   EditorSize sz;
//   h->openEditor(parent.id(), 1.0, &sz);             // VST3: createView + attached; CLAP: create..show
//   parent.resize(1200, 900); h->resizeEditor(1200, 900, &sz);
//   while (...) h->pumpMainThread();                   // run-loop timers: edits and resize requests
//   h->takeEdits();                                    // begin/perform/end with the calling thread
//   h->closeEditor();
// A test that wants the run loop on a thread of its own calls pumpMainThread() only from that thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace nx::host {

enum class Format { Clap, Vst3 };

// Format from a path: "*.vst3" (bundle folder or the .so inside one) is VST3, everything else CLAP.
Format formatFromPath(const std::string& path);

struct ParamInfo {
    uint32_t id = 0; // the format's parameter id
    std::string name;
    std::string units; // VST3 only (CLAP has no unit field)
    double minValue = 0.0, maxValue = 1.0, defaultValue = 0.0;
    int stepCount = 0; // VST3: discrete steps; CLAP: maxValue - minValue when stepped, else 0
    bool stepped = false;
    bool automatable = true;
    bool readOnly = false;
    bool isBypass = false; // a host-level bypass parameter (VST3 kIsBypass / CLAP IS_BYPASS)
};

struct ProcessSetup {
    double sampleRate = 44100.0;
    int maxBlock = 512;
    bool offline = false;         // VST3 kOffline / CLAP render mode offline
    bool doublePrecision = false; // VST3: 64-bit buffers; CLAP always offers both (data64 used)
    int channels = 2;             // 1 = mono bus arrangement (VST3) / one-channel port buffer (CLAP)
};

// One call from the plug-in to the host about a parameter, as the host saw it.
struct HostEdit {
    enum class Kind { Begin, Perform, End, Restart };
    Kind kind = Kind::Perform;
    uint32_t paramId = 0;
    double value = 0.0; // Perform: VST3 normalised value, CLAP plain value
    std::thread::id thread;
};

struct EditorSize {
    int width = 0, height = 0;
};

class PluginHost {
public:
    virtual ~PluginHost() = default;

    virtual Format format() const = 0;
    virtual const std::string& path() const = 0;

    // ---- Parameters (main thread) -------------------------------------------------------------------
    virtual const std::vector<ParamInfo>& params() const = 0;
    // Index in params() of the parameter with this name, or -1.
    int paramIndex(const std::string& name) const;
    // Current plain value, as the plug-in reports it.
    virtual double paramValue(int index) = 0;
    // Sets a plain value the way a host's automation does: the change reaches the plug-in's audio side
    // at offset 0 of the next process() block (or through a flush while not processing). False for a
    // bad index or a value the plug-in refused.
    virtual bool setParam(int index, double plainValue) = 0;
    // The plug-in's display text of a plain value.
    virtual std::string paramText(int index, double plainValue) = 0;

    // ---- Processing --------------------------------------------------------------------------------
    // Main thread: prepare for processing (VST3 setupProcessing/setActive(true)/setProcessing(true);
    // CLAP activate, start_processing at the first process call on the audio thread).
    virtual bool activate(const ProcessSetup& setup) = 0;
    virtual void deactivate() = 0;
    virtual bool isActive() const = 0;
    // Host tempo in BPM for the following blocks; 0 = no transport.
    virtual void setTempo(double bpm) = 0;
    // One block of n frames, stereo (or mono when activated with channels = 1). Buffers may alias (in
    // place). False when not active, n exceeds what the host may send, or the plug-in reports an error.
    virtual bool process(const float* const* in, float* const* out, int n) = 0;
    virtual bool process(const double* const* in, double* const* out, int n) = 0;

    // ---- State (main thread) -----------------------------------------------------------------------
    // maxBytesPerCall > 0 limits every stream read or write the plug-in makes (short reads and writes).
    virtual bool saveState(std::vector<uint8_t>& out, int maxBytesPerCall = 0) = 0;
    virtual bool loadState(const std::vector<uint8_t>& in, int maxBytesPerCall = 0) = 0;

    // ---- Editor (main thread) ----------------------------------------------------------------------
    virtual bool hasEditor() = 0;
    // Opens the editor inside the X11 window parentWindow; size gets the editor's size.
    virtual bool openEditor(unsigned long parentWindow, double scale, EditorSize* size) = 0;
    // The host resized its container: tells the editor (VST3 checkSizeConstraint + onSize; CLAP
    // adjust_size + set_size). size gets what the editor accepted.
    virtual bool resizeEditor(int width, int height, EditorSize* size) = 0;
    virtual bool showEditor(bool visible) = 0; // CLAP show/hide; VST3: false (no such call)
    virtual void closeEditor() = 0;
    virtual bool editorOpen() const = 0;
    // Sizes the plug-in asked for (VST3 IPlugFrame::resizeView, CLAP request_resize), oldest first.
    std::vector<EditorSize> takeResizeRequests();

    // Runs what the plug-in handed to the host's main thread. Returns the number of callbacks made.
    virtual int pumpMainThread() = 0;

    // Parameter calls from the plug-in to the host since the last call (VST3 component handler; CLAP
    // output events of process/flush), oldest first.
    std::vector<HostEdit> takeEdits();

protected:
    void recordEdit(const HostEdit& e);
    void recordResizeRequest(int width, int height);

private:
    std::mutex mRecordMutex;
    std::vector<HostEdit> mEdits;
    std::vector<EditorSize> mResizeRequests;
};

// Loads the module at path (format from the file name) and creates one instance of its first (only)
// plug-in class. On failure returns null and, when error is given, a one-line reason.
std::unique_ptr<PluginHost> openPlugin(const std::string& path, std::string* error = nullptr);
std::unique_ptr<PluginHost> openPlugin(const std::string& path, Format format, std::string* error = nullptr);

} // namespace nx::host
