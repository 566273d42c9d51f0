// The lock-free queue of editor-to-host calls: order, capacity, and concurrent producers.
#include "framework/EditQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(EditQueue, KeepsOrderAndReportsOverflowOnce) {
    nx::EditQueue q;
    for (size_t i = 0; i < nx::EditQueue::kCapacity; ++i)
        ASSERT_TRUE(q.Push({nx::HostEdit::Kind::Perform, static_cast<int>(i), i * 0.5}));
    EXPECT_FALSE(q.Push({nx::HostEdit::Kind::End, 1, 0.0})) << "full";
    EXPECT_TRUE(q.TakeOverflow());
    EXPECT_FALSE(q.TakeOverflow()) << "reported once";

    nx::HostEdit e;
    for (size_t i = 0; i < nx::EditQueue::kCapacity; ++i) {
        ASSERT_TRUE(q.Pop(e));
        EXPECT_EQ(e.paramIdx, static_cast<int>(i));
        EXPECT_EQ(e.normalized, i * 0.5);
    }
    EXPECT_FALSE(q.Pop(e));
    // Wraps around after being emptied.
    EXPECT_TRUE(q.Push({nx::HostEdit::Kind::Begin, 3, 0.0}));
    ASSERT_TRUE(q.Pop(e));
    EXPECT_EQ(e.kind, nx::HostEdit::Kind::Begin);
}

TEST(EditQueue, ConcurrentProducersLoseNothingAndKeepEachProducersOrder) {
    nx::EditQueue q;
    constexpr int kProducers = 3;
    constexpr int kPerProducer = 20000;
    std::atomic<bool> go{false};
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < kPerProducer; ++i) {
                while (!q.Push({nx::HostEdit::Kind::Perform, p, static_cast<double>(i)}))
                    std::this_thread::yield();
            }
        });
    }
    go.store(true);
    std::vector<int> next(kProducers, 0);
    int received = 0;
    nx::HostEdit e;
    while (received < kProducers * kPerProducer) {
        if (!q.Pop(e)) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_GE(e.paramIdx, 0);
        ASSERT_LT(e.paramIdx, kProducers);
        ASSERT_EQ(e.normalized, next[e.paramIdx]) << "producer " << e.paramIdx << " out of order";
        ++next[e.paramIdx];
        ++received;
    }
    for (auto& t : producers) t.join();
    EXPECT_FALSE(q.Pop(e));
}

} // namespace
