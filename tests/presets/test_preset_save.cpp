// Saving and deleting user presets: the exact file text, replacement of a file as a whole, failures that
// leave the old file and no temporary file, concurrent saves, deletes that remove the right file, and
// number text under a decimal-comma locale.
#include "PresetTestSupport.h"

#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <thread>

namespace {

using nxtest::kKeys;
using nxtest::PresetDirTest;
namespace fs = std::filesystem;

std::vector<double> SampleValues() {
    // Exercises every printed form: integers, fractions, negatives, both exponent forms.
    return {0.5, 0.25, -1.5,  24,      0,     -24, 1,      60,    10000, 1,    4, 0.333333333,
            0,   1,    1e-05, 1234567, 0.001, 2,   599.95, 15000, 0,     14.9, -1};
}

const char* const kSampleText =
    "# Nembrix Preset v1\n"
    "name=Dark/Pad\n"
    "category=User\n"
    "XYx=0.5\nXYy=0.25\nHarmonicLevel=-1.5\nRhythmicLevel=24\nWashLevel=0\n"
    "ReturnLevel=-24\nDryWet=1\nHP=60\nLP=10000\nMode=1\nLinkSlot=4\n"
    "Wow=0.333333\nBypass=0\nCharacter=1\nSaturation=1e-05\nDarkness=1.23457e+06\n"
    "Ducking=0.001\nStereoWidth=2\nPredelayMs=599.95\nWashLp=15000\nFreeze=0\n"
    "FreezeTonality=14.9\nRootNote=-1\n"
    "advOverrideMask=321\n";

bool NoTempFiles(const std::vector<std::string>& entries) {
    return std::none_of(entries.begin(), entries.end(),
                        [](const std::string& e) { return e.size() > 4 && e.ends_with(".tmp"); });
}

TEST_F(PresetDirTest, SaveWritesTheFormatAndSelectsThePreset) {
    nx::NembrixPresetMgr m;
    SetUpManager(m);
    m.modified = true;
    const auto v = SampleValues();
    ASSERT_TRUE(m.SaveUserPreset("Dark/Pad", v.data(), 23, 321, kKeys));

    EXPECT_EQ(DirEntries(), std::vector<std::string>{"Dark_Pad.nxpreset"});
    const std::string text = ReadFile(presetDir / "Dark_Pad.nxpreset");
    EXPECT_EQ(text, kSampleText);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 27);
    EXPECT_EQ(fs::status(presetDir).permissions() & fs::perms::all,
              fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                  fs::perms::others_exec);

    ASSERT_EQ(m.presets.size(), 6u);
    const nx::Preset& p = m.presets[5];
    EXPECT_EQ(m.currentIndex, 5);
    EXPECT_FALSE(m.modified);
    EXPECT_EQ(p.name, "Dark/Pad");
    EXPECT_EQ(p.category, "User");
    EXPECT_EQ(p.advOverrideMask, 321u);
    // Read back as the 6-digit text says.
    for (size_t i = 0; i < 23; ++i)
        EXPECT_EQ(p.values[i], std::strtod(nx::presettext::FormatG6(v[i]).c_str(), nullptr)) << kKeys[i];
    const auto cats = m.BuildCategoryList();
    ASSERT_EQ(cats.size(), 2u);
    EXPECT_EQ(cats[1].name, "User");
    EXPECT_EQ(cats[1].presetIndices, std::vector<int32_t>{5});
}

TEST_F(PresetDirTest, SaveNamesAndStems) {
    const std::string hundred(100, 'n');
    struct Case {
        std::string first, second; // the second is saved after the first
        std::vector<std::string> files;
        std::string listedName; // the name of the single user entry afterwards
    } cases[] = {
        {"A:B", "A?B", {"A_B.nxpreset"}, "A?B"},
        {hundred, "", {std::string(64, 'n') + ".nxpreset"}, hundred},
        {"Same", "Same", {"Same.nxpreset"}, "Same"},
    };
    const auto v = SampleValues();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first);
        fs::remove_all(presetDir);
        nx::NembrixPresetMgr m;
        SetUpManager(m);
        ASSERT_TRUE(m.SaveUserPreset(c.first.c_str(), v.data(), 23, 0, kKeys));
        if (!c.second.empty()) {
            ASSERT_TRUE(m.SaveUserPreset(c.second.c_str(), v.data(), 23, 0, kKeys));
        }
        EXPECT_EQ(DirEntries(), c.files);
        ASSERT_EQ(m.presets.size(), 6u);
        EXPECT_EQ(m.presets[5].name, c.listedName);
        EXPECT_NE(ReadFile(presetDir / c.files[0]).find("name=" + c.listedName + "\n"), std::string::npos);
    }
}

TEST_F(PresetDirTest, SaveRefusesBadNamesAndWritesNothing) {
    nx::NembrixPresetMgr m;
    SetUpManager(m);
    const auto v = SampleValues();
    for (const char* name : {"", "\x01\x02\x03", "\t\x7f", "Two\nLines", "LP=1\nname=x"}) {
        EXPECT_FALSE(m.SaveUserPreset(name, v.data(), 23, 0, kKeys)) << name;
    }
    EXPECT_FALSE(m.SaveUserPreset(nullptr, v.data(), 23, 0, kKeys));
    EXPECT_FALSE(m.SaveUserPreset("ok", nullptr, 23, 0, kKeys));
    EXPECT_FALSE(m.SaveUserPreset("ok", v.data(), 23, 0, nullptr));
    EXPECT_TRUE(DirEntries().empty());
    EXPECT_EQ(m.presets.size(), 5u);
}

TEST_F(PresetDirTest, UserInitComesAfterTheFactoryInit) {
    nx::NembrixPresetMgr m;
    SetUpManager(m);
    auto v = InitValues();
    v[nxtest::kLP] = 4321;
    ASSERT_TRUE(m.SaveUserPreset("Init", v.data(), 23, 0, kKeys));
    ASSERT_EQ(m.presets.size(), 6u);
    EXPECT_TRUE(m.presets[0].isFactory);
    EXPECT_EQ(m.currentIndex, 5);
    EXPECT_EQ(m.presets[5].values[nxtest::kLP], 4321);
}

TEST_F(PresetDirTest, SaveOverAnExistingFileReplacesItWhole) {
    WriteFile("Keep.nxpreset", "# old\nname=Keep\nLP=1500\nWow=0.75\nextra=junk\nadvOverrideMask=7\n");
    nx::NembrixPresetMgr m;
    SetUpManager(m);
    auto v = InitValues();
    v[nxtest::kHP] = 250;
    ASSERT_TRUE(m.SaveUserPreset("Keep", v.data(), 23, 0, kKeys));
    EXPECT_EQ(DirEntries(), std::vector<std::string>{"Keep.nxpreset"});
    const std::string text = ReadFile(presetDir / "Keep.nxpreset");
    EXPECT_EQ(text, m.FormatPresetText("Keep", v.data(), 23, 0, kKeys));
    ASSERT_EQ(m.presets.size(), 6u);
    EXPECT_EQ(m.presets[5].values, v); // the old LP, Wow and mask are gone
    EXPECT_EQ(m.presets[5].advOverrideMask, 0u);
}

// Failures at each step of a save: nothing half-written, the old file intact, no temporary file.
TEST_F(PresetDirTest, FailedSaveKeepsTheOldFileAndLeavesNoTemporary) {
    const std::string oldText = "# Nembrix Preset v1\nname=Old\nLP=1500\nadvOverrideMask=0\n";
    struct Case {
        const char* what;
        std::function<void()> arrange, restore;
        bool oldFile;
    };
    rlimit savedLimit{};
    ::getrlimit(RLIMIT_FSIZE, &savedLimit);
    sighandler_t savedSig = SIG_DFL;
    const std::vector<Case> cases = {
        {"the preset folder is a file",
         [&] {
             fs::remove_all(presetDir);
             fs::create_directories(presetDir.parent_path());
             std::ofstream(presetDir) << "x";
         },
         [&] { fs::remove(presetDir); }, false},
        {"the target name is a folder", [&] { fs::create_directories(presetDir / "Old.nxpreset" / "sub"); },
         [&] { fs::remove_all(presetDir / "Old.nxpreset"); }, false},
        {"the disk is full",
         [&] {
             WriteFile("Old.nxpreset", oldText);
             savedSig = std::signal(SIGXFSZ, SIG_IGN);
             rlimit small = savedLimit;
             small.rlim_cur = 64; // the new text is longer: the write fails part-way
             ::setrlimit(RLIMIT_FSIZE, &small);
         },
         [&] {
             ::setrlimit(RLIMIT_FSIZE, &savedLimit);
             std::signal(SIGXFSZ, savedSig);
         },
         true},
        {"the folder is read-only",
         [&] {
             WriteFile("Old.nxpreset", oldText);
             fs::permissions(presetDir, fs::perms::owner_read | fs::perms::owner_exec);
         },
         [&] { fs::permissions(presetDir, fs::perms::owner_all); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (std::string(c.what) == "the folder is read-only" && ::geteuid() == 0) {
            std::printf("read-only folder case skipped: permissions do not bind root\n");
            continue;
        }
        fs::remove_all(presetDir);
        nx::NembrixPresetMgr m;
        SetUpManager(m);
        c.arrange();
        m.ScanUserPresets(nullptr);
        const size_t listed = m.presets.size();
        m.modified = true;
        const auto v = SampleValues();
        const bool saved = m.SaveUserPreset("Old", v.data(), 23, 0, kKeys);
        c.restore();
        EXPECT_FALSE(saved);
        EXPECT_TRUE(m.modified);
        EXPECT_EQ(m.presets.size(), listed);
        if (fs::is_directory(presetDir)) {
            EXPECT_TRUE(NoTempFiles(DirEntries()));
        }
        if (c.oldFile) {
            EXPECT_EQ(ReadFile(presetDir / "Old.nxpreset"), oldText);
        }
    }
}

TEST_F(PresetDirTest, ALinkAtATemporaryNameIsNeverFollowed) {
    // A link planted at the obvious temporary name ("<file>.tmp") must not lead the save to write
    // through it: temporary files are created exclusively under names unique to each save.
    fs::create_directories(presetDir);
    const fs::path victim = root / "victim";
    std::ofstream(victim) << "precious";
    fs::create_symlink(victim, presetDir / "P.nxpreset.tmp");
    nx::NembrixPresetMgr m;
    SetUpManager(m);
    const auto v = SampleValues();
    ASSERT_TRUE(m.SaveUserPreset("P", v.data(), 23, 0, kKeys));
    EXPECT_EQ(ReadFile(victim), "precious");
    EXPECT_EQ(ReadFile(presetDir / "P.nxpreset"), m.FormatPresetText("P", v.data(), 23, 0, kKeys));
}

TEST_F(PresetDirTest, ConcurrentSavesOfOneNameLeaveOneCompleteFile) {
    // Two instances (two managers) and two threads of one instance save the same name at once.
    nx::NembrixPresetMgr a, b;
    SetUpManager(a);
    SetUpManager(b);
    auto va = InitValues(), vb = InitValues();
    va[nxtest::kLP] = 1111;
    vb[nxtest::kLP] = 2222;
    const std::string textA = a.FormatPresetText("Race", va.data(), 23, 1, kKeys);
    const std::string textB = b.FormatPresetText("Race", vb.data(), 23, 2, kKeys);
    std::atomic<int> failures{0};
    auto saver = [&](nx::NembrixPresetMgr& m, const std::vector<double>& v, uint32_t mask) {
        for (int i = 0; i < 40; ++i)
            if (!m.SaveUserPreset("Race", v.data(), 23, mask, kKeys)) ++failures;
    };
    std::thread t1(saver, std::ref(a), std::cref(va), 1u), t2(saver, std::ref(b), std::cref(vb), 2u),
        t3(saver, std::ref(a), std::cref(va), 1u);
    t1.join();
    t2.join();
    t3.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(DirEntries(), std::vector<std::string>{"Race.nxpreset"});
    const std::string text = ReadFile(presetDir / "Race.nxpreset");
    EXPECT_TRUE(text == textA || text == textB) << text;
}

TEST_F(PresetDirTest, DeleteRemovesTheFileThePresetCameFrom) {
    // "Lead old.nxpreset" is a copy whose name line still says Lead; "x.nxpreset" holds a name whose
    // stem is another file's.
    WriteFile("Lead.nxpreset", "name=Lead\nLP=1000\n");
    WriteFile("Lead old.nxpreset", "name=Lead\nLP=2000\n");
    WriteFile("A_B.nxpreset", "name=A_B\n");
    WriteFile("x.nxpreset", "name=A/B\n");
    nx::NembrixPresetMgr m;
    SetUpManager(m);
    ASSERT_EQ(m.presets.size(), 9u);
    auto indexOfFile = [&](const char* file) {
        for (size_t i = 0; i < m.presets.size(); ++i)
            if (m.presets[i].sourcePath == (presetDir / file).string()) return int32_t(i);
        return int32_t(-1);
    };

    ASSERT_TRUE(m.DeleteUserPreset(indexOfFile("Lead old.nxpreset")));
    ASSERT_TRUE(m.DeleteUserPreset(indexOfFile("x.nxpreset")));
    EXPECT_EQ(DirEntries(), (std::vector<std::string>{"A_B.nxpreset", "Lead.nxpreset"}));
    ASSERT_EQ(m.presets.size(), 7u);
    const int lead = FindUser(m, "Lead");
    ASSERT_GE(lead, 0);
    EXPECT_EQ(m.presets[size_t(lead)].values[nxtest::kLP], 1000);

    // Built-in, out-of-range and vanished entries are refused and change nothing.
    EXPECT_FALSE(m.DeleteUserPreset(0));
    EXPECT_FALSE(m.DeleteUserPreset(-1));
    EXPECT_FALSE(m.DeleteUserPreset(int32_t(m.presets.size())));
    fs::remove(presetDir / "A_B.nxpreset");
    EXPECT_FALSE(m.DeleteUserPreset(FindUser(m, "A_B")));
    EXPECT_EQ(m.presets.size(), 7u);
}

TEST_F(PresetDirTest, DeleteMarksModifiedOnlyForTheCurrentPreset) {
    WriteFile("one.nxpreset", "name=One\n");
    WriteFile("two.nxpreset", "name=Two\n");
    WriteFile("three.nxpreset", "name=Three\n");
    struct Case {
        const char* current;
        const char* deleted;
        bool modifiedBefore, modifiedAfter;
        const char* currentAfter; // null: the selection may land anywhere in range
    } cases[] = {
        {"One", "Two", false, false, "One"},
        {"One", "Two", true, true, "One"},
        {"Two", "Two", false, true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.current) + " / " + c.deleted);
        WriteFile("two.nxpreset", "name=Two\n");
        nx::NembrixPresetMgr m;
        SetUpManager(m);
        m.currentIndex = FindUser(m, c.current);
        m.modified = c.modifiedBefore;
        ASSERT_TRUE(m.DeleteUserPreset(FindUser(m, c.deleted)));
        EXPECT_EQ(m.modified, c.modifiedAfter);
        ASSERT_GE(m.currentIndex, 0);
        ASSERT_LT(size_t(m.currentIndex), m.presets.size());
        if (c.currentAfter) {
            EXPECT_EQ(m.presets[size_t(m.currentIndex)].name, c.currentAfter);
        }
    }
}

// Switches LC_ALL to a locale with a decimal comma: an installed one, or one compiled into the test's
// folder from the system's locale sources. Empty when neither is possible.
std::string UseDecimalCommaLocale(const fs::path& scratch) {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE", "fr_FR"})
        if (std::setlocale(LC_ALL, name)) return name;
    if (!fs::exists("/usr/share/i18n/locales/de_DE") || !fs::exists("/usr/bin/localedef")) return {};
    const fs::path out = scratch / "locales";
    fs::create_directories(out);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const std::string target = (out / "de_DE.UTF-8").string();
        ::execl("/usr/bin/localedef", "localedef", "-i", "de_DE", "-f", "UTF-8", target.c_str(),
                (char*)nullptr);
        ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) > 1)
        return {};
    ::setenv("LOCPATH", out.c_str(), 1);
    return std::setlocale(LC_ALL, "de_DE.UTF-8") ? "de_DE.UTF-8 (compiled for the test)" : "";
}

TEST_F(PresetDirTest, NumbersIgnoreADecimalCommaLocale) {
    nxtest::EnvGuard locpath("LOCPATH");
    const std::string locale = UseDecimalCommaLocale(root);
    if (locale.empty()) GTEST_SKIP() << "no locale with a decimal comma is installed or can be compiled";
    struct Restore {
        ~Restore() { std::setlocale(LC_ALL, "C"); }
    } restore;
    char probe[16];
    std::snprintf(probe, sizeof probe, "%g", 0.5);
    ASSERT_STREQ(probe, "0,5") << locale << " does not use a decimal comma";

    nx::NembrixPresetMgr m;
    SetUpManager(m);
    const auto v = SampleValues();
    ASSERT_TRUE(m.SaveUserPreset("Dark/Pad", v.data(), 23, 321, kKeys));
    EXPECT_EQ(ReadFile(presetDir / "Dark_Pad.nxpreset"), kSampleText);

    WriteFile("read.nxpreset", "name=Read\nLP=1234.5\nWow=0,75\n");
    m.ScanUserPresets(nullptr);
    const int read = FindUser(m, "Read");
    ASSERT_GE(read, 0);
    EXPECT_EQ(m.presets[size_t(read)].values[nxtest::kLP], 1234.5);
    EXPECT_EQ(m.presets[size_t(read)].values[nxtest::kWow], 0.0); // "0,75" reads as 0, as in the C locale
}

} // namespace
