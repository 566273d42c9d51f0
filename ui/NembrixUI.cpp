// NembrixUI's lifecycle and UI thread: Open/Close from the host's thread, then on the UI thread the pugl
// world and view inside the host's window, the GL and NanoVG resources, the paced frame loop that follows
// the host's container, and the registry upkeep every 2 s.
#include "ui/NembrixUI.h"

#include "plugin/Nembrix.h"
#include "resources/Logo.h"
#include "ui/FontLookup.h"
#include "ui/XErrorTrap.h"

#include <glad/gl.h>

#include "nanovg.h"
#define NANOVG_GL2 1
#include "nanovg_gl.h"

extern "C" {
#include "pugl/gl.h"
#include "pugl/pugl.h"
const PuglBackend* nxPuglDetachedGlBackend(void);
}

#include <X11/Xlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace nx {
namespace {

std::once_flag sGladInit;
bool sGladOK = false;
std::atomic<unsigned> sClassCounter{0};
std::atomic<int64_t (*)()> sClock{nullptr};
std::atomic<bool> sSimulateGlLoaderFailure{false};
std::atomic<bool> sSimulateMissingFont{false};
std::atomic<uint64_t> sFramesDrawn{0};
std::atomic<uint64_t> sDrawNsTotal{0};
std::atomic<uint64_t> sDrawNsMax{0};

constexpr int64_t kFrameNs = 16666667;    // at most 60 frames a second
constexpr int64_t kMaxLagNs = 83333333;   // no catch-up after a longer stall
constexpr int64_t kUpkeepNs = 2000000000; // registry upkeep period
constexpr int64_t kMaxSleepNs = 1000000;  // Close is noticed within about a millisecond
constexpr double kPanelAnimMs = 450.0;

PuglStatus dispatchAdapter(PuglView* view, const PuglEvent* event) {
    return static_cast<PuglStatus>(puglEventDispatch(view, event));
}

void sleepNs(int64_t ns) {
    const int64_t us = ns / 1000;
    if (us <= 0) return;
    timespec req{static_cast<time_t>(us / 1000000), static_cast<long>((us % 1000000) * 1000)};
    timespec rem{};
    while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

int roundHalfAway(double v) {
    return static_cast<int>(std::lround(v));
}

} // namespace

int puglEventDispatch(PuglViewImpl* view, const void* event) {
    auto* ui = static_cast<NembrixUI*>(puglGetHandle(view));
    return ui ? ui->onEvent(view, event) : 0;
}

NembrixUI::NembrixUI() {
    computeLayout();
}

NembrixUI::~NembrixUI() {
    Close();
}

int64_t NembrixUI::nowNs() {
    if (auto clock = sClock.load(std::memory_order_acquire)) return clock();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void NembrixUI::setClockForTesting(int64_t (*clock)()) {
    sClock.store(clock, std::memory_order_release);
}
void NembrixUI::simulateGlLoaderFailureForTesting(bool fail) {
    sSimulateGlLoaderFailure.store(fail);
}
void NembrixUI::simulateMissingFontForTesting(bool missing) {
    sSimulateMissingFont.store(missing);
}
uint64_t NembrixUI::framesDrawnForTesting() {
    return sFramesDrawn.load(std::memory_order_relaxed);
}
uint64_t NembrixUI::drawTimeTotalNs() {
    return sDrawNsTotal.load(std::memory_order_relaxed);
}
uint64_t NembrixUI::drawTimeMaxNs() {
    return sDrawNsMax.load(std::memory_order_relaxed);
}
void NembrixUI::countFrameDrawn() {
    sFramesDrawn.fetch_add(1, std::memory_order_relaxed);
}

void NembrixUI::countFrameTime(uint64_t drawNs) {
    sDrawNsTotal.fetch_add(drawNs, std::memory_order_relaxed);
    uint64_t seen = sDrawNsMax.load(std::memory_order_relaxed);
    while (drawNs > seen && !sDrawNsMax.compare_exchange_weak(seen, drawNs, std::memory_order_relaxed)) {
    }
}
uint64_t NembrixUI::xErrorsSwallowedForTesting() {
    return xtrap::swallowedCount();
}

void NembrixUI::Open(void* parentWindow, int width, int height, Nembrix* p) {
    // Without a host window there is nothing to embed into (a top-level window would float free).
    if (!parentWindow || running.load(std::memory_order_acquire)) return;
    // A UI thread that ended by itself (window-system close, start-up failure) is joined first.
    if (thread.joinable()) thread.join();

    parent = parentWindow;
    windowW = width;
    windowH = height;
    plug = p;
    advancedOpen = p ? p->advancedPanelOpen.load() : false;
    const float open = advancedOpen ? 1.0f : 0.0f;
    panelAnim = panelTarget = panelAnimStart = open;
    panelAnimT0 = nowNs();
    computeLayout();
    seedOrbs();
    orbClockT0 = nowNs();
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        activeId = -1;
        hoverId = -1;
    }
    drawScale = 1.0f;
    drawOffsetX = drawOffsetY = 0.0f;
    parentSeenW.store(0, std::memory_order_release);
    parentSeenH.store(0, std::memory_order_release);
    pendingW.store(0);
    pendingH.store(0);
    hdRequestW = hdRequestH = 0;
    frameCount = 0;
    upkeepDone = false;
    windowGone = false;
    nativeWindow = 0;

    running.store(true, std::memory_order_release);
    InitData init{parentWindow, width, height};
    thread = std::thread([this, init] { UIThreadFunc(init); });
}

bool NembrixUI::Close() {
    const bool was = running.exchange(false, std::memory_order_acq_rel);
    if (thread.joinable()) thread.join();
    if (was) {
        plug = nullptr;
        parent = nullptr;
    }
    return was;
}

void NembrixUI::requestResize(int w, int h) {
    if (w <= 0 || h <= 0) return;
    pendingW.store(w, std::memory_order_relaxed);
    pendingH.store(h, std::memory_order_release);
}

int NembrixUI::activeIdLocked() {
    std::lock_guard<std::mutex> lock(stateMutex);
    return activeId;
}

void NembrixUI::UIThreadFunc(InitData init) {
    PuglWorld* w = puglNewWorld(PUGL_MODULE, PUGL_WORLD_THREADS);
    if (!w) {
        running.store(false, std::memory_order_release);
        return;
    }
    world = w;
    display = static_cast<_XDisplay*>(puglGetNativeWorld(w));
    xtrap::registerDisplay(display);

    std::snprintf(className, sizeof className, "Nembrix-%p-%u", static_cast<void*>(this),
                  sClassCounter.fetch_add(1, std::memory_order_relaxed));
    puglSetClassName(w, className);

    PuglView* v = puglNewView(w);
    if (!v) {
        puglFreeWorld(w);
        world = nullptr;
        xtrap::unregisterDisplay(display);
        display = nullptr;
        running.store(false, std::memory_order_release);
        return;
    }
    view = v;
    puglSetHandle(v, this);
    puglSetEventFunc(v, dispatchAdapter);
    puglSetBackend(v, puglGlBackend());
    puglSetViewHint(v, PUGL_CONTEXT_VERSION_MAJOR, 2);
    puglSetViewHint(v, PUGL_CONTEXT_VERSION_MINOR, 1);
    puglSetViewHint(v, PUGL_USE_COMPAT_PROFILE, 1);
    puglSetViewHint(v, PUGL_DOUBLE_BUFFER, 1);
    puglSetViewHint(v, PUGL_STENCIL_BITS, 8);
    puglSetParentWindow(v, reinterpret_cast<PuglNativeView>(init.parent));
    puglSetSizeHint(v, PUGL_DEFAULT_SIZE, static_cast<PuglSpan>(std::max(1, init.width)),
                    static_cast<PuglSpan>(std::max(1, init.height)));

    if (puglRealize(v) != PUGL_SUCCESS) {
        puglFreeView(v);
        view = nullptr;
        puglFreeWorld(w);
        world = nullptr;
        xtrap::unregisterDisplay(display);
        display = nullptr;
        running.store(false, std::memory_order_release);
        return;
    }
    nativeWindow = static_cast<unsigned long>(puglGetNativeView(v));
    puglShow(v);

    // One-time size request on high-density displays opened at the default size.
    const double scale = puglGetScaleFactor(v);
    if (init.width == 960 && scale > 1.05 && init.height == static_cast<int>(designHeight())) {
        hdRequestW = roundHalfAway(960.0 * scale);
        hdRequestH = roundHalfAway(designHeight() * scale);
    }

    runFrameLoop(init);

    // Teardown. When the host destroyed our window, the GL context is destroyed without ever binding it
    // to the dead drawable again.
    if (!windowGone && !windowStillExists()) windowGone = true;
    if (windowGone) {
        onUnrealize();
        puglSetBackend(v, nxPuglDetachedGlBackend());
    }
    puglFreeView(v);
    view = nullptr;
    puglFreeWorld(w);
    world = nullptr;
    xtrap::unregisterDisplay(display);
    display = nullptr;
}

void NembrixUI::runFrameLoop(const InitData&) {
    int64_t deadline = nowNs();
    while (running.load(std::memory_order_acquire)) {
        PuglView* v = view;
        // 1. Pending resize from the host.
        const int pw = pendingW.exchange(0, std::memory_order_acquire);
        const int ph = pendingH.exchange(0, std::memory_order_acquire);
        if (pw > 0 && ph > 0 && !windowGone)
            puglSetSize(v, static_cast<unsigned>(pw), static_cast<unsigned>(ph));

        // 2. Follow the host's container unless the user drags our own grip.
        if (!windowGone && activeIdLocked() != ctl::kGrip) followParentWindow();

        const int64_t now = nowNs();
        advancePanelAnimation(now);

        // 4. Registry upkeep on the first pass, then every 2 s.
        if (plug && (!upkeepDone || now - lastUpkeepNs >= kUpkeepNs)) {
            registryUpkeep();
            upkeepDone = true;
            lastUpkeepNs = now;
        }

        // 5. Frame pacing.
        if (now >= deadline) {
            if (!windowGone) {
                // Events, the frame requested on the previous tick and its buffer swap.
                const auto t0 = std::chrono::steady_clock::now();
                puglUpdate(world, 0.0);
                countFrameTime(static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                         std::chrono::steady_clock::now() - t0)
                                                         .count()));
                if (!windowGone) puglPostRedisplay(v);
            }
            ++frameCount;
            if (hdRequestW > 0 && frameCount >= 3) {
                if (plug) plug->EditorResizeFromUI(hdRequestW, hdRequestH);
                hdRequestW = hdRequestH = 0;
            }
            deadline += kFrameNs;
            if (now - deadline > kMaxLagNs) deadline = now;
        } else {
            sleepNs(std::min(deadline - now, kMaxSleepNs));
        }
    }
}

bool NembrixUI::windowStillExists() {
    if (!display || !nativeWindow) return false;
    XSync(display, False);
    XWindowAttributes attrs;
    return XGetWindowAttributes(display, nativeWindow, &attrs) != 0;
}

void NembrixUI::followParentWindow() {
    Display* d = display;
    const Window win = nativeWindow;
    // The host may destroy its container (and so our window) at any time; X then reports it here.
    XEvent ev;
    if (XCheckTypedWindowEvent(d, win, DestroyNotify, &ev)) {
        windowGone = true;
        return;
    }
    Window root = 0, par = 0;
    Window* kids = nullptr;
    unsigned nKids = 0;
    if (!XQueryTree(d, win, &root, &par, &kids, &nKids)) {
        windowGone = true;
        return;
    }
    if (kids) XFree(kids);

    Window r;
    int x, y;
    unsigned w, h, border, depth;
    if (par && par != root && XGetGeometry(d, par, &r, &x, &y, &w, &h, &border, &depth)) {
        const int pw = static_cast<int>(w), ph = static_cast<int>(h);
        const int seenW = parentSeenW.load(std::memory_order_acquire);
        const int seenH = parentSeenH.load(std::memory_order_acquire);
        if (pw > 0 && ph > 0 && (seenW == 0 || seenH == 0 || pw != seenW || ph != seenH)) {
            unsigned ow, oh;
            if (XGetGeometry(d, win, &r, &x, &y, &ow, &oh, &border, &depth) &&
                (static_cast<int>(ow) != pw || static_cast<int>(oh) != ph)) {
                XResizeWindow(d, win, w, h);
                XFlush(d);
            }
            parentSeenW.store(pw, std::memory_order_release);
            parentSeenH.store(ph, std::memory_order_release);
        }
    }
    if (XGetGeometry(d, win, &r, &x, &y, &w, &h, &border, &depth) && w > 0 && h > 0 &&
        (static_cast<int>(w) != windowW || static_cast<int>(h) != windowH)) {
        windowW = static_cast<int>(w);
        windowH = static_cast<int>(h);
        puglSetSize(view, w, h);
        puglPostRedisplay(view);
    }
}

void NembrixUI::advancePanelAnimation(int64_t now) {
    const double p = std::clamp(static_cast<double>(now - panelAnimT0) / 1e6 / kPanelAnimMs, 0.0, 1.0);
    const double e = 1.0 - std::pow(1.0 - p, 3.0);
    panelAnim = static_cast<float>(panelAnimStart + (panelTarget - panelAnimStart) * e);
}

void NembrixUI::registryUpkeep() {
    NembrixSHM& shm = plug->shm;
    shm.refreshHeartbeat();
    shm.reapStale();
    const int link = plug->linkSlot.load();
    if (link != 0 && plug->linkedPeerId.load() == 0) plug->linkedPeerId.store(shm.resolveLink(link));
}

void NembrixUI::seedOrbs() {
    uint32_t s = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this)) | 1u;
    auto next = [&s] {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return static_cast<float>(static_cast<double>(s & 0x7FFFFFFFu) * (1.0 / 2147483648.0));
    };
    constexpr float kTwoPi = 6.28318530718f;
    for (Orb& o : orbs) {
        o.x = 0.08f + 0.84f * next();
        o.y = 0.08f + 0.84f * next();
        o.speedX = 0.12f + 0.45f * next();
        o.speedY = 0.10f + 0.40f * next();
        o.phaseX = kTwoPi * next();
        o.phaseY = kTwoPi * next();
        o.phasePulse = kTwoPi * next();
        o.size = 6.0f + 8.0f * next();
    }
}

void NembrixUI::onRealize() {
    std::call_once(sGladInit,
                   [] { sGladOK = gladLoadGL(reinterpret_cast<GLADloadfunc>(puglGetProcAddress)) != 0; });
    glLoadFailed = !sGladOK || sSimulateGlLoaderFailure.load();
    if (glLoadFailed) return;
    vg = nvgCreateGL2(NVG_ANTIALIAS | NVG_STENCIL_STROKES);
    if (!vg) return;
    const std::string font = sSimulateMissingFont.load() ? std::string() : findSansFontFile();
    fontId = font.empty() ? -1 : nvgCreateFont(vg, "sans", font.c_str());
    logoImage =
        nvgCreateImageMem(vg, 0, const_cast<unsigned char*>(kLogoPng), static_cast<int>(kLogoPngSize));
}

void NembrixUI::onUnrealize() {
    if (vg) {
        if (logoImage >= 0) nvgDeleteImage(vg, logoImage);
        nvgDeleteGL2(vg);
    }
    vg = nullptr;
    fontId = -1;
    logoImage = -1;
}

} // namespace nx
