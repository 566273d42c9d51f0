// Per-instance handle on the machine-wide shared-memory peer registry: creates or opens the segment,
// claims and releases one slot, and (in the audio callback) publishes the own dry mono and gathers the
// heard peers. open() and the destructor run on host threads; publish() and gather() on the audio thread
// (lock-free, no allocation); the upkeep calls on the editor's UI thread.
#pragma once

#include "peerlink/RegistryLayout.h"

#include <atomic>
#include <cstdint>

namespace nx {

class NembrixSHM {
public:
    NembrixSHM();
    ~NembrixSHM();
    NembrixSHM(const NembrixSHM&) = delete;
    NembrixSHM& operator=(const NembrixSHM&) = delete;

    // Create or attach, claim a slot. Afterwards isConnected() says whether it worked.
    void open();
    // Removes a dead segment (no fresh slot, never finished, or the wrong size). Called by open().
    void forceCleanIfStale();

    // Acquire load: when true, mapped(), slotIndex() and instanceId() are valid.
    bool isConnected() const;
    int slotIndex() const;
    uint64_t instanceId() const;
    // Start of the mapping (the header), or null. Stays valid until the destructor.
    uint8_t* mapped() const;

    // Copies at most 39 characters of name into the own slot's name (NUL in the 40th byte); only while
    // the slot is still this handle's own. No lock.
    void setSlotName(const char* name);

    // Audio thread: writes n mono samples into the own ring, advances writePos, refreshes the heartbeat.
    // n == 0 refreshes only the heartbeat. Does nothing unless connected and the slot is still its own.
    void publish(const float* mono, int n);

    // Audio thread: adds the most recent min(n, 8192) samples of every heard peer into peerSum (which
    // the caller has filled with n zeros). linkSlot 0 = every unmuted live peer; otherwise only the peer
    // whose id is linkedPeerId. mutedPeerIds: 16 entries, 0 = empty.
    void gather(float* peerSum, int n, int linkSlot, uint64_t linkedPeerId,
                const std::atomic<uint64_t>* mutedPeerIds);

    // The instance id of the peer in registry slot (linkSlot - 1), or 0 (own slot, free slot, not mapped,
    // linkSlot outside 1..16).
    uint64_t resolveLink(int linkSlot) const;

    // Editor upkeep: refresh the own heartbeat; try the lock once and free every stale slot.
    void refreshHeartbeat();
    void reapStale();
};

} // namespace nx
