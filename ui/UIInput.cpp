// Pointer and keyboard input of the editor, on the UI thread: drags of the pad, faders, sliders and
// knobs (each inside a host gesture), buttons, presets, peer mutes, renaming, undo/redo, the advanced
// panel toggle and the resize grip. Handlers hold stateMutex and release it before window-size calls.
#include "ui/NembrixUI.h"

#include "plugin/Nembrix.h"
#include "presets/NembrixPresetMgr.h"

extern "C" {
#include "pugl/pugl.h"
}

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace nx {
namespace {

constexpr int64_t kDoubleClickNs = 350000000;

int roundHalfAway(double v) {
    return static_cast<int>(std::lround(v));
}

bool isPresetRow(int id) {
    return id >= ctl::kPresetRow && id < ctl::kPresetRow + NembrixUI::kMaxPresetRows;
}
bool isKnob(int id) {
    return id >= ctl::kKnob && id < ctl::kKnob + 9;
}

} // namespace

// ---- Parameter changes ----------------------------------------------------------------------------------

void NembrixUI::applyParam(int index, float normalized) {
    if (index < 0 || !plug) return;
    Param* p = plug->GetParam(index);
    if (!p) return;
    const double n = std::clamp(static_cast<double>(normalized), 0.0, 1.0);
    p->Set(p->FromNormalized(n));
    plug->SendParameterValueFromUI(index, n);
}

void NembrixUI::resetParamToDefault(int index) {
    if (index < 0 || !plug) return;
    Param* p = plug->GetParam(index);
    if (!p) return;
    p->SetToDefault();
    plug->SendParameterValueFromUI(index, std::clamp(p->ToNormalized(p->GetDefault()), 0.0, 1.0));
}

void NembrixUI::beginGesture(int index) {
    if (!plug || !plug->GetParam(index)) return;
    for (int& g : gestureParams) {
        if (g == index) return;
        if (g < 0) {
            g = index;
            plug->BeginInformHostOfParamChangeFromUI(index);
            return;
        }
    }
}

void NembrixUI::endGestures() {
    for (int& g : gestureParams) {
        if (g >= 0 && plug) plug->EndInformHostOfParamChangeFromUI(g);
        g = -1;
    }
}

void NembrixUI::applyParamOnce(int index, float normalized) {
    if (!plug || !plug->GetParam(index)) return;
    plug->BeginInformHostOfParamChangeFromUI(index);
    applyParam(index, normalized);
    plug->EndInformHostOfParamChangeFromUI(index);
}

void NembrixUI::resetParamOnce(int index) {
    if (!plug || !plug->GetParam(index)) return;
    plug->BeginInformHostOfParamChangeFromUI(index);
    resetParamToDefault(index);
    plug->EndInformHostOfParamChangeFromUI(index);
}

double NembrixUI::currentNormalized(int index) const {
    const Param* p = plug ? plug->GetParam(index) : nullptr;
    return p ? std::clamp(p->ToNormalized(p->Value()), 0.0, 1.0) : 0.0;
}

void NembrixUI::applyPresetWithGestures(int presetIndex) {
    if (!plug) return;
    // The preset sets many parameters at once; the host hears each change as one complete gesture so
    // that automation in write or touch mode records it. The values are already set: the host is only
    // told them, so the freshly applied preset does not read as modified.
    double before[32];
    const int count = std::min(plug->NParams(), 32);
    for (int i = 0; i < count; ++i) before[i] = plug->GetParam(i)->Value();
    plug->applyPreset(presetIndex);
    for (int i = 0; i < count; ++i) {
        if (plug->GetParam(i)->Value() == before[i]) continue;
        plug->BeginInformHostOfParamChangeFromUI(i);
        plug->InformHostOfParamValueFromUI(i);
        plug->EndInformHostOfParamChangeFromUI(i);
    }
}

// ---- Name editing ---------------------------------------------------------------------------------------

void NembrixUI::beginNameEdit() {
    if (!plug) return;
    nameBuffer = plugInstanceName();
    nameEditing = true;
}

void NembrixUI::commitNameEdit() {
    if (!nameEditing) return;
    if (plug && !nameBuffer.empty()) plug->SetInstanceName(nameBuffer.c_str());
    nameEditing = false;
    nameBuffer.clear();
}

void NembrixUI::cancelNameEdit() {
    nameEditing = false;
    nameBuffer.clear();
}

// ---- Pointer --------------------------------------------------------------------------------------------

void NembrixUI::dragTo(int id, float dx, float dy) {
    if (id == ctl::kPad) {
        float x = std::clamp((dx - L.pad.x) / L.pad.w, 0.0f, 1.0f);
        float y = std::clamp((L.pad.y - dy) / L.pad.h + 1.0f, 0.0f, 1.0f);
        if (snapToGrid) {
            x = static_cast<float>(std::round(x * 8.0f)) / 8.0f;
            y = static_cast<float>(std::round(y * 8.0f)) / 8.0f;
        }
        applyParam(pid::kXYx, x);
        applyParam(pid::kXYy, y);
    } else if (id >= ctl::kFaderFirst && id <= ctl::kFaderLast) {
        const Rect& F = L.faders[id - ctl::kFaderFirst];
        applyParam(id + 1, std::clamp((F.y - dy) / F.h + 1.0f, 0.0f, 1.0f));
    } else if (id >= ctl::kSliderHP && id <= ctl::kSliderWow) {
        static const int kParams[3] = {pid::kHP, pid::kLP, pid::kWow};
        const Rect& R = L.sliders[id - ctl::kSliderHP];
        applyParam(kParams[id - ctl::kSliderHP], std::clamp((dx - R.x) / R.w, 0.0f, 1.0f));
    }
}

void NembrixUI::onMotion(void* v, float x, float y, float xRoot) {
    float dx, dy;
    mouseToDesign(x, y, dx, dy);
    std::unique_lock<std::mutex> lock(stateMutex);
    const int id = activeId;
    if (id == ctl::kPad || (id >= ctl::kFaderFirst && id <= ctl::kSliderWow)) {
        dragTo(id, dx, dy);
    } else if (isKnob(id)) {
        const int k = id - ctl::kKnob;
        float d = knobDragStartY - dy;
        if (L.knobs[k].h > 1.0f) d /= L.knobs[k].h;
        applyParam(pid::kCharacter + k, std::clamp(knobDragStartNorm + d, 0.0f, 1.0f));
    } else if (id == ctl::kGrip) {
        const float Hd = designHeight();
        const float dxr = xRoot - resizeStartX;
        const int w = std::clamp(roundHalfAway(resizeStartW + dxr), 640, 3840);
        const int h = std::clamp(roundHalfAway(resizeStartH + dxr * Hd / 960.0f), 420, 3200);
        const bool tellHost = std::abs(w - resizeSentW) >= 6 || std::abs(h - resizeSentH) >= 6;
        if (tellHost) {
            resizeSentW = w;
            resizeSentH = h;
        }
        lock.unlock();
        if ((w != windowW || h != windowH) && v) puglSetSize(static_cast<PuglView*>(v), w, h);
        if (tellHost && plug) plug->EditorResizeFromUI(w, h);
    } else {
        hoverId = hitTest(dx, dy);
    }
}

void NembrixUI::onButtonRelease(void* v) {
    std::unique_lock<std::mutex> lock(stateMutex);
    const int released = activeId;
    activeId = -1;
    endGestures();
    if (released != ctl::kGrip) return;
    const float Hd = designHeight();
    const int w0 = std::clamp(windowW, 100, 4000);
    const int h = std::clamp(roundHalfAway(w0 * Hd / 960.0f), 420, 3200);
    const int w = std::clamp(windowW, 640, 3840);
    lock.unlock();
    if ((w != windowW || h != windowH) && v) puglSetSize(static_cast<PuglView*>(v), w, h);
    if (plug) plug->EditorResizeFromUI(w, h);
}

void NembrixUI::closeSaveDialog() {
    saveDialogOpen = false;
    saveName.clear();
}

void NembrixUI::openSaveDialog(void* v) {
    presetMenuOpen = peerListOpen = rootListOpen = false;
    std::string name = "Init";
    bool copy = true;
    if (auto* mgr = plug->presetMgr.get()) {
        std::lock_guard<std::recursive_mutex> lock(mgr->mutex);
        const int c = mgr->currentIndex;
        if (c >= 0 && c < static_cast<int>(mgr->presets.size())) {
            name = mgr->presets[c].name;
            copy = mgr->presets[c].isFactory;
        }
    }
    saveName = copy ? name + " (copy)" : name;
    saveDialogOpen = true;
    const float dy = (designHeight() - 120) / 2;
    dialogRects = {
        {320, dy, 320, 120}, {332, dy + 32, 296, 28}, {460, dy + 82, 80, 26}, {548, dy + 82, 80, 26}};
    if (v) puglGrabFocus(static_cast<PuglView*>(v));
}

bool NembrixUI::deletePresetRow(int row) {
    NembrixPresetMgr* mgr = plug ? plug->presetMgr.get() : nullptr;
    if (!mgr) return false;
    std::lock_guard<std::recursive_mutex> lock(mgr->mutex);
    const int idx = presetRows.presetIndex[row];
    if (idx < 0 || idx >= static_cast<int>(mgr->presets.size()) || mgr->presets[idx].isFactory) return false;
    // Removes the file the preset was read from (never another preset's file that its display name
    // happens to map to), rescans, and keeps the modified flag unless the current preset went away.
    return mgr->DeleteUserPreset(idx);
}

void NembrixUI::toggleMute(uint64_t peerId) {
    if (!plug || peerId == 0 || !plug->shm.isConnected()) return;
    auto& muted = plug->mutedPeerIds;
    for (auto& e : muted) {
        if (e.load(std::memory_order_relaxed) == peerId) {
            e.store(0, std::memory_order_relaxed);
            return;
        }
    }
    auto storeInFree = [&] {
        for (auto& e : muted) {
            if (e.load(std::memory_order_relaxed) == 0) {
                e.store(peerId, std::memory_order_relaxed);
                return true;
            }
        }
        return false;
    };
    if (storeInFree()) return;
    // Every entry is in use: forget mutes of peers that are gone, then try again.
    PeerEntry present[kMaxPeerRows];
    const int n = gatherPeers(present, kMaxPeerRows);
    for (auto& e : muted) {
        const uint64_t id = e.load(std::memory_order_relaxed);
        bool live = false;
        for (int i = 0; i < n && !live; ++i) live = present[i].id == id;
        if (!live) e.store(0, std::memory_order_relaxed);
    }
    storeInFree();
}

void NembrixUI::toggleAdvancedPanel(std::unique_lock<std::mutex>& lock) {
    const bool opening = !advancedOpen;
    advancedOpen = opening;
    plug->advancedPanelOpen.store(opening);
    panelAnimStart = panelAnim;
    panelTarget = opening ? 1.0f : 0.0f;
    panelAnimT0 = nowNs();
    computeLayout();
    const double s = windowH < 1 ? 1.0 : windowH / (opening ? 622.0 : 762.0);
    const int newH = roundHalfAway((opening ? 762.0 : 622.0) * s);
    const int newW = windowW >= 1 ? windowW : roundHalfAway(960.0 * s);
    lastClickId = ctl::kAdvToggle;
    lastClickTime = nowNs();
    lock.unlock();
    requestResize(newW, newH);
    plug->EditorResizeFromUI(newW, newH);
}

void NembrixUI::onButtonPress(void* v, float x, float y, float xRoot, float yRoot) {
    float dx, dy;
    mouseToDesign(x, y, dx, dy);
    std::unique_lock<std::mutex> lock(stateMutex);
    const int id = hitTest(dx, dy);
    const int64_t now = nowNs();
    auto finish = [&] {
        activeId = -1;
        lastClickId = id;
        lastClickTime = now;
    };

    if (plug && ((id >= ctl::kPad && id <= ctl::kMode) || id == ctl::kBypass || id == ctl::kPrevPreset ||
                 id == ctl::kNextPreset || isKnob(id) || isPresetRow(id)))
        plug->pushUndoSnapshot();

    if (nameEditing && id != ctl::kName) commitNameEdit();

    if (saveDialogOpen) {
        if (id == ctl::kDialogSave) {
            if (!saveName.empty() && plug) plug->savePresetAs(saveName.c_str());
            closeSaveDialog();
        } else if (id == ctl::kDialogCancel) {
            closeSaveDialog();
        } else if (id == ctl::kDialogName) {
            if (v) puglGrabFocus(static_cast<PuglView*>(v));
        } else {
            closeSaveDialog();
        }
        activeId = -1;
        return;
    }

    if (id == ctl::kName && !nameEditing) {
        peerListOpen = false;
        beginNameEdit();
        return finish();
    }
    if (id == ctl::kBypass) {
        applyParamOnce(pid::kBypass, paramValue(pid::kBypass) == 0.0 ? 1.0f : 0.0f);
        return finish();
    }
    if (id == ctl::kLogo) {
        studioMode = !studioMode;
        return finish();
    }
    if (id == ctl::kSnap) {
        snapToGrid = !snapToGrid;
        return finish();
    }
    if ((id == ctl::kPrevPreset || id == ctl::kNextPreset) && plug) {
        int n = 0, c = 0;
        if (auto* mgr = plug->presetMgr.get()) {
            std::lock_guard<std::recursive_mutex> mgrLock(mgr->mutex);
            n = static_cast<int>(mgr->presets.size());
            c = mgr->currentIndex;
        }
        if (n > 0) {
            const int target = id == ctl::kPrevPreset ? ((c - 1) % n + n) % n : ((c + 1) % n + n) % n;
            applyPresetWithGestures(target);
        }
        return finish();
    }
    if (id == ctl::kPresetBox) {
        presetMenuOpen = !presetMenuOpen;
        peerListOpen = false;
        return finish();
    }
    if (id == ctl::kSave && plug) {
        openSaveDialog(v);
        return finish();
    }
    if (presetMenuOpen) {
        if (id >= ctl::kPresetDelete && id < ctl::kPresetDelete + kMaxPresetRows) {
            const int row = id - ctl::kPresetDelete;
            // After a delete the rows move: none can be hit until the next frame has drawn them again.
            if (row < presetRows.count && deletePresetRow(row)) presetRows.count = 0;
            return finish();
        }
        if (isPresetRow(id)) {
            const int row = id - ctl::kPresetRow;
            if (row < presetRows.count) applyPresetWithGestures(presetRows.presetIndex[row]);
            presetMenuOpen = false;
            return finish();
        }
        presetMenuOpen = false;
    }
    if (id == ctl::kRootBox) {
        rootListOpen = !rootListOpen;
        presetMenuOpen = peerListOpen = false;
        return finish();
    }
    if (rootListOpen) {
        if (id >= ctl::kRootRow && id < ctl::kRootRow + kMaxRootRows) {
            const int row = id - ctl::kRootRow;
            if (row < rootRows.count && plug) {
                plug->pushUndoSnapshot();
                const Param* root = plug->GetParam(pid::kRootNote);
                if (root)
                    applyParamOnce(pid::kRootNote,
                                   static_cast<float>(root->ToNormalized(rootRows.note[row])));
            }
            rootListOpen = false;
            return finish();
        }
        rootListOpen = false;
    }
    if (id == ctl::kAdvToggle && plug) {
        toggleAdvancedPanel(lock);
        return;
    }
    if (id == ctl::kGrip) {
        activeId = ctl::kGrip;
        resizeStartX = xRoot;
        resizeStartY = yRoot;
        resizeStartW = resizeSentW = windowW;
        resizeStartH = resizeSentH = windowH;
        lastClickId = id;
        lastClickTime = now;
        return;
    }
    if (id == ctl::kPeersPill) {
        peerListOpen = !peerListOpen;
        activeId = -1;
        return;
    }
    if (peerListOpen) {
        if (id >= ctl::kPeerRow && id < ctl::kPeerRow + kMaxPeerRows) {
            const int row = id - ctl::kPeerRow;
            if (row < peerRows.count) toggleMute(peerRows.ids[row]);
            return finish();
        }
        peerListOpen = false;
    }

    const bool doubleClick = id == lastClickId && now - lastClickTime < kDoubleClickNs;
    lastClickId = id;
    lastClickTime = now;
    if (doubleClick) {
        activeId = -1;
        if (id == ctl::kPad) {
            resetParamOnce(pid::kXYx);
            resetParamOnce(pid::kXYy);
        } else if (id >= ctl::kFaderFirst && id <= ctl::kFaderLast) {
            resetParamOnce(id + 1);
        } else if (id >= ctl::kSliderHP && id <= ctl::kSliderWow) {
            static const int kParams[3] = {pid::kHP, pid::kLP, pid::kWow};
            resetParamOnce(kParams[id - ctl::kSliderHP]);
        } else if (isKnob(id) && plug) {
            plug->setAdvOverride(id - ctl::kKnob, false);
            resetParamOnce(pid::kCharacter + id - ctl::kKnob);
        }
        return;
    }
    if (id == ctl::kNone) {
        activeId = -1;
        return;
    }
    if (isKnob(id)) {
        const int k = id - ctl::kKnob;
        if (plug) plug->setAdvOverride(k, true);
        knobDragStartY = dy;
        knobDragStartNorm = static_cast<float>(currentNormalized(pid::kCharacter + k));
        activeId = id;
        beginGesture(pid::kCharacter + k);
        return;
    }
    activeId = id;
    if (id == ctl::kPad) {
        beginGesture(pid::kXYx);
        beginGesture(pid::kXYy);
        dragTo(id, dx, dy);
    } else if (id >= ctl::kFaderFirst && id <= ctl::kFaderLast) {
        beginGesture(id + 1);
        dragTo(id, dx, dy);
    } else if (id >= ctl::kSliderHP && id <= ctl::kSliderWow) {
        static const int kParams[3] = {pid::kHP, pid::kLP, pid::kWow};
        beginGesture(kParams[id - ctl::kSliderHP]);
        dragTo(id, dx, dy);
    } else if (id == ctl::kMode) {
        applyParamOnce(pid::kMode, paramValue(pid::kMode) == 0.0 ? 1.0f : 0.0f);
        activeId = -1;
    }
}

// ---- Keyboard -------------------------------------------------------------------------------------------

void NembrixUI::onKeyPress(uint32_t key, uint32_t mods) {
    std::lock_guard<std::mutex> lock(stateMutex);
    const bool enter = key == '\r' || key == '\n';
    if (nameEditing) {
        if (key == PUGL_KEY_ESCAPE)
            cancelNameEdit();
        else if (enter)
            commitNameEdit();
        else if (key == PUGL_KEY_BACKSPACE && !nameBuffer.empty())
            nameBuffer.pop_back();
        return;
    }
    if (saveDialogOpen) {
        if (key == PUGL_KEY_ESCAPE) {
            closeSaveDialog();
        } else if (enter) {
            if (!saveName.empty()) {
                if (plug) plug->savePresetAs(saveName.c_str());
                closeSaveDialog();
            }
        } else if (key == PUGL_KEY_BACKSPACE && !saveName.empty()) {
            saveName.pop_back();
        }
        return;
    }
    if (!(mods & PUGL_MOD_CTRL) || !plug) return;
    const bool shift = (mods & PUGL_MOD_SHIFT) != 0;
    if (key == 'z' || key == 'Z') {
        if (shift)
            plug->redo();
        else
            plug->undo();
    } else if (key == 'y' || key == 'Y') {
        if (shift)
            plug->undo();
        else
            plug->redo();
    }
}

void NembrixUI::onText(uint32_t codepoint) {
    if (codepoint < 32 || codepoint > 126) return;
    std::lock_guard<std::mutex> lock(stateMutex);
    if (nameEditing) {
        if (nameBuffer.size() < 40) nameBuffer.push_back(static_cast<char>(codepoint));
    } else if (saveDialogOpen) {
        if (saveName.size() < 40) saveName.push_back(static_cast<char>(codepoint));
    }
}

} // namespace nx
