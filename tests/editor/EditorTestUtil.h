// Helpers of the editor tests: waiting on a condition, reading the editor's X window, counting drawn
// pixels, and a HostLink that records what the plug-in tells its host.
#pragma once

#include "framework/PluginBase.h"
#include "host/X11ParentWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace nx::test {

// Test surroundings: preset files go to a folder under the working directory (never the user's own),
// and GL renders in software as on the CI machine. Call before the first plug-in is created.
inline void useTestSurroundings() {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd))
        setenv("XDG_CONFIG_HOME", (std::string(cwd) + "/editor-test-config").c_str(), 1);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
}

inline bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return pred();
}

inline double millisecondsOf(const std::function<void()>& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// The editor's window: the only child of the host's container.
inline unsigned long editorChild(const host::X11ParentWindow& parent) {
    const auto kids = parent.children();
    return kids.size() == 1 ? kids[0] : 0;
}

inline bool windowSize(Display* d, unsigned long w, int& width, int& height) {
    Window root;
    int x, y;
    unsigned ww, hh, border, depth;
    if (!w || !XGetGeometry(d, w, &root, &x, &y, &ww, &hh, &border, &depth)) return false;
    width = static_cast<int>(ww);
    height = static_cast<int>(hh);
    return true;
}

// A region of a screenshot, in window pixels.
struct Region {
    int x, y, w, h;
};

// Pixels of the region that are neither black nor the editor's clear colour (6, 6, 8).
inline int drawnPixels(const host::X11ParentWindow& parent, Region r) {
    int w = 0, h = 0;
    const std::vector<uint32_t> px = parent.screenshot(w, h);
    int n = 0;
    for (int y = std::max(0, r.y); y < std::min(h, r.y + r.h); ++y)
        for (int x = std::max(0, r.x); x < std::min(w, r.x + r.w); ++x) {
            const uint32_t p = px[static_cast<size_t>(y) * w + x];
            if (p != 0 && p != 0x060608u) ++n;
        }
    return n;
}

// Records the host-facing calls of a plug-in, with a lock: the editor thread calls in.
class RecordingHostLink : public HostLink {
public:
    struct Edit {
        char kind; // 'B' begin, 'P' perform, 'E' end
        int param;
        double value;
    };
    void BeginEdit(int p) override { add({'B', p, 0.0}); }
    void PerformEdit(int p, double v) override { add({'P', p, v}); }
    void EndEdit(int p) override { add({'E', p, 0.0}); }
    bool ResizeView(int w, int h) override {
        std::lock_guard<std::mutex> lock(mutex);
        resizes.push_back({w, h});
        return true;
    }
    void ParamValuesChanged() override {}

    std::vector<Edit> takeEdits() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(edits, {});
    }
    std::vector<std::pair<int, int>> takeResizes() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(resizes, {});
    }

private:
    void add(Edit e) {
        std::lock_guard<std::mutex> lock(mutex);
        edits.push_back(e);
    }
    std::mutex mutex;
    std::vector<Edit> edits;
    std::vector<std::pair<int, int>> resizes;
};

} // namespace nx::test
