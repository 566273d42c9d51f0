// The VST3 editor view and its run-loop timer.
#include "framework/vst3/Vst3View.h"

#include "framework/vst3/Vst3Plugin.h"

#include <cmath>
#include <cstring>

using namespace Steinberg;

namespace nx::vst3 {

namespace {

// How often queued editor calls reach the host: one editor frame at 60 frames a second.
constexpr Linux::TimerInterval kDrainIntervalMs = 16;

} // namespace

Vst3View::Vst3View(Vst3Plugin* owner) : mOwner(owner) {
    mOwner->addRef();
    mOwner->SetView(this);
}

Vst3View::~Vst3View() {
    try {
        Detach();
    } catch (...) {
    }
    mOwner->SetView(nullptr, this);
    mOwner->release();
}

tresult PLUGIN_API Vst3View::queryInterface(const TUID iid, void** obj) {
    if (!obj) return kInvalidArgument;
    void* found = nullptr;
    if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) || FUnknownPrivate::iidEqual(iid, IPlugView::iid)) {
        found = static_cast<IPlugView*>(this);
    } else if (FUnknownPrivate::iidEqual(iid, IPlugViewContentScaleSupport::iid)) {
        found = static_cast<IPlugViewContentScaleSupport*>(this);
    } else if (FUnknownPrivate::iidEqual(iid, Linux::ITimerHandler::iid)) {
        found = static_cast<Linux::ITimerHandler*>(this);
    }
    *obj = found;
    if (!found) return kNoInterface;
    addRef();
    return kResultOk;
}

uint32 PLUGIN_API Vst3View::addRef() {
    return static_cast<uint32>(++mRefCount);
}

uint32 PLUGIN_API Vst3View::release() {
    const int32_t left = --mRefCount;
    if (left == 0) {
        delete this;
        return 0;
    }
    return static_cast<uint32>(left);
}

tresult PLUGIN_API Vst3View::isPlatformTypeSupported(FIDString type) {
    return (type && std::strcmp(type, kPlatformTypeX11EmbedWindowID) == 0) ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API Vst3View::attached(void* parent, FIDString type) {
    if (!parent || isPlatformTypeSupported(type) != kResultTrue) return kInvalidArgument;
    if (mAttached) return kResultFalse;
    try {
        // With a run loop, the editor's calls wait in the plug-in's queue for the timer; without one they
        // go to the host directly, as a last resort.
        if (IPlugFrame* frame = mFrame.load(std::memory_order_acquire)) {
            Linux::IRunLoop* runLoop = nullptr;
            if (frame->queryInterface(Linux::IRunLoop::iid, reinterpret_cast<void**>(&runLoop)) ==
                    kResultOk &&
                runLoop) {
                if (runLoop->registerTimer(this, kDrainIntervalMs) == kResultOk) {
                    mRunLoop = runLoop;
                    mOwner->SetDeferHostCalls(true);
                } else {
                    runLoop->release();
                }
            }
        }
        mAttached = true;
        mOwner->Plug().OpenWindow(parent);
        return kResultOk;
    } catch (...) {
        Detach();
        return kInternalError;
    }
}

tresult PLUGIN_API Vst3View::removed() {
    if (!mAttached) return kResultFalse;
    try {
        Detach();
    } catch (...) {
        return kInternalError;
    }
    return kResultOk;
}

void Vst3View::Detach() {
    if (!mAttached) return;
    mAttached = false;
    if (mRunLoop) {
        mRunLoop->unregisterTimer(this);
        mRunLoop->release();
        mRunLoop = nullptr;
    }
    // Closing joins the editor's thread. That thread never waits for the host, so this cannot deadlock
    // against a host that marshals calls to this (its UI) thread.
    mOwner->Plug().CloseWindow();
    // Edits the editor queued before it stopped still reach the host, in order, from this thread.
    mOwner->SetDeferHostCalls(false);
    mOwner->DrainHostCalls(false);
}

tresult PLUGIN_API Vst3View::onWheel(float /*distance*/) {
    return kResultFalse;
}

tresult PLUGIN_API Vst3View::onKeyDown(char16 /*key*/, int16 /*keyCode*/, int16 /*modifiers*/) {
    return kResultFalse;
}

tresult PLUGIN_API Vst3View::onKeyUp(char16 /*key*/, int16 /*keyCode*/, int16 /*modifiers*/) {
    return kResultFalse;
}

tresult PLUGIN_API Vst3View::getSize(ViewRect* size) {
    if (!size) return kInvalidArgument;
    int width = 0, height = 0;
    mOwner->Plug().GetEditorSize(width, height);
    if (width <= 0 || height <= 0) {
        width = mOwner->Plug().GetConfig().editorWidth;
        height = mOwner->Plug().GetConfig().editorHeight;
    }
    size->left = 0;
    size->top = 0;
    size->right = width;
    size->bottom = height;
    return kResultOk;
}

tresult PLUGIN_API Vst3View::onSize(ViewRect* newSize) {
    if (!newSize) return kInvalidArgument;
    const int width = newSize->getWidth();
    const int height = newSize->getHeight();
    if (width <= 0 || height <= 0) return kResultFalse;
    try {
        mOwner->Plug().SetEditorSize(width, height);
        mOwner->Plug().OnParentWindowResize(width, height);
    } catch (...) {
        return kInternalError;
    }
    return kResultOk;
}

tresult PLUGIN_API Vst3View::onFocus(TBool /*state*/) {
    return kResultOk;
}

tresult PLUGIN_API Vst3View::setFrame(IPlugFrame* frame) {
    mFrame.store(frame, std::memory_order_release);
    return kResultOk;
}

tresult PLUGIN_API Vst3View::canResize() {
    return mOwner->Plug().GetConfig().hostResize ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API Vst3View::checkSizeConstraint(ViewRect* rect) {
    if (!rect) return kInvalidArgument;
    int width = rect->getWidth();
    int height = rect->getHeight();
    try {
        mOwner->Plug().ConstrainEditorResize(width, height);
    } catch (...) {
        return kInternalError;
    }
    rect->right = rect->left + width;
    rect->bottom = rect->top + height;
    return kResultTrue;
}

tresult PLUGIN_API Vst3View::setContentScaleFactor(ScaleFactor factor) {
    if (!(factor > 0.0f) || !std::isfinite(factor)) return kInvalidArgument;
    // The editor reads the display's scale itself (the X server's resources); the host's factor is kept
    // for reference only.
    mScale.store(factor, std::memory_order_relaxed);
    return kResultTrue;
}

void PLUGIN_API Vst3View::onTimer() {
    try {
        mOwner->DrainHostCalls(true);
    } catch (...) {
    }
}

bool Vst3View::ResizeFromPlugin(int width, int height) {
    IPlugFrame* frame = mFrame.load(std::memory_order_acquire);
    if (!frame || !mAttached) return false;
    ViewRect rect(0, 0, width, height);
    return frame->resizeView(this, &rect) == kResultTrue;
}

} // namespace nx::vst3
