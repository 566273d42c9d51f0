// The editor of the built deliverables, opened through host/ the way a DAW opens it (VST3 IPlugView with
// a run loop, CLAP gui), inside a real X11 container, driven by real X input (XTest): it draws, follows
// the container, turns a drag on the pad into one host gesture per parameter delivered on the host's
// thread, and closes promptly, also with edits still queued.
#include <gtest/gtest.h>

#include "host/PluginHost.h"
#include "tests/editor/EditorTestUtil.h"

#include <X11/extensions/XTest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>

namespace nx {
namespace {

using host::Format;
using host::HostEdit;
using host::X11ParentWindow;
using test::drawnPixels;
using test::editorChild;
using test::waitUntil;

const char* pathOf(Format f) {
    return f == Format::Clap ? NX_CLAP_PATH : NX_VST3_PATH;
}

class EditorThroughFormat : public ::testing::TestWithParam<Format> {
protected:
    void SetUp() override {
        test::useTestSurroundings();
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
        int ev, err, major, minor;
        parent = std::make_unique<X11ParentWindow>(960, 622);
        ASSERT_TRUE(parent->ok());
        if (!XTestQueryExtension(parent->display(), &ev, &err, &major, &minor)) GTEST_SKIP() << "no XTest";
        std::string error;
        plug = host::openPlugin(pathOf(GetParam()), &error);
        ASSERT_TRUE(plug) << error;
        ASSERT_TRUE(plug->hasEditor());
    }
    void TearDown() override {
        if (plug && plug->editorOpen()) plug->closeEditor();
        plug.reset();
        parent.reset();
    }
    // Waits while running the host's main thread, as a DAW's event loop does.
    bool pumpUntil(const std::function<bool()>& pred, int timeoutMs = 10000) {
        return waitUntil(
            [&] {
                plug->pumpMainThread();
                return pred();
            },
            timeoutMs);
    }
    bool openAndWaitDrawn() {
        host::EditorSize size;
        if (!plug->openEditor(parent->id(), 1.0, &size)) return false;
        return pumpUntil([&] {
            return editorChild(*parent) != 0 && drawnPixels(*parent, {0, 0, 960, 622}) > 1000;
        });
    }
    // Real pointer input at window pixels (the container sits at the root's origin, no window manager).
    void pointer(int x, int y) {
        XTestFakeMotionEvent(parent->display(), -1, x, y, CurrentTime);
        XFlush(parent->display());
        std::this_thread::sleep_for(std::chrono::milliseconds(60)); // the UI thread takes input per frame
    }
    void button(bool down) {
        XTestFakeButtonEvent(parent->display(), 1, down ? True : False, CurrentTime);
        XFlush(parent->display());
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    uint32_t idOf(const char* name) { return plug->params()[plug->paramIndex(name)].id; }

    std::unique_ptr<X11ParentWindow> parent;
    std::unique_ptr<host::PluginHost> plug;
};

TEST_P(EditorThroughFormat, OpensDrawsFollowsTheContainerAndClosesPromptly) {
    ASSERT_TRUE(openAndWaitDrawn());
    parent->resize(1200, 900);
    host::EditorSize size;
    plug->resizeEditor(1200, 900, &size);
    int w = 0, h = 0;
    EXPECT_TRUE(pumpUntil([&] {
        return test::windowSize(parent->display(), editorChild(*parent), w, h) && w == 1200 && h == 900;
    }));
    EXPECT_TRUE(pumpUntil([&] { return drawnPixels(*parent, {0, 200, 1200, 500}) > 10000; }));
    EXPECT_LT(test::millisecondsOf([&] { plug->closeEditor(); }), 1000.0);
    EXPECT_TRUE(parent->children().empty());
}

TEST_P(EditorThroughFormat, APadDragReachesTheHostAsOneGesturePerParameterOnItsOwnThread) {
    ASSERT_TRUE(openAndWaitDrawn());
    plug->takeEdits();
    const uint32_t xId = idOf("XYx"), yId = idOf("XYy");

    pointer(20 + 106, 92 + 318); // pad at (0.25, 0.25)
    button(true);
    pointer(20 + 318, 92 + 106); // drag to (0.75, 0.75)
    button(false);
    EXPECT_TRUE(pumpUntil([&] {
        return std::abs(plug->paramValue(plug->paramIndex("XYx")) - 0.75) < 0.01 &&
               std::abs(plug->paramValue(plug->paramIndex("XYy")) - 0.75) < 0.01;
    }));
    std::vector<HostEdit> edits;
    pumpUntil([&] {
        for (const HostEdit& e : plug->takeEdits()) edits.push_back(e);
        int ends = 0;
        for (const HostEdit& e : edits) ends += e.kind == HostEdit::Kind::End;
        return ends >= 2;
    });

    std::map<uint32_t, int> depth, performs;
    for (const HostEdit& e : edits) {
        if (e.kind == HostEdit::Kind::Restart) continue;
        ASSERT_TRUE(e.paramId == xId || e.paramId == yId) << e.paramId;
        if (GetParam() == Format::Vst3) {
            EXPECT_EQ(e.thread, std::this_thread::get_id()) << "edit off the host thread";
        }
        int& d = depth[e.paramId];
        if (e.kind == HostEdit::Kind::Begin) ++d;
        if (e.kind == HostEdit::Kind::End) --d;
        if (e.kind == HostEdit::Kind::Perform) {
            EXPECT_EQ(d, 1) << "value outside its gesture";
            ++performs[e.paramId];
        }
        EXPECT_GE(d, 0);
        EXPECT_LE(d, 1);
    }
    EXPECT_EQ(depth[xId], 0);
    EXPECT_EQ(depth[yId], 0);
    EXPECT_GE(performs[xId], 2);
    EXPECT_GE(performs[yId], 2);
}

TEST_P(EditorThroughFormat, ClosingWithEditsStillQueuedNeitherHangsNorReordersThem) {
    ASSERT_TRUE(openAndWaitDrawn());
    plug->takeEdits();
    pointer(20 + 212, 92 + 212);
    button(true);
    pointer(20 + 300, 92 + 100);
    button(false);
    // No main-thread pumping between the gesture and the close.
    EXPECT_LT(test::millisecondsOf([&] { plug->closeEditor(); }), 1000.0);
    for (int i = 0; i < 20; ++i) plug->pumpMainThread();
    std::map<uint32_t, int> depth;
    for (const HostEdit& e : plug->takeEdits()) {
        if (e.kind == HostEdit::Kind::Restart) continue;
        int& d = depth[e.paramId];
        if (e.kind == HostEdit::Kind::Begin) ++d;
        if (e.kind == HostEdit::Kind::Perform) {
            EXPECT_EQ(d, 1) << "value outside its gesture";
        }
        if (e.kind == HostEdit::Kind::End) --d;
        EXPECT_GE(d, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, EditorThroughFormat, ::testing::Values(Format::Clap, Format::Vst3),
                         [](const ::testing::TestParamInfo<Format>& info) {
                             return std::string(info.param == Format::Clap ? "Clap" : "Vst3");
                         });

} // namespace
} // namespace nx
