// Host-side VST3 objects handed to a plug-in: the host application context, a memory stream that can
// deliver short reads, fixed-capacity parameter change lists (no allocation in process), the
// component handler that records edits with their thread, and the plug-in frame with a Linux run loop
// that a test pumps on a thread of its choice.
#pragma once

#include "host/PluginHost.h"

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivsthostapplication.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

namespace nx::host::vst3 {

using namespace Steinberg;

// Objects owned by the host (stack or member); reference counting is honoured but never deletes.
#define NX_HOST_REFCOUNT                                                                                     \
    uint32 PLUGIN_API addRef() override {                                                                    \
        return ++mRefs;                                                                                      \
    }                                                                                                        \
    uint32 PLUGIN_API release() override {                                                                   \
        return --mRefs;                                                                                      \
    }                                                                                                        \
    std::atomic<uint32> mRefs{1};

class HostApplication final : public Vst::IHostApplication {
public:
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
    NX_HOST_REFCOUNT
    tresult PLUGIN_API getName(Vst::String128 name) override;
    tresult PLUGIN_API createInstance(TUID cid, TUID iid, void** obj) override;
};

// A seekable byte stream over a vector; maxPerCall > 0 limits every read and write.
class MemoryStream final : public IBStream {
public:
    explicit MemoryStream(std::vector<uint8_t> bytes = {}, int32 maxPerCall = 0)
        : mBytes(std::move(bytes)), mMaxPerCall(maxPerCall) {}
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
    NX_HOST_REFCOUNT
    tresult PLUGIN_API read(void* buffer, int32 numBytes, int32* numBytesRead) override;
    tresult PLUGIN_API write(void* buffer, int32 numBytes, int32* numBytesWritten) override;
    tresult PLUGIN_API seek(int64 pos, int32 mode, int64* result) override;
    tresult PLUGIN_API tell(int64* pos) override;
    const std::vector<uint8_t>& bytes() const { return mBytes; }
    int readCalls() const { return mReadCalls; }

private:
    std::vector<uint8_t> mBytes;
    int64 mPos = 0;
    int32 mMaxPerCall;
    int mReadCalls = 0;
};

class ParamValueQueue final : public Vst::IParamValueQueue {
public:
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
    NX_HOST_REFCOUNT
    Vst::ParamID PLUGIN_API getParameterId() override { return mId; }
    int32 PLUGIN_API getPointCount() override { return mCount; }
    tresult PLUGIN_API getPoint(int32 index, int32& sampleOffset, Vst::ParamValue& value) override;
    tresult PLUGIN_API addPoint(int32 sampleOffset, Vst::ParamValue value, int32& index) override;
    void reset(Vst::ParamID id) {
        mId = id;
        mCount = 0;
    }

private:
    static constexpr int32 kMaxPoints = 16;
    Vst::ParamID mId = 0;
    int32 mCount = 0;
    std::array<int32, kMaxPoints> mOffsets{};
    std::array<Vst::ParamValue, kMaxPoints> mValues{};
};

class ParameterChanges final : public Vst::IParameterChanges {
public:
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
    NX_HOST_REFCOUNT
    int32 PLUGIN_API getParameterCount() override { return mCount; }
    Vst::IParamValueQueue* PLUGIN_API getParameterData(int32 index) override;
    Vst::IParamValueQueue* PLUGIN_API addParameterData(const Vst::ParamID& id, int32& index) override;
    void clear() { mCount = 0; }

private:
    static constexpr int32 kMaxQueues = 64;
    int32 mCount = 0;
    std::array<ParamValueQueue, kMaxQueues> mQueues;
};

// Records every call with the calling thread; forwards performEdit values to a sink (the host queues
// them for the processor, as a DAW does).
class ComponentHandler final : public Vst::IComponentHandler {
public:
    using Record = std::function<void(const HostEdit&)>;
    explicit ComponentHandler(Record record) : mRecord(std::move(record)) {}
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
    NX_HOST_REFCOUNT
    tresult PLUGIN_API beginEdit(Vst::ParamID id) override;
    tresult PLUGIN_API performEdit(Vst::ParamID id, Vst::ParamValue valueNormalized) override;
    tresult PLUGIN_API endEdit(Vst::ParamID id) override;
    tresult PLUGIN_API restartComponent(int32 flags) override;

private:
    Record mRecord;
};

// IPlugFrame + Linux::IRunLoop. Registration may come from any thread; pump() runs due timers and
// ready fd handlers on the calling thread.
class PlugFrame final : public IPlugFrame, public Linux::IRunLoop {
public:
    using ResizeFn = std::function<tresult(IPlugView*, ViewRect*)>;
    explicit PlugFrame(ResizeFn resize) : mResize(std::move(resize)) {}
    ~PlugFrame();
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
    NX_HOST_REFCOUNT
    tresult PLUGIN_API resizeView(IPlugView* view, ViewRect* newSize) override;
    tresult PLUGIN_API registerEventHandler(Linux::IEventHandler* handler, Linux::FileDescriptor fd) override;
    tresult PLUGIN_API unregisterEventHandler(Linux::IEventHandler* handler) override;
    tresult PLUGIN_API registerTimer(Linux::ITimerHandler* handler, Linux::TimerInterval ms) override;
    tresult PLUGIN_API unregisterTimer(Linux::ITimerHandler* handler) override;

    int pump();
    int timerCount();
    int handlerCount();

private:
    struct Timer {
        Linux::ITimerHandler* handler;
        uint64 intervalMs;
        std::chrono::steady_clock::time_point due;
    };
    struct Fd {
        Linux::IEventHandler* handler;
        int fd;
    };
    bool stillRegistered(Linux::ITimerHandler* handler);
    ResizeFn mResize;
    std::mutex mMutex;
    std::vector<Timer> mTimers;
    std::vector<Fd> mFds;
};

// Converts a UTF-16 VST3 string to UTF-8 (ASCII is what the plug-in uses; others become '?').
std::string toUtf8(const Vst::TChar* s, size_t maxLen);
std::string toUtf8(const char8* s, size_t maxLen);

} // namespace nx::host::vst3
