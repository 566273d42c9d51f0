// The preset list: directory rule, file stems, the reader's rules, rescans and categories. Every test runs
// in its own temporary configuration folder.
#include "PresetTestSupport.h"

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <map>

namespace {

using nxtest::kKeys;
using nxtest::PresetDirTest;
namespace fs = std::filesystem;

TEST(PresetDirectory, FollowsXdgThenHome) {
    struct Case {
        const char* xdg;
        const char* home;
        const char* expected;
    } cases[] = {
        {"/cfg", "/home/u", "/cfg/VornAudio/Nembrix/Presets"},
        {"", "/home/u", "/home/u/.config/VornAudio/Nembrix/Presets"}, // empty counts as unset
        {nullptr, "/home/u", "/home/u/.config/VornAudio/Nembrix/Presets"},
        {nullptr, "", "/.config/VornAudio/Nembrix/Presets"}, // HOME set but empty
        {nullptr, nullptr, ""},
    };
    nxtest::EnvGuard xdg("XDG_CONFIG_HOME"), home("HOME");
    nx::NembrixPresetMgr m;
    for (const Case& c : cases) {
        xdg.Set(c.xdg);
        home.Set(c.home);
        EXPECT_EQ(m.GetUserPresetsDir(), c.expected)
            << (c.xdg ? c.xdg : "(unset)") << " / " << (c.home ? c.home : "(unset)");
    }
}

TEST(PresetFileStem, SanitizesBytes) {
    const std::string hundred(100, 'a');
    std::string highBytes = "\xC3\xA9t\xC3\xA9"; // "été"
    std::string cutMidChar = std::string(63, 'x') + "\xC3\xA9";
    struct Case {
        std::string name;
        std::string stem;
    } cases[] = {
        {"Dark/Pad", "Dark_Pad"},
        {"A:B", "A_B"},
        {"A?B", "A_B"},
        {"\"*/:<>?\\|", "_________"},
        {"a\tb\x7f"
         "c\n",
         "abc"},
        {"\x01\x02\x1f", ""},
        {"", ""},
        {hundred, std::string(64, 'a')},
        {std::string(10, '\x01') + hundred, std::string(64, 'a')}, // removal happens before the cut
        {highBytes, highBytes},
        {cutMidChar, std::string(63, 'x') + "\xC3"},
        {"..", ".."},
        {"  spaced  ", "  spaced  "},
    };
    for (const Case& c : cases) EXPECT_EQ(nx::PresetManager::SanitizeFileStem(c.name), c.stem) << c.name;
}

TEST_F(PresetDirTest, SetUpListsTheFiveFactoryPresetsWithDefaults) {
    nx::NembrixPresetMgr m;
    SetUpManager(m);
    ASSERT_EQ(m.presets.size(), 5u);
    EXPECT_EQ(m.factoryCount, 5);
    const struct {
        const char* name;
        double x, y;
    } expected[] = {
        {"Init", 0.5, 0.5}, {"Whisper", 0, 0}, {"Poltergeist", 1, 0}, {"Abyss", 0, 1}, {"Monolith", 1, 1}};
    const double defaults[23] = {0.5, 0.5, 0, 0, 0, 0, 1, 60,   10000, 0, 0, 0,
                                 0,   0.5, 0, 0, 0, 1, 0, 5000, 0,     5, -1};
    for (size_t i = 0; i < 5; ++i) {
        const nx::Preset& p = m.presets[i];
        EXPECT_EQ(p.name, expected[i].name);
        EXPECT_EQ(p.category, "Factory");
        EXPECT_TRUE(p.isFactory);
        EXPECT_EQ(p.advOverrideMask, 0u);
        ASSERT_EQ(p.values.size(), 23u);
        for (size_t k = 0; k < 23; ++k) {
            const double want = k == 0 ? expected[i].x : k == 1 ? expected[i].y : defaults[k];
            EXPECT_EQ(p.values[k], want) << p.name << " " << kKeys[k];
        }
    }
}

// One file per case: what the reader makes of it.
struct ReadCase {
    const char* what;
    std::string text;
    bool listed;
    std::string name;
    std::string category;
    uint32_t mask;
    std::vector<std::pair<int, double>> values; // the rest must equal "Init"
};

TEST_F(PresetDirTest, ReaderRules) {
    const std::string header = "# Nembrix Preset v1\n";
    const ReadCase cases[] = {
        {"header and name only take Init values", header + "name=Bare\n", true, "Bare", "User", 0, {}},
        {"missing keys take Init values",
         header + "name=Part\nLP=3000\nWow=0.25\nadvOverrideMask=5\n",
         true,
         "Part",
         "User",
         5,
         {{nxtest::kLP, 3000}, {nxtest::kWow, 0.25}}},
        {"no name line", header + "LP=3000\n", false, "", "", 0, {}},
        {"empty name", header + "name=\nLP=3000\n", false, "", "", 0, {}},
        {"last duplicate wins",
         "name=First\nLP=2000\nname=Second\nLP=4000\n",
         true,
         "Second",
         "User",
         0,
         {{nxtest::kLP, 4000}}},
        {"keys are not trimmed",
         "name=Sp\n LP=2000\nHP =300\nWow= 0.5 \nXYx=\t0.25x\n",
         true,
         "Sp",
         "User",
         0,
         {{nxtest::kWow, 0.5}, {nxtest::kXYx, 0.25}}},
        {"keys are case-sensitive", "name=Case\nlp=2000\nLp=2000\n", true, "Case", "User", 0, {}},
        {"CRLF keeps the carriage return in texts only",
         "name=Win\r\ncategory=Bass\r\nLP=1500\r\nadvOverrideMask=3\r\n",
         true,
         "Win\r",
         "Bass\r",
         3,
         {{nxtest::kLP, 1500}}},
        {"last line without line feed", "name=NoLf\nLP=2500", true, "NoLf", "User", 0, {{nxtest::kLP, 2500}}},
        {"non-finite values are not applied",
         "name=Nan\nLP=nan\nHP=inf\nWow=-infinity\nXYx=1e999\nXYy=0.75\n",
         true,
         "Nan",
         "User",
         0,
         {{nxtest::kXYy, 0.75}}},
        {"non-finite keeps the earlier duplicate",
         "name=Dup\nLP=1200\nLP=nan\n",
         true,
         "Dup",
         "User",
         0,
         {{nxtest::kLP, 1200}}},
        {"no number reads as 0; out of range kept",
         "name=Zero\nWow=abc\nLP=30000\nMode=1.7\n",
         true,
         "Zero",
         "User",
         0,
         {{nxtest::kWow, 0}, {nxtest::kLP, 30000}, {nxtest::kMode, 1.7}}},
        {"mask as strtoul reads it", "name=M\nadvOverrideMask=-1\n", true, "M", "User", 0xFFFFFFFFu, {}},
        {"mask with trailing text", "name=M\nadvOverrideMask= 17 bits\n", true, "M", "User", 17, {}},
        {"comments, blank lines and lines without '='",
         "#name=Hidden\n\nname=Shown\njunk line\n=5\n",
         true,
         "Shown",
         "User",
         0,
         {}},
        {"value may contain '='", "name=a=b\n", true, "a=b", "User", 0, {}},
        {"name stops at a NUL byte", std::string("name=Nu\0ll\n", 11), true, "Nu", "User", 0, {}},
        {"name of only a NUL byte", std::string("name=\0\n", 7), false, "", "", 0, {}},
        {"binary garbage", std::string("\x00\xff\xfe=\x01\n\x80\x81\x82", 10), false, "", "", 0, {}},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(presetDir);
        WriteFile("case.nxpreset", c.text);
        nx::NembrixPresetMgr m;
        SetUpManager(m);
        if (!c.listed) {
            EXPECT_EQ(m.presets.size(), 5u);
            continue;
        }
        ASSERT_EQ(m.presets.size(), 6u);
        const nx::Preset& p = m.presets[5];
        EXPECT_EQ(p.name, c.name);
        EXPECT_EQ(p.category, c.category);
        EXPECT_EQ(p.advOverrideMask, c.mask);
        EXPECT_FALSE(p.isFactory);
        EXPECT_EQ(p.sourcePath, (presetDir / "case.nxpreset").string());
        std::vector<double> want = InitValues();
        for (auto [k, v] : c.values) want[size_t(k)] = v;
        EXPECT_EQ(p.values, want);
    }
}

TEST_F(PresetDirTest, WithoutKeyTableParameterLinesAreIgnored) {
    WriteFile("k.nxpreset", "name=K\nLP=2000\nadvOverrideMask=2\n");
    nx::NembrixPresetMgr m;
    m.LoadFactoryPresets();
    m.factoryCount = 5;
    m.ScanUserPresets(nullptr);
    ASSERT_EQ(m.presets.size(), 6u);
    EXPECT_EQ(m.presets[5].values, InitValues());
    EXPECT_EQ(m.presets[5].advOverrideMask, 2u);
}

TEST_F(PresetDirTest, WithoutFactoryPresetsDefaultsAreZero) {
    WriteFile("z.nxpreset", "name=Z\nLP=2000\n");
    nx::PresetManager m("Nembrix", "nxpreset", 23);
    SetUpManager(m);
    ASSERT_EQ(m.presets.size(), 1u);
    std::vector<double> want(23, 0.0);
    want[nxtest::kLP] = 2000;
    EXPECT_EQ(m.presets[0].values, want);
    m.ScanUserPresets(nullptr); // a rescan replaces the entry, it never lists it twice
    EXPECT_EQ(m.presets.size(), 1u);
}

TEST_F(PresetDirTest, ScanReadsOnlyRegularPresetFiles) {
    WriteFile("good.nxpreset", "name=Good\n");
    WriteFile(".nxpreset", "name=DotOnly\n");              // the extension alone
    WriteFile("left.nxpreset.123-0-9.tmp", "name=Temp\n"); // a leftover temporary file
    WriteFile("other.txt", "name=Other\n");
    WriteFile("upper.NXPRESET", "name=Upper\n");
    WriteFile("huge.nxpreset", "name=Huge\n" + std::string(size_t(nx::PresetManager::kMaxFileBytes), '#'));
    fs::create_directories(presetDir / "folder.nxpreset");
    ASSERT_EQ(::mkfifo((presetDir / "pipe.nxpreset").c_str(), 0644), 0); // must not block the scan
    nx::NembrixPresetMgr m;
    SetUpManager(m);
    ASSERT_EQ(m.presets.size(), 6u);
    EXPECT_EQ(m.presets[5].name, "Good");
}

TEST_F(PresetDirTest, MissingDirectoryOrEnvironmentLeavesFactoryPresets) {
    nx::NembrixPresetMgr m;
    SetUpManager(m); // the folder does not exist yet
    EXPECT_EQ(m.presets.size(), 5u);
    EXPECT_FALSE(fs::exists(presetDir)); // scanning never creates it

    nxtest::EnvGuard x("XDG_CONFIG_HOME"), h("HOME");
    x.Set(nullptr);
    h.Set(nullptr);
    nx::NembrixPresetMgr bare;
    SetUpManager(bare);
    EXPECT_EQ(bare.presets.size(), 5u);
    const double v[23] = {};
    EXPECT_FALSE(bare.SaveUserPreset("Nowhere", v, 23, 0, kKeys));
    EXPECT_EQ(bare.presets.size(), 5u);
}

TEST_F(PresetDirTest, RescanKeepsTheSelectionByName) {
    WriteFile("a.nxpreset", "name=Alpha\n");
    WriteFile("b.nxpreset", "name=Beta\n");
    nx::NembrixPresetMgr m;
    SetUpManager(m);
    const int beta = FindUser(m, "Beta");
    ASSERT_GE(beta, 5);
    m.currentIndex = beta;

    // New files may come before or after it in directory order; the selection follows the name.
    for (const char* f : {"c.nxpreset", "d.nxpreset", "e.nxpreset"})
        WriteFile(f, std::string("name=") + f + "\n");
    m.ScanUserPresets(nullptr);
    EXPECT_EQ(m.presets.size(), 10u);
    EXPECT_EQ(m.presets.at(size_t(m.currentIndex)).name, "Beta");

    // The current preset vanished and the list shrank below the index: back to the first entry.
    fs::remove(presetDir / "b.nxpreset");
    for (const char* f : {"c.nxpreset", "d.nxpreset", "e.nxpreset"}) fs::remove(presetDir / f);
    m.currentIndex = 8;
    m.ScanUserPresets(nullptr);
    EXPECT_EQ(m.presets.size(), 6u);
    EXPECT_EQ(m.currentIndex, 0);
}

TEST_F(PresetDirTest, RescanPrefersTheSameFileAmongEqualNames) {
    // A user "Init" is current: a rescan must not move the selection to the factory "Init".
    WriteFile("Init.nxpreset", "name=Init\nLP=2000\n");
    nx::NembrixPresetMgr m;
    SetUpManager(m);
    ASSERT_EQ(m.presets.size(), 6u);
    m.currentIndex = 5;
    m.ScanUserPresets(nullptr);
    EXPECT_EQ(m.currentIndex, 5);
}

TEST_F(PresetDirTest, CategoriesInOrderOfFirstAppearance) {
    WriteFile("1.nxpreset", "name=U1\n");
    WriteFile("2.nxpreset", "name=B1\ncategory=Bass\n");
    WriteFile("3.nxpreset", "name=U2\n");
    WriteFile("4.nxpreset", "name=B2\ncategory=Bass\n");
    nx::NembrixPresetMgr m;
    SetUpManager(m);
    ASSERT_EQ(m.presets.size(), 9u);

    // Expected groups from the list itself (directory order is not fixed).
    std::vector<std::string> order;
    std::map<std::string, std::vector<int32_t>> groups;
    for (size_t i = 0; i < m.presets.size(); ++i) {
        const std::string& c = m.presets[i].category;
        if (!groups.count(c)) order.push_back(c);
        groups[c].push_back(int32_t(i));
    }
    ASSERT_EQ(order.front(), "Factory");
    const auto cats = m.BuildCategoryList();
    ASSERT_EQ(cats.size(), 3u);
    for (size_t k = 0; k < cats.size(); ++k) {
        EXPECT_EQ(cats[k].name, order[k]);
        EXPECT_EQ(cats[k].presetIndices, groups[order[k]]);
    }
    EXPECT_EQ(cats[0].presetIndices, (std::vector<int32_t>{0, 1, 2, 3, 4}));
}

} // namespace
