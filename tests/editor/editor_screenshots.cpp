// Review tool: opens the editor with a real plug-in in an X11 container, drives it into its main states
// with real (synthetic) X pointer events, and writes one PPM screenshot per state into a folder.
// Usage: editor_screenshots <out-dir>   (needs DISPLAY; see README for the command that runs it)
#include "host/X11ParentWindow.h"
#include "plugin/Nembrix.h"

#include <X11/Xlib.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using nx::host::X11ParentWindow;

void pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

unsigned long editorWindow(const X11ParentWindow& p) {
    const auto kids = p.children();
    return kids.size() == 1 ? kids[0] : 0;
}

void sendButton(const X11ParentWindow& p, int type, int x, int y) {
    XEvent ev{};
    ev.xbutton.type = type;
    ev.xbutton.display = p.display();
    ev.xbutton.window = editorWindow(p);
    ev.xbutton.root = DefaultRootWindow(p.display());
    ev.xbutton.x = x;
    ev.xbutton.y = y;
    ev.xbutton.x_root = x;
    ev.xbutton.y_root = y;
    ev.xbutton.button = Button1;
    ev.xbutton.same_screen = True;
    XSendEvent(p.display(), ev.xbutton.window, True,
               type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &ev);
    XFlush(p.display());
}

void click(const X11ParentWindow& p, int x, int y) {
    sendButton(p, ButtonPress, x, y);
    pause(60);
    sendButton(p, ButtonRelease, x, y);
    pause(400); // past the double-click time
}

bool writePpm(const X11ParentWindow& p, const std::string& path) {
    int w = 0, h = 0;
    const std::vector<uint32_t> px = p.screenshot(w, h);
    if (px.empty()) return false;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fprintf(f, "P6\n%d %d\n255\n", w, h);
    for (uint32_t v : px) {
        const unsigned char rgb[3] = {static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 8),
                                      static_cast<unsigned char>(v)};
        std::fwrite(rgb, 1, 3, f);
    }
    return std::fclose(f) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <out-dir>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    X11ParentWindow parent(960, 622, "Nembrix editor screenshots");
    if (!parent.ok()) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    nx::Nembrix plug;
    plug.SetEditorSize(960, 622);
    plug.OpenWindow(reinterpret_cast<void*>(parent.id()));
    for (int i = 0; i < 200 && !editorWindow(parent); ++i) pause(25);
    pause(1500);

    int failures = 0;
    auto shot = [&](const char* name) {
        pause(700);
        const std::string path = dir + "/" + name + ".ppm";
        if (!writePpm(parent, path)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            ++failures;
        } else {
            std::printf("%s\n", path.c_str());
        }
    };

    shot("01-main");
    click(parent, 30, 48); // studio mode: diagnostic line
    click(parent, 20 + 424 / 4, 92 + 424 / 4);
    shot("02-studio-pad-moved");
    click(parent, 30, 48);
    click(parent, 480, 62); // peer list
    shot("03-peer-list");
    click(parent, 448, 12); // preset menu (closes the peer list)
    shot("04-preset-menu");
    click(parent, 470, 300); // empty space closes it
    click(parent, 890, 48);  // bypass
    shot("05-bypassed");
    click(parent, 890, 48);
    click(parent, 900, 570); // SEND
    shot("06-send-only");
    click(parent, 900, 570);
    click(parent, 583, 12); // save-as dialog
    shot("07-save-dialog");
    click(parent, 500, 346); // cancel
    click(parent, 790, 48);  // advanced panel; the host resizes its container as the editor asks
    parent.resize(960, 762);
    pause(800);
    shot("08-advanced-panel");
    click(parent, 150, 667); // root-note list
    shot("09-root-list");
    click(parent, 470, 300);
    parent.resize(1200, 1000);
    shot("10-scaled-1200x1000");

    plug.CloseWindow();
    return failures == 0 ? 0 : 1;
}
