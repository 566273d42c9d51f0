// Drawing helpers of the editor: the palette, the character colours of the pad corners and small NanoVG
// shape and text helpers. UI thread only (they draw into the given NanoVG context).
#pragma once

#include "ui/NembrixUI.h"

#include "nanovg.h"

namespace nx::draw {

inline const NVGcolor kAccent = nvgRGB(255, 140, 0);
inline const NVGcolor kAccentHot = nvgRGB(255, 160, 32);
inline const NVGcolor kAccentLight = nvgRGB(255, 192, 96);
inline const NVGcolor kBandBg = nvgRGB(10, 10, 18);
inline const NVGcolor kBandLine = nvgRGB(40, 40, 54);
inline const NVGcolor kTrackBg = nvgRGB(20, 20, 28);
inline const NVGcolor kButtonBg = nvgRGB(42, 42, 54);
inline const NVGcolor kButtonHoverBg = nvgRGB(58, 58, 72);
inline const NVGcolor kStrokeIdle = nvgRGB(64, 64, 82);
inline const NVGcolor kStrokeHover = nvgRGB(224, 224, 240);
inline const NVGcolor kBarFill = nvgRGB(200, 136, 68);
inline const NVGcolor kTextMain = nvgRGB(200, 200, 216);
inline const NVGcolor kTextDim = nvgRGB(112, 112, 130);
inline const NVGcolor kPopupBg = nvgRGBA(16, 16, 24, 246);

// Pad corners: Whisper bottom left, Poltergeist bottom right, Abyss top left, Monolith top right.
inline const NVGcolor kWhisper = nvgRGB(160, 208, 232);
inline const NVGcolor kPoltergeist = nvgRGB(216, 128, 112);
inline const NVGcolor kAbyss = nvgRGB(64, 96, 192);
inline const NVGcolor kMonolith = nvgRGB(144, 96, 208);

inline NVGcolor withAlpha(NVGcolor c, float a) {
    c.a = a;
    return c;
}

// Blend of the corner colours at (u, v): u left to right, v from the bottom corners (0) to the top (1).
inline NVGcolor characterBlend(float u, float v) {
    const float wW = (1 - u) * (1 - v), wP = u * (1 - v), wA = (1 - u) * v, wM = u * v;
    NVGcolor c;
    c.r = kWhisper.r * wW + kPoltergeist.r * wP + kAbyss.r * wA + kMonolith.r * wM;
    c.g = kWhisper.g * wW + kPoltergeist.g * wP + kAbyss.g * wA + kMonolith.g * wM;
    c.b = kWhisper.b * wW + kPoltergeist.b * wP + kAbyss.b * wA + kMonolith.b * wM;
    c.a = 1.0f;
    return c;
}

using Rect = NembrixUI::Rect;

inline void fillRect(NVGcontext* vg, const Rect& r, NVGcolor fill) {
    nvgBeginPath(vg);
    nvgRect(vg, r.x, r.y, r.w, r.h);
    nvgFillColor(vg, fill);
    nvgFill(vg);
}

inline void roundedRect(NVGcontext* vg, const Rect& r, float radius, NVGcolor fill) {
    nvgBeginPath(vg);
    nvgRoundedRect(vg, r.x, r.y, r.w, r.h, radius);
    nvgFillColor(vg, fill);
    nvgFill(vg);
}

inline void roundedRect(NVGcontext* vg, const Rect& r, float radius, NVGcolor fill, NVGcolor stroke,
                        float width) {
    nvgBeginPath(vg);
    nvgRoundedRect(vg, r.x, r.y, r.w, r.h, radius);
    nvgFillColor(vg, fill);
    nvgFill(vg);
    nvgStrokeColor(vg, stroke);
    nvgStrokeWidth(vg, width);
    nvgStroke(vg);
}

inline void strokeRoundedRect(NVGcontext* vg, const Rect& r, float radius, NVGcolor stroke, float width) {
    nvgBeginPath(vg);
    nvgRoundedRect(vg, r.x, r.y, r.w, r.h, radius);
    nvgStrokeColor(vg, stroke);
    nvgStrokeWidth(vg, width);
    nvgStroke(vg);
}

inline void line(NVGcontext* vg, float x0, float y0, float x1, float y1, NVGcolor c, float width) {
    nvgBeginPath(vg);
    nvgMoveTo(vg, x0, y0);
    nvgLineTo(vg, x1, y1);
    nvgStrokeColor(vg, c);
    nvgStrokeWidth(vg, width);
    nvgStroke(vg);
}

inline void circle(NVGcontext* vg, float x, float y, float r, NVGcolor fill) {
    nvgBeginPath(vg);
    nvgCircle(vg, x, y, r);
    nvgFillColor(vg, fill);
    nvgFill(vg);
}

// A circle of radius outer filled with a radial gradient from `inner` (colour a) to `outer` (colour b).
inline void radialCircle(NVGcontext* vg, float x, float y, float inner, float outer, NVGcolor a, NVGcolor b) {
    nvgBeginPath(vg);
    nvgCircle(vg, x, y, outer);
    nvgFillPaint(vg, nvgRadialGradient(vg, x, y, inner, outer, a, b));
    nvgFill(vg);
}

// Text in the "sans" face; callers skip it when no font is loaded. Returns the advance (x after the text).
inline float text(NVGcontext* vg, int fontId, float x, float y, float size, NVGcolor c, int align,
                  const char* s) {
    nvgFontFaceId(vg, fontId);
    nvgFontSize(vg, size);
    nvgFillColor(vg, c);
    nvgTextAlign(vg, align);
    return nvgText(vg, x, y, s, nullptr);
}

} // namespace nx::draw
