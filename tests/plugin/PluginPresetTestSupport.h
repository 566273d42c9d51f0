// Fixture for tests of a real Nembrix instance's presets and undo history: a private preset folder, a
// private registry segment, and a host link that records what the host is told.
#pragma once

#include "framework/PluginBase.h"
#include "peerlink/NembrixSHM.h"
#include "plugin/Nembrix.h"
#include "presets/NembrixPresetMgr.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nxtest {

namespace fs = std::filesystem;

// Counts the host calls; ParamValuesChanged may run a hook (to probe re-entrancy).
class RecordingHostLink : public nx::HostLink {
public:
    void BeginEdit(int) override {}
    void PerformEdit(int, double) override { ++edits; }
    void EndEdit(int) override {}
    bool ResizeView(int, int) override { return false; }
    void ParamValuesChanged() override {
        ++valuesChanged;
        if (onValuesChanged) onValuesChanged();
    }
    std::atomic<int> valuesChanged{0}, edits{0};
    std::function<void()> onValuesChanged;
};

class PluginPresetTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "nx-plugin-presets-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        root = tmpl;
        Remember("XDG_CONFIG_HOME");
        Remember("NEMBRIX_REGISTRY");
        ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
        registryName = "nxtest_presets_" + std::to_string(::getpid());
        ::setenv("NEMBRIX_REGISTRY", registryName.c_str(), 1);
        presetDir = root / "config" / "VornAudio" / "Nembrix" / "Presets";
    }
    void TearDown() override {
        plugin.reset();
        nx::NembrixSHM::removeSegment(registryName.c_str());
        for (auto& [name, value] : savedEnv) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    // Creates the instance (after any preset files the test wrote) with the recording host link.
    nx::Nembrix& MakePlugin() {
        plugin = std::make_unique<nx::Nembrix>();
        plugin->SetHostLink(&host);
        return *plugin;
    }

    void WriteFile(const std::string& fileName, const std::string& text) {
        fs::create_directories(presetDir);
        std::ofstream(presetDir / fileName, std::ios::binary) << text;
    }

    std::vector<double> Values() const {
        std::vector<double> v;
        for (int i = 0; i < plugin->NParams(); ++i) v.push_back(plugin->GetParam(i)->Value());
        return v;
    }

    int FindPreset(const std::string& name, bool factory) const {
        std::lock_guard<std::recursive_mutex> lock(plugin->presetMgr->mutex);
        const auto& list = plugin->presetMgr->presets;
        for (size_t i = 0; i < list.size(); ++i)
            if (list[i].name == name && list[i].isFactory == factory) return static_cast<int>(i);
        return -1;
    }

    fs::path root, presetDir;
    std::string registryName;
    RecordingHostLink host;
    std::unique_ptr<nx::Nembrix> plugin;

private:
    void Remember(const char* name) {
        const char* v = std::getenv(name);
        savedEnv.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnv;
};

} // namespace nxtest
