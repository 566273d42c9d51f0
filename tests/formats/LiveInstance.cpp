// Test helper: one Nembrix instance live on the registry named by the environment (the default segment
// when NEMBRIX_REGISTRY is unset), processing at real-time pace, as in a running DAW.
//   nx_live_instance PLUGIN send|recv SECONDS
// send: publishes loud noise; recv: processes silence with the full phantom layer. Prints "ready" once
// processing and "settled" after half a second (by then a stalled peer left on the segment by an earlier
// process has fallen silent), and at the end the sum of squares of its output since "settled"
// ("energy <value>").
#include "host/PluginHost.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const bool send = std::strcmp(argv[2], "send") == 0;
    const double seconds = std::atof(argv[3]);
    std::string err;
    auto h = nx::host::openPlugin(argv[1], &err);
    if (!h) {
        std::fprintf(stderr, "%s\n", err.c_str());
        return 1;
    }
    for (size_t i = 0; i < h->params().size(); ++i)
        if (h->params()[i].id == 9 && !h->params()[i].isBypass) h->setParam(int(i), send ? 1.0 : 0.0);
    nx::host::ProcessSetup s;
    s.maxBlock = 512;
    if (!h->activate(s)) return 1;
    std::vector<float> l(512), r(512), ol(512), orr(512);
    uint32_t x = 12345;
    double energy = 0;
    const int blocks = int(seconds * 44100.0 / 512.0);
    const int settledBlock = int(0.5 * 44100.0 / 512.0);
    const auto start = std::chrono::steady_clock::now();
    for (int b = 0; b < blocks; ++b) {
        for (size_t k = 0; k < 512; ++k) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            l[k] = r[k] = send ? 0.5f * float(double(x) / 2147483648.0 - 1.0) : 0.0f;
        }
        const float* in[2] = {l.data(), r.data()};
        float* out[2] = {ol.data(), orr.data()};
        if (!h->process(in, out, 512)) return 1;
        if (b >= settledBlock)
            for (size_t k = 0; k < 512; ++k) energy += double(ol[k]) * ol[k] + double(orr[k]) * orr[k];
        if (b == 0 || b == settledBlock) {
            std::printf(b == 0 ? "ready\n" : "settled\n");
            std::fflush(stdout);
        }
        std::this_thread::sleep_until(start +
                                      std::chrono::microseconds(int64_t((b + 1) * 512 * 1e6 / 44100.0)));
    }
    std::printf("energy %.9g\n", energy);
    return 0;
}
