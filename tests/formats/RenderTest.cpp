// nembrix-render as a user runs it: real processes, real files, the built deliverables. Error rules,
// the phantom layer the demo adds, reproducibility across runs and formats, and isolation from a live
// session on the default registry segment.
#include "tests/formats/Subprocess.h"

#include "presets/NembrixPresetMgr.h"
#include "tools/ParamKeys.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <csignal>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace nx::test {
namespace {

namespace fs = std::filesystem;

struct Stereo {
    double rate = 0;
    std::vector<float> l, r;
};

bool readStereo(const std::string& path, Stereo& s) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return false;
    std::vector<float> inter(size_t(info.frames) * size_t(info.channels));
    sf_readf_float(f, inter.data(), info.frames);
    sf_close(f);
    s.rate = info.samplerate;
    s.l.resize(size_t(info.frames));
    s.r.resize(size_t(info.frames));
    for (size_t k = 0; k < size_t(info.frames); ++k) {
        s.l[k] = inter[k * size_t(info.channels)];
        s.r[k] = inter[k * size_t(info.channels) + (info.channels > 1 ? 1 : 0)];
    }
    return true;
}

bool writeStereo(const std::string& path, int rate, const std::vector<float>& mono) {
    SF_INFO info{};
    info.channels = 2;
    info.samplerate = rate;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    std::vector<float> inter(mono.size() * 2);
    for (size_t k = 0; k < mono.size(); ++k) inter[2 * k] = inter[2 * k + 1] = mono[k];
    sf_writef_float(f, inter.data(), sf_count_t(mono.size()));
    sf_close(f);
    return true;
}

double energy(const std::vector<float>& v, size_t from = 0, size_t to = SIZE_MAX) {
    double e = 0;
    for (size_t k = from; k < std::min(to, v.size()); ++k) e += double(v[k]) * v[k];
    return e;
}

// Segments a render with this pid left in /dev/shm.
std::vector<std::string> leftoverSegments(pid_t pid) {
    std::vector<std::string> out;
    const std::string prefix = "nembrix_render_" + std::to_string(pid) + "_";
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/dev/shm", ec))
        if (e.path().filename().string().rfind(prefix, 0) == 0) out.push_back(e.path().filename().string());
    return out;
}

class RenderFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/nx_render_test_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        sDir = tmpl;
        // User presets live here for this test process and its renders.
        setenv("XDG_CONFIG_HOME", (sDir + "/config").c_str(), 1);
        const ProcessResult r = runProcess({NX_DEMO_EXE, sDir});
        ASSERT_TRUE(r.exited && r.exitCode == 0) << r.err;
        melody = sDir + "/melody.wav";
        drums = sDir + "/drums.wav";
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(sDir, ec);
    }
    static std::string path(const std::string& name) { return sDir + "/" + name; }

    // Runs nembrix-render; expects success and no leftover segment.
    static Stereo renderOk(std::vector<std::string> args, const std::string& out) {
        args.insert(args.begin(), NX_RENDER_EXE);
        args.push_back("--no-progress");
        args.push_back("-o");
        args.push_back(out);
        Subprocess p(args);
        const pid_t pid = p.pid();
        const ProcessResult r = p.wait();
        EXPECT_TRUE(r.exited && r.exitCode == 0)
            << "exit " << r.exitCode << " signal " << r.signal << ": " << r.err;
        EXPECT_TRUE(leftoverSegments(pid).empty()) << "the render left its registry segment behind";
        Stereo s;
        EXPECT_TRUE(readStereo(out, s)) << out;
        return s;
    }

    static inline std::string sDir, melody, drums;
};

TEST_F(RenderFixture, BadInputGivesOneLineErrorAndNonZeroExit) {
    {
        std::ofstream(path("not-audio.wav")) << "this is text, not audio\n";
        std::ofstream(path("not-a-module.clap")) << "not a shared object\n";
        std::vector<float> tone(48000, 0.1f);
        ASSERT_TRUE(writeStereo(path("rate48k.wav"), 48000, tone));
    }
    const std::string out = path("error-out.wav");
    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* mentions;
    };
    const std::vector<Case> cases = {
        {"missing input", {path("nope.wav"), "-o", out}, "nope.wav"},
        {"unreadable input", {path("not-audio.wav"), "-o", out}, "not-audio.wav"},
        {"directory as input", {sDir, "-o", out}, "directory"},
        {"missing peer", {melody, "--peer", path("nope-peer.wav"), "-o", out}, "nope-peer.wav"},
        {"unknown key", {melody, "--set", "Wobble=1", "-o", out}, "Wobble"},
        {"value not a number", {melody, "--set", "XYx=abc", "-o", out}, "abc"},
        {"NaN value", {melody, "--set", "XYx=nan", "-o", out}, "nan"},
        {"no value", {melody, "--set", "XYx=", "-o", out}, "XYx"},
        {"module that cannot be loaded",
         {melody, "--plugin", path("not-a-module.clap"), "-o", out},
         "not-a-module"},
        {"missing module", {melody, "--plugin", path("none.vst3"), "-o", out}, "none.vst3"},
        {"unknown preset", {melody, "--preset", "No Such Preset", "-o", out}, "No Such Preset"},
        {"sample rates differ", {melody, "--peer", path("rate48k.wav"), "-o", out}, "48000"},
        {"no output", {melody}, "output"},
        {"unknown option", {melody, "--frobnicate", "-o", out}, "--frobnicate"},
        {"bad block size", {melody, "--block", "0", "-o", out}, "--block"},
        {"bad tempo", {melody, "--bpm", "-5", "-o", out}, "--bpm"},
        {"bad format", {melody, "--format", "au", "-o", out}, "au"},
        {"unsupported output type", {melody, "-o", path("out.mp3")}, "out.mp3"},
        {"output is the input", {melody, "-o", melody}, "input"},
        {"output folder missing", {melody, "-o", path("no/such/folder/out.wav")}, "no/such/folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = {NX_RENDER_EXE, "--no-progress"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Subprocess p(args);
        const pid_t pid = p.pid();
        const ProcessResult r = p.wait();
        ASSERT_TRUE(r.exited) << "ended by signal " << r.signal;
        EXPECT_NE(r.exitCode, 0);
        EXPECT_EQ(r.err.rfind("nembrix-render: error: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
        EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out)) << "no output file after an error";
        EXPECT_TRUE(leftoverSegments(pid).empty());
    }
    // The input survived the attempt to overwrite it.
    Stereo m;
    ASSERT_TRUE(readStereo(melody, m));
    EXPECT_GT(m.l.size(), 44100u);
}

TEST_F(RenderFixture, InterruptedRenderLeavesNoSegmentAndNoHalfFile) {
    const std::string out = path("interrupted.wav");
    // Ten minutes of tail: far longer than the moment the signal arrives.
    Subprocess p({NX_RENDER_EXE, "--no-progress", melody, "--peer", drums, "--tail", "600", "-o", out});
    const pid_t pid = p.pid();
    bool running = false;
    for (int i = 0; i < 200 && !running; ++i) {
        usleep(20000);
        running = !leftoverSegments(pid).empty() && fs::exists(out);
    }
    ASSERT_TRUE(running) << "the render never got going";
    kill(pid, SIGTERM);
    const ProcessResult r = p.wait();
    EXPECT_FALSE(r.exited && r.exitCode == 0) << "an interrupted render does not report success";
    EXPECT_TRUE(leftoverSegments(pid).empty()) << "the interrupted render left its registry segment behind";
    EXPECT_FALSE(fs::exists(out)) << "a half-written output stays behind";
}

TEST_F(RenderFixture, DemoAddsAPhantomLayerOnTopOfTheDryTrack) {
    Stereo dry;
    ASSERT_TRUE(readStereo(melody, dry));
    const Stereo wet = renderOk({melody, "--peer", drums}, path("demo.wav"));
    ASSERT_EQ(wet.rate, dry.rate);
    ASSERT_EQ(wet.l.size(), dry.l.size() + size_t(2 * dry.rate)) << "input plus the 2-second tail";

    std::vector<float> addedL(dry.l.size()), addedR(dry.l.size());
    for (size_t k = 0; k < dry.l.size(); ++k) {
        ASSERT_TRUE(std::isfinite(wet.l[k]) && std::isfinite(wet.r[k]));
        addedL[k] = wet.l[k] - dry.l[k];
        addedR[k] = wet.r[k] - dry.r[k];
    }
    const double dryE = energy(dry.l) + energy(dry.r);
    const double addedE = energy(addedL) + energy(addedR);
    const double ratioDb = 10.0 * std::log10(addedE / dryE);
    RecordProperty("added_layer_db", std::to_string(ratioDb));
    EXPECT_GT(ratioDb, -30.0) << "the phantom layer is audible";
    EXPECT_LT(ratioDb, 12.0) << "the phantom layer does not swamp the dry track";
    EXPECT_GT(energy(wet.l, dry.l.size()) + energy(wet.r, dry.l.size()), 0.0)
        << "the layer rings into the tail";

    // With dry/wet at 0 nothing is added: the same measurement gives silence.
    const Stereo plain =
        renderOk({melody, "--peer", drums, "--set", "DryWet=0", "--tail", "0"}, path("dry.wav"));
    ASSERT_EQ(plain.l.size(), dry.l.size());
    double residual = 0;
    for (size_t k = 0; k < dry.l.size(); ++k)
        residual += std::abs(double(plain.l[k]) - dry.l[k]) + std::abs(double(plain.r[k]) - dry.r[k]);
    EXPECT_EQ(residual, 0.0);
}

TEST_F(RenderFixture, PresetsByNameThenParametersOnTop) {
    // A user preset in the preset store the render reads (XDG_CONFIG_HOME points into the test folder).
    nx::NembrixPresetMgr store;
    store.LoadFactoryPresets();
    store.factoryCount = int32_t(store.presets.size());
    std::vector<double> values = store.presets.at(0).values;
    values.at(6) = 0.0; // DryWet
    ASSERT_TRUE(
        store.SaveUserPreset("Render Dry", values.data(), int32_t(values.size()), 0, tools::kParamKeys));

    Stereo dry;
    ASSERT_TRUE(readStereo(melody, dry));
    const Stereo a =
        renderOk({melody, "--peer", drums, "--tail", "0", "--preset", "Render Dry"}, path("p-user.wav"));
    EXPECT_TRUE(a.l == dry.l && a.r == dry.r) << "the user preset's dry/wet 0 reached the plug-in";

    const Stereo b =
        renderOk({melody, "--peer", drums, "--tail", "0", "--preset", "Render Dry", "--set", "DryWet=1"},
                 path("p-set.wav"));
    ASSERT_EQ(b.l.size(), dry.l.size());
    double added = 0;
    for (size_t k = 0; k < dry.l.size(); ++k) added += std::abs(double(b.l[k]) - dry.l[k]);
    EXPECT_GT(added, 0.0) << "--set applies after the preset";

    // Factory presets are found by name.
    for (const char* name : {"Init", "Whisper", "Monolith"})
        renderOk({melody, "--tail", "0", "--preset", name}, path("p-factory.wav"));
}

TEST_F(RenderFixture, SameInputGivesIdenticalOutputAcrossRunsAndFormats) {
    const std::vector<std::string> args = {melody, "--peer", drums, "--tail", "0.5", "--bpm", "100"};
    const Stereo clap1 = renderOk(args, path("r-clap1.wav"));
    const Stereo clap2 = renderOk(args, path("r-clap2.wav"));
    auto vstArgs = args;
    vstArgs.insert(vstArgs.end(), {"--format", "vst3"});
    const Stereo vst = renderOk(vstArgs, path("r-vst3.wav"));
    ASSERT_FALSE(clap1.l.empty());
    EXPECT_TRUE(clap1.l == clap2.l && clap1.r == clap2.r) << "two renders of the same input differ";
    EXPECT_TRUE(clap1.l == vst.l && clap1.r == vst.r) << "CLAP and VST3 renders differ";
}

// A render never joins the user's live session on the default segment, in either direction.
TEST_F(RenderFixture, NeverJoinsALiveSessionOnTheDefaultSegment) {
    std::vector<float> silence(44100 * 3, 0.0f), loud(44100 * 3);
    uint32_t x = 99;
    for (auto& s : loud) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s = 0.5f * float(double(x) / 2147483648.0 - 1.0);
    }
    ASSERT_TRUE(writeStereo(path("silence.wav"), 44100, silence));
    ASSERT_TRUE(writeStereo(path("loud.wav"), 44100, loud));

    // The render does not hear a live sender. A live receiver does, which shows there was audio to hear.
    {
        Subprocess sender({NX_LIVE_EXE, NX_CLAP_PATH, "send", "6"}, "NEMBRIX_REGISTRY");
        ASSERT_TRUE(sender.waitForLine("ready"));
        Subprocess listener({NX_LIVE_EXE, NX_CLAP_PATH, "recv", "4"}, "NEMBRIX_REGISTRY");
        ASSERT_TRUE(listener.waitForLine("settled"));
        const Stereo r = renderOk({path("silence.wav"), "--tail", "0"}, path("iso-1.wav"));
        EXPECT_EQ(energy(r.l) + energy(r.r), 0.0) << "the render heard the live session";
        const ProcessResult l = listener.wait();
        ASSERT_TRUE(l.exited && l.exitCode == 0) << l.err;
        const double heard = std::atof(l.out.substr(l.out.find("energy ") + 7).c_str());
        EXPECT_GT(heard, 0.0) << "a live receiver hears the live sender";
        sender.wait();
    }
    // A live receiver does not hear the render's loud peer.
    {
        Subprocess listener({NX_LIVE_EXE, NX_CLAP_PATH, "recv", "4"}, "NEMBRIX_REGISTRY");
        ASSERT_TRUE(listener.waitForLine("settled"));
        renderOk({path("silence.wav"), "--peer", path("loud.wav"), "--tail", "0"}, path("iso-2.wav"));
        const ProcessResult l = listener.wait();
        ASSERT_TRUE(l.exited && l.exitCode == 0) << l.err;
        const double heard = std::atof(l.out.substr(l.out.find("energy ") + 7).c_str());
        EXPECT_EQ(heard, 0.0) << "the live session heard the render's peer";
    }
}

} // namespace
} // namespace nx::test
