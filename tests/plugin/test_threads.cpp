// The instance under real concurrency: the audio thread runs blocks while a host thread automates,
// saves and restores, and an editor thread renames, toggles overrides and reads meters and anchors.
// Run under ThreadSanitizer as well; any data race fails the test there.
#include "PluginTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

namespace nx {
namespace {

TEST(PluginThreads, AudioHostAndEditorThreadsShareOneInstance) {
    auto p = test::MakePrepared(48000.0, 256);
    auto peer = test::MakePrepared(48000.0, 256);
    constexpr int kBlocks = 1500;
    std::atomic<bool> audioDone{false};
    std::atomic<int> badSamples{0};

    std::thread audio([&] {
        test::Channels ch(256);
        test::Channels peerCh(256, 0.2, 3);
        for (int block = 0; block < kBlocks; ++block) {
            peerCh.process(*peer);
            ch.process(*p);
            for (int k = 0; k < ch.size(); ++k)
                if (!std::isfinite(ch.outL[k]) || !std::isfinite(ch.outR[k])) badSamples.fetch_add(1);
        }
        audioDone = true;
    });

    std::thread host([&] {
        ByteChunk saved;
        p->SerializeState(saved);
        for (int i = 0; !audioDone.load(); ++i) {
            test::SetParam(*p, kParamXYx, (i % 11) / 10.0);
            test::SetParam(*p, kParamMode, (i / 7) % 2);
            test::SetParam(*p, kParamLinkSlot, i % 5);
            test::SetParam(*p, kParamRootNote, i % 3 == 0 ? -1 : 40 + i % 40);
            test::SetParam(*p, kParamFreeze, (i % 5) / 4.0);
            if (i % 10 == 0) {
                ByteChunk chunk;
                p->SerializeState(chunk);
                p->UnserializeState(i % 20 == 0 ? saved : chunk, 0);
                p->OnRestoreState();
            }
        }
    });

    std::thread editor([&] {
        for (int i = 0; !audioDone.load(); ++i) {
            p->setAdvOverride(i % 9, i % 2 == 0);
            p->SetInstanceName(i % 2 ? "Editor name A" : "Editor name B");
            char name[Nembrix::kNameBytes];
            p->getInstanceName(name, sizeof name);
            EXPECT_LT(std::strlen(name), sizeof name);
            (void)p->engine.currentAnchors();
            (void)p->engine.phantomMeter();
            (void)p->engine.peerSumMeter();
            p->mutedPeerIds[i % Nembrix::kMutedPeerEntries].store(i % 3 == 0 ? peer->shm.instanceId() : 0,
                                                                  std::memory_order_relaxed);
            p->advancedPanelOpen.store(i % 4 == 0);
            (void)p->processBlockCount.load();
        }
    });

    audio.join();
    host.join();
    editor.join();
    EXPECT_EQ(badSamples.load(), 0);
    EXPECT_EQ(p->processBlockCount.load(), static_cast<uint64_t>(kBlocks));
}

} // namespace
} // namespace nx
