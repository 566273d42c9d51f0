// The audio thread allocates nothing: every global operator new and delete is replaced by a counting
// version that counts only on the thread flagged as the audio thread.
#include "PluginTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

namespace {

thread_local bool tIsAudioThread = false;
std::atomic<long> sAudioNews{0};
std::atomic<long> sAudioDeletes{0};

void* allocate(std::size_t size, std::size_t alignment = 0) {
    if (tIsAudioThread) sAudioNews.fetch_add(1, std::memory_order_relaxed);
    if (size == 0) size = 1;
    void* p = alignment > alignof(std::max_align_t)
                  ? std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment)
                  : std::malloc(size);
    return p;
}

void release(void* p) {
    if (p == nullptr) return;
    if (tIsAudioThread) sAudioDeletes.fetch_add(1, std::memory_order_relaxed);
    std::free(p);
}

void* allocateOrThrow(std::size_t size, std::size_t alignment = 0) {
    void* p = allocate(size, alignment);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

} // namespace

void* operator new(std::size_t n) {
    return allocateOrThrow(n);
}
void* operator new[](std::size_t n) {
    return allocateOrThrow(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return allocate(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return allocate(n);
}
void* operator new(std::size_t n, std::align_val_t a) {
    return allocateOrThrow(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a) {
    return allocateOrThrow(n, static_cast<std::size_t>(a));
}
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate(n, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    release(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    release(p);
}

namespace nx {
namespace {

using test::Channels;

// Runs fn on a fresh thread flagged as the audio thread; returns the allocations and frees made there.
template <typename Fn>
std::pair<long, long> countOnAudioThread(Fn&& fn) {
    sAudioNews = 0;
    sAudioDeletes = 0;
    std::thread audio([&] {
        tIsAudioThread = true;
        fn();
        tIsAudioThread = false;
    });
    audio.join();
    return {sAudioNews.load(), sAudioDeletes.load()};
}

TEST(AudioThreadAllocation, CounterSeesAllocationsOnTheFlaggedThreadOnly) {
    const auto counted = countOnAudioThread([] { delete new int(3); });
    EXPECT_EQ(counted, std::make_pair(1L, 1L));
    sAudioNews = 0;
    delete new int(4); // not the audio thread
    EXPECT_EQ(sAudioNews.load(), 0);
}

TEST(AudioThreadAllocation, ManyBlocksInRecvAndSendAllocateNothing) {
    auto p = test::MakePrepared(48000.0, 512);
    auto peer = test::MakePrepared(48000.0, 512); // a live peer so that gathering has work to do
    Channels ch(512);
    Channels peerCh(512, 0.3, 7);
    ch.process(*p); // the first block may settle anything lazily initialised

    const auto counted = countOnAudioThread([&] {
        for (int block = 0; block < 400; ++block) {
            peerCh.process(*peer);
            // Automation arrives on the audio thread too: every parameter, mode switches included.
            if (block == 100) test::SetParam(*p, kParamMode, 1);
            if (block == 200) test::SetParam(*p, kParamMode, 0);
            if (block == 250) {
                for (int id = 0; id < kNumParams; ++id) p->OnParamChange(id);
                test::SetParam(*p, kParamLinkSlot, 1);
                p->setAdvOverride(2, true);
            }
            if (block == 300) test::SetParam(*p, kParamBypass, 1);
            if (block == 320) test::SetParam(*p, kParamBypass, 0);
            if (block == 350) p->OnProcessingRestart();
            p->ProcessBlock(ch.ins, ch.outs, block % 3 == 0 ? 512 : 200 + block % 97);
            (void)p->engine.currentAnchors();
        }
    });
    EXPECT_EQ(counted.first, 0) << "allocations on the audio thread";
    EXPECT_EQ(counted.second, 0) << "frees on the audio thread";
    EXPECT_EQ(p->processBlockCount.load(), 401u);
}

TEST(AudioThreadAllocation, FirstCallbackWithoutResetIsTheOnlyOneThatMayAllocate) {
    Nembrix p;
    p.SetSampleRate(44100.0);
    p.SetBlockSize(8192); // larger than the construction-time buffers
    Channels ch(8192);
    countOnAudioThread([&] { ch.process(p); });
    ASSERT_TRUE(p.isPrepared());
    const auto counted = countOnAudioThread([&] {
        for (int block = 0; block < 50; ++block) ch.process(p);
    });
    EXPECT_EQ(counted.first, 0);
    EXPECT_EQ(counted.second, 0);
}

} // namespace
} // namespace nx
