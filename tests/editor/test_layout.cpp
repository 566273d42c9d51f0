// Layout, pixel-to-design mapping and hit testing of the editor, without a window: a NembrixUI with a
// real plug-in attached (for the mode and the preset store) and its popups filled by hand.
#include <gtest/gtest.h>

#include "tests/editor/EditorTestUtil.h"
#include "tests/editor/UITestAccess.h"

#include "plugin/Nembrix.h"
#include "presets/NembrixPresetMgr.h"

#include <memory>

namespace nx {
namespace {

using A = NembrixUITestAccess;

class LayoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::useTestSurroundings();
        plug = std::make_unique<Nembrix>();
        A::attach(ui, plug.get());
    }
    void TearDown() override { A::attach(ui, nullptr); }
    void setMode(int mode) { plug->GetParam(pid::kMode)->Set(mode); }

    std::unique_ptr<Nembrix> plug;
    NembrixUI ui;
};

TEST(MouseToDesign, InvertsTheLastFramesScaleAndOffset) {
    struct Case {
        float scale, offX, offY, px, py, dx, dy;
    } cases[] = {
        {2.0f, 0.0f, 0.0f, 40.0f, 184.0f, 20.0f, 92.0f},   // 1920 x 1244: scale 2, no letterbox
        {1.0f, 320.0f, 0.0f, 340.0f, 92.0f, 20.0f, 92.0f}, // 1600 x 622: 320 units of margin on the left
        {1.25f, 0.0f, 48.0f, 25.0f, 175.0f, 20.0f, 92.0f}, // 1200 x 900: centred vertically
        {0.0f, 10.0f, 5.0f, 30.0f, 97.0f, 20.0f, 92.0f},   // no frame yet: offsets only
    };
    for (const Case& c : cases) {
        NembrixUI ui;
        A::setScale(ui, c.scale, c.offX, c.offY);
        float dx = 0, dy = 0;
        ui.mouseToDesign(c.px, c.py, dx, dy);
        EXPECT_NEAR(dx, c.dx, 1e-4) << "scale " << c.scale;
        EXPECT_NEAR(dy, c.dy, 1e-4) << "scale " << c.scale;
    }
}

TEST(ComputeLayout, PanelRectanglesExistOnlyWhileTheAdvancedPanelIsOpen) {
    NembrixUI ui;
    const auto& l = A::layout(ui);
    EXPECT_FLOAT_EQ(l.grip.y, 602.0f);
    for (const auto& k : l.knobs) EXPECT_EQ(k.w * k.h, 0.0f);
    EXPECT_EQ(l.rootBox.w, 0.0f);
    EXPECT_FLOAT_EQ(l.sliders[1].x, 52.0f + 686.0f / 3.0f + 54.0f);
    EXPECT_FLOAT_EQ(l.faders[4].x, 878.4f);

    A::setAdvanced(ui, true);
    EXPECT_FLOAT_EQ(l.grip.y, 742.0f);
    EXPECT_FLOAT_EQ(l.advPanel.y, 600.0f);
    EXPECT_FLOAT_EQ(l.knobs[6].x, 28.2f);
    EXPECT_FLOAT_EQ(l.rootBox.w, 84.4f);

    A::setAdvanced(ui, false);
    EXPECT_EQ(l.knobs[0].w, 0.0f);
}

TEST_F(LayoutTest, FixedControlsAnswerAtTheirPlacesInRecvMode) {
    struct Case {
        float x, y;
        int id;
    } cases[] = {
        {232, 304, ctl::kPad},
        {15, 92, ctl::kPad}, // inside the pad's 14-unit margin
        {5, 92, ctl::kNone},
        {511, 300, 1},
        {892, 110, 5}, // fader 5 within its 8-unit margin
        {100, 571, ctl::kSliderHP},
        {400, 571, ctl::kSliderLP},
        {700, 571, ctl::kSliderWow},
        {900, 570, ctl::kMode},
        {480, 36, ctl::kName},
        {480, 62, ctl::kPeersPill},
        {890, 48, ctl::kBypass},
        {30, 48, ctl::kLogo},
        {949, 611, ctl::kGrip},
        {474, 102, ctl::kSnap},
        {790, 48, ctl::kAdvToggle},
        {359, 12, ctl::kPrevPreset},
        {448, 12, ctl::kPresetBox},
        {537, 12, ctl::kNextPreset},
        {583, 12, ctl::kSave},
        {0, 0, ctl::kNone},
        {253, 667, ctl::kNone}, // knob 0's place while the panel is closed
        {949, 751, ctl::kNone},
    };
    for (const Case& c : cases) EXPECT_EQ(ui.hitTest(c.x, c.y), c.id) << c.x << ", " << c.y;
}

TEST_F(LayoutTest, AdvancedPanelKnobsAndRootBoxAnswerWhileOpen) {
    A::setAdvanced(ui, true);
    struct Case {
        float x, y;
        int id;
    } cases[] = {{253, 667, ctl::kKnob + 0}, {64, 667, ctl::kKnob + 6}, {895, 667, ctl::kKnob + 5},
                 {150, 667, ctl::kRootBox},  {949, 751, ctl::kGrip},    {949, 611, ctl::kNone}};
    for (const Case& c : cases) EXPECT_EQ(ui.hitTest(c.x, c.y), c.id) << c.x << ", " << c.y;
}

TEST_F(LayoutTest, SendModeSilencesPadFadersSlidersAndKnobsButNotTheButtons) {
    setMode(1);
    for (bool panel : {false, true}) {
        A::setAdvanced(ui, panel);
        EXPECT_EQ(ui.hitTest(232, 304), ctl::kNone) << "pad";
        EXPECT_EQ(ui.hitTest(511, 300), ctl::kNone) << "fader";
        EXPECT_EQ(ui.hitTest(100, 571), ctl::kNone) << "slider";
        EXPECT_EQ(ui.hitTest(890, 48), ctl::kBypass);
        EXPECT_EQ(ui.hitTest(900, 570), ctl::kMode);
        EXPECT_EQ(ui.hitTest(448, 12), ctl::kPresetBox);
        EXPECT_EQ(ui.hitTest(949, panel ? 751.0f : 611.0f), ctl::kGrip);
    }
    EXPECT_EQ(ui.hitTest(253, 667), ctl::kNone) << "knob";
}

TEST_F(LayoutTest, SaveDialogIsModal) {
    A::saveDialogOpen(ui) = true;
    A::dialog(ui) = {{320, 251, 320, 120}, {332, 283, 296, 28}, {460, 333, 80, 26}, {548, 333, 80, 26}};
    EXPECT_EQ(ui.hitTest(890, 48), ctl::kNone) << "bypass under the dialog";
    EXPECT_EQ(ui.hitTest(232, 304), ctl::kNone) << "pad under the dialog";
    EXPECT_EQ(ui.hitTest(588, 346), ctl::kDialogSave);
    EXPECT_EQ(ui.hitTest(500, 346), ctl::kDialogCancel);
    EXPECT_EQ(ui.hitTest(400, 297), ctl::kDialogName);
}

TEST_F(LayoutTest, PresetMenuRowsOfferTheDeleteMarkOnlyOnUserPresets) {
    auto& mgr = *plug->presetMgr;
    int userIndex = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(mgr.mutex);
        Preset user;
        user.name = "Mine";
        user.values.assign(23, 0.0);
        mgr.presets.push_back(user);
        userIndex = static_cast<int>(mgr.presets.size()) - 1;
    }
    A::presetMenuOpen(ui) = true;
    auto& rows = A::presetRows(ui);
    rows.count = 3;
    rows.rows[0] = {342, 36, 212, 20};
    rows.presetIndex[0] = 0; // factory "Init"
    rows.rows[1] = {342, 56, 212, 20};
    rows.presetIndex[1] = userIndex;
    rows.rows[2] = {342, 76, 212, 20};
    rows.presetIndex[2] = 999; // no longer a valid preset
    struct Case {
        float x, y;
        int id;
    } cases[] = {
        {550, 46, ctl::kPresetRow + 0},    {360, 66, ctl::kPresetRow + 1}, {550, 66, ctl::kPresetDelete + 1},
        {536, 66, ctl::kPresetDelete + 1}, {535, 66, ctl::kPresetRow + 1}, {550, 86, ctl::kPresetRow + 2},
    };
    for (const Case& c : cases) EXPECT_EQ(ui.hitTest(c.x, c.y), c.id) << c.x << ", " << c.y;
}

TEST_F(LayoutTest, OpenPopupsTakeTheirRowsFirstAndLetOtherPointsFallThrough) {
    A::peerListOpen(ui) = true;
    auto& peers = A::peerRows(ui);
    peers.count = 2;
    peers.rows[0] = {340, 106, 280, 26};
    peers.rows[1] = {340, 132, 280, 26};
    EXPECT_EQ(ui.hitTest(360, 110), ctl::kPeerRow + 0);
    EXPECT_EQ(ui.hitTest(360, 150), ctl::kPeerRow + 1);
    EXPECT_EQ(ui.hitTest(232, 304), ctl::kPad);

    A::setAdvanced(ui, true);
    A::rootListOpen(ui) = true;
    auto& roots = A::rootRows(ui);
    roots.count = 2;
    roots.rows[0] = {96.6f, 380, 112, 16};
    roots.rows[1] = {96.6f, 396, 112, 16};
    EXPECT_EQ(ui.hitTest(150, 400), ctl::kRootRow + 1);
    EXPECT_EQ(ui.hitTest(890, 48), ctl::kBypass);
}

} // namespace
} // namespace nx
