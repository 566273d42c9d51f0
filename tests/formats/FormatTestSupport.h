// Shared helpers of the format tests: where the built deliverables are, a registry segment private to
// the test process, instances opened through host/, test signals and the chunk fields a host can read.
#pragma once

#include "host/PluginHost.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace nx::test {

using host::Format;

const char* deliverablePath(Format f);
const char* formatName(Format f);
// gtest parameter name printer.
std::string formatParamName(const ::testing::TestParamInfo<Format>& info);

// Opens one instance; fails the current test (and returns null) when the module cannot be loaded.
std::unique_ptr<host::PluginHost> openInstance(Format f);

// Index in the host's list of the parameter with the plug-in's own id (0..22), or -1.
int indexOfParam(const host::PluginHost& h, uint32_t pluginParamId);

// Deterministic test noise in [-amp, amp].
std::vector<double> noise(size_t n, uint32_t seed, double amp = 0.5);

// The chunk's fields at their fixed offsets (the chunk starts at byte 0 of a saved state).
constexpr size_t kChunkBytes = 269;
uint32_t readU32(const std::vector<uint8_t>& b, size_t offset);
double readF64(const std::vector<uint8_t>& b, size_t offset);
void writeF64(std::vector<uint8_t>& b, size_t offset, double v);
std::string chunkName(const std::vector<uint8_t>& b);
// Offset of parameter id in a version-4 chunk.
constexpr size_t paramOffset(int id) {
    return 85 + 8 * size_t(id);
}

// The registry segment name this test process uses (set in NEMBRIX_REGISTRY before any module loads).
const std::string& privateRegistryName();

} // namespace nx::test
