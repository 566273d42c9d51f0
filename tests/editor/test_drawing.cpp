// What the editor draws, checked on screenshots of the real window (Xvfb, Mesa) in known states: a few
// regions and colours per state that a real fault would change, plus the popup geometry each frame
// stores for the hit test. The window is 960 x 622 (or 960 x 762), so design units equal pixels.
#include <gtest/gtest.h>

#include "tests/editor/EditorTestUtil.h"
#include "tests/editor/UITestAccess.h"

#include "plugin/Nembrix.h"
#include "presets/NembrixPresetMgr.h"
#include "ui/UIHints.h"

#include <cmath>
#include <cstdlib>
#include <memory>

namespace nx {
namespace {

using A = NembrixUITestAccess;
using host::X11ParentWindow;
using test::Region;
using test::waitUntil;

struct Rgb {
    int r, g, b;
};

class Screenshot {
public:
    explicit Screenshot(const X11ParentWindow& p) { px = p.screenshot(w, h); }
    Rgb at(int x, int y) const {
        const uint32_t v = px.at(static_cast<size_t>(y) * w + x);
        return {int(v >> 16 & 0xFF), int(v >> 8 & 0xFF), int(v & 0xFF)};
    }
    // Pixels of the region within `tol` of the colour on every channel.
    int count(Region r, Rgb c, int tol = 24) const {
        int n = 0;
        for (int y = r.y; y < r.y + r.h && y < h; ++y)
            for (int x = r.x; x < r.x + r.w && x < w; ++x) {
                const Rgb p = at(x, y);
                if (std::abs(p.r - c.r) <= tol && std::abs(p.g - c.g) <= tol && std::abs(p.b - c.b) <= tol)
                    ++n;
            }
        return n;
    }
    // Pixels of the region for which pred(r, g, b) holds.
    template <class Pred>
    int countIf(Region r, Pred pred) const {
        int n = 0;
        for (int y = r.y; y < r.y + r.h && y < h; ++y)
            for (int x = r.x; x < r.x + r.w && x < w; ++x) {
                const Rgb p = at(x, y);
                if (pred(p.r, p.g, p.b)) ++n;
            }
        return n;
    }
    // Brightest red channel in the region.
    int maxRed(Region r) const {
        int m = 0;
        for (int y = r.y; y < r.y + r.h && y < h; ++y)
            for (int x = r.x; x < r.x + r.w && x < w; ++x) m = std::max(m, at(x, y).r);
        return m;
    }
    int w = 0, h = 0;
    std::vector<uint32_t> px;
};

constexpr Rgb kAccentLight{255, 192, 96};
constexpr Rgb kAccent{255, 140, 0};

class Drawing : public ::testing::Test {
protected:
    void SetUp() override {
        test::useTestSurroundings();
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
        plug = std::make_unique<Nembrix>();
    }
    void TearDown() override {
        if (plug) plug->CloseWindow();
        NembrixUI::simulateMissingFontForTesting(false);
    }
    void open(int h = 622) {
        parent = std::make_unique<X11ParentWindow>(960, h);
        plug->SetEditorSize(960, h);
        plug->OpenWindow(reinterpret_cast<void*>(parent->id()));
        ASSERT_TRUE(waitUntil([&] { return test::drawnPixels(*parent, {0, 0, 960, h}) > 10000; }));
    }
    // A frame drawn after the state the test just set.
    Screenshot settle() {
        const uint64_t f = NembrixUI::framesDrawnForTesting();
        EXPECT_TRUE(waitUntil([&] { return NembrixUI::framesDrawnForTesting() >= f + 3; }));
        return Screenshot(*parent);
    }
    NembrixUI& ui() { return plug->ui; }

    std::unique_ptr<Nembrix> plug;
    std::unique_ptr<X11ParentWindow> parent;
};

TEST(ValueTexts, FormatTheWayTheFadersAndSlidersShowThem) {
    struct Case {
        bool fader, special;
        double value;
        const char* text;
    } cases[] = {
        {true, true, 0.5, "50%"},        {true, false, -3.0, "-3.0"},
        {true, false, 6.0, "+6.0"},      {true, false, 0.0, "+0.0"},
        {false, false, 20.0, "20 Hz"},   {false, false, 12000.0, "12.0 kHz"},
        {false, false, 999.4, "999 Hz"}, {false, false, 1000.0, "1.0 kHz"},
        {false, true, 0.35, "35%"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.fader ? faderValueText(c.special, c.value) : sliderValueText(c.special, c.value), c.text);
    EXPECT_EQ(noteName(36), "C2");
    EXPECT_EQ(noteName(69), "A4");
}

TEST_F(Drawing, PuckFollowsTheXYParametersToTheBottomLeftCorner) {
    open();
    Screenshot centre = settle();
    EXPECT_GT(centre.count({222, 294, 20, 20}, kAccentLight), 20) << "puck at the pad centre";
    plug->GetParam(pid::kXYx)->Set(0.0);
    plug->GetParam(pid::kXYy)->Set(0.0);
    Screenshot corner = settle();
    EXPECT_GT(corner.count({20, 506, 10, 10}, kAccentLight), 20) << "puck in the Whisper corner";
    EXPECT_EQ(corner.count({222, 294, 20, 20}, kAccentLight), 0);
}

TEST_F(Drawing, BypassDimsTheBodyAndShowsTheRedOverlay) {
    open();
    Screenshot normal = settle();
    const Region dryWetBar{884, 300, 16, 100};
    EXPECT_GT(normal.count(dryWetBar, {200, 136, 68}), 1000) << "bar at full alpha";
    plug->GetParam(pid::kBypass)->Set(1);
    Screenshot bypassed = settle();
    EXPECT_EQ(bypassed.count(dryWetBar, {200, 136, 68}), 0);
    EXPECT_LT(bypassed.maxRed(dryWetBar), 90) << "body alpha 0.2";
    EXPECT_GT(bypassed.count({130, 260, 200, 50}, {255, 96, 96}, 40), 200) << "BYPASSED over the pad";
    EXPECT_GT(bypassed.count({848, 35, 92, 26}, {176, 48, 48}, 10), 500) << "red bypass pill";
}

TEST_F(Drawing, SendModeWithoutPeersShowsThePurpleOverlayAndWarning) {
    open();
    plug->GetParam(pid::kMode)->Set(1);
    Screenshot send = settle();
    // Text colours blend with the pad beneath: test their hue, not their exact value.
    auto purple = [](int r, int g, int b) { return b > 150 && r > 120 && b - g > 50 && r - g > 25; };
    auto red = [](int r, int g, int b) { return r > 150 && r - g > 60 && r - b > 60; };
    EXPECT_GT(send.countIf({150, 260, 170, 45}, purple), 150) << "SEND ONLY";
    EXPECT_GT(send.countIf({100, 330, 260, 20}, red), 20) << "no peers warning";
    EXPECT_EQ(send.countIf({150, 260, 170, 45}, red), 0);
    EXPECT_GT(send.count({868, 558, 72, 26}, {85, 42, 160}, 10), 500) << "purple mode pill";
    const int bar = send.maxRed({884, 300, 16, 100});
    EXPECT_GT(bar, 60);
    EXPECT_LT(bar, 120) << "body alpha 0.35";
}

TEST_F(Drawing, PeerListIs74HighWhenEmptyAndDrawsRowsAndMutesForPeers) {
    open();
    A::locked(ui(), [&] { A::peerListOpen(ui()) = true; });
    settle();
    A::locked(ui(), [&] {
        EXPECT_EQ(A::peerRows(ui()).count, 0);
        EXPECT_FLOAT_EQ(A::peerRows(ui()).popup.h, 74.0f);
    });

    std::unique_ptr<Nembrix> peers[3];
    for (auto& p : peers) p = std::make_unique<Nembrix>();
    if (!plug->shm.isConnected() || !peers[2]->shm.isConnected()) GTEST_SKIP() << "registry unavailable";
    plug->mutedPeerIds[0].store(peers[1]->shm.instanceId());
    Screenshot s = settle();
    A::locked(ui(), [&] {
        const auto& rows = A::peerRows(ui());
        ASSERT_EQ(rows.count, 3);
        EXPECT_FLOAT_EQ(rows.rows[0].y, 106.0f);
        EXPECT_FLOAT_EQ(rows.rows[1].y, 132.0f);
        EXPECT_FLOAT_EQ(rows.rows[2].y, 158.0f);
        EXPECT_EQ(rows.ids[1], peers[1]->shm.instanceId());
    });
    // Dots at x 358, rows centred at 119 + 26 i: live peers filled orange, the muted one hollow.
    EXPECT_GT(s.count({355, 116, 6, 6}, kAccent), 10);
    EXPECT_EQ(s.count({356, 143, 4, 4}, kAccent), 0);
    EXPECT_GT(s.count({352, 139, 12, 12}, {96, 96, 114}, 30), 4) << "hollow outline";
    EXPECT_GT(s.count({355, 168, 6, 6}, kAccent), 10);
}

TEST_F(Drawing, PresetMenuDrawsSeventyPresetsAndStoresSixtyFourRows) {
    auto& mgr = *plug->presetMgr;
    size_t total = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(mgr.mutex);
        while (mgr.presets.size() < 70) {
            Preset p;
            p.name = "User " + std::to_string(mgr.presets.size());
            p.values.assign(23, 0.0);
            mgr.presets.push_back(p);
        }
        total = mgr.presets.size();
    }
    open();
    A::locked(ui(), [&] { A::presetMenuOpen(ui()) = true; });
    Screenshot s = settle();
    A::locked(ui(), [&] {
        const auto& rows = A::presetRows(ui());
        EXPECT_EQ(rows.count, 64);
        EXPECT_FLOAT_EQ(rows.menu.h, 16.0f + 2 * 22.0f + 20.0f * static_cast<float>(total));
        // Rows start 12 below the preset box, after the "Factory" heading, 5 factory rows, "User".
        EXPECT_FLOAT_EQ(rows.rows[63].y, 34.0f + 22.0f + 20.0f * 5 + 22.0f + 20.0f * 58);
    });
    // The menu reaches the bottom of the window: the first fader's bar beneath it is covered.
    EXPECT_EQ(s.count({500, 300, 20, 190}, {200, 136, 68}), 0);
    EXPECT_GT(s.count({500, 300, 20, 190}, {16, 16, 24}, 8), 3000);
}

TEST_F(Drawing, RootListOpensAboveTheRootBoxWithAutoAndC2ToC3) {
    plug->advancedPanelOpen.store(true);
    open(762);
    A::locked(ui(), [&] { A::rootListOpen(ui()) = true; });
    settle();
    A::locked(ui(), [&] {
        const auto& rows = A::rootRows(ui());
        EXPECT_FLOAT_EQ(rows.popup.y, 358.0f);
        EXPECT_NEAR(rows.popup.x, 92.6f, 1e-3);
        EXPECT_FLOAT_EQ(rows.popup.w, 120.0f);
        ASSERT_EQ(rows.count, 14);
        EXPECT_EQ(rows.note[0], -1);
        EXPECT_EQ(rows.note[1], 36);
        EXPECT_EQ(rows.note[13], 48);
    });
}

TEST_F(Drawing, AnOverriddenKnobCarriesTheOrangeBadge) {
    plug->advancedPanelOpen.store(true);
    open(762);
    // Knob 0: centre (253, 662), radius 30.24: badge at (276.6, 638.4).
    const Region badge{273, 635, 7, 7};
    Screenshot plain = settle();
    EXPECT_EQ(plain.count(badge, kAccent, 30), 0);
    plug->setAdvOverride(0, true);
    Screenshot overridden = settle();
    EXPECT_GT(overridden.count(badge, kAccent, 30), 8);
}

TEST_F(Drawing, AKnobWithoutItsOverrideFollowsTheMorphAsThePuckMoves) {
    plug->advancedPanelOpen.store(true);
    plug->OnReset();
    open(762);
    std::vector<double> silence(512, 0.0), outL(512), outR(512);
    double* in[2] = {silence.data(), silence.data()};
    double* out[2] = {outL.data(), outR.data()};
    // Knob 0 (Character, 0..1): centre (253, 662), radius 30.24; the pointer runs from 0.25 r to 0.95 r.
    auto pointerAt = [](double n) {
        const double a = n * 4.712 - 2.356;
        return Region{static_cast<int>(253 + 0.6 * 30.24 * std::sin(a)) - 1,
                      static_cast<int>(662 - 0.6 * 30.24 * std::cos(a)) - 1, 3, 3};
    };
    double shown[2] = {0, 0};
    int hits[2][2] = {};
    const double xy[2] = {0.0, 1.0}; // Whisper corner, then Poltergeist's side
    for (int i = 0; i < 2; ++i) {
        plug->GetParam(pid::kXYx)->Set(xy[i]);
        plug->GetParam(pid::kXYy)->Set(0.0);
        plug->OnParamChange(pid::kXYx);
        plug->OnParamChange(pid::kXYy);
        for (int b = 0; b < 200; ++b) plug->ProcessBlock(in, out, 512);
        shown[i] = plug->engine.currentAnchors().character;
        Screenshot s = settle();
        for (int j = 0; j < 2; ++j)
            hits[i][j] = s.count(pointerAt(j == 0 ? shown[0] : shown[i]), {128, 128, 144}, 40);
    }
    ASSERT_GT(std::abs(shown[1] - shown[0]), 0.3) << "the corners differ in character";
    EXPECT_GT(hits[0][0], 0) << "pointer at the Whisper value";
    EXPECT_GT(hits[1][1], 0) << "pointer at the new value after the puck moved";
    EXPECT_EQ(hits[1][0], 0) << "no pointer left at the old value";
    EXPECT_EQ(plug->advOverrideMask.load() & 1u, 0u);
}

TEST_F(Drawing, WithoutAFontNoTextIsDrawnButEveryShapeIs) {
    NembrixUI::simulateMissingFontForTesting(true);
    open();
    Screenshot s = settle();
    const Region abyssLabel{28, 100, 60, 20}, dryWetValue{870, 92, 44, 16};
    EXPECT_EQ(s.count(abyssLabel, {184, 184, 202}, 40), 0);
    EXPECT_EQ(s.count(dryWetValue, {200, 200, 210}, 40), 0);
    EXPECT_GT(s.count({884, 300, 16, 100}, {200, 136, 68}), 1000) << "fader bar";
    EXPECT_GT(s.count({222, 294, 20, 20}, kAccentLight), 20) << "puck";
    EXPECT_GT(s.count({14, 30, 36, 36}, kAccent, 10), 200) << "logo plate";
    plug->CloseWindow();

    NembrixUI::simulateMissingFontForTesting(false);
    plug->OpenWindow(reinterpret_cast<void*>(parent->id()));
    Screenshot withFont = settle();
    EXPECT_GT(withFont.count(abyssLabel, {184, 184, 202}, 40), 10);
    EXPECT_GT(withFont.count(dryWetValue, {200, 200, 210}, 40), 5);
}

} // namespace
} // namespace nx
