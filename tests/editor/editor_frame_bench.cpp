// Benchmark (not a test): the cost of one editor frame on this machine. Opens the editor with a real
// plug-in in an X11 container, lets it run for a few seconds in the busiest state (studio line, panel
// open, audio meters moving) and prints the mean and longest time per frame tick (events, drawing and
// the buffer swap) against the 16.7 ms a 60-frames-a-second editor has.
// Usage: editor_frame_bench [seconds]   (needs DISPLAY; LIBGL_ALWAYS_SOFTWARE=1 for Mesa's llvmpipe)
#include "host/X11ParentWindow.h"
#include "plugin/Nembrix.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    nx::host::X11ParentWindow parent(960, 762, "Nembrix editor frame benchmark");
    if (!parent.ok()) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    nx::Nembrix plug;
    plug.OnReset();
    plug.advancedPanelOpen.store(true);
    plug.SetEditorSize(960, 762);
    plug.OpenWindow(reinterpret_cast<void*>(parent.id()));

    // Audio on this thread keeps the meters, glows and orbs busy.
    std::vector<double> in(512), out0(512), out1(512);
    double* ins[2] = {in.data(), in.data()};
    double* outs[2] = {out0.data(), out1.data()};
    auto runAudio = [&](double forSeconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(forSeconds);
        double phase = 0.0;
        while (std::chrono::steady_clock::now() < end) {
            for (double& s : in) {
                s = 0.3 * std::sin(phase);
                phase += 2.0 * 3.14159265 * 220.0 / 44100.0;
            }
            plug.ProcessBlock(ins, outs, 512);
            std::this_thread::sleep_for(std::chrono::microseconds(11600));
        }
    };
    runAudio(2.0); // start-up: font atlas, shaders

    const uint64_t frames0 = nx::NembrixUI::framesDrawnForTesting();
    const uint64_t total0 = nx::NembrixUI::drawTimeTotalNs();
    runAudio(seconds);
    const uint64_t frames = nx::NembrixUI::framesDrawnForTesting() - frames0;
    const uint64_t totalNs = nx::NembrixUI::drawTimeTotalNs() - total0;
    plug.CloseWindow();

    if (frames == 0) {
        std::fprintf(stderr, "no frame was drawn\n");
        return 1;
    }
    std::printf("frames drawn: %llu in %.1f s (%.1f per second)\n", static_cast<unsigned long long>(frames),
                seconds, static_cast<double>(frames) / seconds);
    std::printf("mean frame tick: %.2f ms, longest since start: %.2f ms, budget 16.67 ms\n",
                static_cast<double>(totalNs) / static_cast<double>(frames) / 1e6,
                static_cast<double>(nx::NembrixUI::drawTimeMaxNs()) / 1e6);
    return 0;
}
