// The audio exchange through the registry: publishing the own dry mono into the own slot's ring and
// gathering the heard peers' most recent audio. Audio thread only: no lock, no allocation, and one
// time() per call. Everything read from other slots is untrusted.
#include "peerlink/NembrixSHM.h"

#include "peerlink/SlotAccess.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace nx {

namespace {

// A peer sample beyond +-64 (about +36 dBFS) is no audio any instance publishes; clamping keeps a
// corrupt slot from driving the sum towards infinity. Non-finite samples count as 0.
constexpr float kPeerSampleLimit = 64.0f;

// A slot whose writePos has not moved while the reader gathered more than this many of its own samples
// has stalled; its last block is not repeated.
constexpr uint32_t kStallSamples = kRingSamples;

inline float sanitizePeerSample(float v) {
    if (std::fabs(v) <= kPeerSampleLimit) return v;
    return std::isfinite(v) ? std::copysign(kPeerSampleLimit, v) : 0.0f;
}

} // namespace

void NembrixSHM::publish(const float* mono, int n) {
    PeerSlot* s = ownSlot(liveBinding());
    if (!s) return;
    if (mono && n > 0) {
        const uint32_t p = relaxedLoad(s->writePos);
        // Only the last kRingSamples samples of a longer block can survive in the ring.
        const int first = n > kRingSamples ? n - kRingSamples : 0;
        for (int k = first; k < n; ++k) relaxedStore(s->ring[(p + uint32_t(k)) & kRingMask], mono[k]);
        relaxedStore(s->writePos, p + uint32_t(n));
    }
    relaxedStore(s->heartbeat, int64_t(std::time(nullptr)));
}

void NembrixSHM::gather(float* peerSum, int n, int linkSlot, uint64_t linkedPeerId,
                        const std::atomic<uint64_t>* mutedPeerIds) {
    if (!peerSum || n <= 0) return;
    const Binding* b = liveBinding();
    if (!b) return;
    const uint32_t m = uint32_t(std::min(n, kRingSamples));
    const int64_t now = int64_t(std::time(nullptr));
    const bool linked = linkSlot != 0;
    const uint64_t target = linked ? linkedPeerId : 0;

    uint64_t muted[kRegistrySlots] = {};
    if (mutedPeerIds && !linked)
        for (int j = 0; j < kRegistrySlots; ++j) muted[j] = mutedPeerIds[j].load(std::memory_order_relaxed);

    for (int i = 0; i < kRegistrySlots; ++i) {
        if (i == b->slot) continue;
        PeerSlot* s = registrySlot(b->base, i);
        if (relaxedLoad(s->state) == 0) continue;
        const uint64_t id = relaxedLoad(s->instanceId);
        if (id == 0 || id == b->id) continue;
        // Live while heartbeat >= now - 10; the untrusted value is never subtracted from.
        if (relaxedLoad(s->heartbeat) < now - kStaleSeconds) continue;
        const uint32_t w = relaxedLoad(s->writePos);

        // Stall memory, kept for every live slot whether heard or not, so that unmuting a stalled peer
        // does not replay it.
        if (id != stallId[i] || w != stallPos[i]) {
            stallId[i] = id;
            stallPos[i] = w;
            stallIdle[i] = 0;
        }
        const bool stalled = stallIdle[i] > kStallSamples;
        stallIdle[i] = std::min<uint32_t>(stallIdle[i], 0x40000000u) + uint32_t(n);
        if (stalled) continue;

        if (linked) {
            if (id != target) continue;
        } else if (std::find(muted, muted + kRegistrySlots, id) != muted + kRegistrySlots) {
            continue;
        }
        const uint32_t start = w - m;
        for (uint32_t k = 0; k < m; ++k)
            peerSum[k] += sanitizePeerSample(relaxedLoad(s->ring[(start + k) & kRingMask]));
    }
}

} // namespace nx
