// The undo history of a real instance: bounded stacks, undo/redo round trips, the override mask, the
// preset's modified flag and the host told of the values.
#include "PluginPresetTestSupport.h"

#include "plugin/NembrixParams.h"

namespace {

using nxtest::PluginPresetTest;

TEST_F(PluginPresetTest, SeventyPushesKeepTheLatestSixtyFour) {
    nx::Nembrix& p = MakePlugin();
    for (int i = 0; i < 70; ++i) {
        p.GetParam(nx::kParamXYx)->Set(i / 100.0);
        p.pushUndoSnapshot();
    }
    p.GetParam(nx::kParamXYx)->Set(0.9);
    // Undo walks back through pushes 69 .. 6; pushes 0 .. 5 are gone.
    for (int i = 69; i >= 6; --i) {
        ASSERT_TRUE(p.canUndo()) << i;
        p.undo();
        EXPECT_DOUBLE_EQ(p.GetParam(nx::kParamXYx)->Value(), i / 100.0);
    }
    EXPECT_FALSE(p.canUndo());
    p.undo(); // on an empty stack: nothing
    EXPECT_DOUBLE_EQ(p.GetParam(nx::kParamXYx)->Value(), 0.06);

    // The redo side is bounded the same way: 64 steps forward, ending at the state before the undos.
    int redos = 0;
    while (p.canRedo()) {
        p.redo();
        ++redos;
    }
    EXPECT_EQ(redos, 64);
    EXPECT_DOUBLE_EQ(p.GetParam(nx::kParamXYx)->Value(), 0.9);
}

TEST_F(PluginPresetTest, PushUndoRedoRoundTrip) {
    nx::Nembrix& p = MakePlugin();
    EXPECT_FALSE(p.canUndo());
    EXPECT_FALSE(p.canRedo());
    p.redo(); // nothing to redo: no change, the host is not bothered
    EXPECT_EQ(host.valuesChanged.load(), 0);

    const auto a = Values();
    p.pushUndoSnapshot();
    p.GetParam(nx::kParamLP)->Set(2500);
    p.GetParam(nx::kParamMode)->Set(1);
    const auto b = Values();

    p.undo();
    EXPECT_EQ(Values(), a);
    EXPECT_FALSE(p.canUndo());
    EXPECT_TRUE(p.canRedo());
    p.redo();
    EXPECT_EQ(Values(), b);
    EXPECT_TRUE(p.canUndo());
    EXPECT_FALSE(p.canRedo());

    // A push after an undo empties the redo stack.
    p.undo();
    ASSERT_TRUE(p.canRedo());
    p.pushUndoSnapshot();
    EXPECT_FALSE(p.canRedo());
    EXPECT_EQ(host.valuesChanged.load(), 3); // one notification per applied step
}

TEST_F(PluginPresetTest, UndoRestoresTheMaskAndMarksThePresetModified) {
    nx::Nembrix& p = MakePlugin();
    p.applyPreset(1);
    ASSERT_FALSE(p.presetMgr->modified);
    p.pushUndoSnapshot();
    p.setAdvOverride(3, true); // the user touches an advanced slider after the push
    p.GetParam(nx::kParamDucking)->Set(0.7);
    p.presetMgr->modified = false;

    p.undo();
    EXPECT_EQ(p.advOverrideMask.load(), 0u);
    EXPECT_EQ(p.GetParam(nx::kParamDucking)->Value(), 0.0);
    EXPECT_TRUE(p.presetMgr->modified);

    p.presetMgr->modified = false;
    p.redo();
    EXPECT_EQ(p.advOverrideMask.load(), 1u << 3);
    EXPECT_EQ(p.GetParam(nx::kParamDucking)->Value(), 0.7);
    EXPECT_TRUE(p.presetMgr->modified);
}

TEST_F(PluginPresetTest, SnapshotsAreAppliedThroughTheParameterConstraints) {
    nx::Nembrix& p = MakePlugin();
    p.GetParam(nx::kParamWow)->Set(0.4);
    nx::Nembrix::UndoSnapshot s;
    s.values = {2.0, -1.0, 0, 0, 0, 0, 1, 60, 10000, 1.7}; // fewer values than parameters
    s.overrideMask = 0xFFFFFFFFu;
    p.applyUndoSnapshot(s);
    EXPECT_EQ(p.GetParam(nx::kParamXYx)->Value(), 1.0);
    EXPECT_EQ(p.GetParam(nx::kParamXYy)->Value(), 0.0);
    EXPECT_EQ(p.GetParam(nx::kParamMode)->Value(), 1.0);
    EXPECT_EQ(p.GetParam(nx::kParamWow)->Value(), 0.4); // beyond the snapshot: unchanged
    EXPECT_EQ(p.advOverrideMask.load(), nx::kAdvancedOverrideBits);
}

} // namespace
