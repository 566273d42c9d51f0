// pugl events of the editor's view, on the UI thread: window lifecycle (realize, unrealize, configure,
// expose, map, close) and the input handlers of UIInput.cpp.
#include "ui/NembrixUI.h"

#include "plugin/Nembrix.h"

extern "C" {
#include "pugl/pugl.h"
}

namespace nx {

int NembrixUI::onEvent(void* viewPtr, const void* eventPtr) {
    auto* v = static_cast<PuglView*>(viewPtr);
    const auto* event = static_cast<const PuglEvent*>(eventPtr);
    switch (event->type) {
    case PUGL_CREATE:
        onRealize();
        return glLoadFailed ? PUGL_FAILURE : PUGL_SUCCESS;
    case PUGL_DESTROY:
        // Only reached with a live window: after the host destroyed it the GL context is never bound.
        if (!windowGone) onUnrealize();
        return PUGL_SUCCESS;
    case PUGL_CONFIGURE: {
        const int w = static_cast<int>(event->configure.width);
        const int h = static_cast<int>(event->configure.height);
        if (w > 0 && h > 0) {
            windowW = w;
            windowH = h;
            if (activeIdLocked() != ctl::kGrip && plug) plug->SetEditorSize(w, h);
        }
        return PUGL_SUCCESS;
    }
    case PUGL_MAP:
        // Bare X servers keep nothing of a hidden window: draw again at once.
        puglPostRedisplay(v);
        return PUGL_SUCCESS;
    case PUGL_EXPOSE:
        drawFrame(v);
        return PUGL_SUCCESS;
    case PUGL_CLOSE:
        running.store(false, std::memory_order_release);
        return PUGL_SUCCESS;
    case PUGL_KEY_PRESS:
        onKeyPress(event->key.key, event->key.state);
        return PUGL_SUCCESS;
    case PUGL_TEXT:
        onText(event->text.character);
        return PUGL_SUCCESS;
    case PUGL_POINTER_OUT: {
        std::lock_guard<std::mutex> lock(stateMutex);
        hoverId = -1;
        return PUGL_SUCCESS;
    }
    case PUGL_BUTTON_PRESS:
        onButtonPress(v, static_cast<float>(event->button.x), static_cast<float>(event->button.y),
                      static_cast<float>(event->button.xRoot), static_cast<float>(event->button.yRoot));
        return PUGL_SUCCESS;
    case PUGL_BUTTON_RELEASE:
        onButtonRelease(v);
        return PUGL_SUCCESS;
    case PUGL_MOTION:
        onMotion(v, static_cast<float>(event->motion.x), static_cast<float>(event->motion.y),
                 static_cast<float>(event->motion.xRoot));
        return PUGL_SUCCESS;
    default:
        return PUGL_SUCCESS;
    }
}

} // namespace nx
