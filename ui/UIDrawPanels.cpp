// The layers drawFrame paints after the mode button: peer list, preset menu, root-note list, save-as
// dialog, advanced panel, status line with hints, resize grip. Popups store the rectangles they drew
// under stateMutex (one critical section each) for the next hit test. UI thread.
#include "ui/NembrixUI.h"
#include "ui/UIDrawing.h"
#include "ui/UIHints.h"

#include "plugin/Nembrix.h"
#include "presets/NembrixPresetMgr.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace nx {

using namespace draw;

namespace {

constexpr const char* kAdvNames[9] = {"Char", "Sat",    "Dark",   "Duck",  "Width",
                                      "Pre",  "WashLP", "Freeze", "FrzTon"};

float anchorValue(const AnchorParams& a, int k) {
    switch (k) {
    case 0:
        return a.character;
    case 1:
        return a.saturation;
    case 2:
        return a.darkness;
    case 3:
        return a.ducking;
    case 4:
        return a.stereoWidth;
    case 5:
        return a.predelayMs;
    case 6:
        return a.washLpHz;
    case 7:
        return a.freeze;
    default:
        return a.freezeTonality;
    }
}

} // namespace

void NembrixUI::drawPeerList(const FrameState& f) {
    if (!f.peerListOpen || !plug || fontId < 0) {
        std::lock_guard<std::mutex> lock(stateMutex);
        peerRows.count = 0;
        return;
    }
    PeerEntry entries[kMaxPeerRows];
    const int n = gatherPeers(entries, kMaxPeerRows);
    const Rect K = L.peersPill;
    const float pc = K.x + K.w / 2, pb = K.y + K.h;
    const Rect popup{pc - 140, pb + 6, 280, n > 0 ? 36.0f + 26.0f * static_cast<float>(n) : 74.0f};
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        peerRows.popup = popup;
        peerRows.count = n;
        for (int i = 0; i < n; ++i) {
            peerRows.rows[i] = {popup.x, 106.0f + 26.0f * static_cast<float>(i), 280, 26};
            peerRows.ids[i] = entries[i].id;
        }
    }
    roundedRect(vg, popup, 6, kPopupBg, kAccent, 1.0f);
    text(vg, fontId, pc - 126, pb + 20, 11, kAccent, NVG_ALIGN_LEFT | NVG_ALIGN_MIDDLE, "PEERS");
    text(vg, fontId, pc + 126, pb + 20, 9.5f, nvgRGB(96, 96, 114), NVG_ALIGN_RIGHT | NVG_ALIGN_MIDDLE,
         "click to mute / unmute");
    for (int i = 0; i < n; ++i) {
        const float top = 78.0f + 26.0f * static_cast<float>(i), cy = top + 41;
        if (f.hover == ctl::kPeerRow + i)
            roundedRect(vg, {pc - 136, top + 30, 272, 22}, 3, nvgRGBA(255, 255, 255, 18));
        const bool muted = entries[i].muted;
        nvgBeginPath(vg);
        nvgCircle(vg, pc - 122, cy, 5);
        if (muted) {
            nvgStrokeColor(vg, nvgRGB(96, 96, 114));
            nvgStrokeWidth(vg, 1.2f);
            nvgStroke(vg);
        } else {
            nvgFillColor(vg, kAccent);
            nvgFill(vg);
        }
        text(vg, fontId, pc - 106, cy, 12.5f, muted ? nvgRGB(112, 112, 128) : nvgRGB(224, 224, 238),
             NVG_ALIGN_LEFT | NVG_ALIGN_MIDDLE, entries[i].name);
        text(vg, fontId, pc + 122, cy, 9.5f, muted ? nvgRGB(192, 96, 96) : nvgRGB(64, 128, 96),
             NVG_ALIGN_RIGHT | NVG_ALIGN_MIDDLE, muted ? "MUTED" : "LIVE");
    }
    if (n == 0)
        text(vg, fontId, pc, pb + 47, 11, nvgRGB(128, 128, 146), NVG_ALIGN_CENTER | NVG_ALIGN_MIDDLE,
             "no peers \xE2\x80\x94 drop another Nembrix");
}

void NembrixUI::drawPresetMenu(const FrameState& f) {
    NembrixPresetMgr* mgr = plug ? plug->presetMgr.get() : nullptr;
    if (!f.presetMenuOpen || !mgr || fontId < 0) {
        std::lock_guard<std::mutex> lock(stateMutex);
        presetRows.count = 0;
        return;
    }
    std::vector<PresetManager::CategoryInfo> cats;
    int current = -1;
    {
        std::lock_guard<std::recursive_mutex> lock(mgr->mutex);
        cats = mgr->BuildCategoryList();
        current = mgr->currentIndex;
    }
    const Rect B = L.presetBox;
    const bool wide = B.w + 60 > 220;
    const float w = wide ? B.w + 60 : 220;
    const float x = wide ? B.x - 30 : B.x + (B.w - 220) / 2;
    size_t total = 0;
    float h = 16;
    for (const auto& c : cats) {
        total += c.presetIndices.size();
        h += 22 + 20 * static_cast<float>(c.presetIndices.size());
    }
    if (total == 0) h = 36;
    const Rect menu{x, B.y + B.h + 4, w, h};
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        presetRows.menu = menu;
        int count = 0;
        float cursor = B.y + B.h + 12;
        for (const auto& c : cats) {
            cursor += 22;
            for (int idx : c.presetIndices) {
                if (count < kMaxPresetRows) {
                    presetRows.rows[count] = {x + 4, cursor, w - 8, 20};
                    presetRows.presetIndex[count] = idx;
                    ++count;
                }
                cursor += 20;
            }
        }
        presetRows.count = count;
    }
    roundedRect(vg, menu, 6, kPopupBg, kAccent, 1.0f);
    if (total == 0) {
        text(vg, fontId, x + w / 2, menu.y + h / 2, 11, nvgRGB(128, 128, 146),
             NVG_ALIGN_CENTER | NVG_ALIGN_MIDDLE, "no presets yet \xE2\x80\x94 click Save");
        return;
    }
    float cursor = B.y + B.h + 12;
    int row = 0;
    for (const auto& c : cats) {
        text(vg, fontId, x + 10, cursor + 11, 10.5f, kAccent, NVG_ALIGN_LEFT | NVG_ALIGN_MIDDLE,
             c.name.c_str());
        cursor += 22;
        for (int idx : c.presetIndices) {
            const float y = cursor;
            std::string name;
            bool isFactory = true;
            {
                std::lock_guard<std::recursive_mutex> lock(mgr->mutex);
                if (idx >= 0 && idx < static_cast<int>(mgr->presets.size())) {
                    name = mgr->presets[idx].name;
                    isFactory = mgr->presets[idx].isFactory;
                }
            }
            const bool isCurrent = idx == current;
            const bool hot = row < kMaxPresetRows && f.hover == ctl::kPresetRow + row;
            if (isCurrent || hot)
                roundedRect(vg, {x + 4, y + 1, w - 8, 18}, 3,
                            isCurrent ? nvgRGBA(255, 140, 0, 48) : nvgRGBA(255, 255, 255, 16));
            text(vg, fontId, x + 18, y + 10, 11, isCurrent ? kAccentLight : nvgRGB(208, 208, 220),
                 NVG_ALIGN_LEFT | NVG_ALIGN_MIDDLE, name.c_str());
            if (!isFactory) {
                const NVGcolor c2 = row < kMaxPresetRows && f.hover == ctl::kPresetDelete + row
                                        ? nvgRGB(255, 96, 96)
                                        : nvgRGB(104, 104, 124);
                const float right = x + w;
                line(vg, right - 16, y + 6, right - 8, y + 14, c2, 1.4f);
                line(vg, right - 8, y + 6, right - 16, y + 14, c2, 1.4f);
            }
            cursor += 20;
            ++row;
        }
    }
}

void NembrixUI::drawRootList(const FrameState& f) {
    if (!f.rootListOpen || !advancedOpen || !plug || fontId < 0) {
        std::lock_guard<std::mutex> lock(stateMutex);
        rootRows.count = 0;
        return;
    }
    const Rect T = L.rootBox;
    const bool wide = T.w + 24 > 120;
    const float w = wide ? T.w + 24 : 120;
    float x = wide ? T.x - 12 : T.x + (T.w - 120) / 2;
    x = std::max(x, 4.0f);
    if (x + w > 956) x = 956 - w;
    const float h = 254;
    const float limit = advancedOpen ? 750.0f : 610.0f;
    const float y = T.y + T.h + 260 > limit ? T.y - 260 : T.y + T.h + 6;
    RootRows rows;
    rows.popup = {x, y, w, h};
    rows.rows[0] = {x + 4, y + 22, w - 8, 16};
    rows.note[0] = -1;
    rows.count = 1;
    for (int note = 36; note <= 96 && rows.count < kMaxRootRows; ++note) {
        const int k = rows.count;
        const float top = y + 38 + 16 * static_cast<float>(k - 1);
        rows.rows[k] = {x + 4, top, w - 8, 16};
        rows.note[k] = note;
        rows.count = k + 1;
        if (top - y > 214) break;
    }
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        rootRows = rows;
    }
    roundedRect(vg, rows.popup, 6, kPopupBg, kAccent, 1.0f);
    text(vg, fontId, x + w / 2, y + 11, 11, kAccent, NVG_ALIGN_CENTER | NVG_ALIGN_MIDDLE, "ROOT");
    const int currentNote = static_cast<int>(paramValue(pid::kRootNote));
    for (int i = 0; i < rows.count; ++i) {
        const Rect& r = rows.rows[i];
        const bool isCurrent = rows.note[i] == currentNote;
        if (isCurrent || f.hover == ctl::kRootRow + i)
            roundedRect(vg, r, 3, isCurrent ? nvgRGBA(255, 140, 0, 48) : nvgRGBA(255, 255, 255, 16));
        const std::string label = rows.note[i] < 0 ? std::string("Auto") : noteName(rows.note[i]);
        text(vg, fontId, r.x + r.w / 2, r.y + r.h / 2, 11, isCurrent ? kAccentLight : nvgRGB(208, 208, 220),
             NVG_ALIGN_CENTER | NVG_ALIGN_MIDDLE, label.c_str());
    }
}

void NembrixUI::drawSaveDialog(const FrameState& f) {
    if (!f.saveDialogOpen || fontId < 0) return;
    const float dy = (f.designH - 120) / 2;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        dialogRects = {
            {320, dy, 320, 120}, {332, dy + 32, 296, 28}, {460, dy + 82, 80, 26}, {548, dy + 82, 80, 26}};
    }
    fillRect(vg, {0, 0, 960, f.designH}, nvgRGBA(0, 0, 0, 128));
    roundedRect(vg, {320, dy, 320, 120}, 8, kTrackBg, kAccent, 1.2f);
    text(vg, fontId, 480, dy + 10, 13, kAccentLight, NVG_ALIGN_CENTER | NVG_ALIGN_TOP,
         "Save preset as\xE2\x80\xA6");
    roundedRect(vg, {332, dy + 32, 296, 28}, 4, nvgRGB(10, 10, 16), kAccent, 1.0f);
    nvgSave(vg);
    nvgScissor(vg, 336, dy + 32, 288, 28);
    if (f.saveName.empty()) {
        text(vg, fontId, 340, dy + 46, 13, nvgRGB(106, 82, 48), NVG_ALIGN_LEFT | NVG_ALIGN_MIDDLE,
             "type a name\xE2\x80\xA6");
    } else {
        text(vg, fontId, 340, dy + 46, 13, nvgRGB(255, 224, 168), NVG_ALIGN_LEFT | NVG_ALIGN_MIDDLE,
             f.saveName.c_str());
        const double t = static_cast<double>(nowNs()) / 1e9;
        if (t - std::floor(t) < 0.5) {
            float bounds[4];
            nvgTextBounds(vg, 340, dy + 46, f.saveName.c_str(), nullptr, bounds);
            fillRect(vg, {bounds[2] + 1, dy + 38, 1.5f, 16}, kAccent);
        }
    }
    nvgRestore(vg);
    const bool cancelHot = f.hover == ctl::kDialogCancel, saveHot = f.hover == ctl::kDialogSave;
    const Rect cancel{460, dy + 82, 80, 26}, save{548, dy + 82, 80, 26};
    roundedRect(vg, cancel, 4, cancelHot ? kButtonHoverBg : nvgRGB(34, 34, 48),
                cancelHot ? kStrokeHover : kStrokeIdle, 1.0f);
    text(vg, fontId, cancel.x + 40, cancel.y + 13, 12, kTextMain, NVG_ALIGN_CENTER | NVG_ALIGN_MIDDLE,
         "Cancel");
    roundedRect(vg, save, 4, saveHot ? kAccentHot : kAccent, saveHot ? kStrokeHover : kStrokeIdle, 1.0f);
    text(vg, fontId, save.x + 40, save.y + 13, 12, nvgRGB(16, 16, 20), NVG_ALIGN_CENTER | NVG_ALIGN_MIDDLE,
         "Save");
}

void NembrixUI::drawAdvancedPanel(const FrameState& f) {
    if (!advancedOpen || !plug) return;
    const Rect Q = L.advPanel;
    const float visible = std::clamp(panelAnim, 0.0f, 1.0f) * Q.h;
    nvgSave(vg);
    nvgScissor(vg, Q.x, Q.y, Q.w, visible);
    fillRect(vg, Q, kBandBg);
    line(vg, 0, Q.y + 0.5f, 960, Q.y + 0.5f, kBandLine, 1.0f);
    nvgSave(vg);
    nvgGlobalAlpha(vg, f.bodyAlpha);

    // Group frames: wash (knob 6 .. root box), harmonic (0), rhythmic (7 .. 8), post-mix (1 .. 5).
    const Rect* members[10];
    for (int k = 0; k < 9; ++k) members[k] = &L.knobs[k];
    members[9] = &L.rootBox;
    const struct {
        const char* label;
        int first, last;
    } groups[] = {{"WASH", 6, 9}, {"HARM", 0, 0}, {"RHYT", 7, 8}, {"POST-MIX", 1, 5}};
    const NVGcolor dot = nvgRGB(70, 70, 88);
    for (const auto& g : groups) {
        const float x0 = members[g.first]->x - 8, x1 = members[g.last]->x + members[g.last]->w + 8;
        const float span = x1 - x0, mid = (x0 + x1) / 2;
        float labelW = 0;
        if (fontId >= 0) {
            text(vg, fontId, mid, Q.y + 14, 10.5f, nvgRGB(170, 170, 182), NVG_ALIGN_CENTER | NVG_ALIGN_MIDDLE,
                 g.label);
            labelW = nvgTextBounds(vg, 0, 0, g.label, nullptr, nullptr);
        }
        const float gapL = mid - (labelW + 8) / 2 - 1.2f, gapR = mid + (labelW + 8) / 2 + 1.2f;
        for (int j = 0; 6.0f * static_cast<float>(j) <= span; ++j) {
            const float dx = x0 + 6.0f * static_cast<float>(j);
            if (dx < gapL || dx > gapR) circle(vg, dx, Q.y + 14, 1.2f, dot);
            circle(vg, dx, Q.y + Q.h - 8, 1.2f, dot);
        }
        for (int j = 1; 6.0f * static_cast<float>(j) <= Q.h - 28; ++j) {
            const float dy = Q.y + 14 + 6.0f * static_cast<float>(j);
            circle(vg, x0, dy, 1.2f, dot);
            circle(vg, x1, dy, 1.2f, dot);
        }
    }

    const uint32_t mask = plug->advOverrideMask.load();
    const AnchorParams anchors = plug->engine.currentAnchors();
    for (int k = 0; k < 9; ++k) {
        const Rect K = L.knobs[k];
        const int param = pid::kCharacter + k;
        const bool overridden = (mask >> k) & 1u;
        const bool armed = f.hover == ctl::kKnob + k || f.active == ctl::kKnob + k;
        const float cx = K.x + K.w / 2, cy = Q.y + 14 + (Q.h - 44) / 2;
        const float r = std::min((Q.h - 44) / 2, 0.42f * K.w);
        const double shown = overridden ? paramValue(param) : static_cast<double>(anchorValue(anchors, k));
        nvgBeginPath(vg);
        nvgCircle(vg, cx, cy, r);
        nvgFillColor(vg, overridden ? nvgRGB(28, 28, 40) : kTrackBg);
        nvgFill(vg);
        nvgStrokeColor(vg, armed ? kStrokeHover : overridden ? kAccent : kStrokeIdle);
        nvgStrokeWidth(vg, overridden ? 1.6f : 1.0f);
        nvgStroke(vg);
        const Param* p = plug->GetParam(param);
        double n = 0.0;
        if (p && p->GetMax() > p->GetMin()) n = (shown - p->GetMin()) / (p->GetMax() - p->GetMin());
        const float a = n < 0.0 ? -2.356f : n > 1.0 ? 2.356f : static_cast<float>(n) * 4.712f - 2.356f;
        line(vg, cx + 0.25f * r * std::sin(a), cy - 0.25f * r * std::cos(a), cx + 0.95f * r * std::sin(a),
             cy - 0.95f * r * std::cos(a), overridden ? kAccentLight : nvgRGB(128, 128, 144), 1.8f);
        if (overridden) circle(vg, cx + 0.78f * r, cy - 0.78f * r, 2.5f, kAccent);
        if (fontId >= 0) {
            text(vg, fontId, cx, cy + r + 2, 10, overridden ? nvgRGB(224, 224, 236) : nvgRGB(136, 136, 154),
                 NVG_ALIGN_CENTER | NVG_ALIGN_TOP, kAdvNames[k]);
            const std::string display = p ? p->DisplayText(shown) : std::string();
            text(vg, fontId, cx, cy + r + 13, 9, overridden ? kAccentLight : nvgRGB(85, 85, 104),
                 NVG_ALIGN_CENTER | NVG_ALIGN_TOP, display.c_str());
        }
    }

    // Root box.
    const Rect T = L.rootBox;
    const int root = static_cast<int>(paramValue(pid::kRootNote));
    const bool locked = root >= 0;
    std::string big = "\xE2\x80\x94";
    if (locked) {
        big = noteName(std::min(root, 127));
    } else {
        const double f0 = plug->engine.harmonicF0Hz();
        if (f0 >= 30.0 && f0 < 8000.0) {
            const long note = std::lround(12.0 * std::log2(f0 / 440.0) + 69.0);
            if (note >= 0 && note <= 127) big = noteName(static_cast<int>(note));
        }
    }
    const float hb = std::max(28.0f, 0.7f * (2 * std::min((Q.h - 44) / 2, 0.42f * T.w) + 22));
    const Rect box{T.x, Q.y + 6 + (Q.h - 22 - hb) / 2, T.w, hb};
    const bool hot = f.hover == ctl::kRootBox;
    const NVGcolor outline = f.rootListOpen ? kAccent : hot ? kStrokeHover : locked ? kAccent : kStrokeIdle;
    roundedRect(vg, box, 5, f.rootListOpen ? nvgRGB(34, 26, 16) : kTrackBg, outline, locked ? 1.4f : 1.0f);
    if (fontId >= 0) {
        text(vg, fontId, box.x + box.w / 2, box.y + box.h / 2, 17,
             locked ? kAccentLight : nvgRGB(200, 200, 216), NVG_ALIGN_CENTER | NVG_ALIGN_MIDDLE, big.c_str());
        text(vg, fontId, box.x + box.w / 2, box.y + box.h + 4, 10,
             locked ? nvgRGB(224, 224, 236) : nvgRGB(136, 136, 154), NVG_ALIGN_CENTER | NVG_ALIGN_TOP,
             locked ? "Root" : "Root \xC2\xB7 Auto");
    }
    nvgRestore(vg);
    nvgRestore(vg);
}

void NembrixUI::drawStatusLine(const FrameState& f) {
    if (fontId < 0) return;
    const float y = advancedOpen ? 749.0f : 609.0f;
    line(vg, 14, y - 10, 922, y - 10, nvgRGB(26, 26, 36), 1.0f);
    const int lm = NVG_ALIGN_LEFT | NVG_ALIGN_MIDDLE;
    const Hint* hint = hintFor(f.hover);
    static const int kAlwaysHinted[] = {9, 10, 11, 12, 13, 14, 16, 17, 18, 19, 20};
    const bool alwaysHinted =
        std::find(std::begin(kAlwaysHinted), std::end(kAlwaysHinted), f.hover) != std::end(kAlwaysHinted);
    if (hint && (!(f.sendMode || f.bypassed) || alwaysHinted)) {
        const float end = text(vg, fontId, 14, y, 11, kAccentLight, lm, hint->title);
        text(vg, fontId, end + 10, y, 10.5f, nvgRGB(136, 136, 154), lm, hint->description);
    } else if (f.bypassed) {
        text(vg, fontId, 14, y, 11, nvgRGB(255, 128, 128), lm,
             "BYPASSED \xE2\x80\x94 click the BYPASS button to re-engage");
    } else if (f.sendMode) {
        text(vg, fontId, 14, y, 11, nvgRGB(208, 144, 240), lm,
             "SEND ONLY \xE2\x80\x94 pushing dry to SHM, no audio modification");
    } else {
        text(vg, fontId, 14, y, 10.5f, nvgRGB(80, 80, 98), lm,
             "Nembrix v1.0.0 \xE2\x80\x94 hover any control for help");
    }
}

void NembrixUI::drawGrip(const FrameState& f) {
    const Rect G = L.grip;
    const NVGcolor c = f.hover == ctl::kGrip || f.active == ctl::kGrip ? kAccent : nvgRGB(85, 85, 101);
    for (int t = 1; t <= 3; ++t) {
        const float d = 4.0f * static_cast<float>(t);
        line(vg, G.x + G.w - d, G.y + G.h - 2, G.x + G.w - 2, G.y + G.h - d, c, 1.4f);
    }
}

} // namespace nx
