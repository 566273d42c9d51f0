// Private registry segment of one render (see RenderRegistry.h).
#include "tools/render/RenderRegistry.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sys/mman.h>
#include <unistd.h>

namespace nx::tools {

namespace {
// Paths unlinked by the signal handler; written before the handler is installed.
char sSegmentPath[128];
char sGuardPath[136];
char sPartialFile[4096];

void unlinkSegment() {
    if (sSegmentPath[0]) shm_unlink(sSegmentPath);
    if (sGuardPath[0]) shm_unlink(sGuardPath);
}

extern "C" void onTerminatingSignal(int sig) {
    unlinkSegment(); // async-signal-safe
    if (sPartialFile[0]) unlink(sPartialFile);
    std::signal(sig, SIG_DFL);
    raise(sig);
}
} // namespace

RenderRegistry::RenderRegistry(const char* prefix) {
    std::random_device rd;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%.40s_%d_%08x", prefix, int(getpid()), unsigned(rd()));
    mName = buf;
    std::snprintf(sSegmentPath, sizeof sSegmentPath, "/%s", buf);
    std::snprintf(sGuardPath, sizeof sGuardPath, "/%s.lock", buf);
    setenv("NEMBRIX_REGISTRY", buf, 1);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, onTerminatingSignal);
}

RenderRegistry::~RenderRegistry() {
    remove();
}

void RenderRegistry::remove() {
    unlinkSegment();
}

void RenderRegistry::removeOnInterrupt(const std::string& path) {
    // Too long a path is not registered rather than cut (a cut path could name another file).
    if (path.size() >= sizeof sPartialFile) {
        sPartialFile[0] = 0;
        return;
    }
    std::snprintf(sPartialFile, sizeof sPartialFile, "%s", path.c_str());
}

} // namespace nx::tools
