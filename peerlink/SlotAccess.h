// Accessors for fields of the shared registry segment. Every field is written by its single owner and
// read by any number of instances in any process, so each access is one whole relaxed atomic operation
// (std::atomic_ref) and every value read is treated as untrusted by its caller.
#pragma once

#include "peerlink/RegistryLayout.h"

#include <atomic>
#include <cstdint>
#include <cstring>

namespace nx {

template <typename T>
inline T relaxedLoad(const T& field) {
    return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}
template <typename T>
inline void relaxedStore(T& field, T value) {
    std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}
template <typename T>
inline T acquireLoad(const T& field) {
    return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_acquire);
}
template <typename T>
inline void releaseStore(T& field, T value) {
    std::atomic_ref<T>(field).store(value, std::memory_order_release);
}

// The 40-byte name field is accessed as five aligned 64-bit words.
constexpr int kNameWords = kSlotNameBytes / 8;
static_assert(kSlotNameBytes % 8 == 0 && offsetof(PeerSlot, name) % 8 == 0);

inline uint64_t* slotNameWords(PeerSlot* s) {
    return reinterpret_cast<uint64_t*>(s->name);
}

// Stores at most 39 characters of name, a NUL, and zeros up to the field's end.
inline void storeSlotName(PeerSlot* s, const char* name) {
    char buf[kSlotNameBytes] = {};
    const size_t n = strnlen(name, kSlotNameBytes - 1);
    std::memcpy(buf, name, n);
    uint64_t words[kNameWords];
    std::memcpy(words, buf, sizeof(words));
    uint64_t* dst = slotNameWords(s);
    for (int i = 0; i < kNameWords; ++i) relaxedStore(dst[i], words[i]);
}

// Copies the name field into out (kSlotNameBytes bytes), terminated by the reader whatever the field holds.
inline void loadSlotName(const PeerSlot* s, char* out) {
    uint64_t words[kNameWords];
    const uint64_t* src = slotNameWords(const_cast<PeerSlot*>(s));
    for (int i = 0; i < kNameWords; ++i) words[i] = relaxedLoad(src[i]);
    std::memcpy(out, words, kSlotNameBytes);
    out[kSlotNameBytes - 1] = '\0';
}

// Seconds since heartbeat, without subtracting an untrusted value that could overflow: 0 for a heartbeat
// in the future, capped at INT32_MAX for absurdly old ones.
inline int64_t heartbeatAge(int64_t heartbeat, int64_t now) {
    constexpr int64_t kCap = INT32_MAX;
    if (heartbeat >= now) return 0;
    if (heartbeat < now - kCap) return kCap;
    return now - heartbeat;
}

} // namespace nx
