// Corner tables and the weighted blend of the XY morph. Audio thread (compute) and any reader of the
// constant tables.
#include "dsp/XYMorph.h"

#include <cmath>

namespace nx {
namespace {

// Field order: harmonicLevelDb, rhythmicLevelDb, washLevelDb, returnLevelDb, hpHz, lpHz, character,
// saturation, darkness, ducking, stereoWidth, predelayMs, washLpHz, freeze, freezeTonality, freezePeaks,
// grainLpHz, grainEchoes, grainEchoDecay.
constexpr AnchorParams kWhisper{6.0f, -18.0f, 0.0f,    -3.0f, 300.0f, 12000.0f, 0.3f,    0.0f, 0.0f, 0.0f,
                                0.8f, 0.0f,   7000.0f, 0.0f,  5.0f,   16,       7000.0f, 3,    0.55f};
constexpr AnchorParams kBrutal{-18.0f, 3.0f, -12.0f,  -3.0f, 200.0f, 7000.0f, 1.0f,    0.75f, 0.0f, 0.0f,
                               0.6f,   0.0f, 6000.0f, 0.5f,  8.0f,   7,       3000.0f, 3,     0.55f};
constexpr AnchorParams kAbyss{-3.0f, -18.0f, 3.0f,    -3.0f, 100.0f, 5500.0f, 0.55f,   0.0f, 0.7f, 0.55f,
                              2.0f,  250.0f, 3000.0f, 0.45f, 5.0f,   16,      7000.0f, 3,    0.55f};
constexpr AnchorParams kMonolith{0.0f, 0.0f,   3.0f,    -3.0f, 60.0f, 7000.0f, 0.85f,   0.3f, 0.7f, 0.5f,
                                 0.6f, 400.0f, 4500.0f, 0.6f,  5.0f,  16,      7000.0f, 3,    0.55f};

// Below this summed weight the blend is numerically meaningless (very large sharpness).
constexpr float kMinWeightSum = 1e-12f;
// A blended amplitude below this maps to the "silent" level.
constexpr float kMinAmplitude = 1e-6f;
constexpr float kSilentDb = -1000.0f;

float clamp01(float v) noexcept {
    if (!(v > 0.0f)) return 0.0f; // also NaN
    return v < 1.0f ? v : 1.0f;
}

float dbToAmp(float db) noexcept {
    return std::pow(10.0f, db / 20.0f);
}

// The corners' four levels as linear amplitudes, [level field][corner], computed once at load time so that
// compute() needs only the four weights' powers.
struct CornerAmplitudes {
    float v[4][4];
};
CornerAmplitudes makeCornerAmplitudes() noexcept {
    CornerAmplitudes c{};
    const AnchorParams* corners[4] = {&kWhisper, &kBrutal, &kAbyss, &kMonolith};
    for (int k = 0; k < 4; ++k) {
        c.v[0][k] = dbToAmp(corners[k]->harmonicLevelDb);
        c.v[1][k] = dbToAmp(corners[k]->rhythmicLevelDb);
        c.v[2][k] = dbToAmp(corners[k]->washLevelDb);
        c.v[3][k] = dbToAmp(corners[k]->returnLevelDb);
    }
    return c;
}
const CornerAmplitudes kCornerAmplitudes = makeCornerAmplitudes();

float blendLevelDb(const float w[4], int field) noexcept {
    const float* a = kCornerAmplitudes.v[field];
    const float amp = w[0] * a[0] + w[1] * a[1] + w[2] * a[2] + w[3] * a[3];
    return amp < kMinAmplitude ? kSilentDb : 20.0f * std::log10(amp);
}

float blend(const float w[4], float a, float b, float c, float d) noexcept {
    return w[0] * a + w[1] * b + w[2] * c + w[3] * d;
}

int32_t blendCount(const float w[4], int32_t a, int32_t b, int32_t c, int32_t d) noexcept {
    const float v =
        blend(w, static_cast<float>(a), static_cast<float>(b), static_cast<float>(c), static_cast<float>(d));
    const long r = std::lround(v); // halves away from zero
    return r < 0 ? 0 : static_cast<int32_t>(r);
}

} // namespace

const AnchorParams& XYMorph::whisper() noexcept {
    return kWhisper;
}
const AnchorParams& XYMorph::brutal() noexcept {
    return kBrutal;
}
const AnchorParams& XYMorph::abyss() noexcept {
    return kAbyss;
}
const AnchorParams& XYMorph::monolith() noexcept {
    return kMonolith;
}

AnchorParams XYMorph::compute(float x, float y, float sharpness) noexcept {
    x = clamp01(x);
    y = clamp01(y);
    const float s = sharpness > 0.1f ? sharpness : 0.1f; // NaN counts as the minimum too

    float w[4] = {std::pow((1.0f - x) * (1.0f - y), s), std::pow(x * (1.0f - y), s),
                  std::pow((1.0f - x) * y, s), std::pow(x * y, s)};
    const float sum = w[0] + w[1] + w[2] + w[3];
    if (!(sum >= kMinWeightSum)) {
        if (y < 0.5f) return x < 0.5f ? kWhisper : kBrutal;
        return x < 0.5f ? kAbyss : kMonolith;
    }
    const float inv = 1.0f / sum;
    for (float& v : w) v *= inv;

    const AnchorParams& A = kWhisper;
    const AnchorParams& B = kBrutal;
    const AnchorParams& C = kAbyss;
    const AnchorParams& D = kMonolith;
    AnchorParams r;
    r.harmonicLevelDb = blendLevelDb(w, 0);
    r.rhythmicLevelDb = blendLevelDb(w, 1);
    r.washLevelDb = blendLevelDb(w, 2);
    r.returnLevelDb = blendLevelDb(w, 3);
    r.hpHz = blend(w, A.hpHz, B.hpHz, C.hpHz, D.hpHz);
    r.lpHz = blend(w, A.lpHz, B.lpHz, C.lpHz, D.lpHz);
    r.character = blend(w, A.character, B.character, C.character, D.character);
    r.saturation = blend(w, A.saturation, B.saturation, C.saturation, D.saturation);
    r.darkness = blend(w, A.darkness, B.darkness, C.darkness, D.darkness);
    r.ducking = blend(w, A.ducking, B.ducking, C.ducking, D.ducking);
    r.stereoWidth = blend(w, A.stereoWidth, B.stereoWidth, C.stereoWidth, D.stereoWidth);
    r.predelayMs = blend(w, A.predelayMs, B.predelayMs, C.predelayMs, D.predelayMs);
    r.washLpHz = blend(w, A.washLpHz, B.washLpHz, C.washLpHz, D.washLpHz);
    r.freeze = blend(w, A.freeze, B.freeze, C.freeze, D.freeze);
    r.freezeTonality = blend(w, A.freezeTonality, B.freezeTonality, C.freezeTonality, D.freezeTonality);
    r.freezePeaks = blendCount(w, A.freezePeaks, B.freezePeaks, C.freezePeaks, D.freezePeaks);
    r.grainLpHz = blend(w, A.grainLpHz, B.grainLpHz, C.grainLpHz, D.grainLpHz);
    r.grainEchoes = blendCount(w, A.grainEchoes, B.grainEchoes, C.grainEchoes, D.grainEchoes);
    r.grainEchoDecay = blend(w, A.grainEchoDecay, B.grainEchoDecay, C.grainEchoDecay, D.grainEchoDecay);
    return r;
}

} // namespace nx
