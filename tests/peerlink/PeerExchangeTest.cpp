// The audio exchange: what a reader gathers from its peers' rings across processes, with different block
// sizes, mutes and links, heartbeat ages, stalled peers and corrupt slots.
#include "peerlink/NembrixSHM.h"
#include "tests/peerlink/PeerPattern.h"
#include "tests/peerlink/RegistryTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <ctime>
#include <vector>

namespace nx {
namespace {

using test::peerPattern;
using test::PeerProcess;
using test::RawSegment;
using test::ScopedSegmentName;

std::vector<float> pattern(uint32_t seed, int n) {
    std::vector<float> v(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) v[size_t(k)] = peerPattern(seed, uint32_t(k));
    return v;
}

std::vector<float> gatherBlock(NembrixSHM& shm, int n, int linkSlot = 0, uint64_t linked = 0,
                               const std::atomic<uint64_t>* muted = nullptr) {
    std::vector<float> sum(static_cast<size_t>(n), 0.0f);
    shm.gather(sum.data(), n, linkSlot, linked, muted);
    return sum;
}

bool allZero(const std::vector<float>& v) {
    for (float x : v)
        if (x != 0.0f) return false;
    return true;
}

TEST(PeerExchange, TwoProcessesHearEachOthersLatestBlock) {
    ScopedSegmentName seg("pair");
    NembrixSHM local(seg.c_str());
    local.open();
    PeerProcess remote(seg.c_str());
    const auto r = remote.open();
    ASSERT_TRUE(local.isConnected() && r.connected);

    ASSERT_EQ(remote.command("0 pub 512 3"), "ok");
    ASSERT_EQ(remote.command("0 pub 512 7"), "ok");
    EXPECT_EQ(gatherBlock(local, 512), pattern(7, 512));

    const auto mine = pattern(9, 512);
    local.publish(mine.data(), 512);
    EXPECT_EQ(remote.gather(0, 512), mine);

    RawSegment raw(seg.c_str());
    ASSERT_TRUE(raw.ok());
    EXPECT_EQ(raw.slot(r.slot)->writePos, 1024u);
    EXPECT_EQ(raw.slot(local.slotIndex())->writePos, 512u);
}

TEST(PeerExchange, DifferentBlockSizesStillExchangeTheMostRecentSamples) {
    ScopedSegmentName seg("blocks");
    NembrixSHM reader(seg.c_str());
    reader.open();
    PeerProcess writer(seg.c_str());
    ASSERT_TRUE(writer.open().connected);
    // The writer has published four blocks of 256: 1024 samples in all.
    std::vector<float> stream;
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        ASSERT_EQ(writer.command("0 pub 256 " + std::to_string(seed)), "ok");
        const auto b = pattern(seed, 256);
        stream.insert(stream.end(), b.begin(), b.end());
    }
    for (int n : {1, 100, 256, 1000, 1024, 4096, 8192}) {
        SCOPED_TRACE(n);
        // The newest sample lands on sum[n - 1]; what was never written (the ring is zeroed at claim) is 0.
        std::vector<float> expected(static_cast<size_t>(n), 0.0f);
        for (int k = 0; k < n; ++k) {
            const int src = 1024 - n + k;
            if (src >= 0) expected[size_t(k)] = stream[size_t(src)];
        }
        EXPECT_EQ(gatherBlock(reader, n), expected);
    }
}

TEST(PeerExchange, MutesAndLinksSelectWhoIsHeard) {
    ScopedSegmentName seg("select");
    NembrixSHM reader(seg.c_str());
    reader.open();
    ASSERT_EQ(reader.slotIndex(), 0);
    PeerProcess peers(seg.c_str());
    const auto a = peers.open(0);
    const auto b = peers.open(1);
    ASSERT_EQ(a.slot, 1);
    ASSERT_EQ(b.slot, 2);
    ASSERT_EQ(peers.command("0 pub 128 11"), "ok");
    ASSERT_EQ(peers.command("1 pub 128 22"), "ok");
    const auto pa = pattern(11, 128), pb = pattern(22, 128);

    EXPECT_EQ(reader.resolveLink(2), a.id);
    EXPECT_EQ(reader.resolveLink(3), b.id);

    struct Case {
        const char* what;
        int linkSlot;
        std::vector<uint64_t> muted;
        bool hearA, hearB;
    } cases[] = {
        {"no link, no mutes: every live peer", 0, {}, true, true},
        {"one peer muted", 0, {a.id}, false, true},
        {"every peer muted: silence", 0, {b.id, a.id}, false, false},
        {"link to a muted peer makes it audible", 2, {a.id}, true, false},
        {"link to the other peer", 3, {}, false, true},
        {"link to the own slot: nothing", 1, {}, false, false},
        {"link to a free slot: nothing", 4, {}, false, false},
        {"link outside 1..16: nothing", 17, {}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::atomic<uint64_t> muted[kRegistrySlots] = {};
        for (size_t j = 0; j < c.muted.size(); ++j) muted[j * 5] = c.muted[j]; // entries anywhere in the list
        const uint64_t linked = reader.resolveLink(c.linkSlot);
        std::vector<float> expected(128, 0.0f);
        for (int k = 0; k < 128; ++k) {
            if (c.hearA) expected[size_t(k)] += pa[size_t(k)];
            if (c.hearB) expected[size_t(k)] += pb[size_t(k)];
        }
        EXPECT_EQ(gatherBlock(reader, 128, c.linkSlot, linked, muted), expected);
    }

    // Muting is private to the listener: the other peer still hears the muted one.
    std::atomic<uint64_t> muteA[kRegistrySlots] = {};
    muteA[0] = a.id;
    EXPECT_TRUE(allZero(gatherBlock(reader, 128, 2, 0, muteA))) << "link set but not resolved: nothing";
    const auto heardByB = peers.gather(1, 128);
    EXPECT_EQ(heardByB, pa);
}

TEST(PeerExchange, HeartbeatAgeDecidesWhetherAPeerIsHeard) {
    ScopedSegmentName seg("heartbeat");
    NembrixSHM reader(seg.c_str()), peer(seg.c_str());
    reader.open();
    peer.open();
    ASSERT_TRUE(reader.isConnected() && peer.isConnected());
    PeerSlot* ps = registrySlot(reader.mapped(), peer.slotIndex());
    const auto block = pattern(5, 64);

    struct Case {
        const char* what;
        int64_t offset; // from now; INT64_MIN / INT64_MAX stand for themselves
        bool heard;
    } cases[] = {
        {"9 s old", -9, true},
        {"11 s old", -11, false},
        {"an hour in the future", 3600, true},
        {"far past (garbage)", INT64_MIN, false},
        {"far future (garbage)", INT64_MAX, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        peer.publish(block.data(), 64);
        const int64_t t = int64_t(std::time(nullptr));
        ps->heartbeat = (c.offset == INT64_MIN || c.offset == INT64_MAX) ? c.offset : t + c.offset;
        EXPECT_EQ(!allZero(gatherBlock(reader, 64)), c.heard);
    }
    // Exactly 10 s old is still live; repeated if the second turned over during the check.
    bool heard = false;
    int64_t t0 = 0;
    do {
        peer.publish(block.data(), 64);
        t0 = int64_t(std::time(nullptr));
        ps->heartbeat = t0 - 10;
        heard = !allZero(gatherBlock(reader, 64));
    } while (int64_t(std::time(nullptr)) != t0);
    EXPECT_TRUE(heard);

    // Publishing refreshes the heartbeat; an empty block refreshes only the heartbeat.
    ps->heartbeat = 0;
    const uint32_t pos = ps->writePos;
    peer.publish(block.data(), 0);
    EXPECT_GE(ps->heartbeat, t0);
    EXPECT_EQ(ps->writePos, pos);
}

TEST(PeerExchange, StalledPeerFallsSilentAfter8192ReaderSamplesAndReturnsWhenItMovesAgain) {
    ScopedSegmentName seg("stall");
    NembrixSHM reader(seg.c_str()), peer(seg.c_str());
    reader.open();
    peer.open();
    ASSERT_TRUE(reader.isConnected() && peer.isConnected());
    const auto block = pattern(8, 64);
    peer.publish(block.data(), 64);

    // The reader's 64-sample blocks: heard while it has processed at most 8192 samples since the peer's
    // last write, silent once it has processed more than 8192 + one block.
    int lastHeard = -1;
    for (int blk = 0; blk < 200; ++blk) {
        const bool heard = !allZero(gatherBlock(reader, 64));
        if (blk < 8192 / 64) {
            ASSERT_TRUE(heard) << blk;
        }
        if (heard) {
            ASSERT_EQ(lastHeard, blk - 1) << "heard again without a new write";
            lastHeard = blk;
        }
    }
    EXPECT_LE(lastHeard, 8192 / 64 + 1);

    peer.publish(block.data(), 64);
    EXPECT_EQ(gatherBlock(reader, 64), block);
}

TEST(PeerExchange, PeersWithLargeBlocksAreNotTakenForStalled) {
    struct Case {
        int peerBlock, readerBlock;
    } cases[] = {{8192, 64}, {4096, 32}, {8192, 8192}, {256, 8192}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.peerBlock) + " / " + std::to_string(c.readerBlock));
        ScopedSegmentName seg("bigblocks");
        NembrixSHM reader(seg.c_str()), peer(seg.c_str());
        reader.open();
        peer.open();
        ASSERT_TRUE(reader.isConnected() && peer.isConnected());
        const auto block = pattern(4, c.peerBlock);
        // Both run in real-time lock-step: per 32768 samples of time, each processes its own blocks.
        long peerClock = 0, readerClock = 0;
        for (int step = 0; step < 4 * 32768 / std::min(c.peerBlock, c.readerBlock); ++step) {
            if (peerClock <= readerClock) {
                peer.publish(block.data(), c.peerBlock);
                peerClock += c.peerBlock;
            } else {
                ASSERT_FALSE(allZero(gatherBlock(reader, c.readerBlock))) << "reader at " << readerClock;
                readerClock += c.readerBlock;
            }
        }
    }
}

TEST(PeerExchange, CorruptSlotsNeverCrashTheReaderNorReachItsSum) {
    ScopedSegmentName seg("garbage");
    NembrixSHM reader(seg.c_str()), peer(seg.c_str());
    reader.open();
    peer.open();
    ASSERT_TRUE(reader.isConnected() && peer.isConnected());
    uint8_t* base = reader.mapped();

    // The peer's slot: non-finite, huge and denormal samples, a writePos far from anything written,
    // a name without terminator.
    PeerSlot* ps = registrySlot(base, peer.slotIndex());
    const float specials[] = {NAN, -NAN, INFINITY, -INFINITY, 1e30f, -3e38f, 1e-42f, 0.25f};
    for (int k = 0; k < kRingSamples; ++k) ps->ring[k] = specials[k % 8];
    ps->writePos = 0xFFFFFFFFu;
    std::memset(ps->name, 'X', sizeof(ps->name));
    // A free slot full of garbage: state and ids nonsense, heartbeat in the far future.
    PeerSlot* junk = registrySlot(base, 5);
    std::memset(junk, 0xA5, sizeof(PeerSlot));
    junk->heartbeat = INT64_MAX;
    for (int k = 0; k < kRingSamples; ++k) junk->ring[k] = NAN;

    // The last 8 samples before writePos 0xFFFFFFFF lie at ring indices 8183..8190: non-finite ones
    // count as 0, huge ones are clamped to +-64, ordinary ones pass unchanged.
    const std::vector<float> expected = {0.25f, 0.0f, 0.0f, 0.0f, 0.0f, 64.0f, -64.0f, 1e-42f};
    EXPECT_EQ(gatherBlock(reader, 8), expected);
    for (int n : {1, 777, 8192, 20000}) {
        SCOPED_TRACE(n);
        const auto sum = gatherBlock(reader, n);
        for (float v : sum) {
            ASSERT_TRUE(std::isfinite(v));
            ASSERT_LE(std::fabs(v), 2 * 64.0f);
        }
    }

    NembrixSHM::PeerInfo peers[kRegistrySlots];
    const int n = reader.listPeers(peers, kRegistrySlots);
    ASSERT_EQ(n, 2);
    for (int i = 0; i < n; ++i) EXPECT_LE(std::strlen(peers[i].name), 39u);
    EXPECT_EQ(reader.resolveLink(6), 0u) << "garbage state is not an active slot";
}

TEST(PeerExchange, BlocksLongerThanTheRingKeepTheirLast8192Samples) {
    ScopedSegmentName seg("long");
    NembrixSHM reader(seg.c_str()), peer(seg.c_str());
    reader.open();
    peer.open();
    ASSERT_TRUE(reader.isConnected() && peer.isConnected());
    const auto big = pattern(6, 16384);
    peer.publish(big.data(), 16384);
    EXPECT_EQ(registrySlot(reader.mapped(), peer.slotIndex())->writePos, 16384u);
    const std::vector<float> tail(big.begin() + 8192, big.end());
    EXPECT_EQ(gatherBlock(reader, 8192), tail);
    // A reader block longer than the ring gets peer audio in its first 8192 entries only.
    const auto sum = gatherBlock(reader, 10000);
    EXPECT_EQ(std::vector<float>(sum.begin(), sum.begin() + 8192), tail);
    EXPECT_TRUE(allZero(std::vector<float>(sum.begin() + 8192, sum.end())));
}

} // namespace
} // namespace nx
