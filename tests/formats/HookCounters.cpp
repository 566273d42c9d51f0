// Replacement operator new/delete and an interposed pthread_mutex_lock that count per thread.
#include "tests/formats/HookCounters.h"

#include <cstdlib>
#include <dlfcn.h>
#include <new>
#include <pthread.h>

namespace {
thread_local bool tCounting = false;
thread_local uint64_t tAllocations = 0;
thread_local uint64_t tLocks = 0;

using LockFn = int (*)(pthread_mutex_t*);
LockFn realLock() {
    static LockFn fn = reinterpret_cast<LockFn>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    return fn;
}
// Resolve before main, while the process is still single-threaded.
const bool kResolved = realLock() != nullptr;

void* countedAlloc(std::size_t n) {
    if (tCounting) ++tAllocations;
    void* p = std::malloc(n ? n : 1);
    return p;
}
void* countedAlignedAlloc(std::size_t n, std::align_val_t a) {
    if (tCounting) ++tAllocations;
    const std::size_t al = static_cast<std::size_t>(a);
    const std::size_t size = ((n ? n : 1) + al - 1) / al * al;
    return std::aligned_alloc(al, size);
}
} // namespace

namespace nx::test {
void beginCounting() {
    tAllocations = 0;
    tLocks = 0;
    tCounting = true;
}
HookCounts endCounting() {
    tCounting = false;
    return {tAllocations, tLocks};
}
} // namespace nx::test

extern "C" int pthread_mutex_lock(pthread_mutex_t* m) {
    if (tCounting) ++tLocks;
    LockFn fn = realLock();
    return fn ? fn(m) : 0;
}

void* operator new(std::size_t n) {
    if (void* p = countedAlloc(n)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
    if (void* p = countedAlloc(n)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return countedAlloc(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return countedAlloc(n);
}
void* operator new(std::size_t n, std::align_val_t a) {
    if (void* p = countedAlignedAlloc(n, a)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n, std::align_val_t a) {
    if (void* p = countedAlignedAlloc(n, a)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return countedAlignedAlloc(n, a);
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return countedAlignedAlloc(n, a);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
