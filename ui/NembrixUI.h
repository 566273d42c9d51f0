// The plug-in's editor: one object per plug-in instance, closed until the host opens the editor. Open()
// starts a UI thread that owns everything graphical (pugl world and view embedded in the host's X11
// window, the GL 2.1 context, NanoVG with the "sans" face and the logo); Close() stops and joins it.
// Host threads only call Open, Close and requestResize; everything else runs on the UI thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

struct PuglWorldImpl;
struct PuglViewImpl;
struct NVGcontext;
struct _XDisplay;

namespace nx {

class Nembrix;

// Control ids of the editor (-1 = none). Range ids add the row or knob index to their base.
namespace ctl {
constexpr int kNone = -1;
constexpr int kPad = 0;
constexpr int kFaderFirst = 1; // 1..5: harmonic, rhythmic, wash, return, dry/wet
constexpr int kFaderLast = 5;
constexpr int kSliderHP = 6;
constexpr int kSliderLP = 7;
constexpr int kSliderWow = 8;
constexpr int kMode = 9;
constexpr int kName = 10;
constexpr int kPeersPill = 11;
constexpr int kBypass = 12;
constexpr int kLogo = 13;
constexpr int kGrip = 14;
constexpr int kSnap = 15;
constexpr int kAdvToggle = 16;
constexpr int kPrevPreset = 17;
constexpr int kPresetBox = 18;
constexpr int kNextPreset = 19;
constexpr int kSave = 20;
constexpr int kDialogSave = 21;
constexpr int kDialogCancel = 22;
constexpr int kDialogName = 23;
constexpr int kRootBox = 29;
constexpr int kPeerRow = 1000;
constexpr int kKnob = 2000;
constexpr int kPresetRow = 3000;
constexpr int kRootRow = 4000;
constexpr int kPresetDelete = 5000;
} // namespace ctl

// Parameter ids the editor drives.
namespace pid {
constexpr int kXYx = 0, kXYy = 1, kHarmonicLevel = 2, kDryWet = 6, kHP = 7, kLP = 8, kMode = 9, kWow = 11,
              kBypass = 12, kCharacter = 13, kRootNote = 22;
} // namespace pid

class NembrixUI {
public:
    // Design canvas, in design units.
    static constexpr float kDesignW = 960.0f;
    static constexpr float kDesignH = 622.0f;
    static constexpr float kDesignHAdvanced = 762.0f;

    struct Rect {
        float x = 0, y = 0, w = 0, h = 0;
        bool contains(float px, float py, float margin = 0.0f) const {
            return x - margin <= px && px <= x + w + margin && y - margin <= py && py <= y + h + margin;
        }
    };
    using HSlider = Rect;

    // Start-up record handed to the UI thread.
    struct InitData {
        void* parent = nullptr;
        int width = 0;
        int height = 0;
    };

    NembrixUI();
    ~NembrixUI();
    NembrixUI(const NembrixUI&) = delete;
    NembrixUI& operator=(const NembrixUI&) = delete;

    // ---- Host threads ---------------------------------------------------------------------------------
    // Opens the editor inside the X11 window `parent` (ignored while one is open). plug may be null: the
    // editor then shows only its own state.
    void Open(void* parent, int width, int height, Nembrix* plug);
    // Stops and joins the UI thread; returns whether the editor was running. Harmless when closed.
    bool Close();
    // Asks the UI thread to resize the view (both > 0); any thread.
    void requestResize(int w, int h);
    bool isRunning() const { return running.load(std::memory_order_acquire); }

    // Hooks of another platform's windowing; nothing on Linux.
    void macSetupOnMainThread(void*, int, int) {}
    void macTickOnMainThread() {}
    void macCleanupOnMainThread() {}

    // ---- Layout (Part of the UI thread's state; pure functions of the stored geometry) ------------------
    void computeLayout();
    void mouseToDesign(float px, float py, float& dx, float& dy) const;
    // Control id under a design-unit point; the caller holds stateMutex.
    int hitTest(float dx, float dy) const;
    float designHeight() const { return advancedOpen ? kDesignHAdvanced : kDesignH; }

    // ---- UI thread ------------------------------------------------------------------------------------
    // pugl event entry; returns pugl's status (0 success).
    int onEvent(void* view, const void* event);
    void drawFrame(void* view);

    // Parameter changes from the editor: set the value and inform the host (gesture handled by callers).
    void applyParam(int index, float normalized);
    void resetParamToDefault(int index);
    void beginNameEdit();
    void commitNameEdit();
    void cancelNameEdit();

    // ---- Process-wide test controls -------------------------------------------------------------------
    // Replaces the steady clock (nanoseconds) used by the interaction and animation; null restores it.
    static void setClockForTesting(int64_t (*clock)());
    // Makes the next realize behave as if loading the GL functions failed.
    static void simulateGlLoaderFailureForTesting(bool fail);
    // Makes the next realize behave as if fontconfig found no font.
    static void simulateMissingFontForTesting(bool missing);
    // Counts frames drawn by any editor of this module, and X errors swallowed on editor connections.
    static uint64_t framesDrawnForTesting();
    static uint64_t xErrorsSwallowedForTesting();
    // Time the UI threads of this module spent per frame tick in event handling, drawing and the buffer
    // swap (nanoseconds): total and longest tick.
    static uint64_t drawTimeTotalNs();
    static uint64_t drawTimeMaxNs();

private:
    friend struct NembrixUITestAccess;
    friend int puglEventDispatch(PuglViewImpl* view, const void* event);

    void UIThreadFunc(InitData init);
    void runFrameLoop(const InitData& init);
    void followParentWindow();
    void registryUpkeep();
    bool windowStillExists();
    void onRealize();
    void onUnrealize();
    void advancePanelAnimation(int64_t nowNs);
    void seedOrbs();
    // Input handlers (UIInput.cpp); coordinates in window pixels, root x in root-window pixels.
    void onMotion(void* view, float x, float y, float xRoot);
    void onButtonPress(void* view, float x, float y, float xRoot, float yRoot);
    void onButtonRelease(void* view);
    void onKeyPress(uint32_t key, uint32_t mods);
    void onText(uint32_t codepoint);
    // Interaction helpers (UIInput.cpp); called with stateMutex held unless noted.
    void dragTo(int id, float dx, float dy);
    void beginGesture(int index);
    void endGestures();
    void applyParamOnce(int index, float normalized); // begin, value, end
    void resetParamOnce(int index);
    double currentNormalized(int index) const;
    void applyPresetWithGestures(int presetIndex);
    void openSaveDialog(void* view);
    void closeSaveDialog();
    bool deletePresetRow(int row);
    void toggleMute(uint64_t peerId);
    void toggleAdvancedPanel(std::unique_lock<std::mutex>& lock); // releases the lock
    int activeIdLocked();
    static int64_t nowNs();

    // ---- Drawing (UIDraw.cpp, UIDrawPanels.cpp) ---------------------------------------------------------
    // What one frame reads once: states, hover and active ids, popups and edit buffers.
    struct FrameState {
        float designH = 622.0f;
        bool sendMode = false, bypassed = false, padInactive = false;
        float bodyAlpha = 1.0f;
        int hover = -1, active = -1;
        bool studio = false, snap = false;
        bool nameEditing = false;
        std::string nameBuffer;
        bool peerListOpen = false, presetMenuOpen = false, rootListOpen = false, saveDialogOpen = false;
        std::string saveName;
    };
    struct PresetLabel {
        std::string text; // name, " *" when modified
        bool isUser = false;
    };
    struct PeerEntry {
        int slot = -1;
        uint64_t id = 0;
        char name[40] = {};
        bool muted = false;
    };
    void drawPad(const FrameState& f);
    void drawFaders(const FrameState& f);
    void drawHeader(const FrameState& f);
    void drawFooter();
    void drawSliders(const FrameState& f);
    void drawModeButton(const FrameState& f);
    void drawPeerList(const FrameState& f);
    void drawPresetMenu(const FrameState& f);
    void drawRootList(const FrameState& f);
    void drawSaveDialog(const FrameState& f);
    void drawPadOverlay(const FrameState& f);
    void drawAdvancedPanel(const FrameState& f);
    void drawStatusLine(const FrameState& f);
    void drawGrip(const FrameState& f);
    static void countFrameDrawn();
    static void countFrameTime(uint64_t ns);

    // Reads of the plug-in (UIPlugAccess.cpp); each is safe without a plug-in.
    double paramValue(int id) const;
    double paramNormalized(int id, double value) const;
    std::string plugInstanceName() const;
    PresetLabel currentPresetLabel() const;
    // Other live instances in the registry, read without its lock (at most 16).
    int gatherPeers(PeerEntry* out, int max) const;
    int countPeers() const;

    // ---- Window and thread -----------------------------------------------------------------------------
    PuglWorldImpl* world = nullptr;
    PuglViewImpl* view = nullptr;
    NVGcontext* vg = nullptr;
    int fontId = -1;
    int logoImage = -1;
    Nembrix* plug = nullptr;
    void* parent = nullptr;
    int windowW = 0, windowH = 0;
    std::thread thread;
    std::atomic<bool> running{false};
    std::mutex stateMutex;

public:
    // ---- Layout rectangles (design units), written by computeLayout ------------------------------------
    struct Layout {
        Rect header, footer, pad;
        Rect faders[5];
        HSlider sliders[3];
        Rect mode, name, peersPill, bypass, logo, grip, snap, advToggle, prevPreset, presetBox, nextPreset,
            save;
        Rect advPanel;
        Rect knobs[9];
        Rect rootBox;
    };
    static constexpr float kHeaderH = 72.0f;
    static constexpr float kFooterH = 64.0f;

    // Popup geometry written by the drawing and read by the hit test, under stateMutex.
    static constexpr int kMaxPeerRows = 16;
    static constexpr int kMaxPresetRows = 64;
    static constexpr int kMaxRootRows = 64;
    struct PeerRows {
        Rect popup;
        int count = 0;
        Rect rows[kMaxPeerRows];
        uint64_t ids[kMaxPeerRows] = {}; // the peer each row was drawn for
    };
    struct PresetRows {
        Rect menu;
        int count = 0;
        Rect rows[kMaxPresetRows];
        int presetIndex[kMaxPresetRows] = {};
    };
    struct RootRows {
        Rect popup;
        int count = 0;
        Rect rows[kMaxRootRows];
        int note[kMaxRootRows] = {};
    };
    struct DialogRects {
        Rect dialog, nameField, cancel, save;
    };

private:
    Layout L;

    // ---- Interaction state (stateMutex) ----------------------------------------------------------------
    int activeId = -1;
    int hoverId = -1;
    int64_t lastClickTime = 0;
    int lastClickId = -1;
    bool nameEditing = false;
    std::string nameBuffer;
    bool peerListOpen = false;
    bool presetMenuOpen = false;
    bool rootListOpen = false;
    bool saveDialogOpen = false;
    std::string saveName;
    bool studioMode = false;
    bool snapToGrid = false;
    float knobDragStartY = 0.0f;
    float knobDragStartNorm = 0.0f;
    float resizeStartX = 0.0f, resizeStartY = 0.0f;
    int resizeStartW = 0, resizeStartH = 0;
    int resizeSentW = 0, resizeSentH = 0;
    int gestureParams[2] = {-1, -1}; // parameters inside an open host gesture (pad uses both)
    PeerRows peerRows;
    PresetRows presetRows;
    RootRows rootRows;
    DialogRects dialogRects;

    // ---- Panel animation and window tracking -----------------------------------------------------------
    bool advancedOpen = false;
    float panelAnim = 0.0f;
    float panelTarget = 0.0f;
    int64_t panelAnimT0 = 0;
    float panelAnimStart = 0.0f;
    _XDisplay* display = nullptr;
    std::atomic<int32_t> parentSeenW{0}, parentSeenH{0};
    std::atomic<int32_t> pendingW{0}, pendingH{0};

    struct Orb {
        float x, y, speedX, speedY, phaseX, phaseY, phasePulse, size;
    };
    static constexpr int kOrbCount = 28;
    Orb orbs[kOrbCount] = {};
    int64_t orbClockT0 = 0;
    float drawScale = 1.0f;
    float drawOffsetX = 0.0f, drawOffsetY = 0.0f;

    // UI-thread bookkeeping beyond the window: the one-time high-density request, the registry upkeep
    // clock, and whether the host destroyed the window under us (GL then stays untouched).
    int hdRequestW = 0, hdRequestH = 0;
    uint64_t frameCount = 0;
    int64_t lastUpkeepNs = 0;
    bool upkeepDone = false;
    bool windowGone = false;
    bool glLoadFailed = false;
    unsigned long nativeWindow = 0;
    char className[64] = {};
};

// pugl event callback: forwards to the NembrixUI stored as the view's handle.
int puglEventDispatch(PuglViewImpl* view, const void* event);

} // namespace nx
