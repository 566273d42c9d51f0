// The registry's cross-process lock: a robust, process-shared pthread mutex living in the header's
// 40-byte mutex field. It is only ever tried, never waited for without limit: a holder killed while
// holding it is detected (owner dead) and the mutex made consistent again. Host and UI threads only.
#pragma once

#include "peerlink/RegistryLayout.h"

#include <pthread.h>

namespace nx {

inline pthread_mutex_t* registryMutex(uint8_t* base) {
    return reinterpret_cast<pthread_mutex_t*>(registryHeader(base)->mutex);
}

// Constructs the mutex in place (process-shared, robust). False when the system refuses.
bool initRegistryMutex(pthread_mutex_t* m);
// One try. Owner dead: made consistent and obtained. Busy, not recoverable or any error: not obtained.
bool tryLockRegistryOnce(pthread_mutex_t* m);
// One try, then up to 50 more 10 ms apart (about half a second).
bool lockRegistryBounded(pthread_mutex_t* m);

void sleepMs(int ms);

} // namespace nx
