// A real instance's preset store: created at construction, presets applied through the parameters'
// constraints with their override mask, the host told of the new values, saves of the current state.
#include "PluginPresetTestSupport.h"

#include "plugin/NembrixParams.h"

namespace {

using nxtest::PluginPresetTest;
namespace fs = std::filesystem;

TEST_F(PluginPresetTest, ConstructionSetsUpTheStoreWithUserPresets) {
    WriteFile("mine.nxpreset", "name=Mine\nLP=2000\n");
    nx::Nembrix& p = MakePlugin();
    ASSERT_NE(p.presetMgr, nullptr);
    std::lock_guard<std::recursive_mutex> lock(p.presetMgr->mutex);
    EXPECT_EQ(p.presetMgr->factoryCount, 5);
    ASSERT_EQ(p.presetMgr->presets.size(), 6u);
    EXPECT_EQ(p.presetMgr->presets[5].name, "Mine");
    EXPECT_EQ(p.presetMgr->presets[5].values[nx::kParamLP], 2000); // read with the plug-in's keys
    EXPECT_EQ(p.presetMgr->currentIndex, 0);
    EXPECT_FALSE(p.presetMgr->modified);
}

TEST_F(PluginPresetTest, ApplyingAFactoryPresetResetsEverythingItHolds) {
    nx::Nembrix& p = MakePlugin();
    for (auto [id, v] : {std::pair{nx::kParamMode, 1.0},
                         {nx::kParamLinkSlot, 3.0},
                         {nx::kParamBypass, 1.0},
                         {nx::kParamRootNote, 60.0},
                         {nx::kParamXYx, 0.2},
                         {nx::kParamDryWet, 0.3}})
        p.GetParam(id)->Set(v);
    p.setAdvOverride(0, true);
    p.setAdvOverride(8, true);
    ASSERT_TRUE(p.presetMgr->modified);

    const int polter = FindPreset("Poltergeist", true);
    ASSERT_EQ(polter, 2);
    p.applyPreset(polter);

    std::vector<double> expected;
    {
        std::lock_guard<std::recursive_mutex> lock(p.presetMgr->mutex);
        expected = p.presetMgr->presets[size_t(polter)].values;
        EXPECT_EQ(p.presetMgr->currentIndex, polter);
    }
    EXPECT_EQ(Values(), expected);
    EXPECT_EQ(p.GetParam(nx::kParamXYx)->Value(), 1.0);
    EXPECT_EQ(p.GetParam(nx::kParamXYy)->Value(), 0.0);
    EXPECT_EQ(p.GetParam(nx::kParamRootNote)->Value(), -1.0);
    EXPECT_EQ(p.advOverrideMask.load(), 0u);
    EXPECT_FALSE(p.presetMgr->modified);
    EXPECT_GE(host.valuesChanged.load(), 1); // the host re-reads the values
    EXPECT_FALSE(p.canUndo());               // applying records no undo step

    // Any later parameter change marks the preset modified again.
    p.OnParamChange(nx::kParamWow);
    EXPECT_TRUE(p.presetMgr->modified);
}

TEST_F(PluginPresetTest, UserPresetValuesAreConstrainedWhenApplied) {
    WriteFile("wild.nxpreset", "name=Wild\nMode=1.7\nLP=30000\nHP=-5\nRootNote=-3\nLinkSlot=2.5\n"
                               "StereoWidth=2.0004\nXYx=nan\nadvOverrideMask=65535\n");
    nx::Nembrix& p = MakePlugin();
    p.GetParam(nx::kParamWow)->Set(0.9); // the file lacks Wow: "Init" gives 0
    p.GetParam(nx::kParamXYx)->Set(0.1); // nan is not applied: "Init" gives 0.5
    const int wild = FindPreset("Wild", false);
    ASSERT_GE(wild, 5);
    p.applyPreset(wild);

    const struct {
        int id;
        double value;
    } expected[] = {
        {nx::kParamMode, 1}, // 1.7 rounds to 2, the range limits it to 1
        {nx::kParamLP, 20000},      {nx::kParamHP, 20}, {nx::kParamRootNote, -1},
        {nx::kParamLinkSlot, 3}, // halves away from zero
        {nx::kParamStereoWidth, 2}, {nx::kParamWow, 0}, {nx::kParamXYx, 0.5},
    };
    for (const auto& e : expected) EXPECT_EQ(p.GetParam(e.id)->Value(), e.value) << nx::ParamNames()[e.id];
    EXPECT_EQ(p.advOverrideMask.load(), nx::kAdvancedOverrideBits);
    EXPECT_EQ(p.presetMgr->currentIndex, wild);
}

TEST_F(PluginPresetTest, ApplyingAnIndexOutsideTheListChangesNothing) {
    nx::Nembrix& p = MakePlugin();
    p.GetParam(nx::kParamXYx)->Set(0.123);
    p.setAdvOverride(2, true);
    p.presetMgr->currentIndex = 3;
    const auto before = Values();
    const int size = static_cast<int>(p.presetMgr->presets.size());
    for (int index : {-1, size, size + 100, std::numeric_limits<int>::min()}) {
        host.valuesChanged = 0;
        p.applyPreset(index);
        EXPECT_EQ(Values(), before) << index;
        EXPECT_EQ(p.advOverrideMask.load(), 1u << 2) << index;
        EXPECT_EQ(p.presetMgr->currentIndex, 3) << index;
        EXPECT_TRUE(p.presetMgr->modified) << index;
        EXPECT_EQ(host.valuesChanged.load(), 0) << index;
    }
}

TEST_F(PluginPresetTest, SaveStoresTheCurrentStateAndSelectsIt) {
    nx::Nembrix& p = MakePlugin();
    EXPECT_FALSE(p.savePresetAs(nullptr));
    EXPECT_FALSE(p.savePresetAs(""));
    EXPECT_FALSE(fs::exists(presetDir / ".nxpreset"));

    p.GetParam(nx::kParamLP)->Set(3000);
    p.setAdvOverride(1, true);
    ASSERT_TRUE(p.savePresetAs("Bright"));
    p.GetParam(nx::kParamLP)->Set(4000);
    p.OnParamChange(nx::kParamLP);
    ASSERT_TRUE(p.presetMgr->modified);
    ASSERT_TRUE(p.savePresetAs("Bright")); // same name: the second state replaces the first

    EXPECT_FALSE(p.presetMgr->modified);
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(presetDir)) files += e.is_regular_file();
    EXPECT_EQ(files, 1u);
    const int bright = FindPreset("Bright", false);
    ASSERT_GE(bright, 5);
    EXPECT_EQ(p.presetMgr->presets.size(), 6u);
    EXPECT_EQ(p.presetMgr->currentIndex, bright);
    EXPECT_EQ(p.presetMgr->presets[size_t(bright)].values, Values());
    EXPECT_EQ(p.presetMgr->presets[size_t(bright)].advOverrideMask, 1u << 1);

    // Applying something else and then the saved preset brings the saved state back.
    const auto saved = Values();
    p.applyPreset(0);
    EXPECT_NE(Values(), saved);
    p.applyPreset(bright);
    EXPECT_EQ(Values(), saved);
    EXPECT_EQ(p.advOverrideMask.load(), 1u << 1);
}

TEST_F(PluginPresetTest, FailedSaveLeavesFlagsAndListAlone) {
    // The preset folder's place is taken by a file: nothing can be written.
    fs::create_directories(presetDir.parent_path());
    std::ofstream(presetDir) << "not a folder";
    nx::Nembrix& p = MakePlugin();
    p.OnParamChange(nx::kParamWow);
    p.presetMgr->currentIndex = 4;
    EXPECT_FALSE(p.savePresetAs("Nope"));
    EXPECT_TRUE(p.presetMgr->modified);
    EXPECT_EQ(p.presetMgr->currentIndex, 4);
    EXPECT_EQ(p.presetMgr->presets.size(), 5u);
}

} // namespace
