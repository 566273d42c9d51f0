// Thread tests of the harmonic cloud, meant for ThreadSanitizer: the sequence-locked buffer under a
// writer and concurrent readers (no copy is ever torn), and the cloud with its worker, an audio thread and
// an editor thread reading the pitch, including re-preparation and destruction while the worker runs.
#include "dsp/HarmonicCloud.h"
#include "dsp/SeqLockBuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <numbers>
#include <thread>
#include <vector>

namespace nx {
namespace {

TEST(SeqLockBuffer, ReadersNeverKeepATornCopy) {
    // The writer fills the whole buffer with one value per write; a consistent copy holds one value
    // throughout, and successive copies of one reader never go back in time.
    constexpr size_t kSize = 2048;
    constexpr int kWrites = 2000;
    SeqLockBuffer buffer;
    buffer.assign(kSize, 0.0f);
    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, backwards{0}, kept{0};

    std::thread writer([&] {
        for (int w = 1; w <= kWrites; ++w) {
            buffer.beginWrite();
            for (size_t i = 0; i < kSize; ++i) buffer.store(i, static_cast<float>(w));
            buffer.endWrite();
            if (w % 64 == 0) buffer.clear(); // a clear is a write of zeros like any other
            if (w % 8 == 0) std::this_thread::sleep_for(std::chrono::microseconds(50)); // room for readers
        }
        done.store(true);
    });
    auto reader = [&] {
        std::vector<float> copy(kSize);
        float newest = 0.0f;
        for (bool last = false; !last;) {
            last = done.load(); // one more read once the writer has finished
            if (!buffer.tryCopy(copy.data())) continue;
            kept.fetch_add(1);
            for (float v : copy)
                if (v != copy[0]) {
                    torn.fetch_add(1);
                    break;
                }
            if (copy[0] != 0.0f) {
                if (copy[0] < newest) backwards.fetch_add(1);
                newest = copy[0];
            }
        }
    };
    std::thread r1(reader), r2(reader);
    writer.join();
    r1.join();
    r2.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(backwards.load(), 0);
    EXPECT_GT(kept.load(), 0);
    EXPECT_EQ(buffer.sequence() % 2, 0u);
}

TEST(HarmonicCloudThreads, AudioWorkerAndEditorRunTogether) {
    HarmonicCloud cloud;
    cloud.prepare(44100);
    std::atomic<bool> stop{false};
    std::atomic<int> editorReads{0};
    std::atomic<bool> editorSawNonFinite{false};

    std::thread editor([&] {
        while (!stop.load()) {
            if (!std::isfinite(cloud.currentF0Hz())) editorSawNonFinite.store(true);
            editorReads.fetch_add(1);
            std::this_thread::yield();
        }
    });

    // Audio: a 220 Hz tone in blocks of 256, paced so that the worker keeps up, until the pitch is found.
    std::vector<float> in(256), out(256);
    double phase = 0.0;
    auto block = [&](double rate, double hz) {
        for (float& v : in) {
            v = 0.5f * static_cast<float>(std::sin(phase));
            phase = std::fmod(phase + 2.0 * std::numbers::pi * hz / rate, 2.0 * std::numbers::pi);
        }
        cloud.process(in.data(), out.data(), 256);
    };
    bool found = false;
    for (int b = 0; b < 20000 && !found; ++b) {
        block(44100, 220);
        found = std::fabs(cloud.currentF0Hz() - 220.0f) < 2.0f;
        if (b % 2) std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    EXPECT_TRUE(found);

    // Re-preparation while the worker may be mid-copy or mid-analysis, then more audio at the new rate.
    for (int round = 0; round < 5; ++round) {
        cloud.prepare(round % 2 ? 44100 : 48000);
        for (int b = 0; b < 40; ++b) block(48000, 330);
    }
    stop.store(true);
    editor.join();
    EXPECT_FALSE(editorSawNonFinite.load());
    EXPECT_GT(editorReads.load(), 0);
}

TEST(HarmonicCloudThreads, DestructionStopsTheWorkerWhateverItIsDoing) {
    // Destroyed right after preparation (the worker may still be starting), during analysis, and after
    // a moment of idling; each destruction joins the worker.
    for (int i = 0; i < 20; ++i) {
        auto cloud = std::make_unique<HarmonicCloud>();
        cloud->prepare(48000);
        std::vector<float> in(2048), out(2048);
        for (size_t j = 0; j < in.size(); ++j) in[j] = std::sin(0.05f * static_cast<float>(j));
        if (i % 3 != 0) cloud->process(in.data(), out.data(), 2048);
        if (i % 3 == 2) std::this_thread::sleep_for(std::chrono::milliseconds(3));
        EXPECT_TRUE(cloud->workerRunning());
        cloud.reset();
    }
}

} // namespace
} // namespace nx
