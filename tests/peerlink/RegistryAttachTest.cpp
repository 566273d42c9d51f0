// Attaching to the registry: segment creation and its bytes, slot claiming across processes, the
// seventeenth instance, slot names, and the segment name taken from the environment.
#include "peerlink/NembrixSHM.h"
#include "tests/peerlink/RegistryTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace nx {
namespace {

using test::PeerProcess;
using test::RawSegment;
using test::ScopedSegmentName;

template <typename T>
T readLE(const uint8_t* p) {
    T v{};
    for (size_t i = 0; i < sizeof(T); ++i) v = T(v | (T(p[i]) << (8 * i)));
    return v;
}

TEST(RegistryAttach, FirstInstanceCreatesTheSegmentWithTheDocumentedBytes) {
    ScopedSegmentName seg("create");
    const int64_t before = int64_t(std::time(nullptr));
    NembrixSHM shm(seg.c_str());
    shm.open();
    const int64_t after = int64_t(std::time(nullptr));
    ASSERT_TRUE(shm.isConnected());
    EXPECT_EQ(shm.slotIndex(), 0);
    EXPECT_NE(shm.instanceId(), 0u);
    EXPECT_STREQ(shm.segmentName(), seg.c_str());

    // Owner-only permissions, the registry's exact size.
    EXPECT_EQ(test::segmentMode(seg.c_str()), 0600);
    struct stat st {};
    ASSERT_EQ(stat((std::string("/dev/shm/") + seg.c_str()).c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 526400);

    // Read as another process would: raw little-endian bytes at the documented offsets.
    RawSegment raw(seg.c_str());
    ASSERT_TRUE(raw.ok());
    const uint8_t* b = raw.base();
    EXPECT_EQ(readLE<uint32_t>(b + 0), 2u);
    const uint8_t magic[4] = {0x41, 0x46, 0x58, 0x4E};
    EXPECT_EQ(std::memcmp(b + 4, magic, 4), 0);
    const uint8_t* slot0 = b + 64;
    EXPECT_EQ(readLE<uint64_t>(slot0 + 0), shm.instanceId());
    EXPECT_EQ(readLE<uint32_t>(slot0 + 8), uint32_t(getpid()));
    EXPECT_EQ(readLE<uint32_t>(slot0 + 12), 1u);
    const int64_t hb = int64_t(readLE<uint64_t>(slot0 + 16));
    EXPECT_GE(hb, before);
    EXPECT_LE(hb, after);
    EXPECT_STREQ(reinterpret_cast<const char*>(slot0 + 24), "Nembrix #1");
    EXPECT_EQ(readLE<uint32_t>(slot0 + 32832), 0u);
    // Slot 1 starts 32896 bytes later and is free.
    EXPECT_EQ(readLE<uint32_t>(b + 64 + 32896 + 12), 0u);
    EXPECT_EQ(readLE<uint64_t>(b + 64 + 32896), 0u);
}

TEST(RegistryAttach, ProcessesClaimTheLowestFreeSlot) {
    ScopedSegmentName seg("claim");
    NembrixSHM first(seg.c_str());
    first.open();
    ASSERT_EQ(first.slotIndex(), 0);

    PeerProcess a(seg.c_str()), b(seg.c_str());
    const auto pa = a.open();
    const auto pb = b.open();
    ASSERT_TRUE(pa.connected);
    ASSERT_TRUE(pb.connected);
    EXPECT_EQ(pa.slot, 1);
    EXPECT_EQ(pb.slot, 2);

    RawSegment raw(seg.c_str());
    ASSERT_TRUE(raw.ok());
    EXPECT_EQ(raw.slot(1)->pid, a.pid());
    EXPECT_STREQ(raw.slot(2)->name, "Nembrix #3");
    const std::set<uint64_t> ids = {first.instanceId(), pa.id, pb.id};
    EXPECT_EQ(ids.size(), 3u);
    EXPECT_EQ(ids.count(0), 0u);

    // Slot 1's owner is destroyed: its slot is free and the next newcomer takes it again.
    ASSERT_EQ(a.command("0 close"), "ok");
    EXPECT_EQ(raw.slot(1)->state, 0u);
    EXPECT_EQ(raw.slot(1)->instanceId, 0u);
    PeerProcess c(seg.c_str());
    const auto pc = c.open();
    ASSERT_TRUE(pc.connected);
    EXPECT_EQ(pc.slot, 1);
    EXPECT_NE(pc.id, pa.id);
    EXPECT_STREQ(raw.slot(1)->name, "Nembrix #2");
}

TEST(RegistryAttach, InstanceIdsAreNotReusedWhenAHandleReusesAnAddress) {
    ScopedSegmentName seg("ids");
    alignas(NembrixSHM) unsigned char storage[sizeof(NembrixSHM)];
    std::set<uint64_t> ids;
    for (int round = 0; round < 5; ++round) {
        auto* shm = new (storage) NembrixSHM(seg.c_str());
        shm->open();
        ASSERT_TRUE(shm->isConnected());
        ids.insert(shm->instanceId());
        shm->~NembrixSHM();
    }
    // Same address, same process, same slot each time: still five different ids, so a mute or link
    // set on the deleted instance never applies to its successor.
    EXPECT_EQ(ids.size(), 5u);
    EXPECT_EQ(ids.count(0), 0u);
}

TEST(RegistryAttach, SeventeenthInstanceRunsUnattachedUntilASlotIsFree) {
    ScopedSegmentName seg("seventeen");
    std::vector<std::unique_ptr<NembrixSHM>> handles;
    for (int i = 0; i < kRegistrySlots; ++i) {
        handles.push_back(std::make_unique<NembrixSHM>(seg.c_str()));
        handles.back()->open();
        ASSERT_TRUE(handles.back()->isConnected()) << i;
        EXPECT_EQ(handles.back()->slotIndex(), i);
    }
    std::vector<float> block(256, 0.5f);
    handles[3]->publish(block.data(), int(block.size()));

    NembrixSHM late(seg.c_str());
    late.open();
    EXPECT_FALSE(late.isConnected());
    EXPECT_EQ(late.slotIndex(), -1);
    EXPECT_EQ(late.instanceId(), 0u);
    // Unattached: gathering leaves the sum silent and publishing writes nothing.
    std::vector<float> sum(256, 0.0f);
    late.gather(sum.data(), int(sum.size()), 0, 0, nullptr);
    for (float v : sum) ASSERT_EQ(v, 0.0f);
    late.publish(block.data(), int(block.size()));
    EXPECT_EQ(late.listPeers(nullptr, 0), 0);

    // A slot frees up: the retry (the plug-in's next reset) attaches there.
    handles[5].reset();
    late.open();
    ASSERT_TRUE(late.isConnected());
    EXPECT_EQ(late.slotIndex(), 5);
    late.gather(sum.data(), int(sum.size()), 0, 0, nullptr);
    EXPECT_EQ(sum[255], 0.5f); // now it hears slot 3
}

TEST(RegistryAttach, SlotNamesAreTruncatedTerminatedAndOnlyTheOwnersToWrite) {
    ScopedSegmentName seg("names");
    NembrixSHM own(seg.c_str()), peer(seg.c_str());
    own.open();
    peer.open();
    ASSERT_TRUE(own.isConnected() && peer.isConnected());
    RawSegment raw(seg.c_str());
    ASSERT_TRUE(raw.ok());
    PeerSlot* slot = raw.slot(own.slotIndex());

    const std::string exact39(39, 'a');
    const std::string long60 = std::string(39, 'b') + std::string(21, 'c');
    struct Case {
        const char* what;
        std::string name;
        std::string expected;
    } cases[] = {
        {"short", "Bass", "Bass"},
        {"39 characters fit", exact39, exact39},
        {"longer names are cut at 39", long60, std::string(39, 'b')},
        {"a shorter name after a long one leaves no tail", "Kick", "Kick"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        own.setSlotName(c.name.c_str());
        EXPECT_EQ(std::string(slot->name), c.expected);
        EXPECT_EQ(slot->name[39], '\0');
        for (size_t i = c.expected.size(); i < sizeof(slot->name); ++i) ASSERT_EQ(slot->name[i], '\0') << i;
        NembrixSHM::PeerInfo peers[kRegistrySlots];
        ASSERT_EQ(peer.listPeers(peers, kRegistrySlots), 1);
        EXPECT_EQ(std::string(peers[0].name), c.expected);
        EXPECT_EQ(peers[0].slot, own.slotIndex());
        EXPECT_EQ(peers[0].instanceId, own.instanceId());
    }
    own.setSlotName(nullptr);
    EXPECT_STREQ(slot->name, "Kick");
}

// Restores NEMBRIX_REGISTRY after a test changed it.
class EnvGuard {
public:
    EnvGuard() {
        const char* v = std::getenv("NEMBRIX_REGISTRY");
        if (v) mSaved = v;
        mHad = v != nullptr;
    }
    ~EnvGuard() {
        if (mHad)
            setenv("NEMBRIX_REGISTRY", mSaved.c_str(), 1);
        else
            unsetenv("NEMBRIX_REGISTRY");
    }

private:
    std::string mSaved;
    bool mHad = false;
};

TEST(RegistryAttach, SegmentNameComesFromAValidEnvironmentValue) {
    EnvGuard env;
    struct Case {
        const char* what;
        const char* value; // nullptr: unset
        bool accepted;
    } cases[] = {
        {"unset", nullptr, false},
        {"plain", "nx_render_42", true},
        {"dots and dashes inside", "a-b.c_D9", true},
        {"empty", "", false},
        {"leading dot", ".hidden", false},
        {"slash", "a/b", false},
        {"space", "a b", false},
        {"non-ASCII", "caf\xc3\xa9", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.value)
            setenv("NEMBRIX_REGISTRY", c.value, 1);
        else
            unsetenv("NEMBRIX_REGISTRY");
        EXPECT_STREQ(NembrixSHM::segmentNameFromEnvironment(),
                     c.accepted ? c.value : "nembrix_dry_registry_v2");
    }
    const std::string max(200, 'n'), tooLong(201, 'n');
    EXPECT_TRUE(NembrixSHM::isValidSegmentName(max.c_str()));
    EXPECT_FALSE(NembrixSHM::isValidSegmentName(tooLong.c_str()));
    EXPECT_FALSE(NembrixSHM::isValidSegmentName(nullptr));

    // A handle without a fixed name attaches where the environment points at the time of open().
    ScopedSegmentName seg("env");
    setenv("NEMBRIX_REGISTRY", seg.c_str(), 1);
    NembrixSHM shm;
    shm.open();
    ASSERT_TRUE(shm.isConnected());
    EXPECT_STREQ(shm.segmentName(), seg.c_str());
    EXPECT_TRUE(test::segmentExists(seg.c_str()));
}

TEST(RegistryAttach, InvalidFixedNameNeverAttaches) {
    NembrixSHM shm("../escape");
    shm.open();
    EXPECT_FALSE(shm.isConnected());
    EXPECT_EQ(shm.mapped(), nullptr);
    EXPECT_FALSE(NembrixSHM::removeSegment("../escape"));
}

} // namespace
} // namespace nx
