// The state chunk: magic, version, instance name, editor size, override mask, advanced-panel flag and the
// 23 parameter values. Writes version 4; reads versions 0 to 4 (later ones as 4) and bare parameter
// chunks. Host threads.
#include "plugin/Nembrix.h"

#include <cstring>

namespace nx {
namespace {

constexpr uint32_t kChunkMagic = 0x4E584B50u; // 'NXKP'
constexpr uint32_t kChunkVersion = 4;
constexpr int kMinEditorSide = 100;
constexpr int kMaxEditorSide = 4000;

// Offsets from the start of a chunk.
constexpr int kVersionEnd = 8;     // magic + version; versions 0 and 1 keep their parameters here
constexpr int kNameEnd = 72;       // version 2 parameters
constexpr int kEditorSizeEnd = 80; // version 3 parameters
constexpr int kMaskEnd = 84;
constexpr int kPanelEnd = 85; // version 4 parameters

int clampSide(int v) {
    return v < kMinEditorSide ? kMinEditorSide : (v > kMaxEditorSide ? kMaxEditorSide : v);
}
bool sideInRange(int32_t v) {
    return v >= kMinEditorSide && v <= kMaxEditorSide;
}

} // namespace

bool Nembrix::SerializeState(ByteChunk& chunk) const {
    const uint32_t magic = kChunkMagic;
    const uint32_t version = kChunkVersion;
    chunk.Put(&magic);
    chunk.Put(&version);
    {
        std::lock_guard<std::mutex> lock(nameMutex);
        chunk.PutBytes(instanceName, kNameBytes);
    }
    int width = 0, height = 0;
    GetEditorSize(width, height);
    const int32_t storedWidth = clampSide(width);
    const int32_t storedHeight = clampSide(height);
    chunk.Put(&storedWidth);
    chunk.Put(&storedHeight);
    const uint32_t mask = advOverrideMask.load(std::memory_order_relaxed);
    chunk.Put(&mask);
    const uint8_t panel = advancedPanelOpen.load(std::memory_order_relaxed) ? 1 : 0;
    chunk.Put(&panel);
    return SerializeParams(chunk);
}

int Nembrix::UnserializeState(const ByteChunk& chunk, int startPos) {
    const int end = UnserializeParams(chunk, readChunkHeader(chunk, startPos));
    pushAllParamsToEngine();
    return end;
}

int Nembrix::readChunkHeader(const ByteChunk& chunk, int startPos) {
    uint32_t magic = 0;
    if (startPos < 0 || chunk.Get(&magic, startPos) < 0 || magic != kChunkMagic)
        return startPos; // bare values

    auto available = [&](int n) { return chunk.Available(n, startPos); };
    auto clearPanelState = [this] {
        advOverrideMask.store(0, std::memory_order_relaxed);
        advancedPanelOpen.store(false, std::memory_order_relaxed);
    };

    uint32_t version = 0;
    if (chunk.Get(&version, startPos + 4) < 0) return -1;
    if (version <= 1) return startPos + kVersionEnd;

    if (!available(kNameEnd)) {
        {
            std::lock_guard<std::mutex> lock(nameMutex);
            instanceName[kNameBytes - 1] = '\0';
        }
        if (version >= 4) clearPanelState();
        return -1;
    }
    {
        std::lock_guard<std::mutex> lock(nameMutex);
        std::memcpy(instanceName, chunk.GetData() + startPos + kVersionEnd, kNameBytes - 1);
        instanceName[kNameBytes - 1] = '\0';
    }
    if (version == 2) return startPos + kNameEnd;

    if (!available(kEditorSizeEnd)) {
        if (version >= 4) clearPanelState();
        return -1;
    }
    int32_t width = 0, height = 0;
    chunk.Get(&width, startPos + kNameEnd);
    chunk.Get(&height, startPos + kNameEnd + 4);
    if (sideInRange(width) && sideInRange(height)) SetEditorSize(width, height);
    if (version == 3) return startPos + kEditorSizeEnd;

    if (!available(kMaskEnd)) {
        clearPanelState();
        return -1;
    }
    uint32_t mask = 0;
    chunk.Get(&mask, startPos + kEditorSizeEnd);
    mask &= kAdvancedOverrideBits;
    uint8_t panel = 0;
    if (chunk.Get(&panel, startPos + kMaskEnd) < 0) {
        advOverrideMask.store(mask, std::memory_order_relaxed);
        advancedPanelOpen.store(false, std::memory_order_relaxed);
        return -1;
    }
    advOverrideMask.store(mask, std::memory_order_relaxed);
    advancedPanelOpen.store(panel != 0, std::memory_order_relaxed);
    return startPos + kPanelEnd;
}

void Nembrix::OnRestoreState() {
    PluginBase::OnRestoreState();
    SetHostBypassed(false);
}

} // namespace nx
