// drawFrame: the whole editor, once per expose event, with NanoVG on the UI thread. Frame set-up and
// design scaling, then the layers in order: pad and faders, header and footer, sliders, mode button,
// popups, dialog, pad overlay, advanced panel, status line and resize grip (UIDrawPopups.cpp).
#include "ui/NembrixUI.h"
#include "ui/UIDrawing.h"
#include "ui/UIHints.h"

#include "plugin/Nembrix.h"

#include <glad/gl.h>

extern "C" {
#include "pugl/pugl.h"
}

#include <X11/Xlib.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace nx {

using namespace draw;

void NembrixUI::drawFrame(void* viewPtr) {
    if (!vg) return;
    auto* v = static_cast<PuglView*>(viewPtr);
    const float Hd = designHeight();

    // Window size: the X geometry of our window, else pugl's frame, else the design size at the scale.
    int W = 0, H = 0;
    if (display && nativeWindow) {
        Window root;
        int x, y;
        unsigned w, h, border, depth;
        if (XGetGeometry(display, nativeWindow, &root, &x, &y, &w, &h, &border, &depth)) {
            W = static_cast<int>(w);
            H = static_cast<int>(h);
        }
    }
    if (W <= 0 || H <= 0) {
        const PuglRect frame = puglGetFrame(v);
        W = static_cast<int>(frame.width);
        H = static_cast<int>(frame.height);
    }
    if (W <= 0 || H <= 0) {
        const double scale = puglGetScaleFactor(v);
        W = static_cast<int>(std::lround(960.0 * scale));
        H = static_cast<int>(std::lround(Hd * scale));
    }
    const float s =
        std::clamp(std::min(static_cast<float>(H) / Hd, static_cast<float>(W) / 960.0f), 0.4f, 4.0f);
    glViewport(0, 0, W, H);
    glClearColor(0.0235f, 0.0235f, 0.0314f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);

    nvgBeginFrame(vg, static_cast<float>(W) / s, static_cast<float>(H) / s, s);
    nvgSave(vg);
    const float ox = (static_cast<float>(W) / s - 960.0f) / 2.0f;
    const float oy = (static_cast<float>(H) / s - Hd) / 2.0f;
    nvgTranslate(vg, ox, oy);
    drawScale = s;
    drawOffsetX = ox;
    drawOffsetY = oy;

    FrameState f;
    f.designH = Hd;
    f.sendMode = paramValue(pid::kMode) == 1.0;
    f.bypassed = paramValue(pid::kBypass) == 1.0;
    f.padInactive = f.sendMode || f.bypassed;
    f.bodyAlpha = f.bypassed ? 0.2f : f.sendMode ? 0.35f : 1.0f;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        f.hover = hoverId;
        f.active = activeId;
        f.studio = studioMode;
        f.snap = snapToGrid;
        f.nameEditing = nameEditing;
        f.nameBuffer = nameBuffer;
        f.peerListOpen = peerListOpen;
        f.presetMenuOpen = presetMenuOpen;
        f.rootListOpen = rootListOpen;
        f.saveDialogOpen = saveDialogOpen;
        f.saveName = saveName;
    }

    nvgGlobalAlpha(vg, f.bodyAlpha);
    drawPad(f);
    drawFaders(f);
    nvgGlobalAlpha(vg, 1.0f);
    drawHeader(f);
    drawFooter();
    nvgGlobalAlpha(vg, f.bodyAlpha);
    drawSliders(f);
    nvgGlobalAlpha(vg, 1.0f);
    drawModeButton(f);
    drawPeerList(f);
    drawPresetMenu(f);
    drawRootList(f);
    drawSaveDialog(f);
    drawPadOverlay(f);
    drawAdvancedPanel(f);
    drawStatusLine(f);
    drawGrip(f);

    nvgRestore(vg);
    nvgEndFrame(vg);
    countFrameDrawn();
}

// ---- XY pad -----------------------------------------------------------------------------------------------

void NembrixUI::drawPad(const FrameState& f) {
    const Rect P = L.pad;
    const bool padHot = f.hover == ctl::kPad || f.active == ctl::kPad;
    const float xyX = static_cast<float>(paramValue(pid::kXYx));
    const float xyY = static_cast<float>(paramValue(pid::kXYy));

    roundedRect(vg, P, 8, nvgRGB(22, 22, 31), padHot ? nvgRGB(112, 112, 130) : nvgRGB(50, 50, 66), 1.5f);

    if (plug && !f.padInactive) {
        const PhantomEngine& e = plug->engine;
        const float harm = e.harmonicMeter(), rhyt = e.rhythmicMeter(), wash = e.washMeter();
        const float peer = e.peerSumMeter();
        const float glow = peer > 0.0001f ? peer : e.phantomMeter();
        nvgSave(vg);
        nvgScissor(vg, P.x + 4, P.y + 4, P.w - 8, P.h - 8);
        struct Corner {
            float x, y, level;
            NVGcolor c;
        } corners[4] = {
            {P.x, P.y + P.h, harm, kWhisper},
            {P.x, P.y, 0.6f * wash + 0.4f * harm, kAbyss},
            {P.x + P.w, P.y + P.h, rhyt, kPoltergeist},
            {P.x + P.w, P.y, 0.6f * wash + 0.4f * rhyt, kMonolith},
        };
        for (const Corner& c : corners) {
            const float m = 4.0f * c.level;
            const float R = m > 1.0f ? 210.0f : 60.0f + 150.0f * m;
            const float a = m > 1.0f ? 0.8f : 0.1f + 0.7f * m;
            radialCircle(vg, c.x, c.y, 8.0f, R, withAlpha(c.c, a), withAlpha(c.c, 0.0f));
        }
        float b = 0.18f + 5.0f * glow;
        if (glow > 0.0001f) {
            const float m = 4.0f * glow;
            const float px = P.x + P.w * xyX, py = P.y + P.h * (1.0f - xyY);
            const NVGcolor c = characterBlend(xyX, xyY);
            radialCircle(vg, px, py, 2.0f, m > 1.0f ? 120.0f : 30.0f + 90.0f * m,
                         withAlpha(c, m > 1.0f ? 0.45f : 0.45f * m), withAlpha(c, 0.0f));
            b = std::min(b, 1.0f);
        }
        const float t = static_cast<float>(static_cast<double>(nowNs() - orbClockT0) / 1e9);
        for (const Orb& o : orbs) {
            const float sx = std::sin(1.1f * t * o.speedX + o.phaseX);
            const float sy = std::sin(1.1f * t * o.speedY + o.phaseY);
            const float px = std::clamp(o.x + 0.05f * sx, 0.02f, 0.98f);
            const float py = std::clamp(o.y + 0.05f * sy, 0.02f, 0.98f);
            const float pulse = (0.45f * std::sin(0.4f * t + o.phasePulse) + 0.35f) * b;
            if (pulse <= 0.02f) continue;
            const float radius = (0.6f + 0.4f * b) * o.size;
            const NVGcolor c = characterBlend(px, py);
            radialCircle(vg, P.x + P.w * px, P.y + P.h * py, 0.5f, radius, withAlpha(c, 0.55f * pulse),
                         withAlpha(c, 0.0f));
        }
        nvgRestore(vg);
    }

    if (f.studio && fontId >= 0 && plug) {
        const PhantomEngine& e = plug->engine;
        char line[320];
        std::snprintf(
            line, sizeof line,
            "PB %llu  fwByp=%d byp=%d mode=%d  dry %.3f  peer %.3f  phnt %.3f   harm %.3f  rhyt %.3f  "
            "wash %.3f   f0=%.0fHz",
            static_cast<unsigned long long>(plug->processBlockCount.load()), plug->GetHostBypassed() ? 1 : 0,
            static_cast<int>(paramValue(pid::kBypass)), static_cast<int>(paramValue(pid::kMode)),
            e.localDryMeter(), e.peerSumMeter(), e.phantomMeter(), e.harmonicMeter(), e.rhythmicMeter(),
            e.washMeter(), static_cast<double>(e.harmonicF0Hz()));
        nvgSave(vg);
        nvgGlobalAlpha(vg, 1.0f);
        text(vg, fontId, P.x, P.y + P.h + 4, 10.5f, nvgRGBA(255, 192, 96, 208),
             NVG_ALIGN_LEFT | NVG_ALIGN_TOP, line);
        nvgRestore(vg);
    }

    for (int i = 1; i <= 7; ++i) {
        const NVGcolor c = i == 4 ? nvgRGBA(112, 112, 134, 128) : nvgRGBA(64, 64, 82, 96);
        const float gx = P.x + P.w * static_cast<float>(i) / 8.0f;
        const float gy = P.y + P.h * static_cast<float>(i) / 8.0f;
        line(vg, gx, P.y + 4, gx, P.y + P.h - 4, c, 0.5f);
        line(vg, P.x + 4, gy, P.x + P.w - 4, gy, c, 0.5f);
    }
    const float cx = P.x + P.w / 2, cy = P.y + P.h / 2;
    line(vg, cx, P.y + 6, cx, P.y + P.h - 6, nvgRGBA(136, 136, 154, 64), 0.8f);
    line(vg, P.x + 6, cy, P.x + P.w - 6, cy, nvgRGBA(136, 136, 154, 64), 0.8f);

    if (fontId >= 0) {
        const NVGcolor c = nvgRGBA(184, 184, 202, 221);
        text(vg, fontId, P.x + 10, P.y + P.h - 10, 15, c, NVG_ALIGN_LEFT | NVG_ALIGN_BOTTOM, "WHISPER");
        text(vg, fontId, P.x + P.w - 10, P.y + P.h - 10, 15, c, NVG_ALIGN_RIGHT | NVG_ALIGN_BOTTOM,
             "POLTERGEIST");
        text(vg, fontId, P.x + 10, P.y + 10, 15, c, NVG_ALIGN_LEFT | NVG_ALIGN_TOP, "ABYSS");
        text(vg, fontId, P.x + P.w - 10, P.y + 10, 15, c, NVG_ALIGN_RIGHT | NVG_ALIGN_TOP, "MONOLITH");
    }

    const Rect S = L.snap;
    const NVGcolor snapColor = f.snap                  ? kAccent
                               : f.hover == ctl::kSnap ? nvgRGB(160, 160, 178)
                                                       : nvgRGB(85, 85, 104);
    for (int j = 0; j <= 3; ++j) {
        const float sx = S.x + S.w * static_cast<float>(j) / 3.0f;
        const float sy = S.y + S.h * static_cast<float>(j) / 3.0f;
        line(vg, sx, S.y + 1, sx, S.y + S.h - 1, snapColor, 1.2f);
        line(vg, S.x + 1, sy, S.x + S.w - 1, sy, snapColor, 1.2f);
    }

    const float px = P.x + P.w * xyX, py = P.y + P.h * (1.0f - xyY);
    radialCircle(vg, px, py, 4.0f, 28.0f, nvgRGBA(255, 160, 64, 96), nvgRGBA(255, 160, 64, 0));
    const bool dragging = f.active == ctl::kPad;
    nvgBeginPath(vg);
    nvgCircle(vg, px, py, dragging ? 9.0f : 7.0f);
    nvgFillColor(vg, kAccentLight);
    nvgFill(vg);
    if (dragging || f.hover == ctl::kPad) {
        nvgStrokeColor(vg, nvgRGB(255, 255, 255));
        nvgStrokeWidth(vg, 1.8f);
        nvgStroke(vg);
    }
}

// ---- Faders, header, footer, sliders, mode button --------------------------------------------------------

void NembrixUI::drawFaders(const FrameState& f) {
    static const char* const kLabels[5] = {"Harm", "Rhyt", "Wash", "Ret", "D/W"};
    for (int i = 0; i < 5; ++i) {
        const int id = ctl::kFaderFirst + i;
        const int param = pid::kHarmonicLevel + i;
        const Rect F = L.faders[i];
        const double value = paramValue(param);
        const float n = static_cast<float>(std::clamp(paramNormalized(param, value), 0.0, 1.0));
        const float fill = n * F.h;
        const bool dragged = f.active == id;
        roundedRect(vg, F, 4, kTrackBg, f.hover == id || dragged ? nvgRGB(96, 96, 114) : nvgRGB(42, 42, 54),
                    1.0f);
        if (fill > 0.5f)
            roundedRect(vg, {F.x + 2, F.y + F.h - fill, F.w - 4, fill}, 3, dragged ? kAccentLight : kBarFill);
        fillRect(vg, {F.x - 2, F.y + F.h - fill - 1.5f, F.w + 4, 3}, nvgRGB(255, 255, 255));
        if (fontId >= 0) {
            const std::string valueText = faderValueText(param == pid::kDryWet, value);
            text(vg, fontId, F.x + F.w / 2, F.y - 4, 11,
                 dragged ? nvgRGB(255, 255, 255) : nvgRGB(200, 200, 210), NVG_ALIGN_CENTER | NVG_ALIGN_BOTTOM,
                 valueText.c_str());
            text(vg, fontId, F.x + F.w / 2, F.y + F.h + 5, 11.5f, nvgRGB(160, 160, 178),
                 NVG_ALIGN_CENTER | NVG_ALIGN_TOP, kLabels[i]);
        }
    }
}

void NembrixUI::drawHeader(const FrameState& f) {
    fillRect(vg, {0, 0, 960, kHeaderH}, kBandBg);
    line(vg, 0, kHeaderH - 0.5f, 960, kHeaderH - 0.5f, kBandLine, 1.0f);

    const Rect Lg = L.logo;
    nvgBeginPath(vg);
    nvgRoundedRect(vg, Lg.x, Lg.y, Lg.w, Lg.h, 4);
    nvgFillColor(vg, kAccent);
    nvgFill(vg);
    if (f.hover == ctl::kLogo) {
        nvgStrokeColor(vg, nvgRGB(255, 255, 255));
        nvgStrokeWidth(vg, 1.2f);
        nvgStroke(vg);
    }
    if (logoImage >= 0) {
        nvgBeginPath(vg);
        nvgRect(vg, Lg.x, Lg.y, Lg.w, Lg.h);
        nvgFillPaint(vg, nvgImagePattern(vg, Lg.x, Lg.y, Lg.w, Lg.h, 0.0f, logoImage, 1.0f));
        nvgFill(vg);
    }

    if (fontId >= 0) {
        const float x0 = Lg.x + Lg.w + 10, yc = Lg.y + Lg.h / 2;
        const int lm = NVG_ALIGN_LEFT | NVG_ALIGN_MIDDLE;
        if (!f.studio) {
            text(vg, fontId, x0, yc, 18, kAccent, lm, "NX");
            text(vg, fontId, x0 + 48, yc - 6, 18, nvgRGB(230, 230, 238), lm, "Nembrix");
            text(vg, fontId, x0 + 48, yc + 10, 11.5f, kTextDim, lm, "shared phantom layer");
        } else {
            text(vg, fontId, x0, yc - 5, 20, kAccent, lm, "vorn-audio");
            text(vg, fontId, x0, yc + 11, 11.5f, kTextDim, lm, "v1.0.0");
        }
    }

    // Instance name.
    const Rect N = L.name;
    const std::string name = f.nameEditing ? f.nameBuffer : plugInstanceName();
    const int cm = NVG_ALIGN_CENTER | NVG_ALIGN_MIDDLE;
    if (f.nameEditing) {
        roundedRect(vg, N, 4, nvgRGBA(34, 20, 54, 204), kAccent, 1.2f);
        if (fontId >= 0) {
            text(vg, fontId, 480, N.y + N.h - 7, 13.5f, nvgRGB(255, 255, 255), cm, name.c_str());
            nvgFontSize(vg, 13.5f);
            const float a = nvgTextBounds(vg, 0, 0, name.c_str(), nullptr, nullptr);
            fillRect(vg, {482 + a / 2, N.y + N.h - 14, 1.5f, 14}, kAccent);
        }
    } else {
        if (f.hover == ctl::kName) roundedRect(vg, N, 4, nvgRGBA(34, 34, 44, 128));
        if (fontId >= 0) text(vg, fontId, 480, N.y + N.h - 7, 13.5f, kTextMain, cm, name.c_str());
    }

    // Peers pill.
    const Rect K = L.peersPill;
    const int n = countPeers();
    const bool pillHot = f.peerListOpen || f.hover == ctl::kPeersPill;
    if (pillHot)
        roundedRect(vg, K, K.h / 2, f.peerListOpen ? nvgRGBA(255, 140, 0, 32) : nvgRGBA(255, 255, 255, 16));
    if (fontId >= 0) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "%d peer%s linked", n, n == 1 ? "" : "s");
        text(vg, fontId, 480, K.y + K.h / 2, 10.5f,
             pillHot ? kAccentLight
             : n > 0 ? kAccent
                     : kTextDim,
             cm, buf);
    }

    // Preset row.
    PresetLabel preset = currentPresetLabel();
    const Rect B = L.presetBox;
    if (f.hover == ctl::kPresetBox)
        roundedRect(vg, B, 4, kButtonHoverBg, kStrokeHover, 1.0f);
    else if (f.presetMenuOpen)
        roundedRect(vg, B, 4, kButtonBg, kAccent, 1.0f);
    else if (preset.isUser)
        roundedRect(vg, B, 4, nvgRGB(34, 26, 16), nvgRGB(106, 68, 20), 1.0f);
    else
        roundedRect(vg, B, 4, nvgRGB(24, 24, 36), nvgRGB(50, 50, 66), 1.0f);
    if (fontId >= 0)
        text(vg, fontId, B.x + B.w / 2, B.y + B.h / 2, 12, preset.isUser ? kAccentLight : kTextMain, cm,
             preset.text.c_str());
    const struct {
        Rect r;
        int id;
        const char* label;
        float size;
    } smallButtons[] = {{L.prevPreset, ctl::kPrevPreset, "<", 14},
                        {L.nextPreset, ctl::kNextPreset, ">", 14},
                        {L.save, ctl::kSave, "Save", 11}};
    for (const auto& b : smallButtons) {
        const bool hot = f.hover == b.id;
        roundedRect(vg, b.r, 4, hot ? kButtonHoverBg : nvgRGB(24, 24, 36),
                    hot ? kStrokeHover : nvgRGB(50, 50, 66), 1.0f);
        if (fontId >= 0)
            text(vg, fontId, b.r.x + b.r.w / 2, b.r.y + b.r.h / 2, b.size, kTextMain, cm, b.label);
    }

    // Bypass.
    const Rect Y = L.bypass;
    const bool byHot = f.hover == ctl::kBypass;
    if (f.bypassed) {
        roundedRect(vg, Y, Y.h / 2, byHot ? nvgRGB(200, 68, 68) : nvgRGB(176, 48, 48),
                    byHot ? kStrokeHover : kStrokeIdle, 1.0f);
        if (fontId >= 0)
            text(vg, fontId, Y.x + Y.w / 2, Y.y + Y.h / 2, 12, nvgRGB(255, 255, 255), cm, "BYPASSED");
    } else {
        roundedRect(vg, Y, Y.h / 2, byHot ? kButtonHoverBg : kButtonBg, byHot ? kStrokeHover : kStrokeIdle,
                    1.0f);
        if (fontId >= 0) text(vg, fontId, Y.x + Y.w / 2, Y.y + Y.h / 2, 12, kTextMain, cm, "BYPASS");
    }

    // Advanced toggle.
    const Rect A = L.advToggle;
    const bool advHot = f.hover == ctl::kAdvToggle;
    if (advancedOpen) {
        roundedRect(vg, A, A.h / 2, advHot ? kAccentHot : kAccent, advHot ? kStrokeHover : kStrokeIdle, 1.0f);
        if (fontId >= 0)
            text(vg, fontId, A.x + A.w / 2, A.y + A.h / 2, 11, nvgRGB(16, 16, 20), cm, "ADVANCED");
    } else {
        roundedRect(vg, A, A.h / 2, advHot ? kButtonHoverBg : kButtonBg, advHot ? kStrokeHover : kStrokeIdle,
                    1.0f);
        if (fontId >= 0) text(vg, fontId, A.x + A.w / 2, A.y + A.h / 2, 11, kTextMain, cm, "ADVANCED");
    }
}

void NembrixUI::drawFooter() {
    fillRect(vg, {0, 600 - kFooterH, 960, kFooterH}, kBandBg);
    line(vg, 0, 600 - kFooterH + 0.5f, 960, 600 - kFooterH + 0.5f, kBandLine, 1.0f);
}

void NembrixUI::drawSliders(const FrameState& f) {
    static const int kParams[3] = {pid::kHP, pid::kLP, pid::kWow};
    static const char* const kLabels[3] = {"HP", "LP", "Wow"};
    for (int i = 0; i < 3; ++i) {
        const int id = ctl::kSliderHP + i;
        const Rect R = L.sliders[i];
        const double value = paramValue(kParams[i]);
        const float n = static_cast<float>(std::clamp(paramNormalized(kParams[i], value), 0.0, 1.0));
        const bool dragged = f.active == id;
        roundedRect(vg, R, R.h / 2, kTrackBg,
                    f.hover == id || dragged ? nvgRGB(96, 96, 114) : nvgRGB(42, 42, 54), 1.0f);
        if (n * R.w > 0.5f)
            roundedRect(vg, {R.x + 2, R.y + 2, std::max(1.0f, n * R.w - 4), R.h - 4}, (R.h - 4) / 2,
                        dragged ? kAccentLight : kBarFill);
        fillRect(vg, {R.x - 1.5f + n * R.w, R.y - 3, 3, R.h + 6}, nvgRGB(255, 255, 255));
        if (fontId >= 0) {
            text(vg, fontId, R.x - 8, R.y + R.h / 2, 12, nvgRGB(176, 176, 194),
                 NVG_ALIGN_RIGHT | NVG_ALIGN_MIDDLE, kLabels[i]);
            const std::string valueText = sliderValueText(kParams[i] == pid::kWow, value);
            text(vg, fontId, R.x + R.w / 2, R.y - 4, 11,
                 dragged ? nvgRGB(255, 255, 255) : nvgRGB(200, 200, 210), NVG_ALIGN_CENTER | NVG_ALIGN_BOTTOM,
                 valueText.c_str());
        }
    }
}

void NembrixUI::drawModeButton(const FrameState& f) {
    const Rect M = L.mode;
    const bool hot = f.hover == ctl::kMode;
    const NVGcolor fill = f.sendMode ? (hot ? nvgRGB(106, 54, 192) : nvgRGB(85, 42, 160))
                                     : (hot ? nvgRGB(60, 102, 144) : nvgRGB(42, 74, 112));
    roundedRect(vg, M, M.h / 2, fill, hot ? kStrokeHover : kStrokeIdle, 1.0f);
    if (fontId >= 0)
        text(vg, fontId, M.x + M.w / 2, M.y + M.h / 2, 13, nvgRGB(255, 255, 255),
             NVG_ALIGN_CENTER | NVG_ALIGN_MIDDLE, f.sendMode ? "SEND" : "RECV");
}

void NembrixUI::drawPadOverlay(const FrameState& f) {
    if (fontId < 0) return;
    const float cx = L.pad.x + L.pad.w / 2, cy = L.pad.y + L.pad.h / 2;
    const int cm = NVG_ALIGN_CENTER | NVG_ALIGN_MIDDLE;
    if (f.bypassed) {
        text(vg, fontId, cx, cy - 18, 44, nvgRGBA(255, 96, 96, 224), cm, "BYPASSED");
        text(vg, fontId, cx, cy + 18, 13, nvgRGBA(255, 128, 128, 192), cm,
             "click BYPASS in the header to re-engage");
    } else if (f.sendMode) {
        text(vg, fontId, cx, cy - 18, 36, nvgRGBA(208, 144, 240, 208), cm, "SEND ONLY");
        text(vg, fontId, cx, cy + 14, 13, nvgRGBA(208, 144, 240, 176), cm,
             "feeding peers \xE2\x80\x94 audio passes through");
        if (countPeers() == 0)
            text(vg, fontId, cx, cy + 34, 11, nvgRGBA(255, 128, 128, 192), cm,
                 "no peers linked \xE2\x80\x94 drop another Nembrix instance");
    }
}

} // namespace nx
