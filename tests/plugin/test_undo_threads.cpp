// The undo history across threads: no lock is held while a snapshot is applied, and the editor's
// history operations run beside host-thread parameter changes without a data race (ThreadSanitizer).
#include "PluginPresetTestSupport.h"

#include "plugin/NembrixParams.h"

#include <chrono>
#include <future>
#include <thread>

namespace {

using nxtest::PluginPresetTest;

TEST_F(PluginPresetTest, TheHistoryIsFreeWhileASnapshotIsApplied) {
    // While the host is told of the new values, another thread asks about the history. If the history's
    // lock were still held, that thread would wait for ever.
    nx::Nembrix& p = MakePlugin();
    std::atomic<int> answered{0}, asked{0};
    host.onValuesChanged = [&] {
        ++asked;
        auto f = std::async(std::launch::async, [&] { return p.canUndo() || p.canRedo(); });
        if (f.wait_for(std::chrono::seconds(10)) == std::future_status::ready && f.get()) ++answered;
    };
    p.pushUndoSnapshot();
    p.GetParam(nx::kParamXYx)->Set(0.8);
    p.undo();
    p.redo();
    EXPECT_EQ(asked.load(), 2);
    EXPECT_EQ(answered.load(), 2);
}

TEST_F(PluginPresetTest, EditorAndHostThreadsShareTheHistorySafely) {
    // The editor pushes, undoes and redoes while a host thread changes parameters and reads the
    // history; run under ThreadSanitizer this proves the stacks are only touched under their lock.
    nx::Nembrix& p = MakePlugin();
    std::atomic<bool> stop{false};
    std::thread hostThread([&] {
        int k = 0;
        while (!stop.load()) {
            p.GetParam(nx::kParamWow)->Set((k++ % 100) / 100.0);
            p.OnParamChange(nx::kParamWow);
            (void)p.canUndo();
            (void)p.canRedo();
        }
    });
    for (int i = 0; i < 300; ++i) {
        p.pushUndoSnapshot();
        p.setAdvOverride(i % 9, (i & 1) != 0);
        if (i % 3 == 0) p.undo();
        if (i % 5 == 0) p.redo();
    }
    stop = true;
    hostThread.join();
    int undos = 0;
    while (p.canUndo()) {
        p.undo();
        ++undos;
    }
    EXPECT_EQ(undos, 64);
    EXPECT_TRUE(p.presetMgr->modified);
}

} // namespace
