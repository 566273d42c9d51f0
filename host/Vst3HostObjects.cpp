// Host-side VST3 objects (see Vst3HostObjects.h).
#include "host/Vst3HostObjects.h"

#include <algorithm>
#include <cstring>
#include <poll.h>

namespace nx::host::vst3 {

namespace {
template <typename I>
tresult answer(I* self, const TUID iid, void** obj) {
    if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) || FUnknownPrivate::iidEqual(iid, I::iid)) {
        self->addRef();
        *obj = self;
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}
} // namespace

std::string toUtf8(const Vst::TChar* s, size_t maxLen) {
    std::string out;
    for (size_t i = 0; i < maxLen && s[i]; ++i) {
        const char16_t c = s[i];
        out.push_back(c < 0x80 ? char(c) : '?');
    }
    return out;
}

std::string toUtf8(const char8* s, size_t maxLen) {
    return std::string(s, strnlen(s, maxLen));
}

// ---- HostApplication -----------------------------------------------------------------------------------

tresult PLUGIN_API HostApplication::queryInterface(const TUID iid, void** obj) {
    return answer<Vst::IHostApplication>(this, iid, obj);
}

tresult PLUGIN_API HostApplication::getName(Vst::String128 name) {
    const char* n = "nx-host";
    size_t i = 0;
    for (; n[i] && i < 127; ++i) name[i] = Vst::TChar(n[i]);
    name[i] = 0;
    return kResultOk;
}

tresult PLUGIN_API HostApplication::createInstance(TUID, TUID, void** obj) {
    *obj = nullptr; // no host-made messages or attribute lists: a single-component plug-in needs none
    return kResultFalse;
}

// ---- MemoryStream --------------------------------------------------------------------------------------

tresult PLUGIN_API MemoryStream::queryInterface(const TUID iid, void** obj) {
    return answer<IBStream>(this, iid, obj);
}

tresult PLUGIN_API MemoryStream::read(void* buffer, int32 numBytes, int32* numBytesRead) {
    ++mReadCalls;
    if (numBytes < 0 || (!buffer && numBytes > 0)) {
        if (numBytesRead) *numBytesRead = 0;
        return kInvalidArgument;
    }
    int64 n = std::min<int64>(numBytes, std::max<int64>(0, int64(mBytes.size()) - mPos));
    if (mMaxPerCall > 0) n = std::min<int64>(n, mMaxPerCall);
    if (n > 0) std::memcpy(buffer, mBytes.data() + mPos, size_t(n));
    mPos += n;
    if (numBytesRead) *numBytesRead = int32(n);
    return kResultOk;
}

tresult PLUGIN_API MemoryStream::write(void* buffer, int32 numBytes, int32* numBytesWritten) {
    if (numBytes < 0 || (!buffer && numBytes > 0)) {
        if (numBytesWritten) *numBytesWritten = 0;
        return kInvalidArgument;
    }
    int32 n = numBytes;
    if (mMaxPerCall > 0) n = std::min(n, mMaxPerCall);
    if (size_t(mPos) + size_t(n) > mBytes.size()) mBytes.resize(size_t(mPos) + size_t(n));
    if (n > 0) std::memcpy(mBytes.data() + mPos, buffer, size_t(n));
    mPos += n;
    if (numBytesWritten) *numBytesWritten = n;
    return kResultOk;
}

tresult PLUGIN_API MemoryStream::seek(int64 pos, int32 mode, int64* result) {
    int64 base = 0;
    if (mode == kIBSeekCur)
        base = mPos;
    else if (mode == kIBSeekEnd)
        base = int64(mBytes.size());
    else if (mode != kIBSeekSet)
        return kInvalidArgument;
    const int64 p = base + pos;
    if (p < 0) return kResultFalse;
    mPos = p;
    if (result) *result = mPos;
    return kResultOk;
}

tresult PLUGIN_API MemoryStream::tell(int64* pos) {
    if (!pos) return kInvalidArgument;
    *pos = mPos;
    return kResultOk;
}

// ---- Parameter changes ---------------------------------------------------------------------------------

tresult PLUGIN_API ParamValueQueue::queryInterface(const TUID iid, void** obj) {
    return answer<Vst::IParamValueQueue>(this, iid, obj);
}

tresult PLUGIN_API ParamValueQueue::getPoint(int32 index, int32& sampleOffset, Vst::ParamValue& value) {
    if (index < 0 || index >= mCount) return kResultFalse;
    sampleOffset = mOffsets[size_t(index)];
    value = mValues[size_t(index)];
    return kResultOk;
}

tresult PLUGIN_API ParamValueQueue::addPoint(int32 sampleOffset, Vst::ParamValue value, int32& index) {
    // A later point at the same offset replaces the earlier one.
    for (int32 i = 0; i < mCount; ++i)
        if (mOffsets[size_t(i)] == sampleOffset) {
            mValues[size_t(i)] = value;
            index = i;
            return kResultOk;
        }
    if (mCount >= kMaxPoints) return kResultFalse;
    mOffsets[size_t(mCount)] = sampleOffset;
    mValues[size_t(mCount)] = value;
    index = mCount++;
    return kResultOk;
}

tresult PLUGIN_API ParameterChanges::queryInterface(const TUID iid, void** obj) {
    return answer<Vst::IParameterChanges>(this, iid, obj);
}

Vst::IParamValueQueue* PLUGIN_API ParameterChanges::getParameterData(int32 index) {
    return index >= 0 && index < mCount ? &mQueues[size_t(index)] : nullptr;
}

Vst::IParamValueQueue* PLUGIN_API ParameterChanges::addParameterData(const Vst::ParamID& id, int32& index) {
    for (int32 i = 0; i < mCount; ++i)
        if (mQueues[size_t(i)].getParameterId() == id) {
            index = i;
            return &mQueues[size_t(i)];
        }
    if (mCount >= kMaxQueues) return nullptr;
    mQueues[size_t(mCount)].reset(id);
    index = mCount;
    return &mQueues[size_t(mCount++)];
}

// ---- ComponentHandler ----------------------------------------------------------------------------------

tresult PLUGIN_API ComponentHandler::queryInterface(const TUID iid, void** obj) {
    return answer<Vst::IComponentHandler>(this, iid, obj);
}

tresult PLUGIN_API ComponentHandler::beginEdit(Vst::ParamID id) {
    mRecord({HostEdit::Kind::Begin, id, 0.0, std::this_thread::get_id()});
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::performEdit(Vst::ParamID id, Vst::ParamValue valueNormalized) {
    mRecord({HostEdit::Kind::Perform, id, valueNormalized, std::this_thread::get_id()});
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::endEdit(Vst::ParamID id) {
    mRecord({HostEdit::Kind::End, id, 0.0, std::this_thread::get_id()});
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::restartComponent(int32 flags) {
    mRecord({HostEdit::Kind::Restart, 0, double(flags), std::this_thread::get_id()});
    return kResultOk;
}

// ---- PlugFrame and run loop ----------------------------------------------------------------------------

PlugFrame::~PlugFrame() {
    std::lock_guard<std::mutex> lock(mMutex);
    for (auto& t : mTimers) t.handler->release();
    for (auto& f : mFds) f.handler->release();
}

tresult PLUGIN_API PlugFrame::queryInterface(const TUID iid, void** obj) {
    if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) || FUnknownPrivate::iidEqual(iid, IPlugFrame::iid)) {
        addRef();
        *obj = static_cast<IPlugFrame*>(this);
        return kResultOk;
    }
    if (FUnknownPrivate::iidEqual(iid, Linux::IRunLoop::iid)) {
        addRef();
        *obj = static_cast<Linux::IRunLoop*>(this);
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

tresult PLUGIN_API PlugFrame::resizeView(IPlugView* view, ViewRect* newSize) {
    if (!view || !newSize) return kInvalidArgument;
    return mResize ? mResize(view, newSize) : kResultFalse;
}

tresult PLUGIN_API PlugFrame::registerEventHandler(Linux::IEventHandler* handler, Linux::FileDescriptor fd) {
    if (!handler || fd < 0) return kInvalidArgument;
    std::lock_guard<std::mutex> lock(mMutex);
    handler->addRef();
    mFds.push_back({handler, fd});
    return kResultOk;
}

tresult PLUGIN_API PlugFrame::unregisterEventHandler(Linux::IEventHandler* handler) {
    std::lock_guard<std::mutex> lock(mMutex);
    bool found = false;
    for (auto it = mFds.begin(); it != mFds.end();) {
        if (it->handler == handler) {
            it->handler->release();
            it = mFds.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    return found ? kResultOk : kResultFalse;
}

tresult PLUGIN_API PlugFrame::registerTimer(Linux::ITimerHandler* handler, Linux::TimerInterval ms) {
    if (!handler) return kInvalidArgument;
    std::lock_guard<std::mutex> lock(mMutex);
    handler->addRef();
    const uint64 interval = std::max<uint64>(ms, 1);
    mTimers.push_back(
        {handler, interval, std::chrono::steady_clock::now() + std::chrono::milliseconds(interval)});
    return kResultOk;
}

tresult PLUGIN_API PlugFrame::unregisterTimer(Linux::ITimerHandler* handler) {
    std::lock_guard<std::mutex> lock(mMutex);
    bool found = false;
    for (auto it = mTimers.begin(); it != mTimers.end();) {
        if (it->handler == handler) {
            it->handler->release();
            it = mTimers.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    return found ? kResultOk : kResultFalse;
}

int PlugFrame::timerCount() {
    std::lock_guard<std::mutex> lock(mMutex);
    return int(mTimers.size());
}

int PlugFrame::handlerCount() {
    std::lock_guard<std::mutex> lock(mMutex);
    return int(mFds.size());
}

bool PlugFrame::stillRegistered(Linux::ITimerHandler* handler) {
    std::lock_guard<std::mutex> lock(mMutex);
    return std::any_of(mTimers.begin(), mTimers.end(), [&](const Timer& t) { return t.handler == handler; });
}

int PlugFrame::pump() {
    // Collect what is due under the lock, call it without (a callback may unregister itself).
    std::vector<Linux::ITimerHandler*> timers;
    std::vector<Fd> fds;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        const auto now = std::chrono::steady_clock::now();
        for (auto& t : mTimers)
            if (t.due <= now) {
                t.due = now + std::chrono::milliseconds(t.intervalMs);
                t.handler->addRef();
                timers.push_back(t.handler);
            }
        for (auto& f : mFds) {
            f.handler->addRef();
            fds.push_back(f);
        }
    }
    int calls = 0;
    for (auto* t : timers) {
        if (stillRegistered(t)) {
            t->onTimer();
            ++calls;
        }
        t->release();
    }
    for (auto& f : fds) {
        pollfd p{f.fd, POLLIN, 0};
        if (poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR))) {
            f.handler->onFDIsSet(f.fd);
            ++calls;
        }
        f.handler->release();
    }
    return calls;
}

} // namespace nx::host::vst3
