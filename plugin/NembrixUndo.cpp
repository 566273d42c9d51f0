// Nembrix's undo history: two bounded stacks of whole-state snapshots (every parameter value and the
// override mask). Editor's UI thread. undoMutex guards the stacks only and is never held while a
// snapshot is applied, so applying (engine, preset store, host notification) cannot deadlock with it.
#include "plugin/Nembrix.h"

#include "presets/NembrixPresetMgr.h"

#include <algorithm>
#include <utility>

namespace nx {

namespace {

// Appends s (moved) as the newest entry and drops the oldest beyond the bound.
void pushBounded(std::deque<Nembrix::UndoSnapshot>& stack, Nembrix::UndoSnapshot&& s) {
    stack.push_back(std::move(s));
    while (stack.size() > Nembrix::kMaxUndoSteps) stack.pop_front();
}

} // namespace

Nembrix::UndoSnapshot Nembrix::captureSnapshot() const {
    UndoSnapshot s;
    s.values.resize(size_t(NParams()));
    for (int i = 0; i < NParams(); ++i) s.values[size_t(i)] = GetParam(i)->Value();
    s.overrideMask = advOverrideMask.load(std::memory_order_relaxed);
    return s;
}

void Nembrix::applyUndoSnapshot(const UndoSnapshot& s) {
    const int n = std::min(static_cast<int>(s.values.size()), NParams());
    for (int i = 0; i < n; ++i)
        if (Param* param = GetParam(i)) param->Set(s.values[size_t(i)]);
    advOverrideMask.store(s.overrideMask & kAdvancedOverrideBits, std::memory_order_relaxed);
    pushAllParamsToEngine();
    // The editor side and the host re-read every value.
    NotifyAllParamValuesChanged();
    if (presetMgr) presetMgr->modified.store(true);
}

void Nembrix::pushUndoSnapshot() {
    UndoSnapshot s = captureSnapshot();
    std::lock_guard<std::mutex> lock(undoMutex);
    pushBounded(undoStack, std::move(s));
    redoStack.clear();
}

void Nembrix::undo() {
    UndoSnapshot target;
    {
        std::lock_guard<std::mutex> lock(undoMutex);
        if (undoStack.empty()) return;
        pushBounded(redoStack, captureSnapshot());
        target = std::move(undoStack.back());
        undoStack.pop_back();
    }
    applyUndoSnapshot(target);
}

void Nembrix::redo() {
    UndoSnapshot target;
    {
        std::lock_guard<std::mutex> lock(undoMutex);
        if (redoStack.empty()) return;
        pushBounded(undoStack, captureSnapshot());
        target = std::move(redoStack.back());
        redoStack.pop_back();
    }
    applyUndoSnapshot(target);
}

bool Nembrix::canUndo() const {
    std::lock_guard<std::mutex> lock(undoMutex);
    return !undoStack.empty();
}

bool Nembrix::canRedo() const {
    std::lock_guard<std::mutex> lock(undoMutex);
    return !redoStack.empty();
}

} // namespace nx
