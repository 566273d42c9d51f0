// Command-line parsing of nembrix-render.
#include "tools/render/RenderOptions.h"

#include "tools/ParamKeys.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace nx::tools {

namespace {
// A whole-string finite number.
bool parseNumber(const std::string& s, double& out) {
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (errno != 0 || end != s.c_str() + s.size() || !std::isfinite(v)) return false;
    out = v;
    return true;
}
} // namespace

const char* renderUsage() {
    return "usage: nembrix-render [options] INPUT -o OUTPUT\n"
           "Renders INPUT through Nembrix in RECV mode; every --peer file is played by another instance\n"
           "in SEND mode in the same run, block by block, so the phantom layer is built from the peers.\n"
           "  -o, --output FILE     output file (.wav, .flac, .aif/.aiff)\n"
           "  --peer FILE           a peer track (repeatable)\n"
           "  --set KEY=VALUE       a parameter by its preset key, e.g. XYx=0.8 (repeatable)\n"
           "  --preset NAME         a factory or user preset by name (applied before --set)\n"
           "  --bpm BPM             host tempo (default 120)\n"
           "  --block N             block size in samples, 1..65536 (default 512)\n"
           "  --tail SECONDS        extra time after the input for the layer to ring out (default 2)\n"
           "  --format clap|vst3    which deliverable to load (default clap)\n"
           "  --plugin PATH         the module to load (default: this build's, then ~/.clap or ~/.vst3)\n"
           "  --no-progress         no progress bar\n"
           "  -h, --help            this text\n"
           "Parameter keys: XYx XYy HarmonicLevel RhythmicLevel WashLevel ReturnLevel DryWet HP LP Mode\n"
           "  LinkSlot Wow Bypass Character Saturation Darkness Ducking StereoWidth PredelayMs WashLp "
           "Freeze\n"
           "  FreezeTonality RootNote\n";
}

std::optional<RenderOptions> parseRenderOptions(int argc, const char* const* argv, std::string& error) {
    RenderOptions o;
    bool haveOutput = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = "option " + a + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "-h" || a == "--help") {
            o.help = true;
            return o;
        } else if (a == "-o" || a == "--output") {
            if (!value(o.output)) return std::nullopt;
            haveOutput = true;
        } else if (a == "--peer") {
            if (!value(v)) return std::nullopt;
            o.peers.push_back(v);
        } else if (a == "--set") {
            if (!value(v)) return std::nullopt;
            const size_t eq = v.find('=');
            if (eq == std::string::npos) {
                error = "--set expects KEY=VALUE, got '" + v + "'";
                return std::nullopt;
            }
            const std::string key = v.substr(0, eq), num = v.substr(eq + 1);
            const int id = paramIdFromKey(key.c_str());
            if (id < 0) {
                error = "unknown parameter key '" + key + "' (see --help for the keys)";
                return std::nullopt;
            }
            double d = 0;
            if (!parseNumber(num, d)) {
                error = "value of " + key + " is not a number: '" + num + "'";
                return std::nullopt;
            }
            o.sets.emplace_back(id, d);
        } else if (a == "--preset") {
            if (!value(o.preset)) return std::nullopt;
            if (o.preset.empty()) {
                error = "--preset needs a name";
                return std::nullopt;
            }
        } else if (a == "--bpm") {
            if (!value(v)) return std::nullopt;
            if (!parseNumber(v, o.bpm) || o.bpm < 1.0 || o.bpm > 999.0) {
                error = "--bpm expects a tempo between 1 and 999, got '" + v + "'";
                return std::nullopt;
            }
        } else if (a == "--block") {
            if (!value(v)) return std::nullopt;
            double d = 0;
            if (!parseNumber(v, d) || d != std::floor(d) || d < 1 || d > 65536) {
                error = "--block expects a whole number of samples from 1 to 65536, got '" + v + "'";
                return std::nullopt;
            }
            o.block = int(d);
        } else if (a == "--tail") {
            if (!value(v)) return std::nullopt;
            if (!parseNumber(v, o.tailSeconds) || o.tailSeconds < 0 || o.tailSeconds > 600) {
                error = "--tail expects seconds from 0 to 600, got '" + v + "'";
                return std::nullopt;
            }
        } else if (a == "--format") {
            if (!value(o.format)) return std::nullopt;
            o.formatGiven = true;
            if (o.format != "clap" && o.format != "vst3") {
                error = "--format expects clap or vst3, got '" + o.format + "'";
                return std::nullopt;
            }
        } else if (a == "--plugin") {
            if (!value(o.plugin)) return std::nullopt;
        } else if (a == "--no-progress") {
            o.progress = false;
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option '" + a + "' (see --help)";
            return std::nullopt;
        } else {
            if (!o.input.empty()) {
                error = "more than one input file: '" + o.input + "' and '" + a + "' (peers take --peer)";
                return std::nullopt;
            }
            o.input = a;
        }
    }
    if (o.input.empty()) {
        error = "no input file (see --help)";
        return std::nullopt;
    }
    if (!o.formatGiven && !o.plugin.empty()) {
        std::string p = o.plugin;
        while (p.size() > 1 && p.back() == '/') p.pop_back();
        o.format = (p.size() >= 5 && p.compare(p.size() - 5, 5, ".vst3") == 0) ||
                           p.find(".vst3/") != std::string::npos
                       ? "vst3"
                       : "clap";
    }
    if (!haveOutput || o.output.empty()) {
        error = "no output file: give -o FILE";
        return std::nullopt;
    }
    return o;
}

} // namespace nx::tools
