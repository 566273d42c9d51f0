// Replacement operator new/delete that counts allocations on threads that asked for it.
#include "AllocCounter.h"

#include <cstdlib>
#include <new>

namespace {

thread_local bool tCounting = false;
thread_local size_t tCount = 0;

void* Allocate(size_t size) {
    if (tCounting) ++tCount;
    if (size == 0) size = 1;
    if (void* p = std::malloc(size)) return p;
    throw std::bad_alloc();
}

void* AllocateAligned(size_t size, std::align_val_t align) {
    if (tCounting) ++tCount;
    const size_t a = static_cast<size_t>(align);
    size = (size + a - 1) / a * a;
    if (void* p = std::aligned_alloc(a, size ? size : a)) return p;
    throw std::bad_alloc();
}

} // namespace

namespace nxtest {

void StartCountingAllocations() {
    tCount = 0;
    tCounting = true;
}

size_t StopCountingAllocations() {
    tCounting = false;
    return tCount;
}

} // namespace nxtest

void* operator new(size_t size) {
    return Allocate(size);
}
void* operator new[](size_t size) {
    return Allocate(size);
}
void* operator new(size_t size, std::align_val_t align) {
    return AllocateAligned(size, align);
}
void* operator new[](size_t size, std::align_val_t align) {
    return AllocateAligned(size, align);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept {
    std::free(p);
}
