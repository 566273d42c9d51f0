// The audio-thread side of the registry (publish, gather) neither allocates, nor takes a mutex, nor
// sleeps: this executable interposes the allocator, pthread_mutex_lock/trylock and nanosleep and counts
// the calls a thread makes while it is flagged as the audio thread. Not built into sanitizer runs,
// whose runtimes own the allocator.
#include "peerlink/NembrixSHM.h"
#include "tests/peerlink/RegistryTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <pthread.h>
#include <vector>

#ifndef NX_SANITIZER_BUILD

namespace {
thread_local bool tAudioThread = false;
std::atomic<int> gAllocations{0};
std::atomic<int> gLocks{0};
std::atomic<int> gSleeps{0};

using MutexFn = int (*)(pthread_mutex_t*);
using SleepFn = int (*)(const timespec*, timespec*);
MutexFn realLock() {
    static MutexFn fn = reinterpret_cast<MutexFn>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    return fn;
}
MutexFn realTryLock() {
    static MutexFn fn = reinterpret_cast<MutexFn>(dlsym(RTLD_NEXT, "pthread_mutex_trylock"));
    return fn;
}
SleepFn realSleep() {
    static SleepFn fn = reinterpret_cast<SleepFn>(dlsym(RTLD_NEXT, "nanosleep"));
    return fn;
}
} // namespace

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);

// libstdc++'s operator new allocates through malloc, so it is counted here too.
void* malloc(size_t n) {
    if (tAudioThread) ++gAllocations;
    return __libc_malloc(n);
}
void* calloc(size_t a, size_t b) {
    if (tAudioThread) ++gAllocations;
    return __libc_calloc(a, b);
}
void* realloc(void* p, size_t n) {
    if (tAudioThread) ++gAllocations;
    return __libc_realloc(p, n);
}
int pthread_mutex_lock(pthread_mutex_t* m) {
    if (tAudioThread) ++gLocks;
    return realLock()(m);
}
int pthread_mutex_trylock(pthread_mutex_t* m) {
    if (tAudioThread) ++gLocks;
    return realTryLock()(m);
}
int nanosleep(const timespec* req, timespec* rem) {
    if (tAudioThread) ++gSleeps;
    return realSleep()(req, rem);
}
}

namespace nx {
namespace {

// Runs f as the audio thread would and returns {allocations, locks, sleeps} it made.
template <typename F>
std::vector<int> countOnAudioThread(F&& f) {
    const int a0 = gAllocations, l0 = gLocks, s0 = gSleeps;
    tAudioThread = true;
    f();
    tAudioThread = false;
    return {gAllocations - a0, gLocks - l0, gSleeps - s0};
}

TEST(PeerExchangeRealtime, PublishAndGatherNeitherAllocateNorLockNorSleep) {
    // The counters themselves work: flagged calls are seen.
    const std::vector<int> probe = countOnAudioThread([] {
        void* p = std::malloc(16);
        std::free(p);
        delete new std::vector<int>(4);
        pthread_mutex_t m = PTHREAD_MUTEX_INITIALIZER;
        pthread_mutex_lock(&m);
        pthread_mutex_unlock(&m);
        timespec ts{0, 1};
        nanosleep(&ts, nullptr);
    });
    ASSERT_GE(probe[0], 2); // malloc, and operator new at least once
    ASSERT_EQ(probe[1], 1);
    ASSERT_EQ(probe[2], 1);

    test::ScopedSegmentName seg("realtime");
    NembrixSHM reader(seg.c_str()), peer(seg.c_str()), unattached("../not-a-registry");
    reader.open();
    peer.open();
    unattached.open();
    ASSERT_TRUE(reader.isConnected() && peer.isConnected());
    std::vector<float> mono(8192, 0.25f), sum(16384, 0.0f);
    std::atomic<uint64_t> muted[kRegistrySlots] = {};
    muted[3] = 42;
    const uint64_t linked = reader.resolveLink(peer.slotIndex() + 1);

    const std::vector<int> counts = countOnAudioThread([&] {
        for (int n : {0, 1, 64, 8192, 16384}) {
            peer.publish(mono.data(), n > 8192 ? 8192 : n);
            reader.gather(sum.data(), n, 0, 0, muted);
            reader.gather(sum.data(), n, peer.slotIndex() + 1, linked, muted);
            reader.publish(sum.data(), n);
            unattached.publish(mono.data(), 64);
            unattached.gather(sum.data(), 64, 0, 0, nullptr);
        }
    });
    EXPECT_EQ(counts, (std::vector<int>{0, 0, 0})) << "allocations, locks, sleeps";
    EXPECT_NE(sum[0], 0.0f); // the calls did exchange audio
}

} // namespace
} // namespace nx

#else

TEST(PeerExchangeRealtime, PublishAndGatherNeitherAllocateNorLockNorSleep) {
    GTEST_SKIP() << "the sanitizer runtime owns the allocator in this build";
}

#endif
