// The plug-in's editor hooks: open, close and resize the editor window on the host's main thread. The
// editor itself runs on its own UI thread (ui/NembrixUI). Without the editor built, nothing opens.
#include "plugin/Nembrix.h"

#include <algorithm>

namespace nx {

void* Nembrix::OpenWindow(void* parent) {
#if NX_HAS_UI
    int w = 0, h = 0;
    GetEditorSize(w, h);
    if (w <= 0 || h <= 0) {
        w = 960;
        h = 622;
    }
    ui.Open(parent, w, h, this);
#endif
    return parent;
}

void Nembrix::CloseWindow() {
#if NX_HAS_UI
    ui.Close();
#endif
}

void Nembrix::ConstrainEditorResize(int& width, int& height) const {
    width = std::clamp(width, 640, 3840);
    height = std::clamp(height, 420, 3200);
}

void Nembrix::OnParentWindowResize(int width, int height) {
    if (width <= 0 || height <= 0) return;
    SetEditorSize(width, height);
#if NX_HAS_UI
    ui.requestResize(width, height);
#endif
}

} // namespace nx
