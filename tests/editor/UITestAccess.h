// Test access to NembrixUI's private state: layout, popups and interaction fields, without a window.
#pragma once

#include "ui/NembrixUI.h"

namespace nx {

struct NembrixUITestAccess {
    // Runs f with the editor's stateMutex held (the UI thread reads the interaction state under it).
    template <class F>
    static void locked(NembrixUI& ui, F f) {
        std::lock_guard<std::mutex> lock(ui.stateMutex);
        f();
    }
    static NembrixUI::Layout& layout(NembrixUI& ui) { return ui.L; }
    static void attach(NembrixUI& ui, Nembrix* plug) { ui.plug = plug; }
    static void setAdvanced(NembrixUI& ui, bool open) {
        ui.advancedOpen = open;
        ui.computeLayout();
    }
    static void setScale(NembrixUI& ui, float scale, float offsetX, float offsetY) {
        ui.drawScale = scale;
        ui.drawOffsetX = offsetX;
        ui.drawOffsetY = offsetY;
    }
    static void setWindowSize(NembrixUI& ui, int w, int h) {
        ui.windowW = w;
        ui.windowH = h;
    }
    static NembrixUI::PeerRows& peerRows(NembrixUI& ui) { return ui.peerRows; }
    static NembrixUI::PresetRows& presetRows(NembrixUI& ui) { return ui.presetRows; }
    static NembrixUI::RootRows& rootRows(NembrixUI& ui) { return ui.rootRows; }
    static NembrixUI::DialogRects& dialog(NembrixUI& ui) { return ui.dialogRects; }
    static bool& peerListOpen(NembrixUI& ui) { return ui.peerListOpen; }
    static bool& presetMenuOpen(NembrixUI& ui) { return ui.presetMenuOpen; }
    static bool& rootListOpen(NembrixUI& ui) { return ui.rootListOpen; }
    static bool& saveDialogOpen(NembrixUI& ui) { return ui.saveDialogOpen; }
    static std::string& saveName(NembrixUI& ui) { return ui.saveName; }
    static bool& nameEditing(NembrixUI& ui) { return ui.nameEditing; }
    static std::string& nameBuffer(NembrixUI& ui) { return ui.nameBuffer; }
    static bool& snapToGrid(NembrixUI& ui) { return ui.snapToGrid; }
    static bool& studioMode(NembrixUI& ui) { return ui.studioMode; }
    static int activeId(NembrixUI& ui) { return ui.activeId; }
    static int hoverId(NembrixUI& ui) { return ui.hoverId; }
    static bool advancedOpen(NembrixUI& ui) { return ui.advancedOpen; }
    static const char* className(NembrixUI& ui) { return ui.className; }
    static int pendingW(NembrixUI& ui) { return ui.pendingW.load(); }
    static int pendingH(NembrixUI& ui) { return ui.pendingH.load(); }
    static std::thread::id threadId(NembrixUI& ui) { return ui.thread.get_id(); }
    static unsigned long nativeWindow(NembrixUI& ui) { return ui.nativeWindow; }
    static float drawScale(NembrixUI& ui) { return ui.drawScale; }
    static float drawOffsetX(NembrixUI& ui) { return ui.drawOffsetX; }
    static float drawOffsetY(NembrixUI& ui) { return ui.drawOffsetY; }
};

} // namespace nx
