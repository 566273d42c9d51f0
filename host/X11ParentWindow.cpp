// Container window for editor tests (see X11ParentWindow.h).
#include "host/X11ParentWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace nx::host {

X11ParentWindow::X11ParentWindow(int width, int height, const char* title) {
    mDisplay = XOpenDisplay(nullptr);
    if (!mDisplay) return;
    const int screen = DefaultScreen(mDisplay);
    mWindow =
        XCreateSimpleWindow(mDisplay, RootWindow(mDisplay, screen), 0, 0, unsigned(width), unsigned(height),
                            0, BlackPixel(mDisplay, screen), BlackPixel(mDisplay, screen));
    XStoreName(mDisplay, mWindow, title);
    XSelectInput(mDisplay, mWindow, StructureNotifyMask | SubstructureNotifyMask);
    XMapWindow(mDisplay, mWindow);
    XSync(mDisplay, False);
}

X11ParentWindow::~X11ParentWindow() {
    destroy();
    if (mDisplay) XCloseDisplay(mDisplay);
}

void X11ParentWindow::resize(int width, int height) {
    if (!mWindow) return;
    XResizeWindow(mDisplay, mWindow, unsigned(width), unsigned(height));
    XSync(mDisplay, False);
}

bool X11ParentWindow::size(int& width, int& height) const {
    if (!mWindow) return false;
    XWindowAttributes a{};
    if (!XGetWindowAttributes(mDisplay, mWindow, &a)) return false;
    width = a.width;
    height = a.height;
    return true;
}

std::vector<unsigned long> X11ParentWindow::children() const {
    std::vector<unsigned long> out;
    if (!mWindow) return out;
    Window root = 0, parent = 0, *kids = nullptr;
    unsigned n = 0;
    if (XQueryTree(mDisplay, mWindow, &root, &parent, &kids, &n)) {
        for (unsigned i = 0; i < n; ++i) out.push_back(kids[i]);
        if (kids) XFree(kids);
    }
    return out;
}

void X11ParentWindow::destroy() {
    if (!mWindow) return;
    XDestroyWindow(mDisplay, mWindow);
    XSync(mDisplay, False);
    mWindow = 0;
}

void X11ParentWindow::sync() {
    if (!mDisplay) return;
    XSync(mDisplay, False);
    while (XPending(mDisplay)) {
        XEvent ev;
        XNextEvent(mDisplay, &ev);
    }
}

std::vector<uint32_t> X11ParentWindow::screenshot(int& width, int& height) const {
    std::vector<uint32_t> px;
    width = height = 0;
    if (!mWindow) return px;
    XWindowAttributes a{};
    if (!XGetWindowAttributes(mDisplay, mWindow, &a) || a.map_state != IsViewable) return px;
    // The server returns what it shows, the embedded editor's pixels (same depth) included.
    XImage* img =
        XGetImage(mDisplay, mWindow, 0, 0, unsigned(a.width), unsigned(a.height), AllPlanes, ZPixmap);
    if (!img) return px;
    width = a.width;
    height = a.height;
    px.resize(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            px[size_t(y) * size_t(width) + size_t(x)] = uint32_t(XGetPixel(img, x, y)) & 0xFFFFFFu;
    XDestroyImage(img);
    return px;
}

} // namespace nx::host
