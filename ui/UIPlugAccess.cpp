// What the editor reads from the plug-in each frame: parameter values, the instance name, the preset
// label, the registry's other instances. Each read is safe while no plug-in is attached. UI thread.
#include "ui/NembrixUI.h"

#include "plugin/Nembrix.h"
#include "presets/NembrixPresetMgr.h"

#include <algorithm>
#include <cstring>

namespace nx {

double NembrixUI::paramValue(int id) const {
    const Param* p = plug ? plug->GetParam(id) : nullptr;
    return p ? p->Value() : 0.0;
}

double NembrixUI::paramNormalized(int id, double value) const {
    const Param* p = plug ? plug->GetParam(id) : nullptr;
    if (!p) return 0.0;
    const double range = p->GetMax() - p->GetMin();
    if (!(range > 0.0)) return 0.0;
    return (std::clamp(value, p->GetMin(), p->GetMax()) - p->GetMin()) / range;
}

std::string NembrixUI::plugInstanceName() const {
    if (!plug) return {};
    char name[Nembrix::kNameBytes] = {};
    plug->getInstanceName(name, sizeof name);
    return name;
}

NembrixUI::PresetLabel NembrixUI::currentPresetLabel() const {
    PresetLabel label{"Init", false};
    NembrixPresetMgr* mgr = plug ? plug->presetMgr.get() : nullptr;
    if (!mgr) return label;
    {
        std::lock_guard<std::recursive_mutex> lock(mgr->mutex);
        const int c = mgr->currentIndex;
        if (c >= 0 && c < static_cast<int>(mgr->presets.size())) {
            label.text = mgr->presets[c].name;
            label.isUser = !mgr->presets[c].isFactory;
        }
    }
    if (mgr->modified.load()) label.text += " *";
    if (label.text.size() > 95) label.text.resize(95);
    return label;
}

int NembrixUI::gatherPeers(PeerEntry* out, int max) const {
    if (!plug || !plug->shm.isConnected()) return 0;
    NembrixSHM::PeerInfo peers[kMaxPeerRows];
    const int n = std::min({plug->shm.listPeers(peers, kMaxPeerRows), kMaxPeerRows, max});
    for (int i = 0; i < n; ++i) {
        PeerEntry& e = out[i];
        e.slot = peers[i].slot;
        e.id = peers[i].instanceId;
        std::memcpy(e.name, peers[i].name, sizeof e.name);
        e.name[sizeof e.name - 1] = '\0';
        e.muted = false;
        for (const auto& m : plug->mutedPeerIds)
            if (m.load(std::memory_order_relaxed) == e.id) e.muted = true;
    }
    return n;
}

int NembrixUI::countPeers() const {
    if (!plug || !plug->shm.isConnected()) return 0;
    return std::min(plug->shm.listPeers(nullptr, 0), kMaxPeerRows);
}

} // namespace nx
