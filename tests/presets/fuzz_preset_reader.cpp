// libFuzzer target for the preset file reader: arbitrary bytes as the text of one preset file.
#include "PresetReaderFuzz.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string problem = nxfuzz::CheckPresetReader(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "preset reader invariant broken: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
