// Interaction: synthesised pugl events delivered to the editor's event handler with a real plug-in
// attached (no window: design units equal pixels), a clock the test controls, and a host link that
// records the gestures the host sees.
#include <gtest/gtest.h>

#include "tests/editor/EditorTestUtil.h"
#include "tests/editor/UITestAccess.h"

#include "plugin/Nembrix.h"
#include "presets/NembrixPresetMgr.h"

extern "C" {
#include "pugl/pugl.h"
}

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <sys/stat.h>

namespace nx {
namespace {

using A = NembrixUITestAccess;

std::atomic<int64_t> sNowNs{1'000'000'000'000};
int64_t testClock() {
    return sNowNs.load();
}

class Interaction : public ::testing::Test {
protected:
    void SetUp() override {
        test::useTestSurroundings();
        NembrixUI::setClockForTesting(testClock);
        plug = std::make_unique<Nembrix>();
        plug->SetHostLink(&link);
        A::attach(ui, plug.get());
        A::setWindowSize(ui, 960, 622);
    }
    void TearDown() override {
        A::attach(ui, nullptr);
        plug->SetHostLink(nullptr);
        NembrixUI::setClockForTesting(nullptr);
    }

    void advanceMs(int ms) { sNowNs += int64_t{ms} * 1'000'000; }
    void press(float x, float y, float xRoot = 0, float yRoot = 0) {
        PuglEvent e{};
        e.button.type = PUGL_BUTTON_PRESS;
        e.button.x = x;
        e.button.y = y;
        e.button.xRoot = xRoot;
        e.button.yRoot = yRoot;
        ui.onEvent(nullptr, &e);
    }
    void release() {
        PuglEvent e{};
        e.button.type = PUGL_BUTTON_RELEASE;
        ui.onEvent(nullptr, &e);
    }
    void move(float x, float y, float xRoot = 0) {
        PuglEvent e{};
        e.motion.type = PUGL_MOTION;
        e.motion.x = x;
        e.motion.y = y;
        e.motion.xRoot = xRoot;
        ui.onEvent(nullptr, &e);
    }
    void click(float x, float y) {
        press(x, y);
        release();
    }
    void key(uint32_t k, uint32_t mods = 0) {
        PuglEvent e{};
        e.key.type = PUGL_KEY_PRESS;
        e.key.key = k;
        e.key.state = mods;
        ui.onEvent(nullptr, &e);
    }
    void type(uint32_t codepoint) {
        PuglEvent e{};
        e.text.type = PUGL_TEXT;
        e.text.character = codepoint;
        ui.onEvent(nullptr, &e);
    }
    double value(int id) { return plug->GetParam(id)->Value(); }
    double norm(int id) { return plug->GetParam(id)->GetNormalized(); }
    // The preset list's index of a preset by name, or -1.
    int presetIndex(const std::string& name) {
        std::lock_guard<std::recursive_mutex> lock(plug->presetMgr->mutex);
        const auto& list = plug->presetMgr->presets;
        for (size_t i = 0; i < list.size(); ++i)
            if (list[i].name == name) return static_cast<int>(i);
        return -1;
    }
    // What the preset menu would have drawn: one row per preset, in list order.
    void drawPresetRows() {
        auto& rows = A::presetRows(ui);
        std::lock_guard<std::recursive_mutex> lock(plug->presetMgr->mutex);
        rows.count =
            std::min<int>(static_cast<int>(plug->presetMgr->presets.size()), NembrixUI::kMaxPresetRows);
        for (int i = 0; i < rows.count; ++i) {
            rows.rows[i] = {342, 36.0f + 20.0f * static_cast<float>(i), 212, 20};
            rows.presetIndex[i] = i;
        }
    }

    NembrixUI ui;
    test::RecordingHostLink link;
    std::unique_ptr<Nembrix> plug;
};

constexpr float kPadCx = 20 + 212, kPadCy = 92 + 212;
constexpr float kFader1X = 497.6f + 14;

TEST_F(Interaction, PadClickSetsThePositionWithAndWithoutSnap) {
    click(kPadCx, kPadCy);
    EXPECT_NEAR(value(pid::kXYx), 0.5, 1e-9);
    EXPECT_NEAR(value(pid::kXYy), 0.5, 1e-9);

    advanceMs(1000);
    click(20 + 0.3f * 424, 92 + 0.25f * 424); // x 0.3, y 0.75
    EXPECT_NEAR(value(pid::kXYx), 0.3, 1e-3);
    EXPECT_NEAR(value(pid::kXYy), 0.75, 1e-3);

    advanceMs(1000);
    A::snapToGrid(ui) = true;
    click(20 + 0.47f * 424, kPadCy);
    EXPECT_DOUBLE_EQ(value(pid::kXYx), 0.5);
    EXPECT_DOUBLE_EQ(value(pid::kXYy), 0.5);
}

TEST_F(Interaction, DragsRunInsideOneHostGesturePerParameter) {
    link.takeEdits();
    press(kPadCx, kPadCy);
    move(kPadCx + 42.4f, kPadCy);
    release();
    const auto edits = link.takeEdits();
    ASSERT_GE(edits.size(), 6u);
    EXPECT_EQ(edits.front().kind, 'B');
    EXPECT_EQ(edits[1].kind, 'B');
    EXPECT_EQ(edits[edits.size() - 2].kind, 'E');
    EXPECT_EQ(edits.back().kind, 'E');
    int open[2] = {0, 0};
    for (const auto& e : edits) {
        ASSERT_TRUE(e.param == pid::kXYx || e.param == pid::kXYy);
        int& depth = open[e.param];
        if (e.kind == 'B') ++depth;
        if (e.kind == 'E') --depth;
        if (e.kind == 'P') {
            EXPECT_EQ(depth, 1) << "value outside its gesture";
        }
        EXPECT_GE(depth, 0);
        EXPECT_LE(depth, 1);
    }
    EXPECT_EQ(open[0], 0);
    EXPECT_EQ(open[1], 0);
    EXPECT_NEAR(value(pid::kXYx), 0.6, 1e-3);

    // One-shot buttons send begin, value and end together.
    click(890, 48);
    const auto bypass = link.takeEdits();
    ASSERT_EQ(bypass.size(), 3u);
    EXPECT_EQ(bypass[0].kind, 'B');
    EXPECT_EQ(bypass[1].kind, 'P');
    EXPECT_EQ(bypass[2].kind, 'E');
    EXPECT_EQ(bypass[1].param, pid::kBypass);
    EXPECT_EQ(value(pid::kBypass), 1.0);
}

TEST_F(Interaction, FaderJumpsToThePointerAndDoubleClickResetsWithin350Ms) {
    const float bottom = 114 + 388;
    click(kFader1X, bottom - 100);
    EXPECT_NEAR(norm(pid::kHarmonicLevel), 100.0 / 388.0, 1e-4);

    advanceMs(200);
    click(kFader1X, bottom - 300);
    EXPECT_DOUBLE_EQ(value(pid::kHarmonicLevel), 0.0) << "second click within 350 ms resets";

    advanceMs(400);
    click(kFader1X, bottom - 100);
    advanceMs(400);
    click(kFader1X, bottom - 300);
    EXPECT_NEAR(norm(pid::kHarmonicLevel), 300.0 / 388.0, 1e-4) << "400 ms apart: two ordinary clicks";
}

TEST_F(Interaction, KnobPressMakesTheOverrideStickyAndDoubleClickReleasesIt) {
    A::setAdvanced(ui, true);
    const float kx = 217 + 36, ky = 618 + 49; // knob 0, Character
    plug->GetParam(pid::kCharacter)->Set(0.3);
    press(kx, ky);
    EXPECT_EQ(plug->advOverrideMask.load() & 1u, 1u);
    EXPECT_DOUBLE_EQ(value(pid::kCharacter), 0.3) << "the value does not jump";
    move(kx, ky - 49); // half a knob height up
    EXPECT_NEAR(value(pid::kCharacter), 0.8, 1e-3);
    release();

    advanceMs(100);
    click(kx, ky);
    EXPECT_EQ(plug->advOverrideMask.load() & 1u, 0u);
    EXPECT_DOUBLE_EQ(value(pid::kCharacter), plug->GetParam(pid::kCharacter)->GetDefault());
}

TEST_F(Interaction, CtrlShortcutsUndoAndRedo) {
    const float bottom = 114 + 388;
    click(kFader1X, bottom - 100); // snapshot taken before the change
    const double changed = value(pid::kHarmonicLevel);
    ASSERT_NE(changed, 0.0);
    struct Step {
        uint32_t key, mods;
        double expect;
    } steps[] = {
        {'z', 0, changed},                              // Z alone does nothing
        {'z', PUGL_MOD_CTRL, 0.0},                      // undo
        {'z', PUGL_MOD_CTRL | PUGL_MOD_SHIFT, changed}, // redo
        {'Y', PUGL_MOD_CTRL | PUGL_MOD_SHIFT, 0.0},     // Ctrl+Shift+Y undoes
        {'y', PUGL_MOD_CTRL, changed},                  // Ctrl+Y redoes
    };
    for (const Step& s : steps) {
        key(s.key, s.mods);
        EXPECT_DOUBLE_EQ(value(pid::kHarmonicLevel), s.expect) << char(s.key) << " mods " << s.mods;
    }
}

TEST_F(Interaction, NameEditingTakesPrintableAsciiUpTo40Characters) {
    click(480, 36);
    ASSERT_TRUE(A::nameEditing(ui));
    A::nameBuffer(ui).clear();
    key(PUGL_KEY_BACKSPACE); // nothing to remove
    for (int i = 0; i < 41; ++i) type('a' + (i % 26));
    type('\t');
    type(0xE9); // é
    EXPECT_EQ(A::nameBuffer(ui).size(), 40u);
    key(PUGL_KEY_BACKSPACE);
    EXPECT_EQ(A::nameBuffer(ui).size(), 39u);
    key('\r');
    EXPECT_FALSE(A::nameEditing(ui));
    char name[64];
    plug->getInstanceName(name, sizeof name);
    EXPECT_EQ(std::string(name), std::string("abcdefghijklmnopqrstuvwxyzabcdefghijklm"));

    // A restored 63-character name pre-fills the buffer whole; Escape keeps the old name.
    const std::string longName(63, 'n');
    plug->SetInstanceName(longName.c_str());
    click(480, 36);
    EXPECT_EQ(A::nameBuffer(ui), longName);
    key(PUGL_KEY_ESCAPE);
    plug->getInstanceName(name, sizeof name);
    EXPECT_EQ(std::string(name), longName);
}

TEST_F(Interaction, SaveDialogPrefillsFromTheCurrentPreset) {
    ASSERT_TRUE(plug->savePresetAs("My Pad"));
    struct Case {
        std::string current;
        std::string expect;
    } cases[] = {{"Whisper", "Whisper (copy)"}, {"My Pad", "My Pad"}, {"", "Init (copy)"}};
    for (const Case& c : cases) {
        {
            std::lock_guard<std::recursive_mutex> lock(plug->presetMgr->mutex);
            plug->presetMgr->currentIndex = c.current.empty() ? 9999 : presetIndex(c.current);
        }
        click(583, 12);
        ASSERT_TRUE(A::saveDialogOpen(ui)) << c.current;
        EXPECT_EQ(A::saveName(ui), c.expect);
        key(PUGL_KEY_ESCAPE);
        EXPECT_FALSE(A::saveDialogOpen(ui));
    }
    // Enter with an empty name keeps the dialog; the Save button with an empty name closes it unsaved.
    click(583, 12);
    A::saveName(ui).clear();
    key('\r');
    EXPECT_TRUE(A::saveDialogOpen(ui));
    click(588, 346);
    EXPECT_FALSE(A::saveDialogOpen(ui));
}

TEST_F(Interaction, DeletingAUserPresetRemovesItsFileAndASecondClickDoesNothing) {
    ASSERT_TRUE(plug->savePresetAs("a/b"));
    ASSERT_TRUE(plug->savePresetAs("c"));
    const std::string dir = plug->presetMgr->GetUserPresetsDir();
    struct stat st {};
    ASSERT_EQ(stat((dir + "/a_b.nxpreset").c_str(), &st), 0);

    click(448, 12); // open the menu
    ASSERT_TRUE(A::presetMenuOpen(ui));
    drawPresetRows();
    const int row = presetIndex("a/b");
    ASSERT_GE(row, 0);
    const float markX = 342 + 212 - 9, rowY = 36.0f + 20.0f * static_cast<float>(row) + 10;
    click(markX, rowY);
    EXPECT_NE(stat((dir + "/a_b.nxpreset").c_str(), &st), 0);
    EXPECT_EQ(presetIndex("a/b"), -1);
    EXPECT_TRUE(A::presetMenuOpen(ui));
    EXPECT_EQ(A::presetRows(ui).count, 0);

    // "c" moved into the deleted row; a quick second click must not delete it.
    advanceMs(50);
    click(markX, rowY);
    EXPECT_GE(presetIndex("c"), 0);
    EXPECT_EQ(stat((dir + "/c.nxpreset").c_str(), &st), 0);
}

TEST_F(Interaction, DeletingACopiedPresetRemovesTheCopyNotTheFileItsNameMapsTo) {
    ASSERT_TRUE(plug->savePresetAs("Lead"));
    const std::string dir = plug->presetMgr->GetUserPresetsDir();
    const std::string original = dir + "/Lead.nxpreset", copy = dir + "/Lead old.nxpreset";
    {
        // A copy made by hand whose name line still says "Lead".
        FILE* in = std::fopen(original.c_str(), "rb");
        FILE* out = std::fopen(copy.c_str(), "wb");
        ASSERT_TRUE(in && out);
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) std::fwrite(buf, 1, n, out);
        std::fclose(in);
        std::fclose(out);
    }
    int copyRow = -1;
    {
        std::lock_guard<std::recursive_mutex> lock(plug->presetMgr->mutex);
        plug->presetMgr->ScanUserPresets(nullptr);
        const auto& list = plug->presetMgr->presets;
        for (size_t i = 0; i < list.size(); ++i)
            if (list[i].sourcePath == copy) copyRow = static_cast<int>(i);
    }
    ASSERT_GE(copyRow, 0);

    click(448, 12);
    ASSERT_TRUE(A::presetMenuOpen(ui));
    drawPresetRows();
    click(342 + 212 - 9, 36.0f + 20.0f * static_cast<float>(copyRow) + 10);
    struct stat st {};
    EXPECT_NE(stat(copy.c_str(), &st), 0) << "the copy is the preset that was deleted";
    EXPECT_EQ(stat(original.c_str(), &st), 0) << "the original must survive";
}

TEST_F(Interaction, PickingAPresetTellsTheHostEachChangeAndLeavesThePresetUnmodified) {
    const int target = presetIndex("Monolith");
    ASSERT_GE(target, 0);
    click(448, 12);
    ASSERT_TRUE(A::presetMenuOpen(ui));
    drawPresetRows();
    link.takeEdits();
    click(400, 36.0f + 20.0f * static_cast<float>(target) + 10);

    EXPECT_EQ(plug->presetMgr->currentIndex, target);
    EXPECT_FALSE(plug->presetMgr->modified.load()) << "a freshly picked preset is not modified";
    EXPECT_EQ(value(pid::kXYx), 1.0);
    EXPECT_EQ(value(pid::kXYy), 1.0);
    const auto edits = link.takeEdits();
    ASSERT_FALSE(edits.empty());
    ASSERT_EQ(edits.size() % 3, 0u);
    for (size_t i = 0; i < edits.size(); i += 3) {
        EXPECT_EQ(edits[i].kind, 'B');
        EXPECT_EQ(edits[i + 1].kind, 'P');
        EXPECT_EQ(edits[i + 2].kind, 'E');
        EXPECT_EQ(edits[i + 1].value, norm(edits[i + 1].param)) << "the host hears the value that was set";
    }
}

TEST_F(Interaction, GripKeepsTheAspectAndTellsTheHostFromSixPixels) {
    press(949, 611, 1000, 700);
    ASSERT_EQ(A::activeId(ui), ctl::kGrip);
    move(950, 611, 1003);
    EXPECT_TRUE(link.takeResizes().empty()) << "3 px: below the host threshold";
    move(1049, 611, 1100);
    auto resizes = link.takeResizes();
    ASSERT_EQ(resizes.size(), 1u);
    EXPECT_EQ(resizes[0], std::make_pair(1060, 687));
    release();
    resizes = link.takeResizes();
    ASSERT_EQ(resizes.size(), 1u) << "the release always tells the host";
}

TEST_F(Interaction, AdvancedToggleResizesBetween622And762) {
    click(790, 48);
    EXPECT_TRUE(A::advancedOpen(ui));
    EXPECT_TRUE(plug->advancedPanelOpen.load());
    EXPECT_EQ(A::pendingW(ui), 960);
    EXPECT_EQ(A::pendingH(ui), 762);
    auto resizes = link.takeResizes();
    ASSERT_EQ(resizes.size(), 1u);
    EXPECT_EQ(resizes[0], std::make_pair(960, 762));

    A::setWindowSize(ui, 960, 762);
    advanceMs(1000);
    click(790, 48);
    EXPECT_FALSE(A::advancedOpen(ui));
    resizes = link.takeResizes();
    ASSERT_EQ(resizes.size(), 1u);
    EXPECT_EQ(resizes[0], std::make_pair(960, 622));
}

TEST_F(Interaction, PopupsCloseOnAnOutsidePressExceptForTheButtonsThatLeaveThemOpen) {
    click(448, 12);
    ASSERT_TRUE(A::presetMenuOpen(ui));
    click(890, 48); // bypass
    EXPECT_EQ(value(pid::kBypass), 1.0);
    EXPECT_TRUE(A::presetMenuOpen(ui));

    click(480, 62); // peers pill
    EXPECT_TRUE(A::peerListOpen(ui));
    click(470, 300); // empty space between pad and faders
    EXPECT_FALSE(A::presetMenuOpen(ui));
    EXPECT_FALSE(A::peerListOpen(ui));
}

TEST_F(Interaction, PeerRowsMuteThePeerTheyWereDrawnFor) {
    auto low = std::make_unique<Nembrix>();
    auto mid = std::make_unique<Nembrix>();
    if (!plug->shm.isConnected() || !low->shm.isConnected() || !mid->shm.isConnected())
        GTEST_SKIP() << "registry unavailable";
    const uint64_t midId = mid->shm.instanceId();

    click(480, 62);
    ASSERT_TRUE(A::peerListOpen(ui));
    auto& rows = A::peerRows(ui);
    rows.count = 2; // as drawn: the lower-slot peer, then mid
    rows.rows[0] = {340, 106, 280, 26};
    rows.ids[0] = low->shm.instanceId();
    rows.rows[1] = {340, 132, 280, 26};
    rows.ids[1] = midId;
    low.reset(); // leaves before the click

    click(400, 140);
    int entries = 0;
    for (const auto& m : plug->mutedPeerIds) {
        if (m.load() != 0) {
            ++entries;
            EXPECT_EQ(m.load(), midId);
        }
    }
    EXPECT_EQ(entries, 1);
    EXPECT_TRUE(A::peerListOpen(ui));
    click(400, 140); // unmute
    for (const auto& m : plug->mutedPeerIds) EXPECT_EQ(m.load(), 0u);

    // With every entry taken by peers that are gone, muting still works.
    for (int i = 0; i < Nembrix::kMutedPeerEntries; ++i) plug->mutedPeerIds[i].store(0xDEAD0000u + i);
    click(400, 140);
    bool found = false;
    for (const auto& m : plug->mutedPeerIds) found = found || m.load() == midId;
    EXPECT_TRUE(found);
}

} // namespace
} // namespace nx
