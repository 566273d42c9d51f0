// The preset reader on damaged files: the seed files of the fuzz corpus, then many deterministic
// mutations of them (bytes flipped, inserted, deleted, tokens spliced in). Every input must keep the
// reader's invariants; run under AddressSanitizer and UndefinedBehaviorSanitizer in CI.
#include "PresetReaderFuzz.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

std::vector<std::string> Seeds() {
    std::vector<std::string> seeds;
    for (const auto& e : std::filesystem::directory_iterator(NX_PRESET_FUZZ_CORPUS)) {
        std::ifstream in(e.path(), std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return seeds;
}

TEST(PresetReaderRobustness, SeedsAndMutationsKeepTheInvariants) {
    const std::vector<std::string> seeds = Seeds();
    ASSERT_GE(seeds.size(), 3u);
    const char* const tokens[] = {"=",
                                  "\n",
                                  "\r\n",
                                  "name=",
                                  "category=",
                                  "advOverrideMask=",
                                  "LP=",
                                  "Mode=",
                                  "nan",
                                  "inf",
                                  "1e999",
                                  "-1e-999",
                                  "+-",
                                  "0x",
                                  "" /* a NUL byte */,
                                  "#",
                                  " ",
                                  "\xff\xfe",
                                  "99999999999999999999"};
    uint32_t state = 0x9E3779B9u;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    for (const std::string& seed : seeds) {
        const std::string problem =
            nxfuzz::CheckPresetReader(reinterpret_cast<const uint8_t*>(seed.data()), seed.size());
        ASSERT_EQ(problem, "") << "seed: " << seed;
    }
    int listed = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string s = seeds[next() % seeds.size()];
        const int edits = 1 + int(next() % 8);
        for (int e = 0; e < edits; ++e) {
            const size_t pos = s.empty() ? 0 : next() % (s.size() + 1);
            switch (next() % 4) {
            case 0:
                if (!s.empty()) s[pos % s.size()] = char(next());
                break;
            case 1:
                s.insert(pos, 1, char(next()));
                break;
            case 2:
                if (!s.empty()) s.erase(pos % s.size(), 1 + next() % 16);
                break;
            default: {
                const size_t t = next() % std::size(tokens);
                s.insert(pos, t == 14 ? std::string(1, '\0') : std::string(tokens[t]));
                break;
            }
            }
        }
        const std::string problem =
            nxfuzz::CheckPresetReader(reinterpret_cast<const uint8_t*>(s.data()), s.size());
        ASSERT_EQ(problem, "") << "input: " << testing::PrintToString(s);
        if (nxfuzz::FuzzManager().presets.size() > size_t(nxfuzz::FuzzManager().factoryCount)) ++listed;
    }
    // The mutations must reach the reader's interesting paths, not only produce unnamed garbage.
    EXPECT_GT(listed, 2000);
}

} // namespace
