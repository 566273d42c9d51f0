// Command line of nembrix-render: parsed into RenderOptions or refused with a one-line reason.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace nx::tools {

struct RenderOptions {
    std::string input;
    std::string output;
    std::vector<std::string> peers;
    std::vector<std::pair<int, double>> sets; // parameter id, plain value, in command-line order
    std::string preset;
    double bpm = 120.0;
    int block = 512;
    double tailSeconds = 2.0;
    std::string format = "clap"; // "clap" or "vst3"; from --plugin's name when --format is not given
    bool formatGiven = false;
    std::string plugin; // explicit module path; empty = search the build, then the install folder
    bool progress = true;
    bool help = false;
};

// Parses argv[1..]. On failure returns nullopt and sets error to one line without a trailing newline.
std::optional<RenderOptions> parseRenderOptions(int argc, const char* const* argv, std::string& error);

const char* renderUsage();

} // namespace nx::tools
