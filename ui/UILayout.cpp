// The editor's fixed geometry on the 960-unit design canvas, the mapping from window pixels to design
// units, and the hit test that turns a design point into a control id. UI thread.
#include "ui/NembrixUI.h"

#include "plugin/Nembrix.h"
#include "presets/NembrixPresetMgr.h"

namespace nx {

void NembrixUI::computeLayout() {
    Layout l;
    l.header = {0, 0, 960, kHeaderH};
    l.footer = {0, 536, 960, kFooterH};
    l.pad = {20, 92, 424, 424};
    for (int i = 0; i < 5; ++i) l.faders[i] = {497.6f + 95.2f * static_cast<float>(i), 114, 28, 388};
    const float sliderW = 686.0f / 3.0f;
    for (int i = 0; i < 3; ++i)
        l.sliders[i] = {52.0f + static_cast<float>(i) * (sliderW + 54.0f), 562, sliderW, 18};
    l.mode = {868, 558, 72, 26};
    l.name = {360, 26, 240, 20};
    l.peersPill = {380, 52, 200, 20};
    l.bypass = {848, 35, 92, 26};
    l.logo = {14, 30, 36, 36};
    l.grip = {940, advancedOpen ? 742.0f : 602.0f, 18, 18};
    l.snap = {466, 94, 16, 16};
    l.advToggle = {748, 35, 92, 26};
    l.prevPreset = {349, 2, 20, 20};
    l.presetBox = {373, 2, 150, 20};
    l.nextPreset = {527, 2, 20, 20};
    l.save = {555, 2, 56, 20};
    if (advancedOpen) {
        l.advPanel = {0, 600, 960, 140};
        // Knob x positions in k order (Character, Saturation, Darkness, Ducking, StereoWidth, PredelayMs,
        // WashLp, Freeze, FreezeTonality); the panel reads wash, harmonic, rhythmic, post-mix groups.
        static constexpr float kKnobX[9] = {217.0f, 506.2f, 594.6f, 683.0f, 771.4f,
                                            859.8f, 28.2f,  317.4f, 405.8f};
        for (int k = 0; k < 9; ++k) l.knobs[k] = {kKnobX[k], 618, 72, 98};
        l.rootBox = {110.4f, 618, 84.4f, 98};
    }
    L = l;
}

void NembrixUI::mouseToDesign(float px, float py, float& dx, float& dy) const {
    if (drawScale > 0.0f) {
        dx = px / drawScale - drawOffsetX;
        dy = py / drawScale - drawOffsetY;
    } else {
        dx = px - drawOffsetX;
        dy = py - drawOffsetY;
    }
}

int NembrixUI::hitTest(float dx, float dy) const {
    if (saveDialogOpen) {
        if (dialogRects.save.contains(dx, dy)) return ctl::kDialogSave;
        if (dialogRects.cancel.contains(dx, dy)) return ctl::kDialogCancel;
        if (dialogRects.nameField.contains(dx, dy)) return ctl::kDialogName;
        return ctl::kNone;
    }
    if (rootListOpen) {
        for (int i = 0; i < rootRows.count; ++i)
            if (rootRows.rows[i].contains(dx, dy)) return ctl::kRootRow + i;
    }
    if (presetMenuOpen && plug) {
        for (int i = 0; i < presetRows.count; ++i) {
            const Rect& r = presetRows.rows[i];
            if (!r.contains(dx, dy)) continue;
            bool userPreset = false;
            if (auto* mgr = plug->presetMgr.get()) {
                std::lock_guard<std::recursive_mutex> lock(mgr->mutex);
                const int idx = presetRows.presetIndex[i];
                userPreset =
                    idx >= 0 && idx < static_cast<int>(mgr->presets.size()) && !mgr->presets[idx].isFactory;
            }
            return userPreset && dx >= r.x + r.w - 18.0f ? ctl::kPresetDelete + i : ctl::kPresetRow + i;
        }
    }
    if (peerListOpen && peerRows.count > 0) {
        for (int i = 0; i < peerRows.count; ++i)
            if (peerRows.rows[i].contains(dx, dy)) return ctl::kPeerRow + i;
    }
    const Param* modeParam = plug ? plug->GetParam(pid::kMode) : nullptr;
    const bool sendMode = modeParam && modeParam->Value() == 1.0;
    if (!sendMode) {
        for (int i = 0; i < 5; ++i)
            if (L.faders[i].contains(dx, dy, 8)) return ctl::kFaderFirst + i;
        for (int i = 0; i < 3; ++i)
            if (L.sliders[i].contains(dx, dy, 10)) return ctl::kSliderHP + i;
    }
    const struct {
        const Rect& r;
        int id;
    } buttons[] = {{L.mode, ctl::kMode},
                   {L.snap, ctl::kSnap},
                   {L.peersPill, ctl::kPeersPill},
                   {L.name, ctl::kName},
                   {L.bypass, ctl::kBypass},
                   {L.advToggle, ctl::kAdvToggle},
                   {L.prevPreset, ctl::kPrevPreset},
                   {L.presetBox, ctl::kPresetBox},
                   {L.nextPreset, ctl::kNextPreset},
                   {L.save, ctl::kSave},
                   {L.logo, ctl::kLogo},
                   {L.grip, ctl::kGrip}};
    for (const auto& b : buttons)
        if (b.r.contains(dx, dy, 10)) return b.id;
    if (advancedOpen) {
        if (sendMode) return ctl::kNone;
        for (int k = 0; k < 9; ++k)
            if (L.knobs[k].contains(dx, dy, 10)) return ctl::kKnob + k;
        if (L.rootBox.contains(dx, dy, 10)) return ctl::kRootBox;
    } else if (sendMode) {
        return ctl::kNone;
    }
    if (L.pad.contains(dx, dy, 14)) return ctl::kPad;
    return ctl::kNone;
}

} // namespace nx
