// Byte layout of the machine-wide peer registry segment: a 64-byte header and 16 slots of 32896 bytes.
// Every instance of either deliverable, in any process, maps the same bytes, so the layout is fixed:
// the static asserts below pin every field's offset. Values read from a mapped segment are untrusted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <pthread.h>

namespace nx {

constexpr const char* kRegistryDefaultName = "nembrix_dry_registry_v2";
constexpr uint32_t kRegistryVersion = 2;
// 'NXFA' as a big-endian constant; in memory the bytes 41 46 58 4E. Written last by the creator.
constexpr uint32_t kRegistryMagic = 0x4E584641u;
constexpr int kRegistrySlots = 16;
constexpr int kRingSamples = 8192; // a power of two dividing 2^32, so writePos wraps seamlessly
constexpr uint32_t kRingMask = kRingSamples - 1;
constexpr int kSlotNameBytes = 40; // at most 39 characters and a NUL
// A slot is live while its heartbeat is at most this many seconds old.
constexpr int64_t kStaleSeconds = 10;
// open() frees this process's own slots whose heartbeat is older than this.
constexpr int64_t kOwnReclaimSeconds = 5;

struct RegistryHeader {
    uint32_t version;
    uint32_t magic;
    // The cross-process lock: a robust, process-shared pthread mutex constructed in place.
    alignas(8) unsigned char mutex[40];
    unsigned char reserved[16];
};

struct PeerSlot {
    uint64_t instanceId; // 0 = none
    int32_t pid;
    uint32_t state;    // 1 = active, 0 = free
    int64_t heartbeat; // time() of the owner's last sign of life, whole seconds
    char name[kSlotNameBytes];
    float ring[kRingSamples]; // the owner's dry mono, indexed by sample count & kRingMask
    uint32_t writePos;        // free-running count of samples written to ring
    uint32_t reserved0;
    uint64_t reserved1; // zeroed at claim, never read
    uint32_t reserved2; // zeroed at claim, never read
    unsigned char reserved3[44];
};

constexpr size_t kRegistryHeaderBytes = 64;
constexpr size_t kSlotBytes = 32896;
constexpr size_t kRegistryBytes = kRegistryHeaderBytes + kRegistrySlots * kSlotBytes;

static_assert(sizeof(pthread_mutex_t) == 40, "the registry lock must fit the 40-byte mutex field");
static_assert(alignof(pthread_mutex_t) <= 8);

static_assert(offsetof(RegistryHeader, version) == 0);
static_assert(offsetof(RegistryHeader, magic) == 4);
static_assert(offsetof(RegistryHeader, mutex) == 8);
static_assert(offsetof(RegistryHeader, reserved) == 48);
static_assert(sizeof(RegistryHeader) == kRegistryHeaderBytes);

static_assert(offsetof(PeerSlot, instanceId) == 0);
static_assert(offsetof(PeerSlot, pid) == 8);
static_assert(offsetof(PeerSlot, state) == 12);
static_assert(offsetof(PeerSlot, heartbeat) == 16);
static_assert(offsetof(PeerSlot, name) == 24);
static_assert(offsetof(PeerSlot, ring) == 64);
static_assert(offsetof(PeerSlot, writePos) == 32832);
static_assert(offsetof(PeerSlot, reserved0) == 32836);
static_assert(offsetof(PeerSlot, reserved1) == 32840);
static_assert(offsetof(PeerSlot, reserved2) == 32848);
static_assert(offsetof(PeerSlot, reserved3) == 32852);
static_assert(sizeof(PeerSlot) == kSlotBytes);
static_assert(alignof(PeerSlot) == 8 && kSlotBytes % 8 == 0 && kRegistryHeaderBytes % 8 == 0);
static_assert(kRegistryBytes == 526400);

// The header and slot i of a mapping of at least kRegistryBytes bytes. i must be 0..15.
inline RegistryHeader* registryHeader(uint8_t* base) {
    return reinterpret_cast<RegistryHeader*>(base);
}
inline PeerSlot* registrySlot(uint8_t* base, int i) {
    return reinterpret_cast<PeerSlot*>(base + kRegistryHeaderBytes + size_t(i) * kSlotBytes);
}

} // namespace nx
