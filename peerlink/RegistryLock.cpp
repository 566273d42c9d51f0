// Robust registry lock and the bounded retry pacing shared by the registry's host-thread operations.
#include "peerlink/RegistryLock.h"

#include <cerrno>
#include <ctime>

namespace nx {

bool initRegistryMutex(pthread_mutex_t* m) {
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) return false;
    const bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
                    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
                    pthread_mutex_init(m, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    return ok;
}

bool tryLockRegistryOnce(pthread_mutex_t* m) {
    const int rc = pthread_mutex_trylock(m);
    if (rc == 0) return true;
    if (rc == EOWNERDEAD) {
        // The previous holder died inside a claim, release or sweep. Each of those leaves the slots in a
        // usable state at every step, so the registry is consistent as it stands.
        if (pthread_mutex_consistent(m) == 0) return true;
        pthread_mutex_unlock(m);
        return false;
    }
    return false; // EBUSY, ENOTRECOVERABLE, or a mutex that is not one
}

bool lockRegistryBounded(pthread_mutex_t* m) {
    if (tryLockRegistryOnce(m)) return true;
    for (int i = 0; i < 50; ++i) {
        sleepMs(10);
        if (tryLockRegistryOnce(m)) return true;
    }
    return false;
}

void sleepMs(int ms) {
    timespec ts{ms / 1000, long(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

} // namespace nx
