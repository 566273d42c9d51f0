// The VST3 editor view: opens and closes the plug-in's editor in the host's X11 window and, through a
// timer on the host's run loop, hands the editor's queued host calls (edits, resize) to the host on the
// host's UI thread. Creating a view opens nothing; only attached() does. Host UI thread throughout.
#pragma once

#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"

#include <atomic>

namespace nx::vst3 {

class Vst3Plugin;

class Vst3View final : public Steinberg::IPlugView,
                       public Steinberg::IPlugViewContentScaleSupport,
                       public Steinberg::Linux::ITimerHandler {
public:
    // Keeps a reference on owner for as long as the view lives.
    explicit Vst3View(Vst3Plugin* owner);
    ~Vst3View();

    // FUnknown
    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

    // IPlugView
    Steinberg::tresult PLUGIN_API isPlatformTypeSupported(Steinberg::FIDString type) override;
    Steinberg::tresult PLUGIN_API attached(void* parent, Steinberg::FIDString type) override;
    Steinberg::tresult PLUGIN_API removed() override;
    Steinberg::tresult PLUGIN_API onWheel(float distance) override;
    Steinberg::tresult PLUGIN_API onKeyDown(Steinberg::char16 key, Steinberg::int16 keyCode,
                                            Steinberg::int16 modifiers) override;
    Steinberg::tresult PLUGIN_API onKeyUp(Steinberg::char16 key, Steinberg::int16 keyCode,
                                          Steinberg::int16 modifiers) override;
    Steinberg::tresult PLUGIN_API getSize(Steinberg::ViewRect* size) override;
    Steinberg::tresult PLUGIN_API onSize(Steinberg::ViewRect* newSize) override;
    Steinberg::tresult PLUGIN_API onFocus(Steinberg::TBool state) override;
    Steinberg::tresult PLUGIN_API setFrame(Steinberg::IPlugFrame* frame) override;
    Steinberg::tresult PLUGIN_API canResize() override;
    Steinberg::tresult PLUGIN_API checkSizeConstraint(Steinberg::ViewRect* rect) override;

    // IPlugViewContentScaleSupport
    Steinberg::tresult PLUGIN_API setContentScaleFactor(ScaleFactor factor) override;

    // ITimerHandler: drains the editor's host calls on the host's UI thread.
    void PLUGIN_API onTimer() override;

    // Asks the frame to resize the view; true when the host accepted.
    bool ResizeFromPlugin(int width, int height);
    double ContentScale() const { return mScale.load(std::memory_order_relaxed); }

private:
    void Detach();

    std::atomic<int32_t> mRefCount{1};
    Vst3Plugin* mOwner;
    std::atomic<Steinberg::IPlugFrame*> mFrame{nullptr};
    Steinberg::Linux::IRunLoop* mRunLoop = nullptr; // set while the timer is registered
    std::atomic<bool> mAttached{false};
    std::atomic<double> mScale{1.0};
};

} // namespace nx::vst3
