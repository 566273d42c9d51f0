// Offline rendering through the built deliverable (see Renderer.h).
#include "tools/render/Renderer.h"

#include "host/PluginHost.h"
#include "host/Vst3Host.h"
#include "presets/NembrixPresetMgr.h"
#include "tools/ParamKeys.h"
#include "tools/render/AudioFile.h"
#include "tools/render/RenderRegistry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace nx::tools {

namespace {

bool exists(const std::string& p) {
    struct stat st {};
    return !p.empty() && ::stat(p.c_str(), &st) == 0;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

struct PresetValues {
    std::vector<double> values;
    uint32_t mask = 0;
};

// Finds a factory or user preset by its exact name (case-insensitive as a fallback).
bool findPreset(const std::string& name, PresetValues& out, std::string& error) {
    NembrixPresetMgr mgr;
    mgr.LoadFactoryPresets();
    mgr.factoryCount = int32_t(mgr.presets.size()); // the built-in entries survive the user scan
    mgr.ScanUserPresets(kParamKeys);
    std::lock_guard<std::recursive_mutex> lock(mgr.mutex);
    const Preset* hit = nullptr;
    for (const Preset& p : mgr.presets)
        if (p.name == name) {
            hit = &p;
            break;
        }
    if (!hit)
        for (const Preset& p : mgr.presets)
            if (strcasecmp(p.name.c_str(), name.c_str()) == 0) {
                hit = &p;
                break;
            }
    if (!hit) {
        std::string names;
        for (size_t i = 0; i < mgr.presets.size() && i < 12; ++i)
            names += (i ? ", " : "") + mgr.presets[i].name;
        if (mgr.presets.size() > 12) names += ", ...";
        error = "unknown preset '" + name + "' (available: " + names + ")";
        return false;
    }
    out.values = hit->values;
    out.mask = hit->advOverrideMask;
    return true;
}

void putU32(std::vector<uint8_t>& b, size_t o, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[o + size_t(i)] = uint8_t(v >> (8 * i));
}
void putF64(std::vector<uint8_t>& b, size_t o, double v) {
    uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int i = 0; i < 8; ++i) b[o + size_t(i)] = uint8_t(u >> (8 * i));
}

// A preset carries the override mask besides the parameter values; only the state chunk reaches both,
// so the preset is applied as the instance's own state with the preset's values and mask written in.
bool applyPreset(host::PluginHost& h, const PresetValues& p, std::string& error) {
    std::vector<uint8_t> chunk;
    constexpr size_t kMaskAt = 80, kParamsAt = 85, kChunkBytes = 269;
    if (!h.saveState(chunk) || chunk.size() < kChunkBytes || chunk[0] != 0x50 || chunk[1] != 0x4B ||
        chunk[2] != 0x58 || chunk[3] != 0x4E) {
        error = "the plug-in's state has an unknown layout; cannot apply a preset";
        return false;
    }
    putU32(chunk, kMaskAt, p.mask & 0x1FFu);
    const size_t n = std::min<size_t>(p.values.size(), kNumParams);
    for (size_t i = 0; i < n; ++i) putF64(chunk, kParamsAt + 8 * i, p.values[i]);
    if (!h.loadState(chunk)) {
        error = "the plug-in refused the preset";
        return false;
    }
    return true;
}

bool setById(host::PluginHost& h, int id, double value) {
    const auto& ps = h.params();
    for (size_t i = 0; i < ps.size(); ++i)
        if (ps[i].id == uint32_t(id) && !ps[i].isBypass) return h.setParam(int(i), value);
    return false;
}

std::unique_ptr<host::PluginHost> openInstance(const std::string& path, host::Format f, std::string& error) {
    std::string why;
    auto h = host::openPlugin(path, f, &why);
    if (!h) error = "cannot load the plug-in: " + why;
    return h;
}

} // namespace

std::string findPlugin(const RenderOptions& o, std::string& searched) {
    const bool vst3 = o.format == "vst3";
    if (!o.plugin.empty()) {
        searched = o.plugin;
        return exists(o.plugin) ? o.plugin : std::string();
    }
    std::vector<std::string> candidates;
#ifdef NX_BUILD_OUT_DIR
    candidates.push_back(std::string(NX_BUILD_OUT_DIR) + (vst3 ? "/Nembrix.vst3" : "/Nembrix.clap"));
#endif
    if (const char* home = std::getenv("HOME"))
        candidates.push_back(std::string(home) + (vst3 ? "/.vst3/Nembrix.vst3" : "/.clap/Nembrix.clap"));
    searched.clear();
    for (const auto& c : candidates) {
        searched += (searched.empty() ? "" : ", ") + c;
        if (exists(vst3 ? host::vst3BinaryPath(c) : c)) return c;
    }
    return {};
}

bool render(const RenderOptions& o, std::string& error, const ProgressFn& progress) {
    // Files first: every input error is reported before anything loads.
    AudioReader input;
    if (!input.open(o.input, error)) return false;
    std::vector<std::unique_ptr<AudioReader>> peerFiles;
    for (const auto& p : o.peers) {
        peerFiles.push_back(std::make_unique<AudioReader>());
        if (!peerFiles.back()->open(p, error)) return false;
        if (peerFiles.back()->sampleRate() != input.sampleRate()) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%g Hz, ", peerFiles.back()->sampleRate());
            error = "sample rates differ: '" + p + "' is " + buf;
            std::snprintf(buf, sizeof buf, "%g Hz", input.sampleRate());
            error += "'" + o.input + "' is " + buf + "; resample the files to one rate first";
            return false;
        }
    }
    if (exists(o.output) &&
        (sameFile(o.output, o.input) ||
         std::any_of(o.peers.begin(), o.peers.end(), [&](auto& p) { return sameFile(o.output, p); }))) {
        error = "the output '" + o.output + "' is one of the input files";
        return false;
    }
    PresetValues preset;
    if (!o.preset.empty() && !findPreset(o.preset, preset, error)) return false;

    std::string searched;
    const std::string pluginPath = findPlugin(o, searched);
    if (pluginPath.empty()) {
        error =
            "no Nembrix." + o.format + " found (looked at " + searched + "); build it or give --plugin PATH";
        return false;
    }
    const host::Format format = o.format == "vst3" ? host::Format::Vst3 : host::Format::Clap;

    // From here on the modules are loaded: the private segment must be named before.
    RenderRegistry registry;
    host::ProcessSetup setup;
    setup.sampleRate = input.sampleRate();
    setup.maxBlock = o.block;
    setup.offline = true;

    std::vector<std::unique_ptr<host::PluginHost>> peers;
    for (size_t i = 0; i < peerFiles.size(); ++i) {
        auto h = openInstance(pluginPath, format, error);
        if (!h) return false;
        if (!setById(*h, kParamMode, 1.0)) {
            error = "cannot put a peer instance into SEND mode";
            return false;
        }
        h->setTempo(o.bpm);
        if (!h->activate(setup)) {
            error =
                "the plug-in refused to start processing at " + std::to_string(int(setup.sampleRate)) + " Hz";
            return false;
        }
        peers.push_back(std::move(h));
    }
    auto main = openInstance(pluginPath, format, error);
    if (!main) return false;
    if (!o.preset.empty() && !applyPreset(*main, preset, error)) return false;
    for (const auto& [id, value] : o.sets)
        if (!setById(*main, id, value)) {
            error = std::string("the plug-in refused ") + kParamKeys[id] + "=" + std::to_string(value);
            return false;
        }
    main->setTempo(o.bpm);
    if (!main->activate(setup)) {
        error = "the plug-in refused to start processing at " + std::to_string(int(setup.sampleRate)) + " Hz";
        return false;
    }

    AudioWriter out;
    if (!out.open(o.output, input.sampleRate(), error)) return false;
    RenderRegistry::removeOnInterrupt(o.output);
    auto fail = [&](const std::string& why) {
        error = why;
        std::string ignored;
        out.close(ignored);
        ::unlink(o.output.c_str());
        RenderRegistry::removeOnInterrupt({});
        return false;
    };

    const int64_t total = input.frames() + int64_t(std::llround(o.tailSeconds * input.sampleRate()));
    const size_t n = size_t(o.block);
    std::vector<float> inL(n), inR(n), outL(n), outR(n), pl(n), pr(n), pol(n), por(n);
    for (int64_t pos = 0; pos < total; pos += o.block) {
        const int frames = int(std::min<int64_t>(o.block, total - pos));
        // Peers first: the receiving instance hears their blocks of the same moment.
        for (size_t i = 0; i < peers.size(); ++i) {
            peerFiles[i]->read(pl.data(), pr.data(), frames);
            const float* pin[2] = {pl.data(), pr.data()};
            float* pout[2] = {pol.data(), por.data()};
            if (!peers[i]->process(pin, pout, frames))
                return fail("the plug-in failed to process a block of peer '" + o.peers[i] + "'");
        }
        input.read(inL.data(), inR.data(), frames);
        const float* in[2] = {inL.data(), inR.data()};
        float* outp[2] = {outL.data(), outR.data()};
        if (!main->process(in, outp, frames)) return fail("the plug-in failed to process a block");
        std::string werr;
        if (!out.write(outL.data(), outR.data(), frames, werr)) return fail(werr);
        if (progress) progress(double(pos + frames) / double(std::max<int64_t>(total, 1)));
    }
    std::string cerr;
    if (!out.close(cerr)) return fail(cerr);
    RenderRegistry::removeOnInterrupt({});
    main.reset();
    peers.clear();
    return true;
}

} // namespace nx::tools
