// Test fixtures for the preset store: a private configuration directory per test (XDG_CONFIG_HOME and
// HOME pointed into a fresh temporary folder, restored afterwards), the plug-in's key table, file helpers.
#pragma once

#include "presets/NembrixPresetMgr.h"
#include "tests/presets/PresetKeys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace nxtest {

namespace fs = std::filesystem;

enum Key { kXYx = 0, kXYy, kDryWet = 6, kHP = 7, kLP = 8, kMode = 9, kWow = 11, kCharacter = 13, kRoot = 22 };

// Saves and restores one environment variable.
class EnvGuard {
public:
    explicit EnvGuard(const char* name) : mName(name) {
        if (const char* v = std::getenv(name)) mOld = v;
    }
    ~EnvGuard() {
        if (mOld)
            ::setenv(mName.c_str(), mOld->c_str(), 1);
        else
            ::unsetenv(mName.c_str());
    }
    void Set(const char* value) {
        if (value)
            ::setenv(mName.c_str(), value, 1);
        else
            ::unsetenv(mName.c_str());
    }

private:
    std::string mName;
    std::optional<std::string> mOld;
};

// A fresh folder per test; XDG_CONFIG_HOME points into it and HOME at a sibling, so nothing outside it is
// ever touched.
class PresetDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "nx-presets-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        root = tmpl;
        xdg.Set((root / "config").c_str());
        home.Set((root / "home").c_str());
        presetDir = root / "config" / "VornAudio" / "Nembrix" / "Presets";
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(presetDir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root, ec);
    }

    // The plug-in's set-up sequence.
    static void SetUpManager(nx::PresetManager& m) {
        m.LoadFactoryPresets();
        m.factoryCount = static_cast<int32_t>(m.presets.size());
        m.ScanUserPresets(kKeys);
        m.currentIndex = 0;
        m.modified = false;
    }

    void WriteFile(const std::string& fileName, const std::string& text) {
        fs::create_directories(presetDir);
        std::ofstream(presetDir / fileName, std::ios::binary) << text;
    }

    static std::string ReadFile(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Names of the entries in the preset folder, sorted.
    std::vector<std::string> DirEntries() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(presetDir, ec))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Index of the first user entry with this name, or -1.
    static int FindUser(const nx::PresetManager& m, const std::string& name) {
        std::lock_guard<std::recursive_mutex> lock(m.mutex);
        for (size_t i = 0; i < m.presets.size(); ++i)
            if (!m.presets[i].isFactory && m.presets[i].name == name) return static_cast<int>(i);
        return -1;
    }

    static std::vector<double> InitValues() {
        nx::NembrixPresetMgr m;
        m.LoadFactoryPresets();
        return m.presets.at(0).values;
    }

    fs::path root, presetDir;
    EnvGuard xdg{"XDG_CONFIG_HOME"}, home{"HOME"};
};

} // namespace nxtest
