// A host's container window for editor tests: a mapped top-level X11 window on its own display
// connection, which the editor embeds into. Main thread of the test; needs DISPLAY.
#pragma once

#include <cstdint>
#include <vector>

typedef struct _XDisplay Display;

namespace nx::host {

class X11ParentWindow {
public:
    // Opens its own connection to DISPLAY and maps a width x height window. ok() says whether it worked.
    X11ParentWindow(int width, int height, const char* title = "nx-host");
    ~X11ParentWindow();
    X11ParentWindow(const X11ParentWindow&) = delete;
    X11ParentWindow& operator=(const X11ParentWindow&) = delete;

    bool ok() const { return mWindow != 0; }
    unsigned long id() const { return mWindow; }
    Display* display() const { return mDisplay; }

    void resize(int width, int height);
    // Current size as the server reports it.
    bool size(int& width, int& height) const;
    // Windows embedded in this one (the editor's), direct children only.
    std::vector<unsigned long> children() const;
    // Destroys the window now (as a host that closes its container before the editor).
    void destroy();
    // Drains this connection's event queue and waits until the server has handled every request.
    void sync();
    // 0xRRGGBB pixels of the window's area (including child windows' contents), row by row; empty when
    // the window is gone or unmapped.
    std::vector<uint32_t> screenshot(int& width, int& height) const;

private:
    Display* mDisplay = nullptr;
    unsigned long mWindow = 0;
};

} // namespace nx::host
