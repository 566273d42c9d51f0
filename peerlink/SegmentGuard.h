// Cross-process guard around the stale check, removal and creation of a registry segment: an advisory
// flock on a small companion object "<segment>.lock" in POSIX shared memory. Taken without blocking, with
// bounded retries, so a stopped holder cannot hang another host. Host threads only.
#pragma once

namespace nx {

class SegmentGuard {
public:
    // Tries the lock once, then up to 50 more times 10 ms apart.
    explicit SegmentGuard(const char* segmentName);
    ~SegmentGuard();
    SegmentGuard(const SegmentGuard&) = delete;
    SegmentGuard& operator=(const SegmentGuard&) = delete;

    bool held() const { return mHeld; }

    // Unlinks the companion object of segmentName (whoever holds it keeps its lock).
    static void removeGuardFile(const char* segmentName);

private:
    int mFd = -1;
    bool mHeld = false;
};

} // namespace nx
