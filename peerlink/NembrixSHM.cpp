// Registry handle: attachment, slot claim and release, stale-segment removal, and the editor's upkeep.
// Runs on host threads (open, destructor) and the editor's UI thread (upkeep, peer list); the audio
// exchange itself is in PeerExchange.cpp. No exception leaves this file.
#include "peerlink/NembrixSHM.h"

#include "peerlink/RegistryLock.h"
#include "peerlink/SegmentGuard.h"
#include "peerlink/SlotAccess.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h> // posix_fallocate
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace bip = boost::interprocess;

namespace nx {

namespace {

// Claims made by this module; mixed into instance ids so that a handle re-created at a freed address
// never repeats an earlier id.
std::atomic<uint32_t> sClaimCounter{0};

// Waits for a segment's size and ready marker share one budget: 100 checks 10 ms apart.
constexpr int kReadyChecks = 100;

bool sameObject(int fdA, int fdB) {
    struct stat a = {};
    struct stat b = {};
    if (fdA < 0 || fdB < 0 || fstat(fdA, &a) != 0 || fstat(fdB, &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool segmentSize(const bip::shared_memory_object& seg, bip::offset_t& size) {
    size = 0;
    return seg.get_size(size);
}

// True when some active slot has a heartbeat at most kStaleSeconds old (a future one counts as live).
bool anySlotFresh(uint8_t* base, int64_t now) {
    for (int i = 0; i < kRegistrySlots; ++i) {
        PeerSlot* s = registrySlot(base, i);
        if (relaxedLoad(s->state) == 1 && relaxedLoad(s->heartbeat) >= now - kStaleSeconds) return true;
    }
    return false;
}

} // namespace

NembrixSHM::NembrixSHM() = default;

NembrixSHM::NembrixSHM(const char* name) : explicitName(true) {
    if (isValidSegmentName(name)) std::snprintf(mSegmentName, sizeof(mSegmentName), "%s", name);
}

NembrixSHM::~NembrixSHM() {
    const Binding* b = liveBinding();
    if (b) {
        auto* mutex = registryMutex(b->base);
        if (lockRegistryBounded(mutex)) {
            PeerSlot* s = registrySlot(b->base, b->slot);
            // A slot reclaimed by another instance meanwhile is left to its new owner.
            if (relaxedLoad(s->instanceId) == b->id) {
                relaxedStore(s->state, 0u);
                relaxedStore(s->instanceId, uint64_t(0));
            }
            pthread_mutex_unlock(mutex);
        }
    }
    connected.store(nullptr, std::memory_order_release);
    mappedBase.store(nullptr, std::memory_order_release);
    // The members unmap every mapping and close the segment handle; the segment itself stays.
}

bool NembrixSHM::isValidSegmentName(const char* name) {
    if (!name || name[0] == '\0' || name[0] == '.') return false;
    int len = 0;
    for (const char* p = name; *p; ++p, ++len) {
        const char c = *p;
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                        c == '_' || c == '.' || c == '-';
        if (!ok || len >= kMaxSegmentName) return false;
    }
    return true;
}

const char* NembrixSHM::segmentNameFromEnvironment() {
    const char* env = std::getenv("NEMBRIX_REGISTRY");
    return isValidSegmentName(env) ? env : kRegistryDefaultName;
}

bool NembrixSHM::removeSegment(const char* name) {
    if (!isValidSegmentName(name)) return false;
    bool removed = false;
    try {
        removed = bip::shared_memory_object::remove(name);
    } catch (...) {
    }
    SegmentGuard::removeGuardFile(name);
    return removed;
}

void NembrixSHM::open() {
    // Serialises every open() of this process: instances of one process claim slots one after another.
    static std::mutex sInitMutex;
    try {
        std::lock_guard<std::mutex> lock(sInitMutex);
        if (isConnected()) return;
        openLocked();
    } catch (...) {
        // Any failure leaves the handle unconnected.
    }
}

bool NembrixSHM::openLocked() {
    if (!explicitName) std::snprintf(mSegmentName, sizeof(mSegmentName), "%s", segmentNameFromEnvironment());
    if (mSegmentName[0] == '\0') return false;
    if (bindingCount >= kMaxBindings) return false;

    // Stale check, removal and creation happen under the cross-process guard, so two processes that
    // attach to a dead segment at the same moment always end up on the same new one. Without the guard
    // (its holder stopped), only an existing segment is opened.
    bool attached = false;
    {
        SegmentGuard guard(mSegmentName);
        if (guard.held()) cleanStaleUnguarded();
        attached = attachSegment(guard.held());
    }
    if (!attached) return false;
    return claimSlot(mappedBase.load(std::memory_order_relaxed));
}

void NembrixSHM::forceCleanIfStale() {
    try {
        if (!explicitName)
            std::snprintf(mSegmentName, sizeof(mSegmentName), "%s", segmentNameFromEnvironment());
        if (mSegmentName[0] == '\0') return;
        SegmentGuard guard(mSegmentName);
        if (guard.held()) cleanStaleUnguarded();
    } catch (...) {
    }
}

// The stale check proper; the caller holds the segment guard.
void NembrixSHM::cleanStaleUnguarded() {
    bool remove = false;
    try {
        bip::shared_memory_object seg(bip::open_only, mSegmentName, bip::read_only);
        bip::offset_t size = 0;
        if (!segmentSize(seg, size) || size != bip::offset_t(kRegistryBytes)) {
            // Never finished sizing, or not a registry at all: never mapped, replaced.
            remove = true;
        } else {
            bip::mapped_region view(seg, bip::read_only, 0, kRegistryBytes);
            auto* base = static_cast<uint8_t*>(view.get_address());
            if (acquireLoad(registryHeader(base)->magic) != kRegistryMagic) {
                remove = true;
            } else {
                remove = !anySlotFresh(base, int64_t(std::time(nullptr)));
            }
        }
    } catch (...) {
        return; // absent or unreadable: nothing to remove
    }
    if (remove) {
        try {
            bip::shared_memory_object::remove(mSegmentName);
        } catch (...) {
        }
    }
}

bool NembrixSHM::attachSegment(bool guarded) {
    // A mapping of a replaced segment is kept (retired) until the destructor; when no place is left for
    // one more, only the segment already mapped can be attached again.
    const bool canRemap = region.get_address() == nullptr || retiredCount < kMaxRetiredRegions;
    if (guarded && canRemap && createSegment()) return true;
    return openExistingSegment();
}

bool NembrixSHM::createSegment() {
    bip::shared_memory_object seg;
    try {
        bip::shared_memory_object created(bip::create_only, mSegmentName, bip::read_write,
                                          bip::permissions(0600));
        seg.swap(created);
    } catch (...) {
        return false; // it exists already (the usual case), or cannot be created
    }
    // From here on the object is ours and half-made: any failure removes it again.
    bool ok = false;
    try {
        const int fd = seg.get_mapping_handle().handle;
        // Reserve the memory before the first touch, so that a full /dev/shm fails here instead of
        // raising SIGBUS on a later write through the mapping.
        bip::offset_t size = 0;
        if (posix_fallocate(fd, 0, off_t(kRegistryBytes)) == 0 && segmentSize(seg, size) &&
            size == bip::offset_t(kRegistryBytes)) {
            ok = adoptSegment(seg, true);
        }
    } catch (...) {
        ok = false;
    }
    if (!ok) {
        try {
            bip::shared_memory_object::remove(mSegmentName);
        } catch (...) {
        }
    }
    return ok;
}

bool NembrixSHM::openExistingSegment() {
    bip::shared_memory_object seg;
    try {
        bip::shared_memory_object opened(bip::open_only, mSegmentName, bip::read_write);
        seg.swap(opened);
    } catch (...) {
        return false;
    }
    // A segment is mapped only once it has its full size; the size and the ready marker share one
    // budget of about a second.
    int checks = 0;
    bip::offset_t size = 0;
    while (!segmentSize(seg, size) || size != bip::offset_t(kRegistryBytes)) {
        if (++checks >= kReadyChecks) return false;
        sleepMs(10);
    }
    if (!adoptSegment(seg, false)) return false;
    uint8_t* base = mappedBase.load(std::memory_order_relaxed);
    while (acquireLoad(registryHeader(base)->magic) != kRegistryMagic) {
        if (++checks >= kReadyChecks) return false;
        sleepMs(10);
    }
    return true;
}

// Makes seg the handle's segment. When it is the object already mapped, that mapping is reused;
// otherwise it is mapped and the previous mapping retired. A fresh segment is initialised.
bool NembrixSHM::adoptSegment(bip::shared_memory_object& seg, bool fresh) {
    const int newFd = seg.get_mapping_handle().handle;
    if (region.get_address() != nullptr && !fresh && sameObject(segment.get_mapping_handle().handle, newFd))
        return true;
    if (region.get_address() != nullptr && retiredCount >= kMaxRetiredRegions) return false;

    bip::mapped_region mapping(seg, bip::read_write, 0, kRegistryBytes);
    auto* base = static_cast<uint8_t*>(mapping.get_address());
    if (fresh) {
        std::memset(base, 0, kRegistryBytes);
        RegistryHeader* h = registryHeader(base);
        relaxedStore(h->version, kRegistryVersion);
        relaxedStore(h->magic, 0u);
        if (!initRegistryMutex(registryMutex(base))) return false;
        releaseStore(h->magic, kRegistryMagic); // written last: the segment is ready
    }
    if (region.get_address() != nullptr) retired[retiredCount++].swap(region);
    region.swap(mapping);
    segment.swap(seg);
    mappedBase.store(base, std::memory_order_release);
    return true;
}

bool NembrixSHM::claimSlot(uint8_t* base) {
    if (!base) return false;
    auto* mutex = registryMutex(base);
    if (!lockRegistryBounded(mutex)) return false;

    const int64_t now = int64_t(std::time(nullptr));
    const int32_t pid = int32_t(getpid());
    // Leftovers of this process (a host that reloaded the plug-in without releasing) are reclaimed once
    // they have been quiet for more than kOwnReclaimSeconds. Their former owners notice at their next
    // write and stop writing.
    for (int i = 0; i < kRegistrySlots; ++i) {
        PeerSlot* s = registrySlot(base, i);
        if (relaxedLoad(s->state) == 1 && relaxedLoad(s->pid) == pid &&
            relaxedLoad(s->heartbeat) < now - kOwnReclaimSeconds) {
            relaxedStore(s->state, 0u);
            relaxedStore(s->instanceId, uint64_t(0));
        }
    }
    int g = -1;
    for (int i = 0; i < kRegistrySlots && g < 0; ++i)
        if (relaxedLoad(registrySlot(base, i)->state) == 0) g = i;
    if (g < 0) {
        pthread_mutex_unlock(mutex);
        return false; // all slots taken: this instance runs unattached
    }

    PeerSlot* s = registrySlot(base, g);
    const uint64_t id = makeInstanceId();
    // The ring and counters are cleared before the slot shows as active, so a reader never hears the
    // former owner's audio under the new id.
    for (int k = 0; k < kRingSamples; ++k) relaxedStore(s->ring[k], 0.0f);
    relaxedStore(s->writePos, 0u);
    relaxedStore(s->reserved1, uint64_t(0));
    relaxedStore(s->reserved2, 0u);
    char name[kSlotNameBytes];
    std::snprintf(name, sizeof(name), "Nembrix #%d", g + 1);
    storeSlotName(s, name);
    relaxedStore(s->pid, pid);
    relaxedStore(s->heartbeat, now);
    relaxedStore(s->instanceId, id);
    releaseStore(s->state, 1u);
    pthread_mutex_unlock(mutex);

    Binding& b = bindings[bindingCount++];
    b.base = base;
    b.slot = g;
    b.id = id;
    b.lost.store(false, std::memory_order_relaxed);
    connected.store(&b, std::memory_order_release);
    return true;
}

uint64_t NembrixSHM::makeInstanceId() {
    // Address XOR (pid << 32), as peers of every version compute it. The claim counter (1..8191, 13 bits)
    // goes into bits that neither uses: the low 3 bits (the handle is 8-byte aligned) and bits 54..63
    // (user addresses stay below 2^47, pids below 2^22).
    static_assert(alignof(NembrixSHM) >= 8);
    const uint64_t c = uint64_t(sClaimCounter.fetch_add(1, std::memory_order_relaxed) % 8191u) + 1u;
    uint64_t id = uint64_t(reinterpret_cast<uintptr_t>(this)) ^ (uint64_t(uint32_t(getpid())) << 32);
    id ^= (c & 7u) | ((c >> 3) << 54);
    return id != 0 ? id : (uint64_t(1) << 63) | c;
}

const NembrixSHM::Binding* NembrixSHM::liveBinding() const {
    const Binding* b = connected.load(std::memory_order_acquire);
    return b && !b->lost.load(std::memory_order_relaxed) ? b : nullptr;
}

PeerSlot* NembrixSHM::ownSlot(const Binding* b) const {
    if (!b) return nullptr;
    PeerSlot* s = registrySlot(b->base, b->slot);
    if (relaxedLoad(s->instanceId) != b->id) {
        // The slot was reclaimed by another instance: never write it again; the next open() attaches
        // afresh.
        b->lost.store(true, std::memory_order_relaxed);
        return nullptr;
    }
    return s;
}

bool NembrixSHM::isConnected() const {
    return liveBinding() != nullptr;
}

int NembrixSHM::slotIndex() const {
    const Binding* b = liveBinding();
    return b ? b->slot : -1;
}

uint64_t NembrixSHM::instanceId() const {
    const Binding* b = liveBinding();
    return b ? b->id : 0;
}

uint8_t* NembrixSHM::mapped() const {
    return mappedBase.load(std::memory_order_acquire);
}

void NembrixSHM::setSlotName(const char* name) {
    if (!name) return;
    if (PeerSlot* s = ownSlot(liveBinding())) storeSlotName(s, name);
}

uint64_t NembrixSHM::resolveLink(int linkSlot) const {
    if (linkSlot < 1 || linkSlot > kRegistrySlots) return 0;
    uint8_t* base = mapped();
    if (!base) return 0;
    const Binding* b = liveBinding();
    const int own = b ? b->slot : -1;
    const uint64_t ownId = b ? b->id : 0;
    const int s = linkSlot - 1;
    if (s == own) return 0;
    PeerSlot* slot = registrySlot(base, s);
    if (relaxedLoad(slot->state) != 1) return 0;
    const uint64_t id = relaxedLoad(slot->instanceId);
    return id == ownId ? 0 : id;
}

void NembrixSHM::refreshHeartbeat() {
    if (PeerSlot* s = ownSlot(liveBinding())) relaxedStore(s->heartbeat, int64_t(std::time(nullptr)));
}

void NembrixSHM::reapStale() {
    const Binding* b = liveBinding();
    if (!b) return;
    auto* mutex = registryMutex(b->base);
    if (!tryLockRegistryOnce(mutex)) return;
    const int64_t now = int64_t(std::time(nullptr));
    for (int i = 0; i < kRegistrySlots; ++i) {
        PeerSlot* s = registrySlot(b->base, i);
        if (relaxedLoad(s->state) == 1 && relaxedLoad(s->heartbeat) < now - kStaleSeconds) {
            relaxedStore(s->state, 0u);
            relaxedStore(s->instanceId, uint64_t(0));
        }
    }
    pthread_mutex_unlock(mutex);
}

int NembrixSHM::listPeers(PeerInfo* out, int max) const {
    const Binding* b = liveBinding();
    if (!b) return 0;
    const int64_t now = int64_t(std::time(nullptr));
    int count = 0;
    for (int i = 0; i < kRegistrySlots; ++i) {
        if (i == b->slot) continue;
        PeerSlot* s = registrySlot(b->base, i);
        if (relaxedLoad(s->state) == 0) continue;
        const uint64_t id = relaxedLoad(s->instanceId);
        if (id == 0 || id == b->id) continue;
        if (out && count < max) {
            PeerInfo& p = out[count];
            p.slot = i;
            p.instanceId = id;
            loadSlotName(s, p.name);
            p.heartbeatAgeSec = heartbeatAge(relaxedLoad(s->heartbeat), now);
        }
        ++count;
    }
    return count;
}

} // namespace nx
