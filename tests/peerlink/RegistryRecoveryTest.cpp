// Recovery of the registry from what crashed or quiet instances leave behind: a lock held by a killed
// process, dead or half-made segments, simultaneous attaches to a dead segment, and slots reclaimed
// from a quiet instance of the same process.
#include "peerlink/NembrixSHM.h"
#include "tests/peerlink/PeerPattern.h"
#include "tests/peerlink/RegistryTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <ctime>
#include <memory>
#include <set>
#include <thread>
#include <unistd.h>
#include <vector>

namespace nx {
namespace {

using test::FixtureSlot;
using test::PeerProcess;
using test::RawSegment;
using test::ScopedSegmentName;

int64_t now() {
    return int64_t(std::time(nullptr));
}

TEST(RegistryRecovery, ProcessKilledWhileHoldingTheLockDoesNotBlockOthers) {
    ScopedSegmentName seg("killedlock");
    PeerProcess holder(seg.c_str());
    const auto h = holder.open();
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(holder.command("lock"), "ok");

    // While the live holder keeps it, a claim gives up after its bounded tries (unconnected, no hang).
    {
        NembrixSHM blocked(seg.c_str());
        blocked.open();
        EXPECT_FALSE(blocked.isConnected());
    }
    holder.killHard();

    NembrixSHM a(seg.c_str());
    a.open();
    ASSERT_TRUE(a.isConnected());
    EXPECT_EQ(a.slotIndex(), 1); // the killed holder's slot is still active, its heartbeat fresh
    // The lock works normally again: a release frees the slot for the next claim.
    auto b = std::make_unique<NembrixSHM>(seg.c_str());
    b->open();
    ASSERT_EQ(b->slotIndex(), 2);
    b.reset();
    NembrixSHM c(seg.c_str());
    c.open();
    EXPECT_EQ(c.slotIndex(), 2);
}

TEST(RegistryRecovery, DeadOrHalfMadeSegmentsAreReplacedAndLiveOnesKept) {
    const int64_t t = now();
    const uint64_t fixtureId = 0x1234567890ull;
    const int32_t otherPid = 1; // never this process
    struct Case {
        const char* what;
        size_t size;
        uint32_t magic;
        std::vector<FixtureSlot> slots;
        bool replaced;
    } cases[] = {
        {"every slot stale",
         kRegistryBytes,
         kRegistryMagic,
         {{1, fixtureId, otherPid, t - 11}, {1, 7, otherPid, t - 3600}},
         true},
        {"fresh heartbeat but free slot",
         kRegistryBytes,
         kRegistryMagic,
         {{0, fixtureId, otherPid, t}},
         true},
        {"heartbeat from the far past",
         kRegistryBytes,
         kRegistryMagic,
         {{1, fixtureId, otherPid, INT64_MIN}},
         true},
        {"never finished (magic 0)", kRegistryBytes, 0, {{1, fixtureId, otherPid, t}}, true},
        {"foreign magic", kRegistryBytes, 0xDEADBEEF, {{1, fixtureId, otherPid, t}}, true},
        {"0 bytes (creator killed before sizing)", 0, 0, {}, true},
        {"too small", 4096, 0, {}, true},
        {"too large", kRegistryBytes + 4096, 0, {}, true},
        {"one fresh slot", kRegistryBytes, kRegistryMagic, {{1, fixtureId, otherPid, t + 1}}, false},
        {"heartbeat in the future (clock set back)",
         kRegistryBytes,
         kRegistryMagic,
         {{1, fixtureId, otherPid, INT64_MAX}},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedSegmentName seg("dead");
        ASSERT_TRUE(test::makeFixtureSegment(seg.c_str(), c.size, c.magic, c.slots));
        const uint64_t inodeBefore = test::segmentInode(seg.c_str());

        NembrixSHM shm(seg.c_str());
        shm.open();
        ASSERT_TRUE(shm.isConnected());
        EXPECT_EQ(shm.slotIndex(), c.replaced ? 0 : 1);
        EXPECT_EQ(test::segmentInode(seg.c_str()) != inodeBefore, c.replaced);
        EXPECT_EQ(test::segmentMode(seg.c_str()), 0600);
        RawSegment raw(seg.c_str());
        ASSERT_TRUE(raw.ok());
        EXPECT_EQ(raw.header()->magic, kRegistryMagic);
        EXPECT_EQ(raw.slot(0)->instanceId, c.replaced ? shm.instanceId() : fixtureId);
    }
}

TEST(RegistryRecovery, SimultaneousAttachesToADeadSegmentMeetOnOneSegment) {
    ScopedSegmentName seg("race");
    ASSERT_TRUE(
        test::makeFixtureSegment(seg.c_str(), kRegistryBytes, kRegistryMagic, {{1, 99, 1, now() - 60}}));
    constexpr int kProcs = 6;
    std::vector<std::unique_ptr<PeerProcess>> procs;
    for (int i = 0; i < kProcs; ++i) procs.push_back(std::make_unique<PeerProcess>(seg.c_str()));
    for (auto& p : procs) ASSERT_TRUE(p->send("0 open"));
    std::set<int> slots;
    for (auto& p : procs) {
        const std::string reply = p->readReply();
        int connected = 0, slot = -1;
        ASSERT_EQ(std::sscanf(reply.c_str(), "ok %d %d", &connected, &slot), 2) << reply;
        EXPECT_EQ(connected, 1);
        slots.insert(slot);
    }
    // Two processes on two different segments would both hold slot 0.
    EXPECT_EQ(slots.size(), size_t(kProcs));
    EXPECT_EQ(*slots.rbegin(), kProcs - 1);
}

TEST(RegistryRecovery, QuietSlotReclaimedInTheSameProcessIsNeverWrittenByItsFormerOwner) {
    ScopedSegmentName seg("reclaim");
    // Two quiet instances of this process; another process's quiet slot is not this process's to reclaim.
    auto quiet = std::make_unique<NembrixSHM>(seg.c_str());
    auto silent = std::make_unique<NembrixSHM>(seg.c_str());
    quiet->open();
    silent->open();
    ASSERT_EQ(quiet->slotIndex(), 0);
    ASSERT_EQ(silent->slotIndex(), 1);
    PeerProcess other(seg.c_str());
    ASSERT_EQ(other.open().slot, 2);
    const uint64_t quietId = quiet->instanceId();
    std::vector<float> block(512);
    for (int k = 0; k < 512; ++k) block[size_t(k)] = test::peerPattern(1, uint32_t(k));
    quiet->publish(block.data(), 512);

    // Bypassed (no publishing) for more than 5 seconds, then the host creates another instance.
    std::this_thread::sleep_for(std::chrono::milliseconds(6200));
    NembrixSHM newcomer(seg.c_str()), second(seg.c_str());
    newcomer.open();
    second.open();
    ASSERT_TRUE(newcomer.isConnected() && second.isConnected());
    EXPECT_EQ(newcomer.slotIndex(), 0);
    EXPECT_EQ(second.slotIndex(), 1);
    EXPECT_NE(newcomer.instanceId(), quietId);
    EXPECT_EQ(other.state().slot, 2);
    RawSegment raw(seg.c_str());
    ASSERT_TRUE(raw.ok());
    EXPECT_EQ(raw.slot(2)->state, 1u);

    // Destroyed before it ever wrote again: the slot it held belongs to the second newcomer now.
    silent.reset();
    EXPECT_EQ(raw.slot(1)->state, 1u);
    EXPECT_EQ(raw.slot(1)->instanceId, second.instanceId());

    PeerSlot* s = raw.slot(0);
    EXPECT_EQ(s->writePos, 0u);
    EXPECT_EQ(s->ring[0], 0.0f); // the claim cleared the former owner's audio

    // Un-bypassed: the former owner notices on its first write and writes nothing.
    quiet->publish(block.data(), 512);
    quiet->setSlotName("former owner");
    quiet->refreshHeartbeat();
    EXPECT_FALSE(quiet->isConnected());
    EXPECT_EQ(s->writePos, 0u);
    for (int k = 0; k < 512; ++k) ASSERT_EQ(s->ring[k], 0.0f) << k;
    EXPECT_STREQ(s->name, "Nembrix #1");

    // The next reset attaches it afresh, under a new id, in the lowest free slot.
    quiet->open();
    ASSERT_TRUE(quiet->isConnected());
    EXPECT_EQ(quiet->slotIndex(), 3);
    EXPECT_NE(quiet->instanceId(), quietId);
    quiet->publish(block.data(), 512);
    EXPECT_EQ(raw.slot(3)->writePos, 512u);

    // Destroying a lost handle never frees the newcomer's slot.
    quiet.reset();
    EXPECT_EQ(s->state, 1u);
    EXPECT_EQ(s->instanceId, newcomer.instanceId());
    EXPECT_EQ(raw.slot(3)->state, 0u);
}

TEST(RegistryRecovery, RetriedOpenOnAReplacedSegmentKeepsTheEarlierMappingReadable) {
    ScopedSegmentName seg("remap");
    std::vector<std::unique_ptr<NembrixSHM>> full;
    for (int i = 0; i < kRegistrySlots; ++i) {
        full.push_back(std::make_unique<NembrixSHM>(seg.c_str()));
        full.back()->open();
    }
    NembrixSHM late(seg.c_str());
    late.open();
    ASSERT_FALSE(late.isConnected());
    uint8_t* earlier = late.mapped();
    ASSERT_NE(earlier, nullptr);

    // Every owner falls silent (as after a crash): the retry replaces the dead segment.
    for (int i = 0; i < kRegistrySlots; ++i) registrySlot(earlier, i)->heartbeat = now() - 60;
    late.open();
    ASSERT_TRUE(late.isConnected());
    EXPECT_EQ(late.slotIndex(), 0);
    EXPECT_NE(late.mapped(), earlier);
    // Another thread may still be reading through the earlier mapping: it stays mapped until the
    // destructor (a read of unmapped memory would fault here).
    EXPECT_EQ(registryHeader(earlier)->magic, kRegistryMagic);
    EXPECT_EQ(registrySlot(earlier, 3)->state, 1u);
}

TEST(RegistryRecovery, EditorUpkeepReapsOnlyStaleSlots) {
    ScopedSegmentName seg("reap");
    NembrixSHM own(seg.c_str()), fresh(seg.c_str()), stale(seg.c_str());
    own.open();
    fresh.open();
    stale.open();
    ASSERT_TRUE(own.isConnected() && fresh.isConnected() && stale.isConnected());
    RawSegment raw(seg.c_str());
    ASSERT_TRUE(raw.ok());
    raw.slot(stale.slotIndex())->heartbeat = now() - 11;
    raw.slot(own.slotIndex())->heartbeat = now() - 100;

    own.refreshHeartbeat(); // first the own heartbeat, as the editor does
    own.reapStale();
    EXPECT_EQ(raw.slot(own.slotIndex())->state, 1u);
    EXPECT_EQ(raw.slot(fresh.slotIndex())->state, 1u);
    EXPECT_EQ(raw.slot(stale.slotIndex())->state, 0u);
    EXPECT_EQ(raw.slot(stale.slotIndex())->instanceId, 0u);
    EXPECT_EQ(own.listPeers(nullptr, 0), 1);
}

} // namespace
} // namespace nx
