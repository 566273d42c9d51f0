// nembrix-demo-material: synthesises the demo's two tracks, a plucked melody and a drum loop, as WAV
// files (44.1 kHz stereo float, 120 BPM, 4 bars). Deterministic: the same files every run.
#include "tools/render/AudioFile.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr double kRate = 44100.0;
constexpr double kBpm = 120.0;
constexpr double kBeat = 60.0 / kBpm;
constexpr int kBars = 4;
constexpr double kPi = 3.14159265358979323846;

struct Noise {
    uint32_t s = 0x1234567u;
    float next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return float(double(s) / 2147483648.0 - 1.0);
    }
};

// Karplus-Strong pluck added into out from start.
void pluck(std::vector<float>& out, size_t start, double freqHz, double seconds, float gain, Noise& noise) {
    const size_t period = size_t(std::max(2.0, std::round(kRate / freqHz)));
    std::vector<float> line(period);
    for (auto& v : line) v = noise.next();
    const size_t len = size_t(seconds * kRate);
    float prev = 0.0f;
    for (size_t k = 0; k < len && start + k < out.size(); ++k) {
        const size_t i = k % period;
        const float cur = line[i];
        const float next = 0.996f * 0.5f * (cur + prev);
        prev = cur;
        line[i] = next;
        out[start + k] += gain * cur;
    }
}

std::vector<float> melody(size_t frames) {
    // A minor pentatonic phrase in eighth notes (MIDI numbers; 0 = rest), one per eighth note.
    static const int kNotes[] = {57, 60, 64, 67, 69, 67, 64, 60, 62, 64, 67, 0,  69, 72, 69, 67,
                                 64, 67, 69, 72, 74, 72, 69, 0,  67, 64, 62, 60, 57, 60, 57, 0};
    std::vector<float> out(frames, 0.0f);
    Noise noise;
    const double eighth = kBeat / 2.0;
    const size_t count = sizeof kNotes / sizeof kNotes[0];
    for (size_t i = 0; i < count; ++i) {
        if (!kNotes[i]) continue;
        const double f = 440.0 * std::pow(2.0, (kNotes[i] - 69) / 12.0);
        pluck(out, size_t(double(i) * eighth * kRate), f, 1.2, 0.35f, noise);
    }
    return out;
}

std::vector<float> drums(size_t frames) {
    std::vector<float> out(frames, 0.0f);
    Noise noise;
    const double sixteenth = kBeat / 4.0;
    const int steps = kBars * 16;
    for (int s = 0; s < steps; ++s) {
        const size_t start = size_t(double(s) * sixteenth * kRate);
        const int inBar = s % 16;
        if (inBar == 0 || inBar == 8 || inBar == 10) { // kick: a falling sine
            double phase = 0;
            for (size_t k = 0; k < size_t(0.3 * kRate) && start + k < frames; ++k) {
                const double t = double(k) / kRate;
                phase += 2 * kPi * (45.0 + 110.0 * std::exp(-t * 30.0)) / kRate;
                out[start + k] += float(0.8 * std::exp(-t * 9.0) * std::sin(phase));
            }
        }
        if (inBar == 4 || inBar == 12) { // snare: noise and a body tone
            for (size_t k = 0; k < size_t(0.2 * kRate) && start + k < frames; ++k) {
                const double t = double(k) / kRate;
                out[start + k] +=
                    float(std::exp(-t * 22.0) * (0.35 * noise.next() + 0.25 * std::sin(2 * kPi * 190 * t)));
            }
        }
        if (s % 2 == 0) { // closed hat: short high noise (first difference)
            float last = 0;
            for (size_t k = 0; k < size_t(0.05 * kRate) && start + k < frames; ++k) {
                const double t = double(k) / kRate;
                const float n = noise.next();
                out[start + k] += float(0.18 * std::exp(-t * 90.0)) * (n - last);
                last = n;
            }
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: nembrix-demo-material OUTDIR\n"
                             "Writes OUTDIR/melody.wav and OUTDIR/drums.wav (44.1 kHz, 120 BPM, 4 bars).\n");
        return 2;
    }
    const std::string dir = argv[1];
    const size_t frames = size_t(kBars * 4 * kBeat * kRate);
    std::string error;
    const auto m = melody(frames);
    const auto d = drums(frames);
    if (!nx::tools::writeStereoFile(dir + "/melody.wav", kRate, m, m, error) ||
        !nx::tools::writeStereoFile(dir + "/drums.wav", kRate, d, d, error)) {
        std::fprintf(stderr, "nembrix-demo-material: error: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s/melody.wav\n%s/drums.wav\n", dir.c_str(), dir.c_str());
    return 0;
}
