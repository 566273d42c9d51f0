// Advisory flock guard on "/<segment>.lock" in POSIX shared memory.
#include "peerlink/SegmentGuard.h"

#include "peerlink/RegistryLock.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

namespace nx {

namespace {

bool guardPath(const char* segmentName, char (&out)[256]) {
    const int n = std::snprintf(out, sizeof(out), "/%s.lock", segmentName);
    return n > 0 && n < int(sizeof(out));
}

bool tryFlock(int fd) {
    while (true) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EINTR) return false;
    }
}

} // namespace

SegmentGuard::SegmentGuard(const char* segmentName) {
    char path[256];
    if (!segmentName || !guardPath(segmentName, path)) return;
    mFd = shm_open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (mFd < 0) return;
    if (tryFlock(mFd)) {
        mHeld = true;
        return;
    }
    for (int i = 0; i < 50 && !mHeld; ++i) {
        sleepMs(10);
        mHeld = tryFlock(mFd);
    }
}

SegmentGuard::~SegmentGuard() {
    if (mFd >= 0) {
        if (mHeld) flock(mFd, LOCK_UN);
        ::close(mFd);
    }
}

void SegmentGuard::removeGuardFile(const char* segmentName) {
    char path[256];
    if (segmentName && guardPath(segmentName, path)) shm_unlink(path);
}

} // namespace nx
