// Format-neutral plug-in base: parameter (de)serialisation, host presets, stored editor size and the
// editor-to-host calls routed through the adapter's HostLink.
#include "framework/PluginBase.h"

#include <algorithm>
#include <cmath>

namespace nx {

namespace {

uint64_t PackSize(int width, int height) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(width)) << 32) | static_cast<uint32_t>(height);
}

} // namespace

PluginBase::PluginBase(const PluginConfig& config) : mConfig(config) {
    const int n = std::max(0, config.nParams);
    mParams.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) mParams.push_back(std::make_unique<Param>());
    mEditorSize.store(PackSize(config.editorWidth, config.editorHeight), std::memory_order_relaxed);
}

PluginBase::~PluginBase() = default;

Param* PluginBase::AddParam() {
    if (mNextParamToInit < NParams()) return mParams[static_cast<size_t>(mNextParamToInit++)].get();
    mParams.push_back(std::make_unique<Param>());
    mNextParamToInit = NParams();
    return mParams.back().get();
}

bool PluginBase::SerializeParams(ByteChunk& chunk) const {
    for (const auto& param : mParams) {
        const double value = param->Value();
        chunk.Put(&value);
    }
    return true;
}

int PluginBase::UnserializeParams(const ByteChunk& chunk, int startPos) {
    int pos = startPos;
    if (pos >= 0) {
        for (auto& param : mParams) {
            double value = 0.0;
            const int next = chunk.Get(&value, pos);
            if (next < 0) {
                pos = -1;
                break;
            }
            pos = next;
            // A stored NaN or infinity is no value: the parameter keeps what it has.
            if (std::isfinite(value)) param->Set(value);
        }
    } else {
        pos = -1;
    }
    for (int i = 0; i < NParams(); ++i) OnParamChange(i);
    return pos;
}

void PluginBase::GetEditorSize(int& width, int& height) const {
    const uint64_t packed = mEditorSize.load(std::memory_order_relaxed);
    width = static_cast<int>(static_cast<uint32_t>(packed >> 32));
    height = static_cast<int>(static_cast<uint32_t>(packed & 0xFFFFFFFFu));
}

void PluginBase::SetEditorSize(int width, int height) {
    mEditorSize.store(PackSize(width, height), std::memory_order_relaxed);
}

bool PluginBase::EditorResizeFromUI(int width, int height) {
    if (width < 1 || height < 1) return false;
    SetEditorSize(width, height);
    HostLink* link = GetHostLink();
    return link && link->ResizeView(width, height);
}

bool PluginBase::EditorResizeFromUI(int width, int height, bool /*needsPlatformResize*/) {
    return EditorResizeFromUI(width, height);
}

void PluginBase::BeginInformHostOfParamChangeFromUI(int paramIdx) {
    if (!GetParam(paramIdx)) return;
    if (HostLink* link = GetHostLink()) link->BeginEdit(paramIdx);
}

void PluginBase::SendParameterValueFromUI(int paramIdx, double normalized) {
    Param* param = GetParam(paramIdx);
    if (!param) return;
    param->SetNormalized(normalized);
    OnParamChange(paramIdx);
    if (HostLink* link = GetHostLink()) link->PerformEdit(paramIdx, param->GetNormalized());
}

void PluginBase::InformHostOfParamValueFromUI(int paramIdx) {
    const Param* param = GetParam(paramIdx);
    if (!param) return;
    if (HostLink* link = GetHostLink()) link->PerformEdit(paramIdx, param->GetNormalized());
}

void PluginBase::EndInformHostOfParamChangeFromUI(int paramIdx) {
    if (!GetParam(paramIdx)) return;
    if (HostLink* link = GetHostLink()) link->EndEdit(paramIdx);
}

void PluginBase::NotifyAllParamValuesChanged() {
    if (HostLink* link = GetHostLink()) link->ParamValuesChanged();
}

void PluginBase::MakePresetFromNamedParams(const char* name,
                                           std::initializer_list<std::pair<int, double>> named) {
    HostPreset preset;
    preset.name = name ? name : "";
    preset.values.reserve(mParams.size());
    for (const auto& param : mParams) preset.values.push_back(param->Value());
    for (const auto& [idx, value] : named) {
        if (const Param* param = GetParam(idx))
            preset.values[static_cast<size_t>(idx)] = param->Constrain(value);
    }
    mPresets.push_back(std::move(preset));
}

const char* PluginBase::GetPresetName(int idx) const {
    if (idx < 0 || idx >= NPresets()) return "";
    return mPresets[static_cast<size_t>(idx)].name.c_str();
}

bool PluginBase::RestorePreset(int idx) {
    if (idx < 0 || idx >= NPresets()) return false;
    const HostPreset& preset = mPresets[static_cast<size_t>(idx)];
    const int n = std::min(NParams(), static_cast<int>(preset.values.size()));
    for (int i = 0; i < n; ++i) mParams[static_cast<size_t>(i)]->Set(preset.values[static_cast<size_t>(i)]);
    mCurrentPreset.store(idx, std::memory_order_relaxed);
    for (int i = 0; i < NParams(); ++i) OnParamChange(i);
    NotifyAllParamValuesChanged();
    return true;
}

std::recursive_mutex& FactoryMutex() {
    static std::recursive_mutex sFactoryMutex;
    return sFactoryMutex;
}

} // namespace nx
