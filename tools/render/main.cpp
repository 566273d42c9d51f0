// nembrix-render: renders audio files offline through the built Nembrix deliverable, with peers.
#include "tools/render/Renderer.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    std::string error;
    auto options = nx::tools::parseRenderOptions(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "nembrix-render: error: %s\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(nx::tools::renderUsage(), stdout);
        return 0;
    }
    const bool bar = options->progress && isatty(STDERR_FILENO);
    int lastPercent = -1;
    auto progress = [&](double f) {
        const int percent = int(f * 100.0);
        if (!bar || percent == lastPercent) return;
        lastPercent = percent;
        constexpr int kWidth = 40;
        char line[kWidth + 1];
        for (int i = 0; i < kWidth; ++i) line[i] = i < percent * kWidth / 100 ? '#' : '-';
        line[kWidth] = 0;
        std::fprintf(stderr, "\r[%s] %3d%%", line, percent);
        std::fflush(stderr);
    };
    const bool ok = nx::tools::render(*options, error, progress);
    if (bar && lastPercent >= 0) std::fputc('\n', stderr);
    if (!ok) {
        std::fprintf(stderr, "nembrix-render: error: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", options->output.c_str());
    return 0;
}
