// Per-instance handle on the machine-wide shared-memory peer registry: creates or opens the segment,
// claims and releases one slot, and (in the audio callback) publishes the own dry mono and gathers the
// heard peers. open() and the destructor run on host threads; publish() and gather() on the audio thread
// (lock-free, no allocation); the upkeep calls on the editor's UI thread.
#pragma once

#include "peerlink/RegistryLayout.h"

#include <boost/interprocess/mapped_region.hpp>
#include <boost/interprocess/shared_memory_object.hpp>

#include <atomic>
#include <cstdint>

namespace nx {

class NembrixSHM {
public:
    // Longest accepted segment name (characters, without the leading slash POSIX adds).
    static constexpr int kMaxSegmentName = 200;

    // The segment name is resolved at every open(): NEMBRIX_REGISTRY when it holds a valid name,
    // otherwise "nembrix_dry_registry_v2".
    NembrixSHM();
    // A fixed segment name, used instead of the environment (tests, tools). An invalid name makes every
    // open() fail.
    explicit NembrixSHM(const char* segmentName);
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

    // One peer as the editor lists it. name is always NUL-terminated by the reader.
    struct PeerInfo {
        int slot = -1;
        uint64_t instanceId = 0;
        char name[kSlotNameBytes] = {};
        // Seconds since the peer's last heartbeat; 0 for a heartbeat in the future.
        int64_t heartbeatAgeSec = 0;
    };
    // While connected: the other active slots (state not 0, id neither 0 nor the own), in slot order,
    // without looking at the heartbeat. Fills at most max entries of out (out may be null to count);
    // returns how many peers there are (up to 16). Read-only, no lock; any thread.
    int listPeers(PeerInfo* out, int max) const;

    // The segment name the last open() used (empty before the first open()).
    const char* segmentName() const { return mSegmentName; }

    // 1 to 200 characters of [A-Za-z0-9_.-], not starting with '.'.
    static bool isValidSegmentName(const char* name);
    // The name open() would use now: a valid NEMBRIX_REGISTRY, else the default.
    static const char* segmentNameFromEnvironment();
    // Unlinks a registry segment and its guard file by name (tools that own a private registry, tests).
    // Processes that still map it keep their mapping. False when the name is invalid or nothing existed.
    static bool removeSegment(const char* name);

private:
    // What an attachment published: immutable once visible, kept until the destructor so that a thread
    // that loaded it may finish its block after the handle was lost or attached afresh.
    struct Binding {
        uint8_t* base = nullptr;
        int32_t slot = -1;
        uint64_t id = 0;
        mutable std::atomic<bool> lost{false};
    };
    static constexpr int kMaxBindings = 64;
    static constexpr int kMaxRetiredRegions = 8;

    bool openLocked();
    bool attachSegment(bool guarded);
    bool createSegment();
    bool openExistingSegment();
    bool adoptSegment(boost::interprocess::shared_memory_object& seg, bool fresh);
    void cleanStaleUnguarded();
    bool claimSlot(uint8_t* base);
    const Binding* liveBinding() const;
    // Relaxed check that the bound slot still carries this handle's id; marks the handle lost if not.
    PeerSlot* ownSlot(const Binding* b) const;
    uint64_t makeInstanceId();

    // Registry handle, per the registry's description (segment, mapping, connection state).
    boost::interprocess::shared_memory_object segment;
    boost::interprocess::mapped_region region;
    std::atomic<const Binding*> connected{nullptr};
    std::atomic<uint8_t*> mappedBase{nullptr};

    // Earlier mappings of a replaced segment, unmapped only by the destructor.
    boost::interprocess::mapped_region retired[kMaxRetiredRegions];
    int retiredCount = 0;
    Binding bindings[kMaxBindings];
    int bindingCount = 0;

    bool explicitName = false;
    char mSegmentName[kMaxSegmentName + 1] = {};

    // Stall memory of the audio thread: per slot, the id and writePos last seen and how many own samples
    // have been gathered since that writePos last moved.
    uint64_t stallId[kRegistrySlots] = {};
    uint32_t stallPos[kRegistrySlots] = {};
    uint32_t stallIdle[kRegistrySlots] = {};
};

} // namespace nx
