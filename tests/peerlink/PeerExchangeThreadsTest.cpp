// Publishing, gathering, slot claims and the editor's upkeep running at once on different threads of
// one process, for ThreadSanitizer: every access to the shared segment must be an atomic one, and a
// reader must only ever see whole samples that some writer published.
#include "peerlink/NembrixSHM.h"
#include "tests/peerlink/RegistryTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

namespace nx {
namespace {

TEST(PeerExchangeThreads, WriterReadersClaimsAndUpkeepRunConcurrently) {
    test::ScopedSegmentName seg("threads");
    NembrixSHM writer(seg.c_str());
    writer.open();
    constexpr int kReaders = 3;
    std::unique_ptr<NembrixSHM> readers[kReaders];
    for (auto& r : readers) {
        r = std::make_unique<NembrixSHM>(seg.c_str());
        r->open();
        ASSERT_TRUE(r->isConnected());
    }
    ASSERT_TRUE(writer.isConnected());

    std::atomic<bool> done{false};
    std::atomic<int> badSamples{0};
    std::atomic<long> heardSamples{0};
    std::atomic<int> readerRounds[kReaders] = {};
    auto minReaderRounds = [&] {
        int m = readerRounds[0];
        for (auto& r : readerRounds) m = std::min(m, r.load());
        return m;
    };

    // The writer's audio thread: block k holds the value k % 1000 + 1 in every sample.
    std::thread audioWriter([&] {
        std::vector<float> block(1024);
        // Runs until every reader has gathered a few hundred blocks (bounded, should a reader hang).
        for (int k = 0; k < 2000000 && minReaderRounds() < 300; ++k) {
            const int n = 64 << (k % 5); // 64 .. 1024
            std::fill(block.begin(), block.begin() + n, float(k % 1000 + 1));
            writer.publish(block.data(), n);
            if (k % 16 == 0) std::this_thread::yield();
        }
        done = true;
    });

    std::vector<std::thread> audioReaders;
    for (int i = 0; i < kReaders; ++i) {
        audioReaders.emplace_back([&, i] {
            const int n = i == 0 ? 64 : (i == 1 ? 512 : 8192);
            std::vector<float> sum(static_cast<size_t>(n));
            std::atomic<uint64_t> muted[kRegistrySlots] = {};
            while (!done) {
                std::fill(sum.begin(), sum.end(), 0.0f);
                readers[i]->gather(sum.data(), n, 0, 0, muted);
                readers[i]->publish(sum.data(), n); // readers publish too, so readers hear readers
                for (float v : sum) {
                    if (!std::isfinite(v) || v < 0.0f || v != std::floor(v)) ++badSamples;
                    if (v != 0.0f) ++heardSamples;
                }
                ++readerRounds[i];
            }
        });
    }

    // Another host thread creating and destroying instances: claims and releases under the lock.
    std::thread host([&] {
        while (!done) {
            NembrixSHM transient(seg.c_str());
            transient.open();
            transient.setSlotName("transient");
        }
    });

    // The editor's UI thread of reader 0.
    std::thread editor([&] {
        NembrixSHM::PeerInfo peers[kRegistrySlots];
        while (!done) {
            readers[0]->refreshHeartbeat();
            readers[0]->reapStale();
            readers[0]->setSlotName("reader zero");
            const int n = readers[0]->listPeers(peers, kRegistrySlots);
            for (int j = 0; j < n && j < kRegistrySlots; ++j)
                if (peers[j].name[kSlotNameBytes - 1] != '\0') ++badSamples;
            (void)readers[0]->resolveLink(1);
        }
    });

    audioWriter.join();
    for (auto& t : audioReaders) t.join();
    host.join();
    editor.join();

    EXPECT_EQ(badSamples, 0);
    EXPECT_GT(heardSamples, 0);
    for (auto& r : readers) EXPECT_TRUE(r->isConnected());
}

} // namespace
} // namespace nx
