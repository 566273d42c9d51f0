// The editor window on a real X server (Xvfb) with real GL (Mesa): embedding in a host container,
// drawing, following the container, closing, start-up failures, hostile hosts, the high-density request
// and the registry upkeep of the UI thread.
#include <gtest/gtest.h>

#include "tests/editor/EditorTestUtil.h"
#include "tests/editor/UITestAccess.h"

#include "plugin/Nembrix.h"

#include <X11/Xatom.h>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace nx {
namespace {

using A = NembrixUITestAccess;
using host::X11ParentWindow;
using test::drawnPixels;
using test::editorChild;
using test::waitUntil;

int sTestXErrors = 0;
int countTestXError(Display*, XErrorEvent*) {
    ++sTestXErrors;
    return 0;
}

class EditorWindow : public ::testing::Test {
protected:
    void SetUp() override {
        test::useTestSurroundings();
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
        // The test's own connections must not end the test when they query a window the editor freed.
        XSetErrorHandler(countTestXError);
    }
    static void* parentHandle(const X11ParentWindow& p) { return reinterpret_cast<void*>(p.id()); }
    // Opened, mapped and drawn at least once.
    static bool waitDrawn(const X11ParentWindow& parent, int w, int h) {
        return waitUntil([&] {
            return editorChild(parent) != 0 && drawnPixels(parent, {0, 0, w, h}) > 1000;
        });
    }
};

TEST_F(EditorWindow, OpensInsideTheParentDrawsFollowsItsResizeAndClosesPromptly) {
    X11ParentWindow parent(960, 622);
    ASSERT_TRUE(parent.ok());
    NembrixUI ui;
    ui.Open(parentHandle(parent), 960, 622, nullptr);
    ASSERT_TRUE(waitDrawn(parent, 960, 622));
    const unsigned long child = editorChild(parent);
    int w = 0, h = 0;
    ASSERT_TRUE(test::windowSize(parent.display(), child, w, h));
    EXPECT_EQ(w, 960);
    EXPECT_EQ(h, 622);

    parent.resize(1200, 900);
    EXPECT_TRUE(
        waitUntil([&] { return test::windowSize(parent.display(), child, w, h) && w == 1200 && h == 900; }));
    // The canvas scales by min(900/622, 1200/960) = 1.25 and is centred vertically with equal margins.
    EXPECT_TRUE(waitUntil([&] { return A::drawScale(ui) == 1.25f; }));
    EXPECT_NEAR(A::drawOffsetX(ui), 0.0f, 1e-4);
    EXPECT_NEAR(A::drawOffsetY(ui), (900.0f / 1.25f - 622.0f) / 2.0f, 1e-4);
    // Letterbox margins stay at the clear colour; the canvas below them is drawn.
    EXPECT_TRUE(waitUntil([&] { return drawnPixels(parent, {0, 200, 1200, 500}) > 10000; }));
    EXPECT_TRUE(waitUntil([&] { return drawnPixels(parent, {0, 0, 1200, 55}) == 0; }));

    double ms = test::millisecondsOf([&] { EXPECT_TRUE(ui.Close()); });
    EXPECT_LT(ms, 1000.0);
    EXPECT_FALSE(ui.isRunning());
    EXPECT_TRUE(parent.children().empty());
}

TEST_F(EditorWindow, CloseWithoutAWindowIsHarmless) {
    NembrixUI ui;
    ui.Open(nullptr, 960, 622, nullptr); // no host window: nothing opens
    EXPECT_FALSE(ui.isRunning());
    EXPECT_FALSE(ui.Close());
    EXPECT_FALSE(ui.Close());
    ui.requestResize(0, 10); // ignored
    EXPECT_EQ(A::pendingW(ui), 0);
}

TEST_F(EditorWindow, OpeningTwiceKeepsOneUIThreadAndOneWindow) {
    X11ParentWindow parent(960, 622);
    NembrixUI ui;
    ui.Open(parentHandle(parent), 960, 622, nullptr);
    const std::thread::id first = A::threadId(ui);
    ui.Open(parentHandle(parent), 960, 622, nullptr);
    EXPECT_EQ(A::threadId(ui), first);
    ASSERT_TRUE(waitDrawn(parent, 960, 622));
    ui.Open(parentHandle(parent), 960, 622, nullptr);
    EXPECT_EQ(A::threadId(ui), first);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(parent.children().size(), 1u);
    EXPECT_TRUE(ui.Close());
    EXPECT_EQ(A::threadId(ui), std::thread::id());
}

TEST_F(EditorWindow, WindowSystemCloseEndsTheThreadAndCloseWindowJoinsWithoutBlocking) {
    X11ParentWindow parent(960, 622);
    NembrixUI ui;
    ui.Open(parentHandle(parent), 960, 622, nullptr);
    ASSERT_TRUE(waitDrawn(parent, 960, 622));

    Display* d = parent.display();
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = editorChild(parent);
    ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    XSendEvent(d, ev.xclient.window, False, NoEventMask, &ev);
    XFlush(d);
    ASSERT_TRUE(waitUntil([&] { return !ui.isRunning(); }));
    EXPECT_TRUE(waitUntil([&] { return parent.children().empty(); }));

    double ms = test::millisecondsOf([&] { EXPECT_FALSE(ui.Close()); });
    EXPECT_LT(ms, 1000.0);

    // Opening again after the thread ended by itself (without a Close in between) works.
    ui.Open(parentHandle(parent), 960, 622, nullptr);
    ASSERT_TRUE(waitDrawn(parent, 960, 622));
    ui.Open(parentHandle(parent), 960, 622, nullptr); // still one window
    EXPECT_EQ(parent.children().size(), 1u);
    EXPECT_TRUE(ui.Close());
}

TEST_F(EditorWindow, TwoEditorsInOneProcessHaveDifferentWindowClasses) {
    X11ParentWindow p1(960, 622), p2(960, 622);
    XMoveWindow(p2.display(), p2.id(), 960, 0); // side by side: an obscured window shows nothing
    p2.sync();
    NembrixUI a, b;
    a.Open(parentHandle(p1), 960, 622, nullptr);
    b.Open(parentHandle(p2), 960, 622, nullptr);
    ASSERT_TRUE(waitDrawn(p1, 960, 622));
    ASSERT_TRUE(waitDrawn(p2, 960, 622));
    auto classOf = [](const X11ParentWindow& p) {
        XClassHint hint{};
        std::string name;
        if (XGetClassHint(p.display(), editorChild(p), &hint)) {
            name = hint.res_class ? hint.res_class : "";
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        return name;
    };
    const std::string c1 = classOf(p1), c2 = classOf(p2);
    EXPECT_EQ(c1.rfind("Nembrix-", 0), 0u) << c1;
    EXPECT_EQ(c2.rfind("Nembrix-", 0), 0u) << c2;
    EXPECT_NE(c1, c2);
    a.Close();
    b.Close();
}

TEST_F(EditorWindow, NoDisplayLeavesTheEditorClosed) {
    const std::string saved = std::getenv("DISPLAY");
    setenv("DISPLAY", ":9753", 1);
    NembrixUI ui;
    ui.Open(reinterpret_cast<void*>(uintptr_t{1}), 960, 622, nullptr);
    const bool ended = waitUntil([&] { return !ui.isRunning(); });
    setenv("DISPLAY", saved.c_str(), 1);
    EXPECT_TRUE(ended);
    EXPECT_FALSE(ui.Close());
}

TEST_F(EditorWindow, GlLoaderFailureKeepsAnEmptyWindowThatClosesCleanly) {
    X11ParentWindow parent(960, 622);
    NembrixUI::simulateGlLoaderFailureForTesting(true);
    NembrixUI ui;
    const uint64_t framesBefore = NembrixUI::framesDrawnForTesting();
    ui.Open(parentHandle(parent), 960, 622, nullptr);
    ASSERT_TRUE(waitUntil([&] { return editorChild(parent) != 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(ui.isRunning());
    EXPECT_EQ(NembrixUI::framesDrawnForTesting(), framesBefore);
    NembrixUI::simulateGlLoaderFailureForTesting(false);
    EXPECT_LT(test::millisecondsOf([&] { ui.Close(); }), 1000.0);
}

TEST_F(EditorWindow, HostDestroyingItsContainerFirstNeitherEndsTheProcessNorSlowsClose) {
    auto parent = std::make_unique<X11ParentWindow>(960, 622);
    NembrixUI ui;
    ui.Open(parentHandle(*parent), 960, 622, nullptr);
    ASSERT_TRUE(waitDrawn(*parent, 960, 622));
    parent->destroy();
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the UI thread meets the dead window
    const double ms = test::millisecondsOf([&] { EXPECT_TRUE(ui.Close()); });
    EXPECT_LT(ms, 1000.0);

    // A second round with no pause between the host's destroy and the close.
    X11ParentWindow again(960, 622);
    ui.Open(parentHandle(again), 960, 622, nullptr);
    ASSERT_TRUE(waitDrawn(again, 960, 622));
    again.destroy();
    EXPECT_LT(test::millisecondsOf([&] { ui.Close(); }), 1000.0);
}

TEST_F(EditorWindow, RedrawsAtOnceAfterHideAndShow) {
    X11ParentWindow parent(960, 622);
    NembrixUI ui;
    ui.Open(parentHandle(parent), 960, 622, nullptr);
    ASSERT_TRUE(waitDrawn(parent, 960, 622));
    Display* d = parent.display();
    const unsigned long child = editorChild(parent);
    XUnmapWindow(d, child);
    XSync(d, False);
    EXPECT_EQ(drawnPixels(parent, {0, 0, 960, 622}), 0);
    XMapWindow(d, child);
    XSync(d, False);
    EXPECT_TRUE(waitUntil([&] { return drawnPixels(parent, {0, 0, 960, 622}) > 1000; }, 2000));
    ui.Close();
}

// ---- With the plug-in attached --------------------------------------------------------------------------

class EditorWithPlugin : public EditorWindow {
protected:
    void SetUp() override {
        EditorWindow::SetUp();
        if (IsSkipped()) return;
        plug = std::make_unique<Nembrix>();
        plug->SetHostLink(&link);
    }
    void TearDown() override {
        if (plug) {
            plug->CloseWindow();
            plug->SetHostLink(nullptr);
        }
        if (rootConnection) {
            setRootDpi(nullptr);
            XCloseDisplay(rootConnection);
        }
    }
    // Sets the root window's resources that pugl reads the scale from. The connection stays open until
    // the test ends: a bare X server resets (dropping root properties) when its last client leaves.
    void setRootDpi(const char* resources) {
        if (!rootConnection) rootConnection = XOpenDisplay(nullptr);
        Display* d = rootConnection;
        const Atom rm = XInternAtom(d, "RESOURCE_MANAGER", False);
        if (resources)
            XChangeProperty(d, DefaultRootWindow(d), rm, XA_STRING, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(resources),
                            static_cast<int>(std::strlen(resources)));
        else
            XDeleteProperty(d, DefaultRootWindow(d), rm);
        XSync(d, False);
    }
    Display* rootConnection = nullptr;

    test::RecordingHostLink link;
    std::unique_ptr<Nembrix> plug;
};

TEST_F(EditorWithPlugin, EditorHooksConstrainSizesAndOpenAtTheStoredSize) {
    struct Case {
        int w, h, ew, eh;
    } cases[] = {{100, 5000, 640, 3200}, {960, 622, 960, 622}, {5000, 10, 3840, 420}, {640, 3200, 640, 3200}};
    for (const Case& c : cases) {
        int w = c.w, h = c.h;
        plug->ConstrainEditorResize(w, h);
        EXPECT_EQ(w, c.ew);
        EXPECT_EQ(h, c.eh);
    }

    X11ParentWindow parent(960, 622);
    plug->SetEditorSize(0, 0);
    EXPECT_EQ(plug->OpenWindow(parentHandle(parent)), parentHandle(parent));
    ASSERT_TRUE(waitDrawn(parent, 960, 622));
    int w = 0, h = 0;
    EXPECT_TRUE(test::windowSize(parent.display(), editorChild(parent), w, h));
    EXPECT_EQ(w, 960);
    EXPECT_EQ(h, 622);

    // A host resize reaches the editor and the stored size, so the next opening uses it.
    parent.resize(1100, 700);
    plug->OnParentWindowResize(1100, 700);
    plug->OnParentWindowResize(0, 700); // ignored
    EXPECT_TRUE(waitUntil([&] {
        return test::windowSize(parent.display(), editorChild(parent), w, h) && w == 1100 && h == 700;
    }));
    plug->GetEditorSize(w, h);
    EXPECT_EQ(w, 1100);
    EXPECT_EQ(h, 700);
    plug->CloseWindow();
    EXPECT_TRUE(parent.children().empty());
}

TEST_F(EditorWithPlugin, HighDensityDisplayAsksTheHostOnceForTheScaledDefaultSize) {
    struct Case {
        const char* resources;
        int openW, openH;
        bool panel, asks;
        int askW, askH;
    } cases[] = {
        {"Xft.dpi:\t192\n", 960, 622, false, true, 1920, 1244}, // scale 2 at the default size
        {"Xft.dpi:\t192\n", 960, 762, true, true, 1920, 1524},  // the same with the advanced panel open
        {"Xft.dpi:\t100\n", 960, 622, false, false, 0, 0},      // scale 1.04
        {"Xft.dpi:\t192\n", 1000, 622, false, false, 0, 0},     // not the default width
    };
    for (const Case& c : cases) {
        setRootDpi(c.resources);
        plug->advancedPanelOpen.store(c.panel);
        X11ParentWindow parent(c.openW, c.openH);
        plug->SetEditorSize(c.openW, c.openH);
        link.takeResizes();
        plug->OpenWindow(parentHandle(parent));
        ASSERT_TRUE(waitDrawn(parent, c.openW, c.openH));
        std::vector<std::pair<int, int>> resizes;
        auto collect = [&] {
            for (const auto& r : link.takeResizes()) resizes.push_back(r);
            return !resizes.empty();
        };
        if (c.asks) waitUntil(collect);
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // many frames later: nothing more
        collect();
        plug->CloseWindow();
        if (c.asks) {
            ASSERT_EQ(resizes.size(), 1u) << c.resources;
            EXPECT_EQ(resizes[0], std::make_pair(c.askW, c.askH));
        } else {
            EXPECT_TRUE(resizes.empty()) << c.resources << " " << c.openW;
        }
    }
    setRootDpi(nullptr);
}

TEST_F(EditorWithPlugin, UpkeepResolvesTheLinkToAPeerWhileTheEditorIsOpen) {
    auto peer = std::make_unique<Nembrix>();
    if (!plug->shm.isConnected() || !peer->shm.isConnected()) GTEST_SKIP() << "registry unavailable";
    plug->linkSlot.store(peer->shm.slotIndex() + 1);
    plug->linkedPeerId.store(0);
    X11ParentWindow parent(960, 622);
    plug->OpenWindow(parentHandle(parent));
    EXPECT_TRUE(waitUntil([&] { return plug->linkedPeerId.load() == peer->shm.instanceId(); }));
    plug->CloseWindow();
}

} // namespace
} // namespace nx
