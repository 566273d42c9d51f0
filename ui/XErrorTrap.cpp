// Process-wide X error handler for the editors' connections; see XErrorTrap.h.
#include "ui/XErrorTrap.h"

#include <X11/Xlib.h>

#include <atomic>
#include <mutex>

namespace nx::xtrap {
namespace {

constexpr int kMaxDisplays = 64;
std::atomic<Display*> sDisplays[kMaxDisplays];
std::atomic<uint64_t> sSwallowed{0};
std::mutex sInstallMutex;
int sRegistered = 0; // guarded by sInstallMutex
std::atomic<XErrorHandler> sPrevious{nullptr};

bool isEditorDisplay(Display* d) {
    for (auto& slot : sDisplays)
        if (slot.load(std::memory_order_acquire) == d) return true;
    return false;
}

int onXError(Display* d, XErrorEvent* e) {
    if (isEditorDisplay(d)) {
        sSwallowed.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }
    const XErrorHandler prev = sPrevious.load(std::memory_order_acquire);
    return prev && prev != &onXError ? prev(d, e) : 0;
}

} // namespace

void registerDisplay(Display* display) {
    if (!display) return;
    std::lock_guard<std::mutex> lock(sInstallMutex);
    for (auto& slot : sDisplays) {
        Display* expected = nullptr;
        if (slot.compare_exchange_strong(expected, display)) break;
    }
    if (sRegistered++ == 0) {
        const XErrorHandler prev = XSetErrorHandler(&onXError);
        sPrevious.store(prev == &onXError ? nullptr : prev, std::memory_order_release);
    }
}

void unregisterDisplay(Display* display) {
    if (!display) return;
    std::lock_guard<std::mutex> lock(sInstallMutex);
    bool found = false;
    for (auto& slot : sDisplays) {
        Display* expected = display;
        if (slot.compare_exchange_strong(expected, nullptr)) {
            found = true;
            break;
        }
    }
    if (!found || --sRegistered > 0) return;
    // Put the previous handler back, unless someone replaced ours meanwhile: then keep theirs.
    const XErrorHandler current = XSetErrorHandler(sPrevious.load(std::memory_order_acquire));
    if (current != &onXError) XSetErrorHandler(current);
}

uint64_t swallowedCount() {
    return sSwallowed.load(std::memory_order_relaxed);
}

} // namespace nx::xtrap
