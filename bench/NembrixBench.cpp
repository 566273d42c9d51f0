// nembrix-bench: loads the built plug-in (CLAP by default) and measures
//  1. per instance, how many times faster than real time one RECV instance processes, with 1 to 15 live
//     peers (instances in SEND mode), at 44.1, 48 and 96 kHz and blocks of 32 to 4096 samples;
//  2. the harmonic worker's CPU time per second of audio (one instance, processing paced in real time);
//  3. 16 instances in one process, each hearing the 15 others, at 48 kHz / 64 samples paced in real
//     time: the CPU share of one core that the whole process uses.
// Prints tables; --json FILE writes the figures. Instances meet on a registry segment private to the run.
#include "host/PluginHost.h"
#include "host/Vst3Host.h"
#include "tools/render/RenderRegistry.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using nx::host::PluginHost;

double cpuSeconds(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// A test signal with pitch and transients: a 220 Hz harmonic tone under a 4 Hz envelope, plus noise.
struct Signal {
    double rate;
    uint64_t pos = 0;
    uint32_t seed;
    Signal(double r, uint32_t s) : rate(r), seed(s ? s : 1) {}
    void fill(float* l, float* r, int n) {
        for (int k = 0; k < n; ++k, ++pos) {
            const double t = double(pos) / rate;
            const double env = std::exp(-std::fmod(t, 0.25) * 12.0);
            double tone = 0;
            for (int h = 1; h <= 6; ++h) tone += std::sin(2 * M_PI * 220.0 * h * t) / h;
            seed ^= seed << 13;
            seed ^= seed >> 17;
            seed ^= seed << 5;
            const double nz = double(seed) / 2147483648.0 - 1.0;
            l[k] = r[k] = float(0.25 * env * tone + 0.02 * nz);
        }
    }
};

struct Instance {
    std::unique_ptr<PluginHost> host;
    Signal signal;
    std::vector<float> inL, inR, outL, outR;
    Instance(std::unique_ptr<PluginHost> h, double rate, int block, uint32_t seed)
        : host(std::move(h)), signal(rate, seed), inL(size_t(block)), inR(size_t(block)), outL(size_t(block)),
          outR(size_t(block)) {}
    void next(int n) { signal.fill(inL.data(), inR.data(), n); }
    bool process(int n) {
        const float* in[2] = {inL.data(), inR.data()};
        float* out[2] = {outL.data(), outR.data()};
        return host->process(in, out, n);
    }
    bool run(int n) {
        next(n);
        return process(n);
    }
};

std::unique_ptr<Instance> makeInstance(const std::string& path, double rate, int block, bool send,
                                       uint32_t seed) {
    std::string err;
    auto h = nx::host::openPlugin(path, &err);
    if (!h) {
        std::fprintf(stderr, "nembrix-bench: error: %s\n", err.c_str());
        return nullptr;
    }
    for (size_t i = 0; i < h->params().size(); ++i)
        if (h->params()[i].id == 9 && !h->params()[i].isBypass) h->setParam(int(i), send ? 1.0 : 0.0);
    h->setTempo(120.0);
    nx::host::ProcessSetup s;
    s.sampleRate = rate;
    s.maxBlock = block;
    if (!h->activate(s)) {
        std::fprintf(stderr, "nembrix-bench: error: the plug-in refused %g Hz / %d samples\n", rate, block);
        return nullptr;
    }
    return std::make_unique<Instance>(std::move(h), rate, block, seed);
}

struct RtRow {
    double rate;
    int block;
    std::vector<double> factor; // index = peers - 1
};

// Realtime factor of one RECV instance with peers = 15 down to 1 (peers are removed one at a time): audio
// seconds processed per CPU second of the calling (audio) thread. Includes the host's own per-block work
// (the test signal is made outside the timed part).
bool measureRealtime(const std::string& path, double rate, int block, double seconds, RtRow& row) {
    row.rate = rate;
    row.block = block;
    row.factor.assign(15, 0.0);
    std::vector<std::unique_ptr<Instance>> peers;
    for (int i = 0; i < 15; ++i) {
        auto p = makeInstance(path, rate, block, true, uint32_t(1000 + i));
        if (!p) return false;
        peers.push_back(std::move(p));
    }
    auto recv = makeInstance(path, rate, block, false, 7);
    if (!recv) return false;
    const int blocks = std::max(1, int(seconds * rate / block));
    const int warmup = std::max(1, int(0.25 * rate / block));
    for (int nPeers = 15; nPeers >= 1; --nPeers) {
        double busy = 0;
        for (int b = 0; b < warmup + blocks; ++b) {
            for (int i = 0; i < nPeers; ++i)
                if (!peers[size_t(i)]->run(block)) return false;
            // CPU time of this thread: what the call costs, whatever else the machine runs meanwhile.
            recv->next(block);
            const double t0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
            if (!recv->process(block)) return false;
            if (b >= warmup) busy += cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - t0;
        }
        row.factor[size_t(nPeers - 1)] = (double(blocks) * block / rate) / std::max(busy, 1e-9);
        peers.pop_back(); // releases its slot: one live peer fewer
    }
    return true;
}

// Paced in real time: per block, every instance processes once, then the thread sleeps to the deadline.
bool runPaced(std::vector<std::unique_ptr<Instance>>& all, double rate, int block, double seconds,
              double& wall, double& processCpu, double& mainCpu) {
    const int blocks = int(seconds * rate / block);
    const double w0 = cpuSeconds(CLOCK_MONOTONIC), p0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID),
                 t0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    const auto start = Clock::now();
    for (int b = 0; b < blocks; ++b) {
        for (auto& i : all)
            if (!i->run(block)) return false;
        std::this_thread::sleep_until(
            start + std::chrono::nanoseconds(int64_t((b + 1) * double(block) / rate * 1e9)));
    }
    wall = cpuSeconds(CLOCK_MONOTONIC) - w0;
    processCpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - p0;
    mainCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - t0;
    return true;
}

bool exists(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0;
}

std::string defaultPlugin(bool vst3) {
    std::vector<std::string> c;
#ifdef NX_BUILD_OUT_DIR
    c.push_back(std::string(NX_BUILD_OUT_DIR) + (vst3 ? "/Nembrix.vst3" : "/Nembrix.clap"));
#endif
    if (const char* home = std::getenv("HOME"))
        c.push_back(std::string(home) + (vst3 ? "/.vst3/Nembrix.vst3" : "/.clap/Nembrix.clap"));
    for (const auto& p : c)
        if (exists(vst3 ? nx::host::vst3BinaryPath(p) : p)) return p;
    return {};
}

int usage() {
    std::fprintf(
        stderr,
        "usage: nembrix-bench [--format clap|vst3] [--plugin PATH] [--seconds S] [--quick] [--json FILE]\n"
        "  --seconds S   audio seconds measured per configuration (default 2)\n"
        "  --quick       48 kHz only, blocks 64 and 512 (a fast look)\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string plugin, json, format = "clap";
    double seconds = 2.0;
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--plugin") {
            const char* v = next();
            if (!v) return usage();
            plugin = v;
        } else if (a == "--format") {
            const char* v = next();
            if (!v || (std::strcmp(v, "clap") && std::strcmp(v, "vst3"))) return usage();
            format = v;
        } else if (a == "--seconds") {
            const char* v = next();
            char* end = nullptr;
            seconds = v ? std::strtod(v, &end) : 0;
            if (!v || *end || !(seconds > 0.05 && seconds < 600)) return usage();
        } else if (a == "--json") {
            const char* v = next();
            if (!v) return usage();
            json = v;
        } else if (a == "--quick") {
            quick = true;
        } else {
            return usage();
        }
    }
    if (plugin.empty()) plugin = defaultPlugin(format == "vst3");
    if (plugin.empty() || !exists(format == "vst3" ? nx::host::vst3BinaryPath(plugin) : plugin)) {
        std::fprintf(stderr, "nembrix-bench: error: no Nembrix.%s found; build it or give --plugin PATH\n",
                     format.c_str());
        return 1;
    }

    nx::tools::RenderRegistry registry("nembrix_bench"); // a private segment, removed at the end
    std::printf("nembrix-bench: %s\n\n", plugin.c_str());

    // 1. Realtime factor per instance.
    const std::vector<double> rates =
        quick ? std::vector<double>{48000} : std::vector<double>{44100, 48000, 96000};
    const std::vector<int> blocksList =
        quick ? std::vector<int>{64, 512} : std::vector<int>{32, 64, 128, 512, 4096};
    std::vector<RtRow> rows;
    std::printf("Times faster than real time, one RECV instance (audio thread), by live peers:\n");
    std::printf("%7s %6s |", "rate", "block");
    for (int p = 1; p <= 15; ++p) std::printf(" %5d", p);
    std::printf("\n");
    for (double rate : rates)
        for (int block : blocksList) {
            RtRow row;
            if (!measureRealtime(plugin, rate, block, seconds, row)) return 1;
            std::printf("%7.0f %6d |", rate, block);
            for (double f : row.factor) std::printf(" %5.0f", f);
            std::printf("\n");
            std::fflush(stdout);
            rows.push_back(row);
        }

    // 2. Harmonic worker CPU per second of audio: one instance alone, paced in real time; everything the
    // process spends beyond the calling thread is the worker's.
    double workerMsPerSec = 0;
    {
        std::vector<std::unique_ptr<Instance>> one;
        one.push_back(makeInstance(plugin, 48000, 256, false, 3));
        if (!one.back()) return 1;
        double wall = 0, proc = 0, mainCpu = 0;
        if (!runPaced(one, 48000, 256, std::max(2.0, seconds), wall, proc, mainCpu)) return 1;
        workerMsPerSec = (proc - mainCpu) / wall * 1000.0;
        std::printf("\nHarmonic worker: %.1f ms CPU per second of audio (%.2f%% of one core), 48 kHz\n",
                    workerMsPerSec, workerMsPerSec / 10.0);
    }

    // 3. Sixteen instances in one process, each hearing the fifteen others.
    double share16 = 0, audioShare16 = 0;
    {
        std::vector<std::unique_ptr<Instance>> all;
        for (int i = 0; i < 16; ++i) {
            all.push_back(makeInstance(plugin, 48000, 64, false, uint32_t(50 + i)));
            if (!all.back()) return 1;
        }
        double wall = 0, proc = 0, mainCpu = 0;
        if (!runPaced(all, 48000, 64, std::max(3.0, seconds), wall, proc, mainCpu)) return 1;
        share16 = proc / wall * 100.0;
        audioShare16 = mainCpu / wall * 100.0;
        std::printf("16 instances, 15 peers each, 48 kHz / 64 samples: %.1f%% of one core in total "
                    "(audio thread %.1f%%, harmonic workers %.1f%%)\n",
                    share16, audioShare16, share16 - audioShare16);
    }

    if (!json.empty()) {
        FILE* f = std::fopen(json.c_str(), "w");
        if (!f) {
            std::fprintf(stderr, "nembrix-bench: error: cannot write '%s'\n", json.c_str());
            return 1;
        }
        std::fprintf(f, "{\n  \"plugin\": \"%s\",\n  \"seconds_per_config\": %g,\n  \"realtime_factor\": [\n",
                     plugin.c_str(), seconds);
        for (size_t r = 0; r < rows.size(); ++r) {
            std::fprintf(f, "    {\"sample_rate\": %g, \"block\": %d, \"by_peers\": [", rows[r].rate,
                         rows[r].block);
            for (size_t p = 0; p < rows[r].factor.size(); ++p)
                std::fprintf(f, "%s%.2f", p ? ", " : "", rows[r].factor[p]);
            std::fprintf(f, "]}%s\n", r + 1 < rows.size() ? "," : "");
        }
        std::fprintf(f, "  ],\n  \"harmonic_worker_ms_per_audio_second\": %.3f,\n", workerMsPerSec);
        std::fprintf(
            f,
            "  \"sixteen_instances_48k_64\": {\"core_percent\": %.2f, \"audio_thread_percent\": %.2f}\n}\n",
            share16, audioShare16);
        std::fclose(f);
        std::printf("JSON written to %s\n", json.c_str());
    }
    return 0;
}
